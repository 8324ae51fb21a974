#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QString>

// The app's text styles and hierarchical colours, as the nearest Qt equivalents: fonts scaled
// from the application font, colours taken from the palette so dark themes work too.
namespace plovik::style {

enum class Text { largeTitle, title3, headline, body, callout, subheadline, caption, caption2 };
enum class Tone { primary, secondary, tertiary, quaternary };

QFont font(Text text);
QColor color(Tone tone);

// A label in a text style and tone; selectable text can be copied.
QLabel* label(const QString& text, Text style = Text::body, Tone tone = Tone::primary,
              bool selectable = false);
void apply(QLabel* label, Text style, Tone tone);
// A person's text on a button: "&" shown as "&", not taken for a shortcut marker.
QString buttonText(const QString& text);

// A transparent square of `size` points at the screen's pixel density, so what is drawn on it
// stays sharp on high-density screens.
QPixmap canvas(int size);
// A theme icon by its freedesktop name, or the given standard icon when the theme has none.
QIcon icon(const char* themeName, int standardPixmap);
// A small round status mark: filled or hollow, in a tone or the accent colour.
QIcon circle(bool filled, const QColor& color);
QIcon check(const QColor& color);

}  // namespace plovik::style
