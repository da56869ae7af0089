#include "ui/Look.h"

#include <algorithm>

#include <QApplication>
#include <QPalette>
#include <QWidget>

#include "l10n/L.h"

namespace qb::ui {

namespace {

// Point-size steps relative to the body text, chosen to keep caption2 readable at common base sizes.
struct TypeScale {
    double title2 = 5.0;
    double headline = 1.0;
    double subheadline = -0.5;
    double body = 0.0;
    double callout = -0.5;
    double caption = -1.5;
    double caption2 = -2.0;
};
constexpr TypeScale kScale;

struct FixedColours {
    QRgb orange = qRgb(0xf0, 0x8c, 0x00);
    QRgb green = qRgb(0x2e, 0xa0, 0x43);
    QRgb red = qRgb(0xe0, 0x3a, 0x30);
};
constexpr FixedColours kColours;

double sizeStep(TextStyle style) {
    switch (style) {
        case TextStyle::title2:
            return kScale.title2;
        case TextStyle::headline:
            return kScale.headline;
        case TextStyle::subheadline:
            return kScale.subheadline;
        case TextStyle::body:
            return kScale.body;
        case TextStyle::callout:
            return kScale.callout;
        case TextStyle::caption:
            return kScale.caption;
        case TextStyle::caption2:
            return kScale.caption2;
    }
    return 0.0;
}

QString fromUtf8(const std::string& value) {
    return QString::fromStdString(value);
}

}  // namespace

QFont textFont(TextStyle style, QFont::Weight weight) {
    const QFont base = QApplication::font();
    QFont font = base;
    if (base.pointSizeF() > 0) {
        font.setPointSizeF(std::max(6.0, base.pointSizeF() + sizeStep(style)));
    }
    font.setWeight(style == TextStyle::headline ? QFont::Bold : weight);
    return font;
}

QColor tintColor(const QPalette& palette, Tint tint, double opacity) {
    QColor colour;
    switch (tint) {
        case Tint::primary:
            colour = palette.color(QPalette::WindowText);
            break;
        case Tint::secondary:
            colour = palette.color(QPalette::WindowText);
            // Secondary text is the primary colour faded; fades multiply.
            opacity *= 0.6;
            break;
        case Tint::accent:
            colour = palette.color(QPalette::Highlight);
            break;
        case Tint::orange:
            colour = QColor::fromRgb(kColours.orange);
            break;
        case Tint::green:
            colour = QColor::fromRgb(kColours.green);
            break;
        case Tint::red:
            colour = QColor::fromRgb(kColours.red);
            break;
    }
    colour.setAlphaF(static_cast<float>(std::clamp(opacity, 0.0, 1.0)));
    return colour;
}

void styleText(QWidget& widget, TextStyle style, Tint tint, QFont::Weight weight) {
    widget.setFont(textFont(style, weight));
    setTextTint(widget, tint);
}

void setTextTint(QWidget& widget, Tint tint) {
    // Tinted from the surroundings, not from the widget's own palette, which an earlier tint has changed.
    const QWidget* parent = widget.parentWidget();
    const QColor colour = tintColor(parent != nullptr ? parent->palette() : QApplication::palette(), tint);
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget.setPalette(palette);
}

QIcon symbolIcon(const char* themeName, QStyle::StandardPixmap fallback, const QWidget& widget) {
    QIcon themed = QIcon::fromTheme(QString::fromLatin1(themeName));
    return themed.isNull() ? widget.style()->standardIcon(fallback, nullptr, &widget) : themed;
}

QString text(std::string_view key) {
    return fromUtf8(l10n::L::t(key));
}

QString text(std::string_view key, std::string_view argument) {
    return fromUtf8(l10n::L::format(l10n::L::t(key), {argument}));
}

QString text(std::string_view key, std::string_view first, std::string_view second) {
    return fromUtf8(l10n::L::format(l10n::L::t(key), {first, second}));
}

}  // namespace qb::ui
