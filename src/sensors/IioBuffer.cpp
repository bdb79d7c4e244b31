#include "sensors/IioBuffer.h"

#include "sensors/IioDevice.h"
#include "sensors/IioRates.h"
#include "sensors/SensorFiles.h"

#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace sensors {

namespace sf = sensorfiles;
using iiofiles::pathIn;

namespace {

// Scans the kernel keeps for us between two readings: over half a second at 120 Hz.
constexpr int kBufferScans = 64;

const char* const kAxisNames[3] = {"x", "y", "z"};

// Turns the device's buffer on and opens it. -1 and `why` when it cannot be had.
int enable(const QString& folder, const QString& deviceName, const ScanLayout& layout,
           QString* why) {
    auto put = [&](const QByteArray& file, const QByteArray& text) {
        return sf::write(pathIn(folder, file), text);
    };
    auto fail = [&](const QByteArray& file, int status) {
        // The kernel lets one reader have a device's buffer at a time.
        *why = status == EBUSY ? QStringLiteral("its buffer is busy (another program holds it)")
                               : QStringLiteral("cannot use its buffer: %1")
                                     .arg(sf::cannotRead(pathIn(folder, file), status));
        return -1;
    };
    for (const char* axis : kAxisNames) {
        const QByteArray file = QByteArray("scan_elements/in_accel_") + axis + "_en";
        if (const int status = put(file, "1"); status != 0)
            return fail(file, status);
    }
    if (layout.hasTimestamp)
        put("scan_elements/in_timestamp_en", "1");
    // A buffer without a trigger never fills; the device's own is named NAME-devN.
    QByteArray current;
    if (sf::read(pathIn(folder, "trigger/current_trigger"), &current) == 0 &&
        current.trimmed().isEmpty()) {
        const QString sysname = QFileInfo(folder).fileName();
        put("trigger/current_trigger",
            deviceName.toUtf8() + "-dev" +
                sysname.mid(sysname.indexOf(QLatin1String("device")) + 6).toUtf8());
    }
    put("buffer/length", QByteArray::number(kBufferScans));
    // A watermark left by an earlier recording would hold scans back from poll().
    put("buffer/watermark", "1");
    if (const int status = put("buffer/enable", "1"); status != 0)
        return fail("buffer/enable", status);
    const int fd = ::open(layout.devnode.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int status = errno;
        put("buffer/enable", "0");
        return fail(layout.devnode.mid(layout.devnode.lastIndexOf('/') + 1), status);
    }
    return fd;
}

} // namespace

std::optional<ScanChannel> ScanChannel::parseType(const QByteArray& text) {
    // [be|le]:[s|u]bits/storagebits[Xrepeat]>>shift
    const QList<QByteArray> parts = text.trimmed().split(':');
    if (parts.size() != 2 || (parts[0] != "le" && parts[0] != "be"))
        return std::nullopt;
    const QByteArray rest = parts[1];
    if (rest.isEmpty() || (rest[0] != 's' && rest[0] != 'u'))
        return std::nullopt;
    ScanChannel channel;
    channel.bigEndian = parts[0] == "be";
    channel.isSigned = rest[0] == 's';
    const qsizetype slash = rest.indexOf('/');
    const qsizetype arrows = rest.indexOf(">>");
    if (slash < 0 || arrows < slash)
        return std::nullopt;
    QByteArray storage = rest.mid(slash + 1, arrows - slash - 1);
    if (const qsizetype repeat = storage.indexOf('X'); repeat >= 0)
        storage.truncate(repeat);
    bool okBits = false, okStorage = false, okShift = false;
    channel.realBits = rest.mid(1, slash - 1).toInt(&okBits);
    const int storageBits = storage.toInt(&okStorage);
    channel.shift = rest.mid(arrows + 2).toInt(&okShift);
    channel.bytes = storageBits / 8;
    const bool valid =
        okBits && okStorage && okShift && channel.realBits > 0 &&
        (storageBits == 8 || storageBits == 16 || storageBits == 32 || storageBits == 64) &&
        channel.realBits + channel.shift <= storageBits;
    return valid ? std::optional(channel) : std::nullopt;
}

std::int64_t ScanChannel::decode(const unsigned char* scan) const {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        const int byte = bigEndian ? i : bytes - 1 - i;
        value = value << 8 | scan[offset + byte];
    }
    value >>= shift;
    if (realBits < 64)
        value &= (std::uint64_t(1) << realBits) - 1;
    if (isSigned && realBits < 64 && (value >> (realBits - 1)) & 1)
        value |= ~((std::uint64_t(1) << realBits) - 1);
    return static_cast<std::int64_t>(value);
}

std::optional<ScanLayout> ScanLayout::read(const QString& folder, QString* error) {
    struct Found {
        ScanChannel channel;
        int axis; // 0..2, or 3 for the timestamp
    };
    std::vector<Found> channels;
    for (int axis = 0; axis < 4; ++axis) {
        const QByteArray name =
            axis < 3 ? QByteArray("in_accel_") + kAxisNames[axis] : QByteArray("in_timestamp");
        QByteArray type, index;
        const QByteArray base = pathIn(folder, "scan_elements/" + name);
        if (sf::read(base + "_type", &type) != 0 || sf::read(base + "_index", &index) != 0) {
            if (axis == 3)
                continue; // no timestamp channel: the scans are still whole
            *error = QStringLiteral("%1 has no readable scan_elements/%2_type")
                         .arg(folder, QString::fromLatin1(name));
            return std::nullopt;
        }
        bool ok = false;
        const int channelIndex = index.trimmed().toInt(&ok);
        std::optional<ScanChannel> channel = ScanChannel::parseType(type);
        if (!ok || !channel) {
            *error = QStringLiteral("%1: scan_elements/%2_type holds '%3', which is not a channel "
                                    "type such as le:s16/32>>0")
                         .arg(folder, QString::fromLatin1(name), QString::fromUtf8(type.trimmed()));
            return std::nullopt;
        }
        channel->index = channelIndex;
        channels.push_back({*channel, axis});
    }
    std::sort(channels.begin(), channels.end(),
              [](const Found& a, const Found& b) { return a.channel.index < b.channel.index; });
    ScanLayout layout;
    int offset = 0, largest = 1;
    for (Found& found : channels) {
        const int bytes = found.channel.bytes;
        offset = (offset + bytes - 1) / bytes * bytes;
        found.channel.offset = offset;
        offset += bytes;
        largest = std::max(largest, bytes);
        if (found.axis < 3)
            layout.axes[static_cast<size_t>(found.axis)] = found.channel;
        else {
            layout.hasTimestamp = true;
            layout.timestamp = found.channel;
        }
    }
    layout.scanBytes = (offset + largest - 1) / largest * largest;
    layout.devnode = "/dev/" + QFile::encodeName(QFileInfo(folder).fileName());
    if (!QFileInfo::exists(QFile::decodeName(layout.devnode)))
        return std::nullopt;
    return layout;
}

bool IioBuffer::open(const QString& folder, const QString& deviceName, const ScanLayout& layout,
                     QString* why) {
    close();
    struct Opened {
        int fd = -1;
        int scans = 0;
        QString why;
    };
    const std::optional<Opened> opened = sf::withDeadline<Opened>([folder, deviceName, layout] {
        Opened o;
        o.fd = enable(folder, deviceName, layout, &o.why);
        QByteArray length;
        double scans = 0.0;
        if (sf::read(pathIn(folder, "buffer/length"), &length) == 0 &&
            sf::parseNumber(length, &scans) && scans >= 1.0)
            o.scans = static_cast<int>(std::min(scans, 1e6));
        return o;
    });
    if (!opened || opened->fd < 0) {
        *why = opened ? opened->why : QStringLiteral("its buffer is not answering");
        return false;
    }
    folder_ = folder;
    layout_ = layout;
    fd_ = opened->fd;
    capacity_ = opened->scans > 0 ? opened->scans : kBufferScans;
    watermark_ = 1;
    pending_.clear();
    scan_.assign(static_cast<size_t>(layout.scanBytes), 0);
    return true;
}

void IioBuffer::close() {
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
    // A device that does not answer must not hold the program up for more than the deadline.
    const QByteArray enable = pathIn(folder_, "buffer/enable");
    sf::withDeadline<int>([enable] { return sf::write(enable, "0"); });
}

// Each read asks for one scan, and only after poll() says one is there: a read asking for more
// than the buffer holds makes the kernel flush a chip's hardware FIFO, which talks to the chip
// over its bus and can stall. Poll never does.
IioBuffer::Take IioBuffer::takeNewest() {
    Take take;
    int taken = 0;
    for (;;) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0 || !(ready.revents & POLLIN))
            break;
        const ssize_t count = ::read(fd_, scan_.data(), scan_.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN) {
            take.error = errno;
            return take;
        }
        if (count != static_cast<ssize_t>(scan_.size()))
            break; // nothing more (or the end of a file standing in for the device)
        for (size_t axis = 0; axis < 3; ++axis)
            take.counts[axis] = static_cast<double>(layout_.axes[axis].decode(scan_.data()));
        take.fresh = true;
        if (++taken >= capacity_)
            break;
    }
    // A full buffer has been dropping the newest scans since it filled (while nobody asked for
    // readings): what it held is old. The scans that follow are new.
    if (taken >= capacity_)
        return Take{};
    return take;
}

bool IioBuffer::reconfigure(const Setup& setup, Applied* applied, QString* why) {
    if (fd_ < 0) {
        *why = QStringLiteral("its buffer is not open");
        return false;
    }
    struct Result {
        bool ok = false;
        QString why;
        Applied applied;
        int length = 0;
        int watermark = 1;
    };
    const QString folder = folder_;
    const std::optional<Result> result = sf::withDeadline<Result>([folder, setup] {
        const std::lock_guard changing(IioRates::changeLock());
        Result r;
        auto path = [&](const QByteArray& file) { return pathIn(folder, file); };
        auto number = [&](const QByteArray& file, double fallback) {
            QByteArray text;
            double value = 0.0;
            return sf::read(path(file), &text) == 0 && sf::parseNumber(text, &value) ? value
                                                                                     : fallback;
        };
        // The kernel takes a new length, watermark or rate only while the buffer is off.
        if (const int status = sf::write(path("buffer/enable"), "0"); status != 0) {
            r.why = QStringLiteral("cannot turn its buffer off: %1").arg(sf::errorText(status));
            return r;
        }
        r.ok = true;
        if (!setup.ratePath.isEmpty()) {
            sf::read(setup.ratePath, &r.applied.rateBefore);
            r.applied.rateBefore = r.applied.rateBefore.trimmed();
            if (const int status = sf::write(setup.ratePath, setup.rateText); status != 0) {
                r.ok = false;
                r.why = QStringLiteral("it refused the rate %1 Hz (%2)")
                            .arg(QString::fromLatin1(setup.rateText), sf::errorText(status));
            }
            QByteArray text;
            if (sf::read(setup.ratePath, &text) == 0)
                sf::parseNumber(text, &r.applied.rate);
        }
        // The length first: a watermark may not exceed it.
        sf::write(path("buffer/length"), QByteArray::number(setup.length));
        sf::write(path("buffer/watermark"), QByteArray::number(setup.watermark));
        r.length = static_cast<int>(std::clamp(number("buffer/length", 0.0), 0.0, 1e6));
        // A kernel without the file waits for single scans.
        r.watermark = static_cast<int>(std::clamp(number("buffer/watermark", 1.0), 1.0, 1e6));
        if (const int status = sf::write(path("buffer/enable"), "1"); status != 0 && r.ok) {
            r.ok = false;
            r.why = QStringLiteral("cannot turn its buffer on: %1").arg(sf::errorText(status));
        }
        return r;
    });
    if (!result) {
        *why = QStringLiteral("its buffer is not answering");
        return false;
    }
    capacity_ = result->length > 0 ? result->length : setup.length;
    watermark_ = std::min(result->watermark, capacity_);
    pending_.clear();
    *applied = result->applied;
    if (!result->ok)
        *why = result->why;
    return result->ok;
}

// Reads a watermark's worth at a time, only after poll() said that many are there: a read
// asking for more than the kernel holds makes it flush the chip's hardware FIFO over the bus.
int IioBuffer::takeAll(std::vector<Scan>* scans, bool drain) {
    const size_t scanBytes = static_cast<size_t>(layout_.scanBytes);
    const size_t chunk = static_cast<size_t>(watermark_) * scanBytes;
    // Bounded, so that a source faster than the reading cannot keep it here.
    for (int round = 0; round <= capacity_ / watermark_; ++round) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0 || !(ready.revents & POLLIN))
            break;
        const size_t had = pending_.size();
        pending_.resize(had + chunk);
        const ssize_t count = ::read(fd_, pending_.data() + had, chunk);
        const int status = errno;
        pending_.resize(had + static_cast<size_t>(std::max<ssize_t>(count, 0)));
        if (count < 0 && status == EINTR)
            continue;
        if (count < 0 && status != EAGAIN)
            return status;
        if (count <= 0)
            break;
    }
    for (int round = 0; drain && round <= capacity_ / watermark_; ++round) {
        const size_t had = pending_.size();
        pending_.resize(had + chunk);
        const ssize_t count = ::read(fd_, pending_.data() + had, chunk);
        const int status = errno;
        pending_.resize(had + static_cast<size_t>(std::max<ssize_t>(count, 0)));
        drain = count > 0 || (count < 0 && status == EINTR);
    }
    size_t at = 0;
    for (; at + scanBytes <= pending_.size(); at += scanBytes) {
        const unsigned char* bytes = pending_.data() + at;
        Scan scan;
        for (size_t axis = 0; axis < 3; ++axis)
            scan.counts[axis] = static_cast<double>(layout_.axes[axis].decode(bytes));
        if (layout_.hasTimestamp)
            scan.time = layout_.timestamp.decode(bytes);
        scans->push_back(scan);
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    return 0;
}

} // namespace sensors
