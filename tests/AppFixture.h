#pragma once

#include "app/WobblestarAppDelegate.h"
#include "desktop/SettingsStore.h"
#include "screens/FittedWindow.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>

// A private settings folder and eight distinguishable skin images for application tests.
struct AppFixture {
    QTemporaryDir config;
    QTemporaryDir skins;

    static inline const char* const kSkinNames[] = {"carbon", "metal", "ancient", "black"};

    // Call once per test program, before the first image is looked up.
    void makeSkins() {
        int hue = 0;
        for (const char* name : kSkinNames) {
            for (const char* suffix : {"", "90"}) {
                const bool landscape = *suffix != '\0';
                QPixmap image(landscape ? 480 : 320, landscape ? 320 : 480);
                image.fill(QColor::fromHsv(hue, 200, 120));
                hue += 40;
                image.save(skins.filePath(QStringLiteral("%1%2.png").arg(name, suffix)));
            }
        }
        QDir::setSearchPaths(QStringLiteral("skins"), {skins.path()});
    }

    // Points the store at a fresh folder holding `contents` (none when null).
    void useStore(const QByteArray& contents = QByteArray()) {
        const QString folder = config.filePath(QString::number(++serial_));
        qputenv("WOBBLESTAR_CONFIG_DIR", folder.toUtf8());
        platform::setUpSettingsStore();
        if (!contents.isNull()) {
            QDir().mkpath(QFileInfo(platform::settingsStorePath()).path());
            QFile file(platform::settingsStorePath());
            file.open(QIODevice::WriteOnly);
            file.write(contents);
        }
    }

    // The skin an image view shows: "carbon" ... "black90", or "" for none.
    static QString skinOf(const WobblestarAppDelegate& app, const QLabel* view) {
        const qint64 key = view->pixmap().cacheKey();
        if (view->pixmap().isNull())
            return QString();
        const QPixmap* images[] = {&app.carbon,   &app.metal,   &app.ancient,   &app.black,
                                   &app.carbon90, &app.metal90, &app.ancient90, &app.black90};
        const char* names[] = {"carbon",   "metal",   "ancient",   "black",
                               "carbon90", "metal90", "ancient90", "black90"};
        for (int i = 0; i < 8; ++i)
            if (images[i]->cacheKey() == key)
                return QString::fromLatin1(names[i]);
        return QStringLiteral("?");
    }

private:
    int serial_ = 0;
};
