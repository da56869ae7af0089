#include "ui/Look.h"

#include <algorithm>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QToolButton>
#include <QVBoxLayout>
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

int symbolSize(TextStyle style) {
    // A symbol a little taller than the capital letters of its text, as system symbols are drawn.
    return qRound(QFontMetricsF(textFont(style)).height() * 0.95);
}

void setSymbol(QLabel& label, Symbol symbol, Tint tint, TextStyle size, double opacity) {
    const QWidget* parent = label.parentWidget();
    const QPalette& palette = parent != nullptr ? parent->palette() : QApplication::palette();
    const double ratio = parent != nullptr ? parent->devicePixelRatioF() : qApp->devicePixelRatio();
    label.setPixmap(tintedSymbol(symbol, tintColor(palette, tint, opacity), symbolSize(size), ratio));
}

QLabel* symbolLabel(Symbol symbol, Tint tint, TextStyle size, QWidget* parent, double opacity) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignCenter);
    setSymbol(*label, symbol, tint, size, opacity);
    return label;
}

QLabel* stateDot(Tint tint, double opacity, QWidget* parent) {
    constexpr int kDot = 7;
    const double ratio = parent != nullptr ? parent->devicePixelRatioF() : 1.0;
    QPixmap dot(QSize(kDot, kDot) * ratio);
    dot.setDevicePixelRatio(ratio);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tintColor(parent != nullptr ? parent->palette() : QApplication::palette(), tint, opacity));
    painter.drawEllipse(QRectF(0, 0, kDot, kDot));
    painter.end();
    auto* label = new QLabel(parent);
    label->setPixmap(dot);
    label->setFixedSize(kDot, kDot);
    return label;
}

QToolButton* symbolButton(Symbol symbol, Tint tint, TextStyle size, std::string_view tooltipKey, QWidget* parent,
                          double opacity) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    const int pixels = symbolSize(size);
    button->setIconSize(QSize(pixels, pixels));
    const QPalette& palette = parent != nullptr ? parent->palette() : QApplication::palette();
    const double ratio = parent != nullptr ? parent->devicePixelRatioF() : 1.0;
    button->setIcon(QIcon(tintedSymbol(symbol, tintColor(palette, tint, opacity), pixels, ratio)));
    button->setToolTip(text(tooltipKey));
    button->setAccessibleName(text(tooltipKey));
    return button;
}

QVBoxLayout* column(QWidget* owner, int spacing, QMargins margins) {
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(margins);
    layout->setSpacing(spacing);
    return layout;
}

QHBoxLayout* row(QWidget* owner, int spacing, QMargins margins) {
    auto* layout = new QHBoxLayout(owner);
    layout->setContentsMargins(margins);
    layout->setSpacing(spacing);
    return layout;
}

QLabel* addSectionTitle(QBoxLayout& layout, Symbol symbol, QWidget* parent) {
    constexpr int kGap = 6;
    layout.addWidget(symbolLabel(symbol, Tint::accent, TextStyle::subheadline, parent));
    layout.addSpacing(kGap);
    auto* title = new QLabel(parent);
    styleText(*title, TextStyle::subheadline, Tint::primary, QFont::DemiBold);
    layout.addWidget(title);
    return title;
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
