#pragma once
// The program's pictures, painted rather than loaded so that they need no
// image plugin: the application icon, the page banner and the button icons,
// all in one palette.

#include <QIcon>
#include <QPixmap>

namespace tarnwell::art {

enum class Glyph { Next, Back, Help, Save, Search, Pause, Resume, Stop, Browse, Add, Filter, Open, Info };

QIcon AppIcon();
QIcon ButtonIcon(Glyph glyph);
// The banner across the top of every page; title is drawn in it.
QPixmap Banner(int width, int height, const QString& subtitle);

}  // namespace tarnwell::art
