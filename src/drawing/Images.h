#pragma once

#include <QPixmap>
#include <QString>

namespace platform {

// The named-image cache: looks `name` (e.g. "carbon.png") up among the application's images,
// the Qt resource folder ":/skins" unless QDir::setSearchPaths("skins", ...) names others. On a
// high-density screen the double-resolution variant ("carbon@2x.png") is preferred when present.
// Images live as long as the process. A missing image gives a null pixmap, which shows nothing.
QPixmap imageNamed(const QString& name);

} // namespace platform
