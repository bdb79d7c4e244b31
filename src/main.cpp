#include "app/WobblestarAppDelegate.h"
#include "desktop/QuitOnSignals.h"
#include "desktop/SettingsStore.h"
#include "features/AxisCheck.h"
#include "features/CommandLine.h"
#include "features/HeadlessRecording.h"
#include "features/StatusMessages.h"
#include "features/analysis/HeadlessAnalysis.h"
#include "screens/DialogStyle.h"
#include "sensors/RecordingReader.h"
#include "sensors/Sources.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

QStringList argumentsOf(int argc, char* argv[]) {
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    return platform::argumentsFromBytes(arguments);
}

constexpr const char* kNoDisplay =
    "wobblestar: no display found (DISPLAY and WAYLAND_DISPLAY are unset or cannot be reached). "
    "Run it in a desktop session, under xvfb-run, or use --screenshot FILE.png.\n";

// Qt aborts the process when the display it is told of cannot be reached. With the offscreen
// platform as the last choice it comes up instead, and main() can say what is wrong; the
// warnings of the platforms that failed are not for the user.
QtMessageHandler previousHandler = nullptr;

void dropPlatformWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (context.category && qstrncmp(context.category, "qt.qpa", 6) == 0)
        return;
    if (previousHandler)
        previousHandler(type, context, text);
}

void fallBackToOffscreen() {
    // Qt's own order: Wayland first in a Wayland session (but for GNOME's, where X through
    // XWayland serves better), else X.
    const QByteArray desktops =
        (qgetenv("XDG_CURRENT_DESKTOP") + qgetenv("XDG_SESSION_DESKTOP")).toLower();
    const bool waylandFirst =
        qgetenv("XDG_SESSION_TYPE") == "wayland" && !desktops.contains("gnome");
    qputenv("QT_QPA_PLATFORM", waylandFirst ? "wayland;xcb;offscreen" : "xcb;wayland;offscreen");
    previousHandler = qInstallMessageHandler(dropPlatformWarnings);
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
    if (!options.analyze.isEmpty()) {
        // Fonts and pictures need a GUI application, but never a display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication application(argc, argv);
        return analysis::runHeadlessAnalysis(options);
    }
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
        std::fputs(kNoDisplay, stderr);
        return 2;
    }
    const bool probeDisplay =
        !record && !screenshot && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (probeDisplay)
        fallBackToOffscreen();

    QApplication application(argc, argv);
    if (probeDisplay) {
        qInstallMessageHandler(previousHandler);
        // Programs started from here (the mail opener) choose their own platform.
        qunsetenv("QT_QPA_PLATFORM");
        if (QGuiApplication::platformName() == u"offscreen") {
            std::fputs(kNoDisplay, stderr);
            return 2;
        }
    }
    platform::setUpSettingsStore();
    platform::dressEveryDialog();
    // Docks and task bars match the window to its launcher by this name (the Wayland app id);
    // on X11 the window class is the application name, given as StartupWMClass.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.wobblestar.Wobblestar"));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/wobblestar.png").arg(size));
    QApplication::setWindowIcon(icon);
    platform::QuitOnSignals quitOnSignals;

    std::unique_ptr<platform::AccelerometerDriver> driver = platform::createSource(options, &error);
    // Ended during discovery or a long load: there is nothing to store yet.
    if (const int signal = platform::QuitOnSignals::pendingSignal())
        return 128 + signal;
    if (!driver) {
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return 2;
    }
    platform::Accelerometer& accelerometer = platform::Accelerometer::sharedAccelerometer();
    accelerometer.setDriver(std::move(driver));

    if (options.checkAxes)
        return runAxisCheckOnTerminal(platform::Accelerometer::sharedAccelerometer());

    WobblestarAppDelegate delegate;
    const StatusMessages messages(accelerometer, delegate.statusBar());
    if (record)
        return recordHeadless(delegate, *record);
    delegate.setFixedOrientation(options.fixedOrientation);
    delegate.applicationDidFinishLaunching();

    if (screenshot) {
        int status = -1;
        QTimer::singleShot(std::chrono::milliseconds(std::llround(options.after * 1000.0)), [&] {
            status = takeScreenshot(delegate, options) ? 0 : 1;
            QApplication::quit();
        });
        QApplication::exec();
        // A signal before the picture was taken: no file, and no success to report.
        return status >= 0 ? status : 128 + platform::QuitOnSignals::pendingSignal();
    }
    QApplication::exec();
    return 0;
}
