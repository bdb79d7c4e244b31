#include "sensors/RecordingReader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Rows open() reads ahead where the header cannot tell whether gravity is in: enough to tell,
// few enough that a live stream at 100 rows per second starts within a third of a second.
constexpr std::size_t kProbeRows = 32;
// A file whose first rows average less than this holds no gravity (it would read about 1 g).
constexpr double kGravityThreshold = 0.5;

constexpr const char* kAxisNames[3] = {"x", "y", "z"};

const char* const kAnyHeader =
    "expected a header of a known format (--list-formats shows them) or a sensor log row "
    "\"timestamp_ns, 3, x, y, z\"";

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

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return out;
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
    std::array<char, 64> copy; // filled only for a decimal comma; no clearing on the hot path
    if (!field.empty() && field.front() == '+')
        field.remove_prefix(1);
    if (decimalComma && field.find(',') != std::string_view::npos) {
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

template <typename Int> std::optional<Int> whole(std::string_view field) {
    Int value = 0;
    const char* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (ec != std::errc() || ptr != end || field.empty())
        return std::nullopt;
    return value;
}

// A header field without its unit in parentheses: "accelerometerAccelerationX(G)" ->
// "accelerometeraccelerationx".
std::string bareName(std::string_view field) {
    std::string name = lowered(trimmed(field));
    const std::size_t unit = name.find('(');
    if (unit != std::string::npos)
        name.resize(unit);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name;
}

} // namespace

// Where the bytes come from.
class RecordingReader::Source {
public:
    virtual ~Source() = default;
    virtual bool open(QString* /*error*/) { return true; }
    // Bytes the reader needs to buffer at most; a source known to be shorter needs less.
    virtual std::size_t capacity() const { return kLongestLine; }
    // Whether a read may wait for a writer (a FIFO, a pipe, a terminal).
    virtual bool mayWait() const { return false; }
    // Up to `size` bytes into `data`: their number, 0 at the end, -1 on a fault (see error).
    virtual qint64 read(char* data, qint64 size) = 0;
    virtual void interrupt() {}
    QString error;
};

namespace {

// A file, FIFO or device by path, or standard input for "-". Anything that may wait (a FIFO,
// a pipe, a terminal) is polled together with a wake-up pipe, so interrupt() ends the wait.
class DescriptorSource final : public RecordingReader::Source {
public:
    explicit DescriptorSource(QString path) : path_(std::move(path)) {
        if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
            wake_[0] = wake_[1] = -1;
    }
    ~DescriptorSource() override {
        for (int fd : {fd_, wake_[0], wake_[1]})
            if (fd >= 0)
                ::close(fd);
    }

    bool open(QString* why) override {
        if (path_ == QLatin1String("-")) {
            fd_ = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
        } else {
            // Without O_NONBLOCK, opening a FIFO waits for its writer before anything else runs.
            fd_ = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        }
        if (fd_ < 0) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        struct stat status {};
        if (::fstat(fd_, &status) == 0) {
            if (S_ISDIR(status.st_mode)) {
                *why = QStringLiteral("it is a folder");
                return false;
            }
            regular_ = S_ISREG(status.st_mode);
        }
        return true;
    }

    qint64 read(char* data, qint64 size) override {
        for (;;) {
            if (!regular_ && !waitForInput())
                return -1;
            const ssize_t n = ::read(fd_, data, std::size_t(size));
            if (n >= 0)
                return n;
            if (errno == EINTR || errno == EAGAIN)
                continue;
            error = QString::fromLocal8Bit(std::strerror(errno));
            return -1;
        }
    }

    bool mayWait() const override { return !regular_; }

    void interrupt() override {
        if (wake_[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t written = ::write(wake_[1], &byte, 1);
        }
    }

private:
    bool waitForInput() {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        for (;;) {
            const int ready = ::poll(fds, wake_[0] >= 0 ? 2 : 1, -1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0) {
                error = QString::fromLocal8Bit(std::strerror(errno));
                return false;
            }
            if (fds[1].revents != 0) {
                error = QStringLiteral("reading was interrupted");
                return false;
            }
            return true;
        }
    }

    QString path_;
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    bool regular_ = false;
};

class DeviceSource final : public RecordingReader::Source {
public:
    explicit DeviceSource(QIODevice* device) : device_(device) {}
    qint64 read(char* data, qint64 size) override {
        for (;;) {
            const qint64 n = device_->read(data, size);
            if (n < 0) {
                error = device_->errorString();
                return -1;
            }
            if (n > 0 || !device_->isSequential())
                return n;
            if (interrupted_) {
                error = QStringLiteral("reading was interrupted");
                return -1;
            }
            // A sequential device that can no longer deliver (a finished process, a closed
            // socket) refuses the wait at once; one that is only quiet uses up the slice.
            QElapsedTimer waited;
            waited.start();
            if (!device_->waitForReadyRead(100) && (!device_->isOpen() || waited.elapsed() < 50))
                return 0;
        }
    }
    void interrupt() override { interrupted_ = true; }

private:
    QIODevice* device_;
    std::atomic<bool> interrupted_{false};
};

class TextSource final : public RecordingReader::Source {
public:
    explicit TextSource(std::string_view text) : text_(text) {}
    std::size_t capacity() const override { return std::min(text_.size() + 1, kLongestLine); }
    qint64 read(char* data, qint64 size) override {
        const std::size_t n = std::min(text_.size(), std::size_t(size));
        std::memcpy(data, text_.data(), n);
        text_.remove_prefix(n);
        return qint64(n);
    }

private:
    std::string_view text_;
};

} // namespace

const std::vector<RecordingFormatInfo>& recordingFormats() {
    static const std::vector<RecordingFormatInfo> formats = {
        {RecordingFormat::Wobblestar, "Wobblestar CSV", "time,x,y,z",
         "seconds; g, face up reads z = -1"},
        {RecordingFormat::Phyphox, "phyphox, acceleration with g",
         "\"Time (s)\",\"Acceleration x (m/s^2)\",\"Acceleration y (m/s^2)\","
         "\"Acceleration z (m/s^2)\",\"Absolute acceleration (m/s^2)\"",
         "seconds; m/s^2, face up reads z = +9.81"},
        {RecordingFormat::PhyphoxLinear, "phyphox, acceleration without g",
         "\"Time (s)\",\"Linear Acceleration x (m/s^2)\",\"Linear Acceleration y (m/s^2)\","
         "\"Linear Acceleration z (m/s^2)\",\"Absolute acceleration (m/s^2)\"",
         "seconds; m/s^2 without gravity"},
        {RecordingFormat::PhyphoxSimple, "phyphox, simple experiment",
         "\"Time (s)\",\"X (m/s^2)\",\"Y (m/s^2)\",\"Z (m/s^2)\"",
         "seconds; m/s^2, with or without gravity (told from the data)"},
        {RecordingFormat::SensorLogger, "Sensor Logger, TotalAcceleration or Accelerometer",
         "time,seconds_elapsed,z,y,x",
         "nanoseconds and seconds; m/s^2 in Android's convention, with or without gravity (told "
         "from the data)"},
        {RecordingFormat::PhysicsToolbox, "Physics Toolbox, g-force meter", "time;gFx;gFy;gFz;TgF",
         "time of day hh:mm:ss:fraction; g-force, face up reads gFz = +1"},
        {RecordingFormat::IosLog, "iOS log in g",
         "loggingTime(txt);accelerometerTimestamp_sinceReboot(s);accelerometerAccelerationX(G);"
         "accelerometerAccelerationY(G);accelerometerAccelerationZ(G)",
         "seconds; g, face up reads z = -1"},
        {RecordingFormat::AndroidLog, "Android sensor log (no header)",
         "123456789000, 3, 0.12, -0.03, 9.79",
         "timestamp in ns, optionally the number of values (3); m/s^2, face up reads z = +9.81"},
    };
    return formats;
}

QString recordingFileFilter() {
    return QStringLiteral("Recordings (*.csv *.tsv *.txt *.log);;All files (*)");
}

QString formatName(RecordingFormat format) {
    for (const RecordingFormatInfo& info : recordingFormats())
        if (info.format == format)
            return QString::fromUtf8(info.name);
    return {};
}

RecordingReader::RecordingReader(QString path)
    : name_(path == QLatin1String("-") ? QStringLiteral("standard input") : path),
      source_(std::make_unique<DescriptorSource>(std::move(path))) {}

RecordingReader::RecordingReader(QIODevice* device, QString name)
    : name_(std::move(name)), source_(std::make_unique<DeviceSource>(device)) {}

RecordingReader::RecordingReader(std::string_view text, QString name)
    : name_(std::move(name)), source_(std::make_unique<TextSource>(text)) {}

RecordingReader::~RecordingReader() = default;

void RecordingReader::interrupt() {
    source_->interrupt();
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

bool RecordingReader::fill() {
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    const qint64 n = source_->read(buffer_.get() + end_, qint64(capacity_ - end_));
    if (n < 0) {
        failed_ = true;
        errorLine_ = 0;
        errorReason_ = source_->error;
        return false;
    }
    if (n == 0)
        sourceEnded_ = true;
    end_ += std::size_t(n);
    return true;
}

RecordingReader::LineResult RecordingReader::nextLine(std::string_view* line, bool* terminated) {
    std::size_t scanned = 0; // bytes after begin_ known to hold no line end
    for (;;) {
        const char* start = buffer_.get() + begin_;
        const std::size_t available = end_ - begin_;
        const void* found = std::memchr(start + scanned, '\n', available - scanned);
        if (found || (sourceEnded_ && available > 0)) {
            const std::size_t length =
                found ? std::size_t(static_cast<const char*>(found) - start) : available;
            *line = std::string_view(start, length);
            *terminated = found != nullptr;
            begin_ += found ? length + 1 : length;
            ++line_;
            if (!line->empty() && line->back() == '\r')
                line->remove_suffix(1);
            return LineResult::Line;
        }
        if (sourceEnded_)
            return LineResult::End;
        if (available >= capacity_) {
            ++line_;
            fail(QStringLiteral("expected a line end within 1 MB, found none (this is not a "
                                "recording)"));
            return LineResult::Fault;
        }
        scanned = available;
        if (!fill())
            return LineResult::Fault;
    }
}

bool RecordingReader::open(QString* error) {
    auto refused = [&] {
        if (error)
            *error = this->error();
        return false;
    };
    if (opened_)
        return failed_ ? refused() : true;
    opened_ = true;
    capacity_ = source_->capacity();
    buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
    QString reason;
    if (!source_->open(&reason)) {
        failed_ = true;
        errorReason_ = reason;
        return refused();
    }

    std::string_view header;
    bool terminated = false;
    for (;;) {
        const LineResult result = nextLine(&header, &terminated);
        if (result == LineResult::Fault)
            return refused();
        if (result == LineResult::End) {
            line_ = 1;
            fail(QStringLiteral("%1, found an empty file").arg(QLatin1String(kAnyHeader)));
            return refused();
        }
        if (line_ == 1 && header.substr(0, 3) == "\xEF\xBB\xBF")
            header.remove_prefix(3); // a byte-order mark some spreadsheet programs write
        if (!trimmed(header).empty())
            break;
    }
    if (!detect(header))
        return refused();
    if (format_ == RecordingFormat::AndroidLog) {
        Acceleration row;
        if (!parseRow(header, &row))
            return refused();
        probe_.push_back(row);
    }
    // A slow live stream starts with its first row, unless only the data tells whether
    // gravity is in.
    const bool undecided =
        format_ == RecordingFormat::PhyphoxSimple || format_ == RecordingFormat::SensorLogger;
    const std::size_t wanted = undecided || !source_->mayWait() ? kProbeRows : 1;
    Acceleration row;
    while (probe_.size() < wanted && readRow(&row))
        probe_.push_back(row);
    if (failed_)
        return refused();
    if (probe_.empty()) {
        ++line_;
        fail(QStringLiteral("expected a row of readings after the header, found the end of the "
                            "file"));
        return refused();
    }
    if (undecided) {
        double sum = 0.0;
        for (const Acceleration& a : probe_)
            sum += std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
        hasGravity_ = sum / double(probe_.size()) >= kGravityThreshold;
    }
    return true;
}

bool RecordingReader::next(Acceleration* row) {
    if (!opened_ && !open(nullptr))
        return false;
    if (failed_)
        return false;
    if (probed_ < probe_.size()) {
        *row = probe_[probed_++];
        if (probed_ == probe_.size()) {
            probe_.clear();
            probe_.shrink_to_fit();
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
        const LineResult result = nextLine(&line, &terminated);
        if (result != LineResult::Line)
            return false;
        if (!trimmed(line).empty())
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

bool RecordingReader::detect(std::string_view header) {
    std::string compact;
    for (char c : header) {
        if (c != ' ' && c != '\t' && c != '"')
            compact += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (compact == "time,x,y,z") {
        format_ = RecordingFormat::Wobblestar;
        separator_ = ',';
        columns_ = {0, 1, 2, 3};
        fieldCount_ = 4;
        shape_ = "(time,x,y,z)";
        return true;
    }
    const std::size_t comma = header.find(',');
    const std::string_view stamp = trimmed(header.substr(0, comma));
    if (comma != std::string_view::npos && !stamp.empty() &&
        stamp.find_first_not_of("0123456789") == std::string_view::npos) {
        format_ = RecordingFormat::AndroidLog;
        separator_ = ',';
        timeKind_ = TimeKind::WholeNanoseconds;
        valueScale_ = -1.0 / kStandardGravity;
        split(header, separator_, fields_);
        if (fields_.size() == 5) {
            countField_ = true;
            columns_ = {0, 2, 3, 4};
            shape_ = "(timestamp_ns, 3, x, y, z)";
        } else if (fields_.size() == 4) {
            columns_ = {0, 1, 2, 3};
            shape_ = "(timestamp_ns, x, y, z)";
        } else {
            line_ = std::max(line_, 1);
            return fail(QStringLiteral("expected 5 fields (timestamp_ns, 3, x, y, z) or 4 "
                                       "(timestamp_ns, x, y, z) separated by ',', found %1")
                            .arg(fields_.size()));
        }
        fieldCount_ = fields_.size();
        return true;
    }
    return detectTable(header);
}

bool RecordingReader::detectTable(std::string_view header) {
    const std::size_t at = header.find_first_of(",\t;");
    if (at == std::string_view::npos)
        return fail(QString::fromLatin1(kAnyHeader));
    separator_ = header[at];
    // Exports with a comma between fields write a decimal point; the others follow the phone's
    // locale and may write a decimal comma.
    decimalComma_ = separator_ != ',';
    split(header, separator_, fields_);
    fieldCount_ = fields_.size();
    shape_ = "as in the header";
    std::vector<std::string> names;
    for (std::string_view field : fields_)
        names.push_back(lowered(field));
    auto column = [&](std::string_view name) {
        const auto it = std::find(names.begin(), names.end(), name);
        return it == names.end() ? -1 : int(it - names.begin());
    };
    auto require = [&](const std::array<const char*, 4>& wanted) {
        for (std::size_t i = 0; i < 4; ++i) {
            columns_[i] = column(lowered(wanted[i]));
            if (columns_[i] < 0)
                return fail(QStringLiteral("expected a column \"%1\" in the header")
                                .arg(QLatin1String(wanted[i])));
        }
        return true;
    };

    if (names.front() == "time (s)") {
        valueScale_ = -1.0 / kStandardGravity;
        if (column("linear acceleration x (m/s^2)") >= 0) {
            format_ = RecordingFormat::PhyphoxLinear;
            hasGravity_ = false;
            return require({"Time (s)", "Linear Acceleration x (m/s^2)",
                            "Linear Acceleration y (m/s^2)", "Linear Acceleration z (m/s^2)"});
        }
        if (column("x (m/s^2)") >= 0) {
            format_ = RecordingFormat::PhyphoxSimple;
            return require({"Time (s)", "X (m/s^2)", "Y (m/s^2)", "Z (m/s^2)"});
        }
        format_ = RecordingFormat::Phyphox;
        return require({"Time (s)", "Acceleration x (m/s^2)", "Acceleration y (m/s^2)",
                        "Acceleration z (m/s^2)"});
    }
    if (column("seconds_elapsed") >= 0) {
        format_ = RecordingFormat::SensorLogger;
        valueScale_ = -1.0 / kStandardGravity;
        return require({"seconds_elapsed", "x", "y", "z"});
    }
    if (column("gfx") >= 0) {
        format_ = RecordingFormat::PhysicsToolbox;
        timeKind_ = TimeKind::ClockOfDay;
        valueScale_ = -1.0;
        return require({"time", "gFx", "gFy", "gFz"});
    }

    // iOS loggers name their columns after Core Motion: "accelerometerAccelerationX(G)" or
    // plain "AccelerationX"; the user-acceleration columns lack gravity and are not the sensor.
    std::array<int, 4> ios = {-1, -1, -1, -1};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string bare = bareName(fields_[i]);
        if (bare.find("user") != std::string::npos || bare.find("gravity") != std::string::npos)
            continue;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const std::string suffix = std::string("acceleration") + kAxisNames[axis];
            if (ios[axis + 1] < 0 && bare.size() >= suffix.size() &&
                bare.compare(bare.size() - suffix.size(), suffix.size(), suffix) == 0)
                ios[axis + 1] = int(i);
        }
        if (ios[0] < 0 && bare.find("timestamp") != std::string::npos) {
            ios[0] = int(i);
            if (names[i].find("(ms)") != std::string::npos)
                timeScale_ = 1e-3;
        }
    }
    // Loggers without a sensor timestamp name the column plainly; a clock time ("loggingTime")
    // is no number and stays unused.
    if (ios[0] < 0)
        ios[0] = column("time") >= 0 ? column("time") : column("time (s)");
    if (ios[1] >= 0 && ios[2] >= 0 && ios[3] >= 0) {
        format_ = RecordingFormat::IosLog;
        valueScale_ = 1.0;
        columns_ = ios;
        if (columns_[0] < 0)
            return fail(QStringLiteral("expected a timestamp column in seconds beside the "
                                       "acceleration columns"));
        return true;
    }
    return fail(QString::fromLatin1(kAnyHeader));
}

bool RecordingReader::parseTime(std::string_view field, double* seconds) {
    switch (timeKind_) {
    case TimeKind::Seconds: {
        const std::optional<double> value = number(field, decimalComma_);
        if (!value)
            return fail(
                QStringLiteral("expected a number for the time, found %1").arg(shown(field)));
        *seconds = *value * timeScale_;
        return true;
    }
    case TimeKind::WholeNanoseconds: {
        const std::optional<std::int64_t> stamp = whole<std::int64_t>(field);
        if (!stamp || *stamp < 0)
            return fail(QStringLiteral("expected a timestamp in whole nanoseconds, found %1")
                            .arg(shown(field)));
        if (!started_)
            firstStamp_ = *stamp;
        // Differences of boot-clock stamps stay exact in int64 before turning into seconds.
        *seconds = double(*stamp - firstStamp_) * 1e-9;
        return true;
    }
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
        const auto hours = whole<int>(parts[0]);
        const auto minutes = whole<int>(parts[1]);
        const auto whole_seconds = whole<int>(parts[2]);
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
            fraction = double(*whole<long>(parts[3])) / std::pow(10.0, double(parts[3].size()));
        double value = *hours * 3600.0 + *minutes * 60.0 + *whole_seconds + fraction + dayOffset_;
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

bool RecordingReader::parseRow(std::string_view line, Acceleration* row) {
    split(line, separator_, fields_);
    if (fields_.size() != fieldCount_) {
        const QString separator = separator_ == '\t'  ? QStringLiteral("tab")
                                  : separator_ == ';' ? QStringLiteral("';'")
                                                      : QStringLiteral("','");
        return fail(QStringLiteral("expected %1 fields %2 separated by %3, found %4")
                        .arg(fieldCount_)
                        .arg(QLatin1String(shape_), separator)
                        .arg(fields_.size()));
    }
    if (countField_ && fields_[1] != "3")
        return fail(QStringLiteral("expected 3 (the number of values) after the timestamp, "
                                   "found %1")
                        .arg(shown(fields_[1])));
    double time = 0.0;
    if (!parseTime(fields_[std::size_t(columns_[0])], &time))
        return false;
    std::array<double, 3> raw{};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string_view field = fields_[std::size_t(columns_[i + 1])];
        const std::optional<double> value = number(field, decimalComma_);
        if (!value)
            return fail(QStringLiteral("expected a number for %1, found %2")
                            .arg(QLatin1String(kAxisNames[i]), shown(field)));
        // The log and the CSV keep readings as 32-bit floats; beyond that they would be inf.
        if (!std::isfinite(float(*value)))
            return fail(QStringLiteral("expected a number within the range of a 32-bit float "
                                       "for %1, found %2")
                            .arg(QLatin1String(kAxisNames[i]), shown(field)));
        raw[i] = *value;
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
        if (!(std::abs(g[i]) <= kMostPlausibleG))
            return fail(QStringLiteral("expected readings within ±%1 g, found %2 g for %3")
                            .arg(kMostPlausibleG)
                            .arg(g[i], 0, 'g', 4)
                            .arg(QLatin1String(kAxisNames[i])));
    }
    *row = Acceleration{g[0], g[1], g[2], time - firstTime_};
    return true;
}

} // namespace platform
