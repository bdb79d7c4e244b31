#include "drawing/Images.h"

#include <QDir>
#include <QGuiApplication>
#include <QHash>

namespace drawing {

namespace {

QString doubleResolutionName(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name + QStringLiteral("@2x")
                   : name.left(dot) + QStringLiteral("@2x") + name.mid(dot);
}

QPixmap load(const QString& name, bool doubleResolution) {
    // Tests and users may point "skins:" elsewhere; otherwise the built-in resources.
    if (QDir::searchPaths(QStringLiteral("skins")).isEmpty())
        QDir::setSearchPaths(QStringLiteral("skins"), {QStringLiteral(":/skins")});
    if (doubleResolution) {
        QPixmap sharp(QStringLiteral("skins:") + doubleResolutionName(name));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2.0);
            return sharp;
        }
    }
    return QPixmap(QStringLiteral("skins:") + name);
}

} // namespace

QPixmap imageNamed(const QString& name, double deviceScale) {
    static QHash<QString, QPixmap> cache;
    if (deviceScale <= 0.0)
        deviceScale = qApp ? qApp->devicePixelRatio() : 1.0;
    const bool doubleResolution = deviceScale >= 1.5;
    const QString key = doubleResolution ? doubleResolutionName(name) : name;
    auto found = cache.constFind(key);
    if (found != cache.constEnd())
        return *found;
    const QPixmap image = load(name, doubleResolution);
    cache.insert(key, image);
    return image;
}

} // namespace drawing
