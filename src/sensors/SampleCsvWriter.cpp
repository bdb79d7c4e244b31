#include "sensors/SampleCsvWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace sensors {

namespace {

char* appendFloat(char* out, char* end, float value) {
    // Shortest text that reads back as the same float; locale-independent, unlike printf.
    return std::to_chars(out, end, value).ptr;
}

} // namespace

QString SampleCsvWriter::defaultDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Wobblestar/recordings");
}

QString SampleCsvWriter::defaultPath(const QDateTime& started) {
    return defaultDirectory() + QLatin1Char('/') +
           started.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) + QStringLiteral(".csv");
}

SampleCsvWriter::SampleCsvWriter(const QString& path, Existing existing, QObject* parent)
    : QObject(parent), path_(path), existing_(existing) {
    flushTimer_.setSingleShot(true);
    connect(&flushTimer_, &QTimer::timeout, this, &SampleCsvWriter::flush);
}

SampleCsvWriter::~SampleCsvWriter() {
    close();
}

bool SampleCsvWriter::open() {
    const QFileInfo info(path_);
    std::error_code created;
    std::filesystem::create_directories(info.absolutePath().toStdString(), created);
    if (created) {
        fail(QStringLiteral("the folder %1 cannot be created (%2)")
                 .arg(info.absolutePath(), QString::fromStdString(created.message())));
        return false;
    }
    // Unbuffered: the writer keeps its own buffer, and Qt's would hide the system's reason when
    // a disk fills up in the middle of a block.
    constexpr QIODevice::OpenMode kWrite = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (existing_ == Existing::Replace) {
        file_.setFileName(path_);
        if (!file_.open(kWrite | QIODevice::Truncate)) {
            fail(file_.errorString());
            return false;
        }
    }
    const QString base = info.absolutePath() + QLatin1Char('/') + info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    for (int n = 1; !file_.isOpen(); ++n) {
        const QString candidate =
            n == 1 ? path_ : QStringLiteral("%1_%2%3").arg(base).arg(n).arg(suffix);
        file_.setFileName(candidate);
        if (file_.open(kWrite | QIODevice::NewOnly)) {
            path_ = candidate;
            break;
        }
        if (!QFileInfo::exists(candidate) || n == 1000) {
            fail(file_.errorString());
            return false;
        }
    }
    sinceFlush_.start();
    pending_ = "time,x,y,z\n";
    pending_.reserve(kBufferSize);
    return flush();
}

void SampleCsvWriter::setTimeOrigin(double timestamp) {
    origin_ = timestamp;
    hasOrigin_ = true;
}

void SampleCsvWriter::append(const Acceleration& reading) {
    if (!hasOrigin_)
        setTimeOrigin(reading.timestamp);
    append(reading.timestamp - origin_, float(reading.x), float(reading.y), float(reading.z));
}

void SampleCsvWriter::append(double time, float x, float y, float z) {
    if (failed_ || !file_.isOpen())
        return;
    char line[128];
    char* const end = line + sizeof line;
    char* out = std::to_chars(line, end, time, std::chars_format::fixed, 6).ptr;
    *out++ = ',';
    out = appendFloat(out, end, x);
    *out++ = ',';
    out = appendFloat(out, end, y);
    *out++ = ',';
    out = appendFloat(out, end, z);
    *out++ = '\n';
    pending_.append(line, out - line);
    if (pending_.size() >= kBufferSize || sinceFlush_.elapsed() >= flushIntervalMs_)
        flush();
    else if (!flushTimer_.isActive())
        flushTimer_.start(int(flushIntervalMs_ - sinceFlush_.elapsed()));
}

bool SampleCsvWriter::flush() {
    if (failed_ || !file_.isOpen())
        return !failed_;
    flushTimer_.stop();
    sinceFlush_.restart();
    // A write that fills the disk stores part of the block and reports no reason; the write of
    // the rest fails with the system's (ENOSPC, EFBIG, EIO).
    qint64 written = 0;
    while (written < pending_.size()) {
        const qint64 n = file_.write(pending_.constData() + written, pending_.size() - written);
        if (n <= 0) {
            fail(file_.errorString());
            return false;
        }
        written += n;
    }
    pending_.clear();
    return true;
}

bool SampleCsvWriter::close() {
    if (!file_.isOpen())
        return !failed_;
    const bool ok = flush();
    file_.close();
    if (ok && file_.error() != QFileDevice::NoError)
        fail(file_.errorString());
    return !failed_;
}

void SampleCsvWriter::fail(const QString& cause) {
    if (failed_)
        return;
    failed_ = true;
    flushTimer_.stop();
    pending_.clear();
    file_.close();
    error_ = QStringLiteral("The full-rate recording could not be written to %1: %2. The samples "
                            "from here on are not saved; the log is not affected.")
                 .arg(QDir::toNativeSeparators(path_), cause);
    emit failed(error_);
}

} // namespace sensors
