#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>
#include <QStyle>
#include <string_view>

class QPalette;
class QWidget;

namespace qb::ui {

// The text styles of the panel, from the largest to the smallest.
enum class TextStyle { title2, headline, subheadline, body, callout, caption, caption2 };

// Colours by meaning: `secondary` follows the palette's text colour, so it works on light and dark themes.
enum class Tint { primary, secondary, accent, orange, green, red };

// The font of `style`, derived from the application's font so that restyling a widget never compounds.
QFont textFont(TextStyle style, QFont::Weight weight = QFont::Normal);
QColor tintColor(const QPalette& palette, Tint tint, double opacity = 1.0);

// Sets the text colour of a label or button.
void setTextTint(QWidget& widget, Tint tint);
// Sets the font and text colour of a label or button in one call.
void styleText(QWidget& widget, TextStyle style, Tint tint, QFont::Weight weight = QFont::Normal);

// The icon theme's icon `themeName`, else the style's `fallback`, so every symbol shows something.
QIcon symbolIcon(const char* themeName, QStyle::StandardPixmap fallback, const QWidget& widget);

// The localised text of `key`, optionally with its "%@" places filled in order.
QString text(std::string_view key);
QString text(std::string_view key, std::string_view argument);
QString text(std::string_view key, std::string_view first, std::string_view second);

}  // namespace qb::ui
