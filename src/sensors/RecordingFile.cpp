#include "sensors/RecordingFile.h"

#include <QFile>
#include <QFileInfo>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

namespace platform {

namespace {

constexpr std::string_view kWobblestarHeader = "time,x,y,z";
constexpr std::string_view kPhyphoxTime = "Time (s)";
constexpr std::array<std::string_view, 3> kPhyphoxAxes = {
    "Acceleration x (m/s^2)", "Acceleration y (m/s^2)", "Acceleration z (m/s^2)"};
constexpr const char* kAxisNames[3] = {"x", "y", "z"};

const char* const kAnyHeader =
    "expected a header \"time,x,y,z\", a phyphox export header starting \"Time (s)\", or a "
    "sensor log row \"timestamp_ns, 3, x, y, z\"";

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string_view unquoted(std::string_view s) {
    s = trimmed(s);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        s = s.substr(1, s.size() - 2);
    return s;
}

// Splits into `fields` (reused between rows so that a long file allocates once).
void split(std::string_view line, char separator, std::vector<std::string_view>& fields) {
    fields.clear();
    for (;;) {
        const std::size_t at = line.find(separator);
        fields.push_back(unquoted(line.substr(0, at)));
        if (at == std::string_view::npos)
            return;
        line.remove_prefix(at + 1);
    }
}

QString shown(std::string_view field) {
    constexpr std::size_t kLongest = 24;
    QString text = QString::fromUtf8(field.data(), qsizetype(std::min(field.size(), kLongest)));
    if (field.size() > kLongest)
        text += QStringLiteral("...");
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A finite decimal number, the whole field. With `decimalComma` a comma is the decimal mark.
std::optional<double> number(std::string_view field, bool decimalComma) {
    std::array<char, 64> copy{};
    if (decimalComma) {
        if (field.size() > copy.size())
            return std::nullopt;
        for (std::size_t i = 0; i < field.size(); ++i)
            copy[i] = field[i] == ',' ? '.' : field[i];
        field = std::string_view(copy.data(), field.size());
    }
    double value = 0.0;
    const char* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

class Parser {
public:
    explicit Parser(RecordingFault* fault) : fault_(fault) {}

    Recording parse(std::string_view text) {
        if (text.substr(0, 3) == "\xEF\xBB\xBF")
            text.remove_prefix(3); // a byte-order mark some spreadsheet programs write
        text_ = text;
        std::string_view first;
        if (!nextLine(first))
            return refuse(1, QStringLiteral("%1, found an empty file").arg(kAnyHeader));
        if (!detect(first))
            return {};
        if (recording_.format == RecordingFormat::AndroidLog && !androidRow(first))
            return {};
        std::string_view line;
        while (nextLine(line)) {
            if (!row(line))
                return {};
        }
        if (recording_.rows.empty())
            return refuse(line_ + 1, QStringLiteral("expected a row of readings after the header, "
                                                    "found the end of the file"));
        return std::move(recording_);
    }

private:
    // The next line that is not blank; false at the end of the text.
    bool nextLine(std::string_view& line) {
        while (!text_.empty()) {
            const std::size_t end = text_.find('\n');
            line = text_.substr(0, end);
            text_.remove_prefix(end == std::string_view::npos ? text_.size() : end + 1);
            ++line_;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (!trimmed(line).empty())
                return true;
        }
        return false;
    }

    Recording refuse(int line, const QString& expected) {
        if (fault_)
            *fault_ = RecordingFault{line, expected};
        return {};
    }

    bool fail(const QString& expected) {
        refuse(line_, expected);
        return false;
    }

    bool detect(std::string_view header) {
        std::string compact;
        for (char c : header) {
            if (c != ' ' && c != '\t' && c != '"')
                compact += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        if (compact == kWobblestarHeader) {
            recording_.format = RecordingFormat::Wobblestar;
            separator_ = ',';
            columns_ = {0, 1, 2, 3};
            fieldCount_ = 4;
            return true;
        }
        if (unquoted(header.substr(0, header.find_first_of(",\t;"))) == kPhyphoxTime)
            return phyphoxHeader(header);
        const std::size_t comma = header.find(',');
        const std::string_view stamp = trimmed(header.substr(0, comma));
        if (comma != std::string_view::npos && !stamp.empty() &&
            stamp.find_first_not_of("0123456789") == std::string_view::npos) {
            recording_.format = RecordingFormat::AndroidLog;
            separator_ = ',';
            fieldCount_ = 5;
            return true;
        }
        return fail(QString::fromLatin1(kAnyHeader));
    }

    bool phyphoxHeader(std::string_view header) {
        recording_.format = RecordingFormat::Phyphox;
        const std::size_t at = header.find_first_of(",\t;");
        if (at == std::string_view::npos)
            return fail(QStringLiteral("expected acceleration columns after \"Time (s)\", "
                                       "separated by a comma, tab or semicolon"));
        separator_ = header[at];
        // Exports with a comma separator always write a decimal point; the others follow the
        // phone's locale.
        decimalComma_ = separator_ != ',';
        split(header, separator_, fields_);
        columns_[0] = 0;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            columns_[axis + 1] = -1;
            for (std::size_t i = 1; i < fields_.size(); ++i) {
                if (fields_[i] == kPhyphoxAxes[axis])
                    columns_[axis + 1] = int(i);
            }
            if (columns_[axis + 1] < 0)
                return fail(QStringLiteral("expected a column \"%1\" in the phyphox header")
                                .arg(QLatin1String(kPhyphoxAxes[axis])));
        }
        fieldCount_ = fields_.size();
        return true;
    }

    bool row(std::string_view line) {
        return recording_.format == RecordingFormat::AndroidLog ? androidRow(line) : tableRow(line);
    }

    bool fieldCount(const char* shape) {
        if (fields_.size() == fieldCount_)
            return true;
        const QString separator = separator_ == '\t'  ? QStringLiteral("tab")
                                  : separator_ == ';' ? QStringLiteral("';'")
                                                      : QStringLiteral("','");
        return fail(QStringLiteral("expected %1 fields %2 separated by %3, found %4")
                        .arg(fieldCount_)
                        .arg(QLatin1String(shape), separator)
                        .arg(fields_.size()));
    }

    bool tableRow(std::string_view line) {
        split(line, separator_, fields_);
        if (!fieldCount(recording_.format == RecordingFormat::Wobblestar ? "(time,x,y,z)"
                                                                         : "as in the header"))
            return false;
        std::array<double, 4> values{};
        for (std::size_t i = 0; i < 4; ++i) {
            const std::string_view field = fields_[std::size_t(columns_[i])];
            const std::optional<double> value = number(field, decimalComma_);
            if (!value)
                return fail(
                    QStringLiteral("expected a number for %1, found %2")
                        .arg(i == 0 ? QStringLiteral("the time") : QLatin1String(kAxisNames[i - 1]),
                             shown(field)));
            values[i] = *value;
        }
        if (recording_.format == RecordingFormat::Phyphox) {
            for (std::size_t i = 1; i < 4; ++i)
                values[i] = -values[i] / kStandardGravity;
        }
        return add(values[0], values[1], values[2], values[3]);
    }

    bool androidRow(std::string_view line) {
        split(line, separator_, fields_);
        if (!fieldCount("(timestamp_ns, 3, x, y, z)"))
            return false;
        std::int64_t stamp = 0;
        const std::string_view stampField = fields_[0];
        const auto [ptr, ec] =
            std::from_chars(stampField.data(), stampField.data() + stampField.size(), stamp);
        if (ec != std::errc() || ptr != stampField.data() + stampField.size() || stamp < 0)
            return fail(QStringLiteral("expected a timestamp in whole nanoseconds, found %1")
                            .arg(shown(stampField)));
        if (fields_[1] != "3")
            return fail(QStringLiteral("expected 3 (the number of values) after the timestamp, "
                                       "found %1")
                            .arg(shown(fields_[1])));
        std::array<double, 3> values{};
        for (std::size_t i = 0; i < 3; ++i) {
            const std::optional<double> value = number(fields_[i + 2], false);
            if (!value)
                return fail(QStringLiteral("expected a number for %1, found %2")
                                .arg(QLatin1String(kAxisNames[i]), shown(fields_[i + 2])));
            values[i] = -*value / kStandardGravity;
        }
        if (recording_.rows.empty())
            firstStamp_ = stamp;
        // Differences of boot-clock stamps stay exact in int64 before turning into seconds.
        const double time = double(stamp - firstStamp_) * 1e-9;
        return add(time, values[0], values[1], values[2]);
    }

    bool add(double time, double x, double y, double z) {
        if (recording_.rows.empty())
            firstTime_ = time;
        time -= firstTime_;
        if (!recording_.rows.empty() && time < recording_.rows.back().timestamp)
            return fail(QStringLiteral("expected a time at or after the previous row's, found "
                                       "%1 s after the first row, %2 s before the previous one")
                            .arg(time)
                            .arg(recording_.rows.back().timestamp - time));
        recording_.rows.push_back(Acceleration{x, y, z, time});
        return true;
    }

    RecordingFault* fault_;
    std::string_view text_;
    int line_ = 0;
    Recording recording_;
    char separator_ = ',';
    bool decimalComma_ = false;
    std::array<int, 4> columns_{};
    std::size_t fieldCount_ = 0;
    std::vector<std::string_view> fields_;
    double firstTime_ = 0.0;
    std::int64_t firstStamp_ = 0;
};

} // namespace

Recording parseRecording(std::string_view text, RecordingFault* fault) {
    return Parser(fault).parse(text);
}

Recording loadRecording(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot replay \"%1\": %2").arg(path, file.errorString());
        return {};
    }
    const QByteArray text = file.readAll();
    RecordingFault fault;
    Recording recording = parseRecording(std::string_view(text.constData(), text.size()), &fault);
    if (recording.rows.empty() && error)
        *error = QStringLiteral("Cannot replay \"%1\", line %2: %3")
                     .arg(path)
                     .arg(fault.line)
                     .arg(fault.expected);
    return recording;
}

} // namespace platform
