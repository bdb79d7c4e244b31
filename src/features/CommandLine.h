#pragma once

#include "sensors/SourceRequest.h"

#include <QString>
#include <QStringList>

namespace platform {

// Everything the command line can ask for. Defaults are what a plain start does. The source
// request part (source, axes, loop) is handed to the sensors as it is.
struct LaunchOptions : SourceRequest {
    // Print the detected sensors and exit.
    bool listSources = false;
    // Print the recording formats replay: reads and exit.
    bool listFormats = false;
    // Run the guided axis check on the terminal, store the map and exit.
    bool checkAxes = false;

    // Write a screenshot of `screen` to this PNG file after `after` seconds and exit.
    QString screenshot;
    QString screen = QStringLiteral("graph");
    double after = 2.0;
    double scale = 1.0;
    // Keep the window portrait; show the meters screen rotated inside it.
    bool fixedOrientation = false;

    // Headless recording: the period ("0.10", "0.25", "0.50", "0.75"), its length in seconds,
    // and an optional full-rate CSV file.
    QString record;
    double duration = 0.0;
    QString csv;
};

enum class LaunchAction { Run, ShowHelp, ShowVersion, Fail };

// Parses the arguments (argv[0] first). On Fail, `error` holds one line for the user; the
// process should exit with status 2. On ShowHelp/ShowVersion, `output` holds the text to print.
LaunchAction parseLaunchOptions(const QStringList& arguments, LaunchOptions& options,
                                QString* error, QString* output);

} // namespace platform
