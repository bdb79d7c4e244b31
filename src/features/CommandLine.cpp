#include "features/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace platform {

namespace {

bool parsePositive(const QString& text, double* value) {
    bool ok = false;
    const double parsed = text.toDouble(&ok);
    if (!ok || !(parsed > 0.0))
        return false;
    *value = parsed;
    return true;
}

} // namespace

LaunchAction parseLaunchOptions(const QStringList& arguments, LaunchOptions& options,
                                QString* error, QString* output) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Wobblestar: a three-axis acceleration meter. Shows an accelerometer's readings in g "
        "as a live graph and needle gauges, and records them."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption source(
        QStringLiteral("source"),
        QStringLiteral("Where readings come from: auto (default: the first real sensor, else the "
                       "simulated one), sim[:SEED], iio[:NAME], input[:PATH], replay:FILE (a "
                       "recording; replay:- reads standard input), phyphox:URL."),
        QStringLiteral("SOURCE"), QStringLiteral("auto"));
    const QCommandLineOption axes(
        QStringLiteral("axes"),
        QStringLiteral("Axis map for the source, e.g. x,y,-z or -y,x,z: which sensor axis, with "
                       "which sign, becomes the device's X, Y and Z."),
        QStringLiteral("MAP"));
    const QCommandLineOption loop(QStringLiteral("loop"),
                                  QStringLiteral("With replay:FILE, start again at the end."));
    const QCommandLineOption listSources(
        QStringLiteral("list-sources"),
        QStringLiteral("List the detected sensors, one per line, and exit."));
    const QCommandLineOption listFormats(
        QStringLiteral("list-formats"),
        QStringLiteral("List the recording formats replay:FILE reads, with an example header "
                       "each, and exit."));
    const QCommandLineOption checkAxes(
        QStringLiteral("check-axes"),
        QStringLiteral("Work out the source's axis map from two poses (face up, then upright), "
                       "store it and exit."));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Run without a display, write a screenshot of the window and exit."),
        QStringLiteral("FILE.png"));
    const QCommandLineOption screen(
        QStringLiteral("screen"),
        QStringLiteral("Screen for --screenshot: graph, settings, info, recording or meters."),
        QStringLiteral("SCREEN"), QStringLiteral("graph"));
    const QCommandLineOption after(
        QStringLiteral("after"), QStringLiteral("Seconds to run before --screenshot (default 2)."),
        QStringLiteral("SECONDS"), QStringLiteral("2"));
    const QCommandLineOption scale(
        QStringLiteral("scale"), QStringLiteral("Device pixel ratio of --screenshot (default 1)."),
        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption fixedOrientation(
        QStringLiteral("fixed-orientation"),
        QStringLiteral("Keep the window portrait; show the meters screen rotated inside it."));
    const QCommandLineOption record(
        QStringLiteral("record"),
        QStringLiteral("Record without a display at this period (0.10, 0.25, 0.50 or 0.75 s) "
                       "and print the log."),
        QStringLiteral("PERIOD"));
    const QCommandLineOption duration(
        QStringLiteral("duration"), QStringLiteral("Length of the --record recording in seconds."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("With --record, also write every sample to FILE."),
                                 QStringLiteral("FILE"));
    parser.addOptions({help, version, source, axes, loop, listSources, listFormats, checkAxes,
                       screenshot, screen, after, scale, fixedOrientation, record, duration, csv});

    if (!parser.parse(arguments)) {
        *error = parser.errorText() + QStringLiteral(" (see --help)");
        return LaunchAction::Fail;
    }
    if (parser.isSet(help)) {
        // Parsing happens before the application object exists, so Qt cannot name the program.
        *output = parser.helpText().replace(QLatin1String("<executable_name>"),
                                            QLatin1String("wobblestar"));
        return LaunchAction::ShowHelp;
    }
    if (parser.isSet(version)) {
        *output = QStringLiteral("Wobblestar %1").arg(QStringLiteral(WOBBLESTAR_VERSION));
        return LaunchAction::ShowVersion;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("Unexpected argument '%1' (see --help)")
                     .arg(parser.positionalArguments().constFirst());
        return LaunchAction::Fail;
    }

    options.source = parser.value(source);
    options.axes = parser.value(axes);
    options.loop = parser.isSet(loop);
    options.listSources = parser.isSet(listSources);
    options.listFormats = parser.isSet(listFormats);
    options.checkAxes = parser.isSet(checkAxes);
    options.screenshot = parser.value(screenshot);
    options.screen = parser.value(screen);
    options.fixedOrientation = parser.isSet(fixedOrientation);
    options.record = parser.value(record);
    options.csv = parser.value(csv);

    static const QStringList screens = {QStringLiteral("graph"), QStringLiteral("settings"),
                                        QStringLiteral("info"), QStringLiteral("recording"),
                                        QStringLiteral("meters")};
    if (!screens.contains(options.screen)) {
        *error = QStringLiteral("Unknown screen '%1': choose graph, settings, info, recording or "
                                "meters")
                     .arg(options.screen);
        return LaunchAction::Fail;
    }
    if (!parsePositive(parser.value(after), &options.after) && parser.value(after) != "0") {
        *error =
            QStringLiteral("--after needs a number of seconds, not '%1'").arg(parser.value(after));
        return LaunchAction::Fail;
    }
    if (parser.value(after) == "0")
        options.after = 0.0;
    if (!parsePositive(parser.value(scale), &options.scale) || options.scale > 8.0) {
        *error = QStringLiteral("--scale needs a number between 0 and 8, not '%1'")
                     .arg(parser.value(scale));
        return LaunchAction::Fail;
    }
    if (parser.isSet(duration) && !parsePositive(parser.value(duration), &options.duration)) {
        *error = QStringLiteral("--duration needs a positive number of seconds, not '%1'")
                     .arg(parser.value(duration));
        return LaunchAction::Fail;
    }
    return LaunchAction::Run;
}

} // namespace platform
