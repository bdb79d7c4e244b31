#pragma once

#include "screens/ScreenNames.h"
#include "sensors/SourceRequest.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace features {

// Everything the command line can ask for. Defaults are what a plain start does. The source
// request part (source, axes, loop) is handed to the sensors as it is.
struct LaunchOptions : sensors::SourceRequest {
    // Print the detected sensors and exit.
    bool listSources = false;
    // Print the recording formats replay: reads and exit.
    bool listFormats = false;
    // Run the guided axis check on the terminal, store the map and exit.
    bool checkAxes = false;

    // Write a screenshot of `screen` to this PNG file after `after` seconds and exit.
    QString screenshot;
    screens::ScreenId screen = screens::ScreenId::Graph;
    double after = 2.0;
    double scale = 1.0;
    // Keep the window portrait; show the meters screen rotated inside it.
    bool fixedOrientation = false;

    // Headless recording: the period ("0.10", "0.25", "0.50", "0.75"), its length in seconds,
    // and an optional full-rate CSV file.
    QString record;
    double duration = 0.0;
    QString csv;
    // The rate of the full-rate file: the readings as delivered (nothing), the source's fastest
    // (0, "native") or a rate in Hz.
    std::optional<double> recordRate;

    // Publish the readings delivered to an MQTT topic: mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC
    // with ?batch=SECONDS. Empty: the setting publish/url, else nothing is published.
    QString publish;

    // Headless analysis of a recording: the span [from, to] in seconds (negative: the start or
    // the end of the file), JSON instead of text, and a plot written to a picture (PNG, JPEG,
    // SVG or PDF by its extension) in a light or dark theme, under a title of its own or the
    // file's name.
    QString analyze;
    double from = -1.0;
    double to = -1.0;
    bool json = false;
    QString plot;
    // The power spectral density of X, Y and Z with their peaks, as a picture.
    QString plotPsd;
    int plotWidth = 1200;
    int plotHeight = 500;
    bool plotDark = false;
    QString plotTitle;
};

enum class LaunchAction { Run, ShowHelp, ShowVersion, Fail };

// What a run does, one mode per run, chosen from the options in this order of precedence.
enum class RunMode {
    ListSources, // print the detected sensors
    Analyze,     // numbers (and a plot) of a recording, without a display
    ListFormats, // print the recording formats
    CheckAxes,   // the guided axis check on the terminal
    Record,      // a recording without a display, its log printed
    Screenshot,  // a picture of one screen, without a display
    Window,      // the application in its window
};

// Parses the arguments (argv[0] first). On Fail, `error` holds one line for the user; the
// process should exit with status 2. On ShowHelp/ShowVersion, `output` holds the text to print.
LaunchAction parseLaunchOptions(const QStringList& arguments, LaunchOptions& options,
                                QString* error, QString* output);

// The mode the options ask for (after parseLaunchOptions() succeeded).
RunMode runModeOf(const LaunchOptions& options);

// The arguments as the program received them (argv[0] first), as text. File names are bytes
// to Linux and need not be UTF-8; such a name (a file to read, or the value of --screenshot or
// --csv, which is then created) is handed on as /proc/self/fd/N of a descriptor opened here,
// which names the very file whatever its bytes.
QStringList argumentsFromBytes(const QList<QByteArray>& arguments);

} // namespace features
