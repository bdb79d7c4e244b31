#pragma once

#include "app/WobblestarAppDelegate.h"
#include "desktop/SettingsStore.h"
#include "drawing/Images.h"
#include "screens/FittedWindow.h"
#include "screens/LandscapeScreen.h"
#include "screens/SegmentedControl.h"
#include "screens/Switch.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>

// The application's screens and controls, found in its window by the names the interface file
// gives them, as a user meets them.
class Controls {
    // Declared first: the members below look their widgets up in it.
    QWidget* window_;

public:
    explicit Controls(const app::WobblestarAppDelegate& app) : window_(app.window()) {}

    app::GraphView* const graphView = find<app::GraphView>("graphView");
    app::MeterView* const meterView = find<app::MeterView>("meterView");
    QWidget* const settingsView = find<QWidget>("settingsView");
    QWidget* const infoView = find<QWidget>("infoView");
    QWidget* const RecordView = find<QWidget>("RecordView");
    QWidget* const metersView = find<QWidget>("metersView");
    screens::SegmentedControl* const segmentcontroller =
        find<screens::SegmentedControl>("segmentcontroller");
    screens::SegmentedControl* const segment = find<screens::SegmentedControl>("segment");
    screens::SegmentedControl* const design = find<screens::SegmentedControl>("design");
    screens::Switch* const xAxis = find<screens::Switch>("xAxis");
    screens::Switch* const yAxis = find<screens::Switch>("yAxis");
    screens::Switch* const zAxis = find<screens::Switch>("zAxis");
    screens::Switch* const Filter = find<screens::Switch>("Filter");
    QLabel* const one = find<QLabel>("one");
    QLabel* const two = find<QLabel>("two");
    QLabel* const three = find<QLabel>("three");
    QLabel* const four = find<QLabel>("four");
    QLabel* const five = find<QLabel>("five");
    QLabel* const sampleFileLabel = find<QLabel>("sampleFileLabel");
    QPushButton* const start = find<QPushButton>("start");
    QPushButton* const stop = find<QPushButton>("stop");
    QPushButton* const emailrecord = find<QPushButton>("emailrecord");
    QPushButton* const closerecord = find<QPushButton>("closerecord");
    QPushButton* const metersPause = find<QPushButton>("metersPause");
    QPlainTextEdit* const recordingText = find<QPlainTextEdit>("recordingText");
    QTextBrowser* const infoText = find<QTextBrowser>("infoText");
    // Made at start-up; null before.
    QToolBar* const toolbar = window_->findChild<QToolBar*>(QStringLiteral("toolbar"));

private:
    template <typename Widget> Widget* find(const char* name) const {
        const QString wanted = QLatin1String(name);
        // The meters screen is shown through a graphics view, outside the window's children.
        QList<QWidget*> roots{window_};
        for (auto* host : window_->findChildren<screens::LandscapeScreen*>())
            roots << host->screen();
        for (QWidget* root : roots) {
            if (root->objectName() == wanted)
                if (auto* widget = qobject_cast<Widget*>(root))
                    return widget;
            if (auto* widget = root->findChild<Widget*>(wanted))
                return widget;
        }
        qFatal("The window has no %s", name);
    }
};

inline Controls controls(const app::WobblestarAppDelegate& app) {
    return Controls(app);
}

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
        desktop::setUpSettingsStore();
        if (!contents.isNull()) {
            QDir().mkpath(QFileInfo(desktop::settingsStorePath()).path());
            QFile file(desktop::settingsStorePath());
            file.open(QIODevice::WriteOnly);
            file.write(contents);
        }
    }

    // The skin an image view shows: "carbon" ... "black90", or "" for none.
    static QString skinOf(const QLabel* view) {
        if (view->pixmap().isNull())
            return QString();
        const qint64 key = view->pixmap().cacheKey();
        for (const char* name : kSkinNames) {
            for (const char* suffix : {"", "90"}) {
                const QString skin = QLatin1String(name) + QLatin1String(suffix);
                if (drawing::imageNamed(skin + QStringLiteral(".png")).cacheKey() == key)
                    return skin;
            }
        }
        return QStringLiteral("?");
    }

    // The running recording's timer for period index 0..3, or null when none runs for it.
    static QTimer* recordingTimer(const app::WobblestarAppDelegate& app, int index) {
        return app.recorder().findChild<QTimer*>(QStringLiteral("myTimer%1").arg(index + 1));
    }

    // What the delegate's collaborators hold and take, for the tests.
    static bool isRecording(const app::WobblestarAppDelegate& app) {
        return app.recorder().isRecording();
    }
    // Replaces the desktop's mail program.
    static void setMailComposer(app::WobblestarAppDelegate& app, desktop::MailComposer composer) {
        app.recorder().setMailComposer(std::move(composer));
    }
    // Replaces the save dialog: returns the chosen file, or an empty string for none.
    static void setLogFileChooser(app::WobblestarAppDelegate& app,
                                  std::function<QString()> chooser) {
        app.recorder().setLogFileChooser(std::move(chooser));
    }
    // The message box shown last, while it is open; null otherwise.
    static QMessageBox* messageBox(const app::WobblestarAppDelegate& app) {
        return app.recorder().messageBox();
    }
    // The axis check opened from the settings screen, while it is open; null otherwise.
    static QDialog* axisCheck(const app::WobblestarAppDelegate& app) {
        return app.sources().axisCheck();
    }
    // Replays a recording in the window, as the "Open recording…" entry does.
    static bool openRecording(app::WobblestarAppDelegate& app, const QString& path,
                              double fromSeconds = 0.0) {
        return app.sources().openRecording(path, fromSeconds);
    }
    // The "Open recording…" entry and file drops onto the window; null before start-up.
    static features::RecordingOpener* recordingOpener(const app::WobblestarAppDelegate& app) {
        return app.sources().opener();
    }
    static features::analysis::AnalysisWindow*
    recordingsWindow(const app::WobblestarAppDelegate& app) {
        return app.sources().recordingsWindow();
    }
    static app::WobblestarAppDelegate::Screen shownScreen(const app::WobblestarAppDelegate& app) {
        return app.screens().shown();
    }
    static screens::ScreenTransition* transition(const app::WobblestarAppDelegate& app) {
        return app.screens().transition();
    }
    static screens::LandscapeScreen* metersHost(const app::WobblestarAppDelegate& app) {
        return app.screens().metersHost();
    }
    static const desktop::IdleInhibitor& idleTimer(const app::WobblestarAppDelegate& app) {
        return app.screens().idle();
    }

private:
    int serial_ = 0;
};
