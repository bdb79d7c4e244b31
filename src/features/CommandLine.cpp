#include "features/CommandLine.h"

#include "features/analysis/PlotExport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <unistd.h>
#include <utility>
#include <vector>

namespace features {

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
    static const Named outputOptions[] = {{"--screenshot", true, false},
                                          {"--csv", true, false},
                                          {"--plot", true, true},
                                          {"--plot-psd", true, true}};
    static const Named prefixes[] = {{"--screenshot=", true, false},
                                     {"--csv=", true, false},
                                     {"--plot=", true, true},
                                     {"--plot-psd=", true, true},
                                     {"--source=replay:", false, false},
                                     {"replay:", false, false},
                                     {"--analyze=", false, false}};
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

namespace {

// How an option's value is checked and stored: false, with `error` set, for a value it refuses.
using Store = std::function<bool(const QString& value, LaunchOptions& options, QString* error)>;

// One row per option: how it is written, what it stores, and what it needs.
struct OptionRow {
    QStringList names;
    QString help;
    QString valueName;    // empty: a switch, which takes no value
    QString defaultValue; // stored even when the option is not given
    Store store;
    bool needsAnalyze = false; // a refinement of --analyze, meaningless without it
};

template <typename Field, typename Owner> Store text(Field Owner::*field) {
    return [field](const QString& value, LaunchOptions& options, QString*) {
        options.*field = value;
        return true;
    };
}

template <typename Owner> Store flag(bool Owner::*field) {
    return [field](const QString&, LaunchOptions& options, QString*) {
        options.*field = true;
        return true;
    };
}

// A number in [low, high]; `message` says what is wanted, with %1 for the value refused.
Store numberIn(double LaunchOptions::*field, double low, double high, QString message) {
    return [=](const QString& value, LaunchOptions& options, QString* error) {
        if (parseInRange(value, low, high, &(options.*field)))
            return true;
        *error = message.arg(value);
        return false;
    };
}

Store pixels(int LaunchOptions::*field, const QString& name) {
    return [=](const QString& value, LaunchOptions& options, QString* error) {
        bool ok = false;
        options.*field = value.toInt(&ok);
        if (ok && options.*field >= 100 && options.*field <= 16384)
            return true;
        *error = QStringLiteral("--%1 needs a number of pixels from 100 to 16384, not '%2'")
                     .arg(name, value);
        return false;
    };
}

// A picture's name, whose extension gives its format.
Store picture(QString LaunchOptions::*field, const QString& name) {
    return [=](const QString& value, LaunchOptions& options, QString* error) {
        if (!analysis::pictureFormatOf(value)) {
            *error = QStringLiteral("--%1 '%2': the name must end in %3, which give the format")
                         .arg(name, value, analysis::pictureFormatList());
            return false;
        }
        options.*field = value;
        return true;
    };
}

Store secondsFromStart(double LaunchOptions::*field, const QString& name) {
    return [=](const QString& value, LaunchOptions& options, QString* error) {
        bool ok = false;
        options.*field = value.toDouble(&ok);
        if (ok && options.*field >= 0.0 && std::isfinite(options.*field))
            return true;
        *error = QStringLiteral("--%1 needs a number of seconds from the start, not '%2'")
                     .arg(name, value);
        return false;
    };
}

const std::vector<OptionRow>& optionTable() {
    static const std::vector<OptionRow> rows = {
        {{QStringLiteral("source")},
         QStringLiteral("Where readings come from: auto (default: the first real sensor, else the "
                        "simulated one), sim[:SEED], iio[:NAME], input[:PATH], replay:FILE (a "
                        "recording; replay:- reads standard input), phyphox:URL, "
                        "mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC[?device=ID] (also mqtts://; "
                        "with --list-sources, lists the devices publishing there), "
                        "push:[ADDRESS:]PORT[?token=SECRET] (phones pushing over HTTP)."),
         QStringLiteral("SOURCE"),
         QStringLiteral("auto"),
         text(&LaunchOptions::source)},
        {{QStringLiteral("axes")},
         QStringLiteral("Axis map for the source, e.g. x,y,-z or -y,x,z: which sensor axis, with "
                        "which sign, becomes the device's X, Y and Z."),
         QStringLiteral("MAP"),
         {},
         text(&LaunchOptions::axes)},
        {{QStringLiteral("loop")},
         QStringLiteral("With replay:FILE, start again at the end."),
         {},
         {},
         flag(&LaunchOptions::loop)},
        {{QStringLiteral("rate")},
         QStringLiteral("The rate in samples per second (up to 10000) of a recording without "
                        "times, for replay:FILE and --analyze; a file that states its rate "
                        "keeps its own."),
         QStringLiteral("HZ"),
         {},
         numberIn(&LaunchOptions::rate, 0.001, 10000.0,
                  QStringLiteral("--rate needs a number of samples per second from 0.001 to "
                                 "10000, not '%1'"))},
        {{QStringLiteral("list-sources")},
         QStringLiteral("List the detected sensors, one per line, and exit."),
         {},
         {},
         flag(&LaunchOptions::listSources)},
        {{QStringLiteral("list-formats")},
         QStringLiteral("List the recording formats replay:FILE reads, with an example header "
                        "each, and exit."),
         {},
         {},
         flag(&LaunchOptions::listFormats)},
        {{QStringLiteral("check-axes")},
         QStringLiteral("Work out the source's axis map from two poses (face up, then upright), "
                        "store it and exit."),
         {},
         {},
         flag(&LaunchOptions::checkAxes)},
        {{QStringLiteral("screenshot")},
         QStringLiteral("Run without a display, write a screenshot of the window and exit."),
         QStringLiteral("FILE.png"),
         {},
         text(&LaunchOptions::screenshot)},
        {{QStringLiteral("screen")},
         QStringLiteral("Screen for --screenshot: %1.").arg(screens::screenNameList()),
         QStringLiteral("SCREEN"),
         screens::nameOfScreen(screens::ScreenId::Graph),
         [](const QString& value, LaunchOptions& options, QString* error) {
             if (const std::optional<screens::ScreenId> screen = screens::screenNamed(value)) {
                 options.screen = *screen;
                 return true;
             }
             *error = QStringLiteral("Unknown screen '%1': choose %2")
                          .arg(value, screens::screenNameList());
             return false;
         }},
        // An hour is more than any screenshot needs, and far inside a millisecond timer's range.
        {{QStringLiteral("after")},
         QStringLiteral("Seconds to run before --screenshot, 0 to 3600 (default 2)."),
         QStringLiteral("SECONDS"),
         QStringLiteral("2"),
         numberIn(&LaunchOptions::after, 0.0, 3600.0,
                  QStringLiteral("--after needs a number of seconds from 0 to 3600, not '%1'"))},
        // Beyond 8 a screenshot grows past what an image of the window can be allocated as.
        {{QStringLiteral("scale")},
         QStringLiteral("Device pixel ratio of --screenshot, 0.25 to 8 (default 1)."),
         QStringLiteral("N"),
         QStringLiteral("1"),
         numberIn(&LaunchOptions::scale, 0.25, 8.0,
                  QStringLiteral("--scale needs a number from 0.25 to 8, not '%1'"))},
        {{QStringLiteral("fixed-orientation")},
         QStringLiteral("Keep the window portrait; show the meters screen rotated inside it."),
         {},
         {},
         flag(&LaunchOptions::fixedOrientation)},
        {{QStringLiteral("record")},
         QStringLiteral("Record without a display at this period (0.10, 0.25, 0.50 or 0.75 s) "
                        "and print the log."),
         QStringLiteral("PERIOD"),
         {},
         text(&LaunchOptions::record)},
        {{QStringLiteral("duration")},
         QStringLiteral("Length of the --record recording in seconds."),
         QStringLiteral("SECONDS"),
         {},
         [](const QString& value, LaunchOptions& options, QString* error) {
             if (parsePositive(value, &options.duration))
                 return true;
             *error = QStringLiteral("--duration needs a positive number of seconds, not '%1'")
                          .arg(value);
             return false;
         }},
        {{QStringLiteral("csv")},
         QStringLiteral("With --record, also write every sample to FILE."),
         QStringLiteral("FILE"),
         {},
         text(&LaunchOptions::csv)},
        {{QStringLiteral("record-rate")},
         QStringLiteral("Write the full-rate file (--csv, and the window's recordings) at the "
                        "sensor's own rate: native (its fastest) or HZ (up to 10000; the "
                        "sensor's next rate at or above it), while the screens keep theirs. Needs "
                        "a sensor read through its buffer whose rate can be raised; any other "
                        "source says so and records at the live rate."),
         QStringLiteral("native|HZ"),
         {},
         [](const QString& value, LaunchOptions& options, QString* error) {
             double hz = 0.0;
             if (value == u"native" || parseInRange(value, 0.001, 10000.0, &hz)) {
                 options.recordRate = hz;
                 return true;
             }
             *error = QStringLiteral("--record-rate needs native or a number of samples per "
                                     "second from 0.001 to 10000, not '%1'")
                          .arg(value);
             return false;
         }},
        {{QStringLiteral("publish")},
         QStringLiteral("Publish the readings, in the window and in --record runs alike, to an "
                        "MQTT topic in the batch schema phone sensor loggers use: "
                        "mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC[?batch=SECONDS] (default "
                        "0.2 s; ?password-file=PATH reads the password from a file). Also the "
                        "setting [publish] url=."),
         QStringLiteral("URL"),
         {},
         text(&LaunchOptions::publish)},
        {{QStringLiteral("analyze")},
         QStringLiteral("Print the duration, samples, rate and per-axis numbers (min, max, mean, "
                        "RMS, peak, dominant frequency) of a recording and exit."),
         QStringLiteral("FILE"),
         {},
         text(&LaunchOptions::analyze)},
        {{QStringLiteral("from")},
         QStringLiteral("With --analyze, start of the span in seconds."),
         QStringLiteral("S"),
         {},
         secondsFromStart(&LaunchOptions::from, QStringLiteral("from")),
         true},
        {{QStringLiteral("to")},
         QStringLiteral("With --analyze, end of the span in seconds."),
         QStringLiteral("S"),
         {},
         secondsFromStart(&LaunchOptions::to, QStringLiteral("to")),
         true},
        {{QStringLiteral("json")},
         QStringLiteral("With --analyze, print JSON instead of text."),
         {},
         {},
         flag(&LaunchOptions::json),
         true},
        // The picture's format comes from its name (a name that is not text arrives as
        // /proc/self/fd/N, whose target carries the extension).
        {{QStringLiteral("plot")},
         QStringLiteral("With --analyze, also write the plot of the span, titled and with a "
                        "legend, to a picture: PNG, JPEG, SVG or PDF by the name's extension "
                        "(.png, .jpg, .svg, .pdf)."),
         QStringLiteral("OUT.png"),
         {},
         picture(&LaunchOptions::plot, QStringLiteral("plot")),
         true},
        {{QStringLiteral("plot-theme")},
         QStringLiteral("Colours of the --plot and --plot-psd pictures: light (default, for "
                        "print) or dark."),
         QStringLiteral("THEME"),
         {},
         [](const QString& value, LaunchOptions& options, QString* error) {
             if (value != u"light" && value != u"dark") {
                 *error = QStringLiteral("--plot-theme needs light or dark, not '%1'").arg(value);
                 return false;
             }
             options.plotDark = value == u"dark";
             return true;
         },
         true},
        {{QStringLiteral("plot-title")},
         QStringLiteral("Title of the --plot and --plot-psd pictures (default: the recording's "
                        "file name)."),
         QStringLiteral("TEXT"),
         {},
         text(&LaunchOptions::plotTitle),
         true},
        {{QStringLiteral("plot-psd")},
         QStringLiteral("With --analyze, also draw the power spectral density of X, Y and Z with "
                        "their peaks to a picture, as --plot does: PNG, JPEG, SVG or PDF by the "
                        "name's extension, --plot-theme and --plot-title apply."),
         QStringLiteral("OUT.png"),
         {},
         picture(&LaunchOptions::plotPsd, QStringLiteral("plot-psd")),
         true},
        {{QStringLiteral("width")},
         QStringLiteral("Width of the --plot and --plot-psd pictures (default 1200)."),
         QStringLiteral("W"),
         QStringLiteral("1200"),
         pixels(&LaunchOptions::plotWidth, QStringLiteral("width")),
         true},
        {{QStringLiteral("height")},
         QStringLiteral("Height of the --plot and --plot-psd pictures (default 500)."),
         QStringLiteral("H"),
         QStringLiteral("500"),
         pixels(&LaunchOptions::plotHeight, QStringLiteral("height")),
         true},
    };
    return rows;
}

// Checks that concern more than one option.
bool checkTogether(const LaunchOptions& options, const QCommandLineParser& parser, QString* error) {
    if (parser.isSet(QStringLiteral("from")) && parser.isSet(QStringLiteral("to")) &&
        !(options.from < options.to)) {
        *error = QStringLiteral("--from must be before --to");
        return false;
    }
    // A picture is held whole in memory while it is drawn: 64 million pixels are 256 MB.
    const qint64 pixels = qint64(options.plotWidth) * options.plotHeight;
    if (pixels > analysis::kPixelBudget) {
        *error = QStringLiteral("--width × --height is %1 × %2, %3 million pixels; a picture "
                                "may have at most %4 million")
                     .arg(options.plotWidth)
                     .arg(options.plotHeight)
                     .arg(double(pixels) / 1e6, 0, 'f', 1)
                     .arg(analysis::kPixelBudget / 1'000'000);
        return false;
    }
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
    parser.addOption(help);
    parser.addOption(version);
    const std::vector<OptionRow>& rows = optionTable();
    for (const OptionRow& row : rows)
        parser.addOption(QCommandLineOption(row.names, row.help, row.valueName, row.defaultValue));

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
    for (const OptionRow& row : rows) {
        const QString& name = row.names.constLast();
        if (!row.valueName.isEmpty() && parser.isSet(name) &&
            parser.value(name).trimmed().isEmpty()) {
            *error = QStringLiteral("--%1 needs a value (see --help)").arg(name);
            return LaunchAction::Fail;
        }
    }
    if (!parser.isSet(QStringLiteral("analyze"))) {
        for (const OptionRow& row : rows) {
            if (row.needsAnalyze && parser.isSet(row.names.constLast())) {
                *error = QStringLiteral("--%1 needs --analyze FILE").arg(row.names.constLast());
                return LaunchAction::Fail;
            }
        }
    }
    for (const OptionRow& row : rows) {
        const QString& name = row.names.constLast();
        if (!parser.isSet(name) && row.defaultValue.isEmpty())
            continue;
        if (!row.store(parser.value(name), options, error))
            return LaunchAction::Fail;
    }
    return checkTogether(options, parser, error) ? LaunchAction::Run : LaunchAction::Fail;
}

RunMode runModeOf(const LaunchOptions& options) {
    if (options.listSources)
        return RunMode::ListSources;
    if (!options.analyze.isEmpty())
        return RunMode::Analyze;
    if (options.listFormats)
        return RunMode::ListFormats;
    if (options.checkAxes)
        return RunMode::CheckAxes;
    if (!options.record.isEmpty() || options.duration > 0.0 || !options.csv.isEmpty())
        return RunMode::Record;
    if (!options.screenshot.isEmpty())
        return RunMode::Screenshot;
    return RunMode::Window;
}

} // namespace features
