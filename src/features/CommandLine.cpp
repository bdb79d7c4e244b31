#include "features/CommandLine.h"

#include "features/analysis/PlotExport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

bool parsePositive(const QString& text, double* value) {
    bool ok = false;
    const double parsed = text.toDouble(&ok);
    if (!ok || !(parsed > 0.0) || !std::isfinite(parsed))
        return false;
    *value = parsed;
    return true;
}

// A number in [low, high]; NaN and infinities are not.
bool parseInRange(const QString& text, double low, double high, double* value) {
    bool ok = false;
    const double parsed = text.toDouble(&ok);
    if (!ok || !(parsed >= low && parsed <= high))
        return false;
    *value = parsed;
    return true;
}

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// A name the file system holds as bytes, as a path Qt can open: the name itself when it is
// text, else the descriptor of the file behind it (created first for an output file).
QString pathForName(const QByteArray& name, bool output) {
    if (std::optional<QString> text = decodeUtf8(name))
        return *text;
    // Left open for the life of the process: the path below names it.
    int descriptor = ::open(name.constData(), O_PATH | O_CLOEXEC);
    if (descriptor < 0 && output)
        descriptor = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return QString::fromUtf8(name); // not there: the error names it as well as it can
    return QStringLiteral("/proc/self/fd/%1").arg(descriptor);
}

// The picture's format comes from its name (a name that is not text arrives as /proc/self/fd/N,
// whose target carries the extension); its size is held to a budget a picture can be allocated
// in.
bool parsePlotOptions(const QString& theme, LaunchOptions& options, QString* error) {
    if (theme != u"light" && theme != u"dark") {
        *error = QStringLiteral("--plot-theme needs light or dark, not '%1'").arg(theme);
        return false;
    }
    options.plotDark = theme == u"dark";
    const qint64 pixels = qint64(options.plotWidth) * options.plotHeight;
    if (pixels > analysis::kPixelBudget) {
        *error = QStringLiteral("--width × --height is %1 × %2, %3 million pixels; a --plot "
                                "picture may have at most %4 million")
                     .arg(options.plotWidth)
                     .arg(options.plotHeight)
                     .arg(double(pixels) / 1e6, 0, 'f', 1)
                     .arg(analysis::kPixelBudget / 1'000'000);
        return false;
    }
    if (!options.plot.isEmpty() && !analysis::pictureFormatOf(options.plot)) {
        *error = QStringLiteral("--plot '%1': the name must end in %2, which give the format")
                     .arg(options.plot, analysis::pictureFormatList());
        return false;
    }
    return true;
}

} // namespace

QStringList argumentsFromBytes(const QList<QByteArray>& arguments) {
    // A picture is created only under a name whose extension gives a format, so that a name
    // the options refuse leaves nothing behind.
    const auto picture = [](const QByteArray& name) {
        return analysis::pictureFormatOf(QString::fromUtf8(name)).has_value();
    };
    struct Named {
        QByteArray option;
        bool output;
        bool isPicture;
    };
    static const Named outputOptions[] = {
        {"--screenshot", true, false}, {"--csv", true, false}, {"--plot", true, true}};
    static const Named prefixes[] = {
        {"--screenshot=", true, false}, {"--csv=", true, false},
        {"--plot=", true, true},        {"--source=replay:", false, false},
        {"replay:", false, false},      {"--analyze=", false, false}};
    QStringList result;
    QByteArray previous;
    for (const QByteArray& argument : arguments) {
        if (std::optional<QString> text = decodeUtf8(argument)) {
            result << *text;
            previous = argument;
            continue;
        }
        QByteArray prefix;
        bool output = false;
        bool isPicture = false;
        for (const Named& named : outputOptions) {
            if (previous == named.option) {
                output = named.output;
                isPicture = named.isPicture;
            }
        }
        for (const Named& candidate : prefixes) {
            if (argument.startsWith(candidate.option)) {
                prefix = candidate.option;
                output = candidate.output;
                isPicture = candidate.isPicture;
                break;
            }
        }
        const QByteArray name = argument.mid(prefix.size());
        if (isPicture && !picture(name))
            output = false;
        result << QString::fromUtf8(prefix) + pathForName(name, output);
        previous = argument;
    }
    return result;
}

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
        QStringLiteral("after"),
        QStringLiteral("Seconds to run before --screenshot, 0 to 3600 (default 2)."),
        QStringLiteral("SECONDS"), QStringLiteral("2"));
    const QCommandLineOption scale(
        QStringLiteral("scale"),
        QStringLiteral("Device pixel ratio of --screenshot, 0.25 to 8 (default 1)."),
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
    const QCommandLineOption analyze(
        QStringLiteral("analyze"),
        QStringLiteral("Print the duration, samples, rate and per-axis numbers (min, max, mean, "
                       "RMS, peak, dominant frequency) of a recording and exit."),
        QStringLiteral("FILE"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("With --analyze, start of the span in seconds."),
                                  QStringLiteral("S"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("With --analyze, end of the span in seconds."),
                                QStringLiteral("S"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("With --analyze, print JSON instead of text."));
    const QCommandLineOption plot(
        QStringLiteral("plot"),
        QStringLiteral("With --analyze, also write the plot of the span, titled and with a "
                       "legend, to a picture: PNG, JPEG, SVG or PDF by the name's extension "
                       "(.png, .jpg, .svg, .pdf)."),
        QStringLiteral("OUT.png"));
    const QCommandLineOption plotTheme(QStringLiteral("plot-theme"),
                                       QStringLiteral("Colours of the --plot picture: light "
                                                      "(default, for print) or dark."),
                                       QStringLiteral("THEME"), QStringLiteral("light"));
    const QCommandLineOption plotTitle(
        QStringLiteral("plot-title"),
        QStringLiteral("Title of the --plot picture (default: the recording's file name)."),
        QStringLiteral("TEXT"));
    const QCommandLineOption plotWidth(
        QStringLiteral("width"), QStringLiteral("Width of the --plot picture (default 1200)."),
        QStringLiteral("W"), QStringLiteral("1200"));
    const QCommandLineOption plotHeight(
        QStringLiteral("height"), QStringLiteral("Height of the --plot picture (default 500)."),
        QStringLiteral("H"), QStringLiteral("500"));
    parser.addOptions({help,
                       version,
                       source,
                       axes,
                       loop,
                       listSources,
                       listFormats,
                       checkAxes,
                       screenshot,
                       screen,
                       after,
                       scale,
                       fixedOrientation,
                       record,
                       duration,
                       csv,
                       analyze,
                       from,
                       to,
                       json,
                       plot,
                       plotTheme,
                       plotTitle,
                       plotWidth,
                       plotHeight});

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

    // An option given an empty value ("--screenshot ''", an unset shell variable) is a mistake,
    // not the option left out.
    for (const QCommandLineOption* option :
         {&source, &axes, &screenshot, &screen, &after, &scale, &record, &duration, &csv, &analyze,
          &from, &to, &plot, &plotTheme, &plotTitle, &plotWidth, &plotHeight}) {
        if (parser.isSet(*option) && parser.value(*option).trimmed().isEmpty()) {
            *error = QStringLiteral("--%1 needs a value (see --help)").arg(option->names().last());
            return LaunchAction::Fail;
        }
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
    // An hour is more than any screenshot needs, and far inside a millisecond timer's range.
    if (!parseInRange(parser.value(after), 0.0, 3600.0, &options.after)) {
        *error = QStringLiteral("--after needs a number of seconds from 0 to 3600, not '%1'")
                     .arg(parser.value(after));
        return LaunchAction::Fail;
    }
    // Beyond 8 a screenshot grows past what an image of the window can be allocated as.
    if (!parseInRange(parser.value(scale), 0.25, 8.0, &options.scale)) {
        *error = QStringLiteral("--scale needs a number from 0.25 to 8, not '%1'")
                     .arg(parser.value(scale));
        return LaunchAction::Fail;
    }
    if (parser.isSet(duration) && !parsePositive(parser.value(duration), &options.duration)) {
        *error = QStringLiteral("--duration needs a positive number of seconds, not '%1'")
                     .arg(parser.value(duration));
        return LaunchAction::Fail;
    }

    options.analyze = parser.value(analyze);
    options.json = parser.isSet(json);
    options.plot = parser.value(plot);
    options.plotTitle = parser.value(plotTitle);
    if (options.analyze.isEmpty()) {
        for (const QCommandLineOption* option :
             {&from, &to, &json, &plot, &plotTheme, &plotTitle, &plotWidth, &plotHeight}) {
            if (parser.isSet(*option)) {
                *error =
                    QStringLiteral("--%1 needs --analyze FILE").arg(option->names().constLast());
                return LaunchAction::Fail;
            }
        }
    }
    for (auto [option, value] : {std::pair{&from, &options.from}, std::pair{&to, &options.to}}) {
        if (!parser.isSet(*option))
            continue;
        bool ok = false;
        *value = parser.value(*option).toDouble(&ok);
        if (!ok || !(*value >= 0.0) || !std::isfinite(*value)) {
            *error = QStringLiteral("--%1 needs a number of seconds from the start, not '%2'")
                         .arg(option->names().constLast(), parser.value(*option));
            return LaunchAction::Fail;
        }
    }
    if (parser.isSet(from) && parser.isSet(to) && !(options.from < options.to)) {
        *error = QStringLiteral("--from must be before --to");
        return LaunchAction::Fail;
    }
    for (auto [option, value] :
         {std::pair{&plotWidth, &options.plotWidth}, std::pair{&plotHeight, &options.plotHeight}}) {
        bool ok = false;
        *value = parser.value(*option).toInt(&ok);
        if (!ok || *value < 100 || *value > 16384) {
            *error = QStringLiteral("--%1 needs a number of pixels from 100 to 16384, not '%2'")
                         .arg(option->names().constLast(), parser.value(*option));
            return LaunchAction::Fail;
        }
    }
    if (!parsePlotOptions(parser.value(plotTheme), options, error))
        return LaunchAction::Fail;
    return LaunchAction::Run;
}

} // namespace platform
