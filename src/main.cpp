#include "Classes/WobblestarAppDelegate.h"
#include "platform/CommandLine.h"
#include "platform/SettingsStore.h"
#include "platform/accel/Sources.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

QStringList argumentsOf(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int listSources() {
    for (const platform::SourceInfo& info : platform::detectSources())
        std::printf("%s\t%s\t%s\t%s\n", qPrintable(info.kind), qPrintable(info.name),
                    qPrintable(info.path), qPrintable(info.rates));
    return 0;
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Brings up the screen through its own action, then writes the window as a PNG.
bool takeScreenshot(WobblestarAppDelegate& delegate, const platform::LaunchOptions& options) {
    if (options.screen == u"settings") {
        delegate.settings();
    } else if (options.screen == u"info") {
        delegate.settings();
        delegate.info();
    } else if (options.screen == u"recording") {
        delegate.recordMenu();
    } else if (options.screen == u"meters") {
        delegate.meterMenu();
    }
    // Let the newest samples reach the views before the picture is taken.
    QCoreApplication::processEvents();
    const QPixmap picture = delegate.window()->grab();
    if (!picture.save(options.screenshot, "PNG")) {
        std::fprintf(stderr, "wobblestar: could not write the screenshot to %s\n",
                     qPrintable(options.screenshot));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    platform::LaunchOptions options;
    QString error, output;
    switch (platform::parseLaunchOptions(argumentsOf(argc, argv), options, &error, &output)) {
    case platform::LaunchAction::ShowHelp:
    case platform::LaunchAction::ShowVersion:
        std::printf("%s\n", qPrintable(output));
        return 0;
    case platform::LaunchAction::Fail:
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return 2;
    case platform::LaunchAction::Run:
        break;
    }
    if (options.listSources)
        return listSources();

    const bool screenshot = !options.screenshot.isEmpty();
    if (screenshot) {
        // A screenshot needs no display, no motion, and the device pixel ratio asked for.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("WOBBLESTAR_ANIMATIONS", "0");
        qputenv("QT_SCALE_FACTOR", QByteArray::number(options.scale));
    } else if (!hasDisplay()) {
        std::fprintf(stderr,
                     "wobblestar: no display found (DISPLAY and WAYLAND_DISPLAY are unset). Run it "
                     "in a desktop session, under xvfb-run, or use --screenshot FILE.png.\n");
        return 2;
    }

    QApplication application(argc, argv);
    platform::setUpSettingsStore();

    std::unique_ptr<platform::AccelerometerDriver> driver = platform::createSource(options, &error);
    if (!driver) {
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return 2;
    }
    platform::Accelerometer::sharedAccelerometer().setDriver(std::move(driver));

    WobblestarAppDelegate delegate;
    delegate.setFixedOrientation(options.fixedOrientation);
    delegate.applicationDidFinishLaunching();

    if (screenshot) {
        int status = 0;
        QTimer::singleShot(std::chrono::milliseconds(std::lround(options.after * 1000.0)), [&] {
            status = takeScreenshot(delegate, options) ? 0 : 1;
            QApplication::quit();
        });
        QApplication::exec();
        return status;
    }
    QApplication::exec();
    return 0;
}
