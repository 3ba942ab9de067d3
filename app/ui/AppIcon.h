// The program's icon and banner, drawn in code so that the window needs no
// image files at run time (the installed icon is the same design as SVG).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace vexa::app {

QPixmap RecorderIconPixmap(int size);
QIcon RecorderIcon();
QPixmap RecorderBanner(int width, int height);

}  // namespace vexa::app
