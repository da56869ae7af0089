#pragma once

#include <QColor>
#include <QFont>
#include <QMargins>
#include <QString>
#include <string_view>

#include "ui/Symbols.h"

class QBoxLayout;
class QHBoxLayout;
class QLabel;
class QPalette;
class QToolButton;
class QVBoxLayout;
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

// A label showing `symbol` in `tint`, sized to match the text style `size` (a symbol beside a title).
QLabel* symbolLabel(Symbol symbol, Tint tint, TextStyle size, QWidget* parent, double opacity = 1.0);
// Redraws a symbol label made by symbolLabel in another colour.
void setSymbol(QLabel& label, Symbol symbol, Tint tint, TextStyle size, double opacity = 1.0);
// The pixel size of a symbol that stands beside text of `style`.
int symbolSize(TextStyle style);
// A round dot 7 pixels wide: the online state of a device.
QLabel* stateDot(Tint tint, double opacity, QWidget* parent);

// A borderless icon button showing `symbol`, with the text of `tooltipKey` as its tooltip.
QToolButton* symbolButton(Symbol symbol, Tint tint, TextStyle size, std::string_view tooltipKey, QWidget* parent,
                          double opacity = 1.0);

// Layouts of the panel lists and the devices window: no margins unless given, fixed spacing.
QVBoxLayout* column(QWidget* owner, int spacing, QMargins margins = {});
QHBoxLayout* row(QWidget* owner, int spacing, QMargins margins = {});
// A section title: a symbol and a short text in subheadline semibold, added to `layout`; returns the text.
QLabel* addSectionTitle(QBoxLayout& layout, Symbol symbol, QWidget* parent);

// The localised text of `key`, optionally with its "%@" places filled in order.
QString text(std::string_view key);
QString text(std::string_view key, std::string_view argument);
QString text(std::string_view key, std::string_view first, std::string_view second);

}  // namespace qb::ui
