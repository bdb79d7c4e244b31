#include "app/WobblestarAppDelegate.h"
#include "desktop/QuitOnSignals.h"
#include "desktop/SettingsStore.h"
#include "features/AxisCheck.h"
#include "features/CommandLine.h"
#include "features/HeadlessRecording.h"
#include "sensors/RecordingReader.h"
#include "sensors/Sources.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

QStringList argumentsOf(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int listSources() {
    for (const QString& line : platform::describeSources(platform::detectSources()))
        std::printf("%s\n", qPrintable(line));
    return 0;
}

int listFormats() {
    for (const platform::RecordingFormatInfo& info : platform::recordingFormats())
        std::printf("%s\n    %s\n    %s\n", info.name, info.example, info.units);
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

// Records for the requested time with the recording screen's own start, ticks and stop, then
// prints the finished log. The store is only read (for the sampling rate), never written.
int recordHeadless(WobblestarAppDelegate& delegate, const HeadlessRecording::Request& request) {
    using SampleFile = WobblestarAppDelegate::SampleFile;
    delegate.setHeadless(true);
    delegate.setSampleFile(request.csvPath.isEmpty() ? SampleFile::None : SampleFile::Named,
                           request.csvPath);
    delegate.prepareRecording(request.periodIndex);

    QTimer end;
    end.setSingleShot(true);
    end.setTimerType(Qt::PreciseTimer);
    QObject::connect(&end, &QTimer::timeout, [&] {
        delegate.stop();
        QApplication::quit();
    });
    delegate.start();
    end.start(int(std::min(std::llround(request.duration * 1000.0), 2'000'000'000LL)));
    // SIGINT or SIGTERM end the recording early; aboutToQuit stops it, and the log so far is
    // printed all the same.
    QApplication::exec();

    const QByteArray log = delegate.recordingLog().toUtf8() + '\n';
    std::fwrite(log.constData(), 1, size_t(log.size()), stdout);
    std::fflush(stdout);
    const platform::SampleCsvWriter* writer = delegate.sampleWriter();
    return writer && writer->hasFailed() ? 1 : 0;
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
    if (options.listFormats)
        return listFormats();

    const std::optional<HeadlessRecording::Request> record =
        HeadlessRecording::requestFromOptions(options, &error);
    if (!record && !error.isEmpty()) {
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return HeadlessRecording::kUsageExitStatus;
    }

    const bool screenshot = !options.screenshot.isEmpty();
    if (record || options.checkAxes) {
        // No window is ever shown; the recording screen's objects still do the work.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (screenshot) {
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
    // Docks and task bars match the window to its launcher by this name (the Wayland app id);
    // on X11 the window class is the application name, given as StartupWMClass.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.wobblestar.Wobblestar"));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/wobblestar.png").arg(size));
    QApplication::setWindowIcon(icon);
    platform::QuitOnSignals quitOnSignals;

    std::unique_ptr<platform::AccelerometerDriver> driver = platform::createSource(options, &error);
    if (!driver) {
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return 2;
    }
    platform::Accelerometer::sharedAccelerometer().setDriver(std::move(driver));

    if (options.checkAxes)
        return runAxisCheckOnTerminal(platform::Accelerometer::sharedAccelerometer());

    WobblestarAppDelegate delegate;
    if (record)
        return recordHeadless(delegate, *record);
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
