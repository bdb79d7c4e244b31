#pragma once

#include <QPixmap>
#include <QString>

namespace drawing {

// The named-image cache: looks `name` (e.g. "carbon.png") up among the application's images,
// the Qt resource folder ":/skins" unless QDir::setSearchPaths("skins", ...) names others. On a
// high-density screen the double-resolution variant ("carbon@2x.png") is preferred when present.
// Images live as long as the process. A missing image gives a null pixmap, which shows nothing.
//
// `deviceScale` is the device pixels per point the image will be drawn at (0: the
// application's pixel ratio). The variant nearer to it is chosen, from 1.5 up the double one:
// scaling an image down smoothly loses less than scaling one up.
QPixmap imageNamed(const QString& name, double deviceScale = 0.0);

} // namespace drawing
