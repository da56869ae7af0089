// Renders the application's SVG icon to a square PNG of one size, for the hicolor theme's fixed-size folders.
// Usage: render-icon <in.svg> <out.png> <pixels>
#include <cstdio>

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QSize>
#include <QString>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool isNumber = false;
    const int pixels = arguments.size() == 4 ? arguments[3].toInt(&isNumber) : 0;
    if (!isNumber || pixels <= 0) {
        std::fputs("usage: render-icon <in.svg> <out.png> <pixels>\n", stderr);
        return 2;
    }
    QImageReader reader(arguments[1]);
    reader.setScaledSize(QSize(pixels, pixels));
    const QImage image = reader.read();
    if (image.isNull() || !image.save(arguments[2], "PNG")) {
        std::fprintf(stderr, "render-icon: %s\n", qPrintable(reader.errorString()));
        return 1;
    }
    return 0;
}
