#include "sensors/RecordingReader.h"

#include "sensors/CsvFields.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace sensors {

namespace {

// Rows open() reads ahead where the header cannot tell whether gravity is in: enough to tell,
// few enough that a live stream at 100 rows per second starts within a third of a second.
constexpr std::size_t kProbeRows = 32;
// A file whose first rows average less than this holds no gravity (it would read about 1 g).
constexpr double kGravityThreshold = 0.5;

// Where the header names no unit, the median magnitude of the first rows tells it: gravity
// alone reads 1 in g, 9.81 in m/s² and 9807 in mm/s², and shaking moves it by far less than
// the factors between them.
constexpr double kLeastMillimetres = 2000.0;
constexpr double kLeastMetres = 3.0;

constexpr const char* kAxisNames[3] = {"x", "y", "z"};

const char* const kAnyHeader =
    "expected a header of a known format (--list-formats shows them) or a sensor log row "
    "\"timestamp_ns, 3, x, y, z\"";

using csv::shown;

} // namespace

RecordingReader::RecordingReader(QString path)
    : name_(path == QLatin1String("-") ? QStringLiteral("standard input") : path),
      lines_(fileSource(std::move(path))) {}

RecordingReader::RecordingReader(QIODevice* device, QString name)
    : name_(std::move(name)), lines_(deviceSource(device)) {}

RecordingReader::RecordingReader(std::string_view text, QString name)
    : name_(std::move(name)), lines_(textSource(text)) {}

RecordingReader::~RecordingReader() = default;

void RecordingReader::interrupt() {
    lines_.interrupt();
}

double RecordingReader::rate() const {
    if (statedRate_ > 0.0)
        return statedRate_;
    if (layout_.time == TimeKind::RowNumber || layout_.time == TimeKind::SampleCount)
        return givenRate_;
    return firstRowsRate_;
}

QString RecordingReader::error() const {
    if (!failed_)
        return {};
    if (errorLine_ <= 0)
        return QStringLiteral("Cannot replay \"%1\": %2").arg(name_, errorReason_);
    return QStringLiteral("Cannot replay \"%1\", line %2: %3")
        .arg(name_)
        .arg(errorLine_)
        .arg(errorReason_);
}

bool RecordingReader::fail(const QString& reason) {
    failed_ = true;
    errorLine_ = line_;
    errorReason_ = reason;
    return false;
}

LineBuffer::Result RecordingReader::nextLine(std::string_view* line, bool* terminated) {
    const LineBuffer::Result result = lines_.next(line, terminated);
    line_ = lines_.line();
    if (result == LineBuffer::Result::Fault) {
        failed_ = true;
        errorLine_ = lines_.faultLine();
        errorReason_ = lines_.fault();
    }
    return result;
}

bool RecordingReader::open(QString* error) {
    auto refused = [&] {
        *error = this->error();
        return false;
    };
    if (opened_)
        return failed_ ? refused() : true;
    opened_ = true;
    QString reason;
    if (!lines_.open(&reason)) {
        failed_ = true;
        errorReason_ = reason;
        return refused();
    }
    std::string_view header;
    if (!readHeader(&header) || !detect(header) || !probe())
        return refused();
    if (layout_.time == TimeKind::RowNumber || layout_.time == TimeKind::SampleCount) {
        const QString placed =
            QStringLiteral("%1 has no times: its rows are placed at the %2 Hz %3")
                .arg(name_)
                .arg(rateForRows(), 0, 'g', 6)
                .arg(statedRate_ > 0.0 ? QStringLiteral("its comments state")
                                       : QStringLiteral("given with --rate"));
        notice_ = notice_.isEmpty() ? placed : notice_ + QStringLiteral("; ") + placed;
    }
    return true;
}

// Skips blank lines and, before the header, comment lines: "##" statistics, and "#" lines
// that are no known header (a logger's metadata, which may state the rate).
bool RecordingReader::readHeader(std::string_view* header) {
    bool terminated = false;
    bool comments = false;
    for (;;) {
        const LineBuffer::Result result = nextLine(header, &terminated);
        if (result == LineBuffer::Result::Fault)
            return false;
        if (result == LineBuffer::Result::End) {
            line_ = 1;
            return fail(
                QStringLiteral("%1, found %2")
                    .arg(QLatin1String(kAnyHeader), comments ? QStringLiteral("only comment lines")
                                                             : QStringLiteral("an empty file")));
        }
        if (line_ == 1 && header->substr(0, 3) == "\xEF\xBB\xBF")
            header->remove_prefix(3); // a byte-order mark some spreadsheet programs write
        const std::string_view text = csv::trimmed(*header);
        if (text.empty())
            continue;
        if (text.front() == '#' && isComment(text)) {
            comments = true;
            continue;
        }
        return true;
    }
}

bool RecordingReader::isComment(std::string_view line) {
    if (line.substr(0, 2) != "##") {
        RowLayout layout;
        QString reason;
        if (matchHeader(line, rateForRows(), &layout, &reason))
            return false;
    }
    if (statedRate_ <= 0.0)
        statedRate_ = statedRate(line);
    return true;
}

bool RecordingReader::detect(std::string_view header) {
    QString reason;
    const bool known = matchHeader(header, rateForRows(), &layout_, &reason);
    if (layout_.format)
        format_ = layout_.format->format;
    if (!known)
        return fail(reason);
    hasGravity_ = layout_.format->gravity != Gravity::Out;
    unitPending_ = layout_.unit == 0.0;
    valueScale_ = layout_.sign * (unitPending_ ? 1.0 : layout_.unit);
    if (layout_.format->header == HeaderKind::Numbers) {
        // No header: the first line is the first row.
        Acceleration row;
        if (!parseRow(header, &row))
            return false;
        probe_.push_back(row);
        probeLines_.push_back(line_);
    }
    return true;
}

bool RecordingReader::probe() {
    // A slow live stream starts with its first row, unless only the data tells whether
    // gravity is in, or the unit.
    const bool undecided = layout_.format->gravity == Gravity::FromData || unitPending_;
    const std::size_t wanted = undecided || !lines_.mayWait() ? kProbeRows : 1;
    Acceleration row;
    while (probe_.size() < wanted && readRow(&row)) {
        probe_.push_back(row);
        probeLines_.push_back(line_);
    }
    if (failed_)
        return false;
    if (probe_.empty()) {
        ++line_;
        return fail(QStringLiteral("expected a row of readings after the header, found the end "
                                   "of the file"));
    }
    if (unitPending_) {
        decideUnit();
        for (std::size_t i = 0; i < probe_.size(); ++i) {
            for (double* g : {&probe_[i].x, &probe_[i].y, &probe_[i].z}) {
                if (!(std::abs(*g) <= kMostPlausibleG)) {
                    line_ = probeLines_[i];
                    return fail(QStringLiteral("expected readings within ±%1 g, found %2 g")
                                    .arg(kMostPlausibleG)
                                    .arg(*g, 0, 'g', 4));
                }
            }
        }
    }
    if (layout_.format->gravity == Gravity::FromData) {
        double sum = 0.0;
        for (const Acceleration& a : probe_)
            sum += std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
        hasGravity_ = sum / double(probe_.size()) >= kGravityThreshold;
    }
    const double span = probe_.back().timestamp - probe_.front().timestamp;
    if (probe_.size() >= 2 && span > 0.0)
        firstRowsRate_ = double(probe_.size() - 1) / span;
    return true;
}

void RecordingReader::decideUnit() {
    // The median, so that a spike among the first rows does not pick the unit.
    std::vector<double> magnitudes;
    for (const Acceleration& a : probe_)
        magnitudes.push_back(std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z));
    const auto middle = magnitudes.begin() + std::ptrdiff_t(magnitudes.size() / 2);
    std::nth_element(magnitudes.begin(), middle, magnitudes.end());
    const double median = *middle;
    double unit = 1.0;
    const char* name = "g";
    if (median >= kLeastMillimetres) {
        unit = 1.0 / (1000.0 * kStandardGravity);
        name = "mm/s^2";
    } else if (median >= kLeastMetres || median < kGravityThreshold) {
        unit = 1.0 / kStandardGravity;
        name = "m/s^2";
    }
    notice_ = median < kGravityThreshold
                  ? QStringLiteral("%1 names no unit and its first rows, without gravity "
                                   "(median magnitude %2), cannot tell one: read in %3")
                        .arg(name_)
                        .arg(median, 0, 'g', 3)
                        .arg(QLatin1String(name))
                  : QStringLiteral("%1 names no unit: read in %2, since the median magnitude "
                                   "of its first rows is %3")
                        .arg(name_, QLatin1String(name))
                        .arg(median, 0, 'g', 3);
    valueScale_ *= unit;
    unitPending_ = false;
    for (Acceleration& a : probe_) {
        a.x *= unit;
        a.y *= unit;
        a.z *= unit;
    }
}

bool RecordingReader::next(Acceleration* row) {
    if (!opened_) {
        QString error;
        if (!open(&error))
            return false;
    }
    if (failed_)
        return false;
    if (probed_ < probe_.size()) {
        *row = probe_[probed_++];
        if (probed_ == probe_.size()) {
            probe_.clear();
            probe_.shrink_to_fit();
            probeLines_.clear();
            probeLines_.shrink_to_fit();
            probed_ = 0;
        }
        return true;
    }
    return readRow(row);
}

bool RecordingReader::readRow(Acceleration* row) {
    std::string_view line;
    bool terminated = false;
    for (;;) {
        const LineBuffer::Result result = nextLine(&line, &terminated);
        if (result != LineBuffer::Result::Line)
            return false;
        if (!csv::trimmed(line).empty())
            break;
    }
    if (parseRow(line, row))
        return true;
    if (!terminated) {
        // Half a line at the end: the writer stopped mid-row (a full disk, a killed logger).
        // Everything before it is sound.
        warning_ = QStringLiteral("Skipped the incomplete last line %1 of \"%2\" (%3)")
                       .arg(errorLine_)
                       .arg(name_, errorReason_);
        failed_ = false;
        errorLine_ = 0;
        errorReason_.clear();
    }
    return false;
}

bool RecordingReader::parseTime(std::string_view field, double* seconds) {
    switch (layout_.time) {
    case TimeKind::Seconds: {
        const std::optional<double> value = csv::number(field, layout_.decimalComma);
        if (!value)
            return fail(
                QStringLiteral("expected a number for the time, found %1").arg(shown(field)));
        *seconds = *value * layout_.timeScale;
        return true;
    }
    case TimeKind::WholeNanoseconds: {
        const std::optional<long long> stamp = csv::whole(field);
        if (!stamp || *stamp < 0)
            return fail(QStringLiteral("expected a timestamp in whole nanoseconds, found %1")
                            .arg(shown(field)));
        if (!started_)
            firstStamp_ = *stamp;
        // Differences of boot-clock stamps stay exact in int64 before turning into seconds.
        *seconds = double(*stamp - firstStamp_) * 1e-9;
        return true;
    }
    case TimeKind::SampleCount: {
        const std::optional<long long> count = csv::whole(field);
        if (!count)
            return fail(
                QStringLiteral("expected a whole sample number, found %1").arg(shown(field)));
        *seconds = double(*count) / rateForRows();
        return true;
    }
    case TimeKind::RowNumber:
        *seconds = double(rowNumber_++) / rateForRows();
        return true;
    case TimeKind::ClockOfDay: {
        // "11:41:59:3050": hours, minutes, seconds and the digits of the fraction of a second.
        std::array<std::string_view, 4> parts{};
        std::size_t count = 0;
        std::string_view rest = field;
        while (count < parts.size()) {
            const std::size_t colon = rest.find(':');
            parts[count++] = rest.substr(0, colon);
            if (colon == std::string_view::npos) {
                rest = {};
                break;
            }
            rest.remove_prefix(colon + 1);
        }
        const auto hours = csv::whole(parts[0]);
        const auto minutes = csv::whole(parts[1]);
        const auto whole_seconds = csv::whole(parts[2]);
        const bool fractionOk =
            count == 3 || (!parts[3].empty() && parts[3].size() <= 9 &&
                           parts[3].find_first_not_of("0123456789") == std::string_view::npos);
        if (count < 3 || !rest.empty() || !hours || !minutes || !whole_seconds || !fractionOk ||
            *hours < 0 || *hours > 23 || *minutes < 0 || *minutes > 59 || *whole_seconds < 0 ||
            *whole_seconds > 60)
            return fail(QStringLiteral("expected a time of day hh:mm:ss:fraction, found %1")
                            .arg(shown(field)));
        double fraction = 0.0;
        if (count == 4)
            fraction = double(*csv::whole(parts[3])) / std::pow(10.0, double(parts[3].size()));
        double value =
            double(*hours * 3600 + *minutes * 60 + *whole_seconds) + fraction + dayOffset_;
        // A recording that runs past midnight starts the clock again.
        if (started_ && value < previousTime_ - 43200.0) {
            dayOffset_ += 86400.0;
            value += 86400.0;
        }
        *seconds = value;
        return true;
    }
    }
    return false;
}

bool RecordingReader::parseValue(std::string_view field, std::size_t axis, double* value) {
    const std::optional<double> number = csv::number(field, layout_.decimalComma);
    if (!number)
        return fail(QStringLiteral("expected a number for %1, found %2")
                        .arg(QLatin1String(kAxisNames[axis]), shown(field)));
    // The log and the CSV keep readings as 32-bit floats; beyond that they would be inf.
    if (!std::isfinite(float(*number)))
        return fail(QStringLiteral("expected a number within the range of a 32-bit float "
                                   "for %1, found %2")
                        .arg(QLatin1String(kAxisNames[axis]), shown(field)));
    *value = *number;
    return true;
}

bool RecordingReader::parseRow(std::string_view line, Acceleration* row) {
    csv::split(line, layout_.separator, fields_);
    if (fields_.size() != layout_.fieldCount) {
        const QString separator = layout_.separator == '\t'  ? QStringLiteral("tab")
                                  : layout_.separator == ';' ? QStringLiteral("';'")
                                                             : QStringLiteral("','");
        return fail(QStringLiteral("expected %1 fields %2 separated by %3, found %4")
                        .arg(layout_.fieldCount)
                        .arg(QLatin1String(layout_.shape), separator)
                        .arg(fields_.size()));
    }
    if (layout_.countField && fields_[1] != "3")
        return fail(QStringLiteral("expected 3 (the number of values) after the timestamp, "
                                   "found %1")
                        .arg(shown(fields_[1])));
    const int timeColumn = layout_.columns[0];
    double time = 0.0;
    if (!parseTime(timeColumn >= 0 ? fields_[std::size_t(timeColumn)] : std::string_view(), &time))
        return false;
    std::array<double, 3> raw{};
    for (std::size_t i = 0; i < 3; ++i) {
        if (!parseValue(fields_[std::size_t(layout_.columns[i + 1])], i, &raw[i]))
            return false;
        double added = 0.0;
        if (layout_.added[i] >= 0) {
            if (!parseValue(fields_[std::size_t(layout_.added[i])], i, &added))
                return false;
            raw[i] += added;
        }
    }
    return add(time, raw, row);
}

bool RecordingReader::add(double time, const std::array<double, 3>& raw, Acceleration* row) {
    if (!started_) {
        started_ = true;
        firstTime_ = time;
    } else {
        const double step = time - previousTime_;
        if (step < 0.0)
            return fail(QStringLiteral("expected a time at or after the previous row's, found "
                                       "%1 s after the first row, %2 s before the previous one")
                            .arg(time - firstTime_)
                            .arg(-step));
        // Also catches steps that overflow to infinity (times near ±1e308).
        if (!(step <= kLongestTimeStep))
            return fail(QStringLiteral("expected a time within an hour of the previous row's, "
                                       "found a step of %1 s")
                            .arg(step));
    }
    previousTime_ = time;
    std::array<double, 3> g{};
    for (std::size_t i = 0; i < 3; ++i) {
        g[i] = raw[i] * valueScale_;
        // Until the unit is decided, probe() checks the first rows once it is.
        if (!unitPending_ && !(std::abs(g[i]) <= kMostPlausibleG))
            return fail(QStringLiteral("expected readings within ±%1 g, found %2 g for %3")
                            .arg(kMostPlausibleG)
                            .arg(g[i], 0, 'g', 4)
                            .arg(QLatin1String(kAxisNames[i])));
    }
    *row = Acceleration{g[0], g[1], g[2], time - firstTime_};
    return true;
}

} // namespace sensors
