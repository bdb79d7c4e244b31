#include "sensors/RecordingFormats.h"

#include "sensors/Acceleration.h"
#include "sensors/CsvFields.h"

#include <algorithm>
#include <cmath>

namespace sensors {

namespace {

constexpr double kMetre = 1.0 / kStandardGravity;               // g per m/s²
constexpr double kMillimetre = 1.0 / (1000 * kStandardGravity); // g per mm/s²

const char* const kAnyHeader =
    "expected a header of a known format (--list-formats shows them) or a sensor log row "
    "\"timestamp_ns, 3, x, y, z\"";

Located locateIos(const RecordingFormatInfo&, const HeaderFields&, double, RowLayout*, QString*);
Located locateCoreMotion(const RecordingFormatInfo&, const HeaderFields&, double, RowLayout*,
                         QString*);
Located locateNamedAxes(const RecordingFormatInfo&, const HeaderFields&, double, RowLayout*,
                        QString*);

const std::vector<RecordingFormatInfo> kFormats = {
    {RecordingFormat::Wobblestar,
     "Wobblestar CSV",
     "time,x,y,z",
     "seconds; g, face up reads z = -1", //
     HeaderKind::Exact,
     "time,x,y,z",
     {},
     {"time", "x", "y", "z"},
     nullptr, //
     TimeKind::Seconds,
     1.0,
     1.0,
     +1,
     Gravity::In},
    {RecordingFormat::Phyphox,
     "phyphox, acceleration with g",
     "\"Time (s)\",\"Acceleration x (m/s^2)\",\"Acceleration y (m/s^2)\","
     "\"Acceleration z (m/s^2)\",\"Absolute acceleration (m/s^2)\"",
     "seconds; m/s^2, face up reads z = +9.81", //
     HeaderKind::Named,
     "time (s)",
     {},
     {"Time (s)", "Acceleration x (m/s^2)", "Acceleration y (m/s^2)", "Acceleration z (m/s^2)"},
     nullptr,
     TimeKind::Seconds,
     1.0,
     kMetre,
     -1,
     Gravity::In},
    {RecordingFormat::PhyphoxLinear,
     "phyphox, acceleration without g",
     "\"Time (s)\",\"Linear Acceleration x (m/s^2)\",\"Linear Acceleration y (m/s^2)\","
     "\"Linear Acceleration z (m/s^2)\",\"Absolute acceleration (m/s^2)\"",
     "seconds; m/s^2 without gravity", //
     HeaderKind::Named,
     "time (s)",
     {"linear acceleration x (m/s^2)"},
     {"Time (s)", "Linear Acceleration x (m/s^2)", "Linear Acceleration y (m/s^2)",
      "Linear Acceleration z (m/s^2)"},
     nullptr,
     TimeKind::Seconds,
     1.0,
     kMetre,
     -1,
     Gravity::Out},
    {RecordingFormat::PhyphoxSimple,
     "phyphox, simple experiment",
     "\"Time (s)\",\"X (m/s^2)\",\"Y (m/s^2)\",\"Z (m/s^2)\"",
     "seconds; m/s^2, with or without gravity (told from the data)", //
     HeaderKind::Named,
     "time (s)",
     {"x (m/s^2)"},
     {"Time (s)", "X (m/s^2)", "Y (m/s^2)", "Z (m/s^2)"},
     nullptr,
     TimeKind::Seconds,
     1.0,
     kMetre,
     -1,
     Gravity::FromData},
    {RecordingFormat::SensorLogger,
     "Sensor Logger, TotalAcceleration or Accelerometer",
     "time,seconds_elapsed,z,y,x",
     "nanoseconds and seconds; m/s^2 in Android's convention, with or without gravity (told "
     "from the data)", //
     HeaderKind::Named,
     nullptr,
     {"seconds_elapsed"},
     {"seconds_elapsed", "x", "y", "z"},
     nullptr,
     TimeKind::Seconds,
     1.0,
     kMetre,
     -1,
     Gravity::FromData},
    {RecordingFormat::PhysicsToolbox,
     "Physics Toolbox, g-force meter",
     "time;gFx;gFy;gFz;TgF",
     "time of day hh:mm:ss:fraction; g-force, face up reads gFz = +1", //
     HeaderKind::Named,
     nullptr,
     {"gfx"},
     {"time", "gFx", "gFy", "gFz"},
     nullptr,
     TimeKind::ClockOfDay,
     1.0,
     1.0,
     -1,
     Gravity::In},
    {RecordingFormat::IosLog,
     "iOS log in g",
     "loggingTime(txt);accelerometerTimestamp_sinceReboot(s);accelerometerAccelerationX(G);"
     "accelerometerAccelerationY(G);accelerometerAccelerationZ(G)",
     "seconds; g, face up reads z = -1", //
     HeaderKind::Pattern,
     nullptr,
     {},
     {},
     locateIos,
     TimeKind::Seconds,
     1.0,
     1.0,
     +1,
     Gravity::In},
    {RecordingFormat::AndroidLog,
     "Android sensor log (no header)",
     "123456789000, 3, 0.12, -0.03, 9.79",
     "timestamp in ns, optionally the number of values (3); m/s^2, face up reads z = +9.81", //
     HeaderKind::Numbers,
     nullptr,
     {},
     {},
     nullptr,
     TimeKind::WholeNanoseconds,
     1e-9,
     kMetre,
     -1,
     Gravity::In},
    {RecordingFormat::PrinterAccelerometer,
     "3D printer firmware, accelerometer CSV",
     "#time,accel_x,accel_y,accel_z",
     "seconds; mm/s^2 as the chip measures them, face up reads accel_z = +9807; a \"##\" "
     "statistics line before the header is skipped", //
     HeaderKind::Named,
     "#time",
     {"accel_x"},
     {"#time", "accel_x", "accel_y", "accel_z"},
     nullptr,
     TimeKind::Seconds,
     1.0,
     kMillimetre,
     -1,
     Gravity::In},
    {RecordingFormat::VibrationLogger,
     "vibration logger, sample count at a stated rate",
     "count,a_x,a_y,a_z,g_x,g_y,g_z",
     "the sample's number at the rate a comment line before the header states (\"# ... "
     "data_rate = 2000.0 Hz\") or --rate HZ gives; g, face up reads a_z = +1", //
     HeaderKind::Named,
     "count",
     {"a_x"},
     {"count", "a_x", "a_y", "a_z"},
     nullptr,
     TimeKind::SampleCount,
     1.0,
     1.0,
     -1,
     Gravity::In},
    {RecordingFormat::SensorLoggerNamed,
     "Sensor Logger export with the axes named",
     "Timestamp,seconds_elapsed,AccelerationZ,AccelerationY,AccelerationX",
     "seconds_elapsed in seconds; m/s^2 or g, told from the data, in Android's convention: face "
     "up reads z = +9.81 (or +1)", //
     HeaderKind::Named,
     nullptr,
     {"seconds_elapsed", "accelerationx"},
     {"seconds_elapsed", "AccelerationX", "AccelerationY", "AccelerationZ"},
     nullptr,
     TimeKind::Seconds,
     1.0,
     0.0,
     -1,
     Gravity::FromData},
    {RecordingFormat::CoreMotion,
     "iOS Core Motion, device motion",
     "timestamp,gravity.x,gravity.y,gravity.z,userAcceleration.x,userAcceleration.y,"
     "userAcceleration.z",
     "seconds (a file without a time column needs --rate HZ); g, gravity plus the user's "
     "acceleration, face up reads gravity.z = -1", //
     HeaderKind::Named,
     nullptr,
     {"gravity.x", "useracceleration.x"},
     {},
     locateCoreMotion,
     TimeKind::Seconds,
     1.0,
     1.0,
     +1,
     Gravity::In},
    {RecordingFormat::NamedAxes,
     "CSV with the axes named",
     "time,Accel_X (m/s^2),Accel_Y (m/s^2),Accel_Z (m/s^2)",
     "a time column in seconds (ms, us or ns where its header says so; without one, --rate HZ); "
     "axes named accel_x, acc_x, ax, AccelX, acceleration_x, ...; the unit the header names "
     "(m/s^2, mm/s^2 or g), else told from the data and said; a chip's sign, face up reads z = "
     "+1 g", //
     HeaderKind::Pattern,
     nullptr,
     {},
     {},
     locateNamedAxes,
     TimeKind::Seconds,
     1.0,
     0.0,
     -1,
     Gravity::FromData},
};

// A format whose recognition names more of the header is tried before one that names less,
// so that phyphox's linear export wins over the plain one whose first column it shares; rows
// that recognise a whole line come first and rows that search the names last.
const std::vector<const RecordingFormatInfo*>& detectionOrder() {
    static const std::vector<const RecordingFormatInfo*> order = [] {
        std::vector<const RecordingFormatInfo*> rows;
        for (const RecordingFormatInfo& row : kFormats)
            rows.push_back(&row);
        const auto rank = [](const RecordingFormatInfo* row) {
            switch (row->header) {
            case HeaderKind::Exact:
            case HeaderKind::Numbers:
                return 4;
            case HeaderKind::Named:
                return (row->first ? 1 : 0) + (row->has[0] ? 1 : 0) + (row->has[1] ? 1 : 0);
            case HeaderKind::Pattern:
                break;
            }
            return -1;
        };
        std::stable_sort(rows.begin(), rows.end(),
                         [&](auto* a, auto* b) { return rank(a) > rank(b); });
        return rows;
    }();
    return order;
}

bool recognises(const RecordingFormatInfo& row, const HeaderFields& header) {
    if (row.first && (header.names.empty() || header.names.front() != row.first))
        return false;
    for (const char* name : row.has)
        if (name && header.column(name) < 0)
            return false;
    return true;
}

void layoutAsInHeader(const RecordingFormatInfo& row, const HeaderFields& header,
                      RowLayout* layout) {
    layout->format = &row;
    layout->separator = header.separator;
    // Exports with a comma between fields write a decimal point; the others follow the phone's
    // locale and may write a decimal comma.
    layout->decimalComma = header.separator != ',';
    layout->fieldCount = header.fields.size();
    layout->shape = "as in the header";
    layout->time = row.time;
    layout->timeScale = row.timeScale;
    layout->unit = row.unit;
    layout->sign = row.sign;
}

Located locateNamed(const RecordingFormatInfo& row, const HeaderFields& header, RowLayout* layout,
                    QString* error) {
    layoutAsInHeader(row, header, layout);
    for (std::size_t i = 0; i < 4; ++i) {
        layout->columns[i] = header.column(csv::lowered(row.columns[i]));
        if (layout->columns[i] < 0) {
            *error = QStringLiteral("expected a column \"%1\" in the header")
                         .arg(QLatin1String(row.columns[i]));
            return Located::Refused;
        }
    }
    return Located::Yes;
}

Located locateExact(const RecordingFormatInfo& row, std::string_view line, RowLayout* layout) {
    std::string compact;
    for (char c : line) {
        if (c != ' ' && c != '\t' && c != '"')
            compact += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (compact != row.first)
        return Located::No;
    *layout = RowLayout{};
    layout->format = &row;
    layout->columns = {0, 1, 2, 3};
    layout->fieldCount = 4;
    layout->shape = "(time,x,y,z)";
    layout->unit = row.unit;
    layout->sign = row.sign;
    return Located::Yes;
}

Located locateNumbers(const RecordingFormatInfo& row, std::string_view line, RowLayout* layout,
                      QString* error) {
    const std::size_t comma = line.find(',');
    const std::string_view stamp = csv::trimmed(line.substr(0, comma));
    if (comma == std::string_view::npos || stamp.empty() ||
        stamp.find_first_not_of("0123456789") != std::string_view::npos)
        return Located::No;
    *layout = RowLayout{};
    layout->format = &row;
    layout->time = row.time;
    layout->timeScale = row.timeScale;
    layout->unit = row.unit;
    layout->sign = row.sign;
    std::vector<std::string_view> fields;
    csv::split(line, ',', fields);
    if (fields.size() == 5) {
        layout->countField = true;
        layout->columns = {0, 2, 3, 4};
        layout->shape = "(timestamp_ns, 3, x, y, z)";
    } else if (fields.size() == 4) {
        layout->columns = {0, 1, 2, 3};
        layout->shape = "(timestamp_ns, x, y, z)";
    } else {
        *error = QStringLiteral("expected 5 fields (timestamp_ns, 3, x, y, z) or 4 "
                                "(timestamp_ns, x, y, z) separated by ',', found %1")
                     .arg(fields.size());
        return Located::Refused;
    }
    layout->fieldCount = fields.size();
    return Located::Yes;
}

// A header field without its unit in parentheses: "accelerometerAccelerationX(G)" ->
// "accelerometeraccelerationx".
std::string bareName(std::string_view field) {
    std::string name = csv::lowered(csv::trimmed(field));
    const std::size_t unit = name.find('(');
    if (unit != std::string::npos)
        name.resize(unit);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name;
}

// iOS loggers name their columns after Core Motion: "accelerometerAccelerationX(G)" or plain
// "AccelerationX"; the user-acceleration columns lack gravity and are not the sensor.
Located locateIos(const RecordingFormatInfo& row, const HeaderFields& header, double rate,
                  RowLayout* layout, QString* error) {
    constexpr const char* kAxes[3] = {"x", "y", "z"};
    std::array<int, 4> ios = {-1, -1, -1, -1};
    double timeScale = 1.0;
    for (std::size_t i = 0; i < header.names.size(); ++i) {
        const std::string bare = bareName(header.fields[i]);
        if (bare.find("user") != std::string::npos || bare.find("gravity") != std::string::npos)
            continue;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const std::string suffix = std::string("acceleration") + kAxes[axis];
            if (ios[axis + 1] < 0 && bare.size() >= suffix.size() &&
                bare.compare(bare.size() - suffix.size(), suffix.size(), suffix) == 0)
                ios[axis + 1] = int(i);
        }
        if (ios[0] < 0 && bare.find("timestamp") != std::string::npos) {
            ios[0] = int(i);
            if (header.names[i].find("(ms)") != std::string::npos)
                timeScale = 1e-3;
        }
    }
    if (ios[1] < 0 || ios[2] < 0 || ios[3] < 0)
        return Located::No;
    // Loggers without a sensor timestamp name the column plainly; a clock time ("loggingTime")
    // is no number and stays unused.
    if (ios[0] < 0)
        ios[0] = header.column("time") >= 0 ? header.column("time") : header.column("time (s)");
    layoutAsInHeader(row, header, layout);
    layout->columns = ios;
    layout->timeScale = timeScale;
    if (ios[0] < 0) {
        if (rate > 0.0) {
            layout->time = TimeKind::RowNumber;
            return Located::Yes;
        }
        *error = QStringLiteral("expected a timestamp column in seconds beside the acceleration "
                                "columns (or the file's rate with --rate HZ)");
        return Located::Refused;
    }
    return Located::Yes;
}

// A plain name: lowered, without its unit and without spaces, underscores, dots and dashes,
// so that "Accel_X (m/s^2)" reads "accelx" with the unit "m/s^2".
std::string plainName(std::string_view field, std::string* unit) {
    std::string name = csv::lowered(csv::trimmed(field));
    const std::size_t open = name.find_first_of("([");
    if (open != std::string::npos) {
        const std::size_t close = name.find_first_of(")]", open);
        if (unit)
            *unit = name.substr(open + 1, close == std::string::npos ? close : close - open - 1);
        name.resize(open);
    }
    std::erase_if(name, [](char c) { return c == ' ' || c == '_' || c == '.' || c == '-'; });
    return name;
}

// g per unit as a header writes it; 0 for a unit it does not know.
double unitNamed(std::string unit) {
    std::erase_if(unit, [](char c) { return c == ' '; });
    for (const char* metres : {"m/s^2", "m/s\xC2\xB2", "m/s2", "ms^-2", "ms-2", "m/s/s"})
        if (unit == metres)
            return kMetre;
    for (const char* millimetres : {"mm/s^2", "mm/s\xC2\xB2", "mm/s2"})
        if (unit == millimetres)
            return kMillimetre;
    return unit == "g" ? 1.0 : 0.0;
}

// A time column by its plain name; false when `name` names none. Its unit sets `scale`.
bool timeColumn(const std::string& name, const std::string& unit, double* scale) {
    static const std::array<std::pair<const char*, double>, 13> kNames = {{
        {"time", 1.0},
        {"t", 1.0},
        {"timestamp", 1.0},
        {"seconds", 1.0},
        {"secondselapsed", 1.0},
        {"elapsed", 1.0},
        {"elapsedtime", 1.0},
        {"times", 1.0},
        {"timems", 1e-3},
        {"timestampms", 1e-3},
        {"timeus", 1e-6},
        {"timens", 1e-9},
        {"timestampns", 1e-9},
    }};
    const auto it = std::find_if(kNames.begin(), kNames.end(),
                                 [&](const auto& known) { return name == known.first; });
    if (it == kNames.end())
        return false;
    *scale = it->second;
    if (unit == "ms")
        *scale = 1e-3;
    else if (unit == "us" || unit == "\xC2\xB5s")
        *scale = 1e-6;
    else if (unit == "ns")
        *scale = 1e-9;
    return true;
}

// Finds the time column by name, or numbers the rows at `rate`; false (with the reason) when
// it can do neither.
bool locateTime(const HeaderFields& header, double rate, RowLayout* layout, QString* error) {
    for (std::size_t i = 0; i < header.fields.size(); ++i) {
        std::string unit;
        const std::string name = plainName(header.fields[i], &unit);
        if (timeColumn(name, unit, &layout->timeScale)) {
            layout->columns[0] = int(i);
            return true;
        }
    }
    if (rate > 0.0) {
        layout->time = TimeKind::RowNumber;
        layout->columns[0] = -1;
        return true;
    }
    *error = QStringLiteral("expected a time column (such as \"time\" or \"timestamp\"); a file "
                            "without one is read with its rate given as --rate HZ");
    return false;
}

// Core Motion's device motion splits the acceleration into gravity and the user's own, both in
// g with Core Motion's sign; their sum is what an accelerometer measures.
Located locateCoreMotion(const RecordingFormatInfo& row, const HeaderFields& header, double rate,
                         RowLayout* layout, QString* error) {
    layoutAsInHeader(row, header, layout);
    constexpr const char* kGravity[3] = {"gravity.x", "gravity.y", "gravity.z"};
    constexpr const char* kUser[3] = {"userAcceleration.x", "userAcceleration.y",
                                      "userAcceleration.z"};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        layout->columns[axis + 1] = header.column(kGravity[axis]);
        layout->added[axis] = header.column(csv::lowered(kUser[axis]));
        const char* missing = layout->columns[axis + 1] < 0 ? kGravity[axis]
                              : layout->added[axis] < 0     ? kUser[axis]
                                                            : nullptr;
        if (missing) {
            *error = QStringLiteral("expected a column \"%1\" in the header")
                         .arg(QLatin1String(missing));
            return Located::Refused;
        }
    }
    return locateTime(header, rate, layout, error) ? Located::Yes : Located::Refused;
}

// Headers that name the axes in their own words: "accel_x", "acc_x", "ax", "AccelX",
// "Accel_X (m/s^2)", "acceleration_x [g]", ...
Located locateNamedAxes(const RecordingFormatInfo& row, const HeaderFields& header, double rate,
                        RowLayout* layout, QString* error) {
    constexpr const char* kStems[] = {"acceleration", "accelerometer", "accel", "acc", "a"};
    layoutAsInHeader(row, header, layout);
    std::array<int, 3> axes = {-1, -1, -1};
    std::string unit;
    for (std::size_t i = 0; i < header.fields.size(); ++i) {
        std::string named;
        const std::string name = plainName(header.fields[i], &named);
        for (std::size_t axis = 0; axis < 3; ++axis) {
            for (const char* stem : kStems) {
                if (axes[axis] < 0 && name == std::string(stem) + char('x' + axis)) {
                    axes[axis] = int(i);
                    if (axis == 0)
                        unit = named;
                }
            }
        }
    }
    if (axes[0] < 0 || axes[1] < 0 || axes[2] < 0)
        return Located::No;
    for (std::size_t axis = 0; axis < 3; ++axis)
        layout->columns[axis + 1] = axes[axis];
    if (!unit.empty()) {
        layout->unit = unitNamed(unit);
        if (layout->unit == 0.0) {
            *error = QStringLiteral("expected the unit m/s^2, mm/s^2 or g for column %1, found %2")
                         .arg(csv::shown(header.fields[std::size_t(axes[0])]), csv::shown(unit));
            return Located::Refused;
        }
    }
    return locateTime(header, rate, layout, error) ? Located::Yes : Located::Refused;
}

} // namespace

int HeaderFields::column(std::string_view lowered) const {
    const auto it = std::find(names.begin(), names.end(), lowered);
    return it == names.end() ? -1 : int(it - names.begin());
}

const std::vector<RecordingFormatInfo>& recordingFormats() {
    return kFormats;
}

const RecordingFormatInfo& formatInfo(RecordingFormat format) {
    return *std::find_if(kFormats.begin(), kFormats.end(),
                         [format](const RecordingFormatInfo& row) { return row.format == format; });
}

bool matchHeader(std::string_view line, double rate, RowLayout* layout, QString* error) {
    HeaderFields header;
    header.line = line;
    const std::size_t at = line.find_first_of(",\t;");
    if (at != std::string_view::npos) {
        header.separator = line[at];
        csv::split(line, header.separator, header.fields);
        for (std::string_view field : header.fields)
            header.names.push_back(csv::lowered(field));
    }
    for (const RecordingFormatInfo* row : detectionOrder()) {
        Located located = Located::No;
        switch (row->header) {
        case HeaderKind::Exact:
            located = locateExact(*row, line, layout);
            break;
        case HeaderKind::Numbers:
            located = locateNumbers(*row, line, layout, error);
            break;
        case HeaderKind::Named:
            if (!header.fields.empty() && recognises(*row, header))
                located = row->locate ? row->locate(*row, header, rate, layout, error)
                                      : locateNamed(*row, header, layout, error);
            break;
        case HeaderKind::Pattern:
            if (!header.fields.empty())
                located = row->locate(*row, header, rate, layout, error);
            break;
        }
        if (located == Located::Refused) {
            layout->format = row;
            return false;
        }
        if (located == Located::Yes) {
            if (layout->time == TimeKind::SampleCount && !(rate > 0.0)) {
                *error = QStringLiteral("expected the sampling rate in a comment line before the "
                                        "header (\"# data_rate = 2000.0 Hz\") or given as --rate "
                                        "HZ");
                return false;
            }
            return true;
        }
    }
    *layout = RowLayout{};
    *error = QString::fromLatin1(kAnyHeader);
    return false;
}

double statedRate(std::string_view comment) {
    const std::string text = csv::lowered(comment);
    for (std::size_t at = text.find("rate"); at != std::string::npos;
         at = text.find("rate", at + 1)) {
        std::size_t i = at + 4;
        const auto skipSpaces = [&] {
            while (i < text.size() && text[i] == ' ')
                ++i;
        };
        skipSpaces();
        if (i >= text.size() || (text[i] != '=' && text[i] != ':'))
            continue;
        ++i;
        skipSpaces();
        const std::size_t digits = text.find_first_not_of("0123456789.", i);
        const std::optional<double> value =
            csv::number(std::string_view(text).substr(i, digits - i), false);
        i = digits == std::string::npos ? text.size() : digits;
        skipSpaces();
        if (value && *value > 0.0 && text.compare(i, 2, "hz") == 0)
            return *value;
    }
    return 0.0;
}

QString recordingFileFilter() {
    return QStringLiteral("Recordings (*.csv *.tsv *.txt *.log);;All files (*)");
}

} // namespace sensors
