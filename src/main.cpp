#include "app/WobblestarAppDelegate.h"
#include "desktop/Files.h"
#include "desktop/QuitOnSignals.h"
#include "desktop/SettingsStore.h"
#include "features/AxisCheck.h"
#include "features/CommandLine.h"
#include "features/HeadlessRecording.h"
#include "features/Publisher.h"
#include "features/StatusMessages.h"
#include "features/analysis/HeadlessAnalysis.h"
#include "screens/DialogStyle.h"
#include "sensors/MqttDriver.h"
#include "sensors/RecordingReader.h"
#include "sensors/Sources.h"

#include <QApplication>
#include <QBuffer>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QSettings>
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
    return features::argumentsFromBytes(arguments);
}

constexpr const char* kNoDisplay =
    "wobblestar: no display found (DISPLAY and WAYLAND_DISPLAY are unset or cannot be reached). "
    "Run it in a desktop session, under xvfb-run, or use --screenshot FILE.png.\n";

// While the display is probed, the warnings of the platforms that fail are not for the user.
bool quietPlatforms = false;

// Every line on standard error begins "wobblestar: ", Qt's own included, so that a log that
// gathers several programs' output says whose each line is. Qt's debug chatter is left out
// unless asked for with QT_LOGGING_RULES or WOBBLESTAR_DEBUG.
void writeWithPrefix(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (quietPlatforms && context.category && qstrncmp(context.category, "qt.qpa", 6) == 0)
        return;
    static const bool debugAsked = !qEnvironmentVariableIsEmpty("QT_LOGGING_RULES") ||
                                   !qEnvironmentVariableIsEmpty("WOBBLESTAR_DEBUG");
    if (type == QtDebugMsg && !debugAsked)
        return;
    static const QString prefix = QStringLiteral("wobblestar: ");
    QString lines;
    for (const QStringView line : QStringView(text).split(u'\n')) {
        if (!line.startsWith(prefix))
            lines += prefix;
        lines += line;
        lines += u'\n';
    }
    const QByteArray bytes = lines.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

// Qt aborts the process when the display it is told of cannot be reached. With the offscreen
// platform as the last choice it comes up instead, and main() can say what is wrong.
void fallBackToOffscreen() {
    QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    if (platforms.isEmpty()) {
        // Qt's own order: Wayland first in a Wayland session (but for GNOME's, where X through
        // XWayland serves better), else X.
        const QByteArray desktops =
            (qgetenv("XDG_CURRENT_DESKTOP") + qgetenv("XDG_SESSION_DESKTOP")).toLower();
        const bool waylandFirst =
            qgetenv("XDG_SESSION_TYPE") == "wayland" && !desktops.contains("gnome");
        platforms = waylandFirst ? "wayland;xcb" : "xcb;wayland";
    }
    qputenv("QT_QPA_PLATFORM", platforms + ";offscreen");
    quietPlatforms = true;
}

// A platform named in QT_QPA_PLATFORM that draws nowhere the user looks: such a choice is
// the user's (tests, remote sessions), not a display to probe.
bool isHeadlessPlatform(const QByteArray& platforms) {
    for (const QByteArray& name : platforms.split(';')) {
        const QByteArray plugin = name.split(':').constFirst().trimmed();
        if (plugin == "offscreen" || plugin == "minimal" || plugin == "vnc" ||
            plugin == "vkkhrdisplay")
            return true;
    }
    return false;
}

int listSources(int argc, char* argv[], const features::LaunchOptions& options) {
    QStringList lines;
    if (options.source.startsWith(u"mqtt://") || options.source.startsWith(u"mqtts://")) {
        // A broker's devices are those heard from now.
        QCoreApplication application(argc, argv);
        lines = sensors::listBrokerDevices(options.source);
    } else {
        lines = sensors::describeSources(sensors::detectSources());
    }
    for (const QString& line : lines)
        std::printf("%s\n", qPrintable(line));
    return 0;
}

// The publisher --publish asks for, else the one of the setting publish/url. A bad --publish
// fails the start; a bad setting is old and only said.
std::optional<std::unique_ptr<Publisher>> startPublisher(const features::LaunchOptions& options,
                                                         sensors::Accelerometer& accelerometer,
                                                         StatusMessages& messages) {
    const bool asked = !options.publish.isEmpty();
    const QString url =
        asked ? options.publish : QSettings().value(QStringLiteral("publish/url")).toString();
    if (url.isEmpty())
        return std::unique_ptr<Publisher>();
    QString error;
    std::unique_ptr<Publisher> publisher = Publisher::create(url, accelerometer, &error);
    if (!publisher) {
        if (asked) {
            std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
            return std::nullopt;
        }
        messages.show(QStringLiteral("Ignoring the setting publish/url: %1").arg(error),
                      sensors::AccelerometerDriver::MessageKind::Notice);
        return std::unique_ptr<Publisher>();
    }
    QObject::connect(publisher.get(), &Publisher::statusMessage, &messages, &StatusMessages::show);
    return publisher;
}

int listFormats() {
    for (const sensors::RecordingFormatInfo& info : sensors::recordingFormats())
        std::printf("%s\n    %s\n    %s\n", info.name, info.example, info.units);
    return 0;
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Brings up the screen through its own action, then writes the window as a PNG.
bool takeScreenshot(app::WobblestarAppDelegate& delegate, const features::LaunchOptions& options) {
    delegate.showScreen(options.screen);
    // Let the newest samples reach the views before the picture is taken.
    QCoreApplication::processEvents();
    const QPixmap picture = delegate.window()->grab();
    // Encoded in memory first, so that a full disk is said in the system's words, not Qt's
    // "Unknown error", and no half-written picture is left behind.
    QByteArray png;
    QBuffer buffer(&png);
    QString error;
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG"))
        error = QStringLiteral("the picture could not be encoded");
    else if (desktop::saveFile(options.screenshot, png, &error))
        return true;
    std::fprintf(stderr, "wobblestar: could not write the screenshot to %s: %s\n",
                 qPrintable(options.screenshot), qPrintable(error));
    return false;
}

// Records for the requested time with the recording screen's own start, ticks and stop, then
// prints the finished log. The store is only read (for the sampling rate), never written.
int recordHeadless(app::WobblestarAppDelegate& delegate,
                   const features::HeadlessRecording::Request& request) {
    using SampleFile = app::WobblestarAppDelegate::SampleFile;
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
    const sensors::SampleCsvWriter* writer = delegate.sampleWriter();
    return writer && writer->hasFailed() ? 1 : 0;
}

// Sets the platform the mode needs: none for the headless modes, a display for the window.
// False, with the reason printed, when the window has no display to go to.
bool choosePlatform(features::RunMode mode, const features::LaunchOptions& options) {
    using features::RunMode;
    if (mode == RunMode::Record || mode == RunMode::CheckAxes) {
        // No window is ever shown; the recording screen's objects still do the work.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (mode == RunMode::Screenshot) {
        // A screenshot needs no display, no motion, and the device pixel ratio asked for.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("WOBBLESTAR_ANIMATIONS", "0");
        qputenv("QT_SCALE_FACTOR", QByteArray::number(options.scale));
    } else if (!hasDisplay()) {
        std::fputs(kNoDisplay, stderr);
        return false;
    } else if (!isHeadlessPlatform(qgetenv("QT_QPA_PLATFORM"))) {
        fallBackToOffscreen();
    }
    return true;
}

// After the application came up: false, with the reason printed, when the only platform
// that answered was the offscreen fallback.
bool reachedDisplay(const QByteArray& platformAsked) {
    if (!quietPlatforms)
        return true;
    quietPlatforms = false;
    // Programs started from here (the mail opener) choose their own platform.
    if (platformAsked.isEmpty())
        qunsetenv("QT_QPA_PLATFORM");
    else
        qputenv("QT_QPA_PLATFORM", platformAsked);
    if (QGuiApplication::platformName() == u"offscreen") {
        std::fputs(kNoDisplay, stderr);
        return false;
    }
    return true;
}

void setUpDesktopIntegration() {
    desktop::setUpSettingsStore();
    screens::dressEveryDialog();
    // Docks and task bars match the window to its launcher by this name (the Wayland app id);
    // on X11 the window class is the application name, given as StartupWMClass.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.wobblestar.Wobblestar"));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/wobblestar.png").arg(size));
    QApplication::setWindowIcon(icon);
}

int analyze(int argc, char* argv[], const features::LaunchOptions& options) {
    // Fonts and pictures need a GUI application, but never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    return features::analysis::runHeadlessAnalysis(options);
}

int screenshot(app::WobblestarAppDelegate& delegate, const features::LaunchOptions& options) {
    int status = -1;
    QTimer::singleShot(std::chrono::milliseconds(std::llround(options.after * 1000.0)), [&] {
        status = takeScreenshot(delegate, options) ? 0 : 1;
        QApplication::quit();
    });
    QApplication::exec();
    // A signal before the picture was taken: no file, and no success to report.
    return status >= 0 ? status : 128 + desktop::QuitOnSignals::pendingSignal();
}

// The modes that read a source: the window, a screenshot, a recording, the axis check.
int runWithSource(int argc, char* argv[], const features::LaunchOptions& options,
                  features::RunMode mode) {
    using features::RunMode;
    QString error;
    const std::optional<features::HeadlessRecording::Request> record =
        features::HeadlessRecording::requestFromOptions(options, &error);
    if (!record && !error.isEmpty()) {
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return features::HeadlessRecording::kUsageExitStatus;
    }
    const QByteArray platformAsked = qgetenv("QT_QPA_PLATFORM");
    if (!choosePlatform(mode, options))
        return 2;
    QApplication application(argc, argv);
    if (!reachedDisplay(platformAsked))
        return 2;
    setUpDesktopIntegration();
    desktop::QuitOnSignals quitOnSignals;

    std::unique_ptr<sensors::AccelerometerDriver> driver = sensors::createSource(options, &error);
    // Ended during discovery or a long load: there is nothing to store yet.
    if (const int signal = desktop::QuitOnSignals::pendingSignal())
        return 128 + signal;
    if (!driver) {
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return 2;
    }
    sensors::Accelerometer& accelerometer = sensors::Accelerometer::sharedAccelerometer();
    accelerometer.setDriver(std::move(driver));
    if (mode == RunMode::CheckAxes)
        return runAxisCheckOnTerminal(accelerometer);

    app::WobblestarAppDelegate delegate;
    StatusMessages messages(accelerometer, delegate.statusBar());
    const std::optional<std::unique_ptr<Publisher>> publisher =
        startPublisher(options, accelerometer, messages);
    if (!publisher)
        return 2;
    delegate.setRecordRate(options.recordRate);
    if (mode == RunMode::Record)
        return recordHeadless(delegate, *record);
    delegate.setFixedOrientation(options.fixedOrientation);
    delegate.applicationDidFinishLaunching();
    if (mode == RunMode::Screenshot)
        return screenshot(delegate, options);
    QApplication::exec();
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    qInstallMessageHandler(writeWithPrefix);
    features::LaunchOptions options;
    QString error, output;
    switch (features::parseLaunchOptions(argumentsOf(argc, argv), options, &error, &output)) {
    case features::LaunchAction::ShowHelp:
    case features::LaunchAction::ShowVersion:
        std::printf("%s\n", qPrintable(output));
        return 0;
    case features::LaunchAction::Fail:
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return 2;
    case features::LaunchAction::Run:
        break;
    }
    const features::RunMode mode = features::runModeOf(options);
    switch (mode) {
    case features::RunMode::ListSources:
        return listSources(argc, argv, options);
    case features::RunMode::Analyze:
        return analyze(argc, argv, options);
    case features::RunMode::ListFormats:
        return listFormats();
    default:
        return runWithSource(argc, argv, options, mode);
    }
}
