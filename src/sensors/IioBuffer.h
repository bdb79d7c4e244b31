#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace sensors {

// One channel of a buffered scan, from scan_elements/in_*_type ("le:s16/32>>0").
struct ScanChannel {
    int index = 0;
    int offset = 0; // bytes from the start of the scan
    int bytes = 0;  // storage
    int realBits = 0;
    int shift = 0;
    bool isSigned = true;
    bool bigEndian = false;

    // Parses a channel type; nothing when it is not of the kernel's form.
    static std::optional<ScanChannel> parseType(const QByteArray& text);
    // The value of this channel in `scan`.
    std::int64_t decode(const unsigned char* scan) const;
};

// Where the three axes lie in one scan of a device's buffer, and the node to read scans from.
struct ScanLayout {
    QByteArray devnode; // "/dev/iio:device0"
    std::array<ScanChannel, 3> axes{};
    // The kernel's timestamp takes room in each scan; only its place matters, since readings
    // are stamped when they are delivered.
    bool hasTimestamp = false;
    ScanChannel timestamp; // nanoseconds on the kernel's clock, where hasTimestamp
    int scanBytes = 0;

    // The layout of the device in `folder`: enabled channels in index order, each aligned to
    // its own size, the whole scan to its largest channel (the kernel's iio_compute_scan_bytes).
    // Nothing and `error` when its scan_elements do not describe one; nothing without an error
    // when the device node is missing.
    static std::optional<ScanLayout> read(const QString& folder, QString* error);
};

// A device's buffer, read on the event loop's thread without ever waiting for the chip.
class IioBuffer {
public:
    IioBuffer() = default;
    ~IioBuffer() { close(); }
    IioBuffer(const IioBuffer&) = delete;
    IioBuffer& operator=(const IioBuffer&) = delete;

    // Turns the device's buffer on (its three axes, the timestamp, its own trigger where none is
    // set) and opens it, within the sensors' answer deadline. False and why not when it cannot be
    // had (another program holds it, the device refuses).
    bool open(const QString& folder, const QString& deviceName, const ScanLayout& layout,
              QString* why);
    // Closes the node and turns the buffer off, so that other programs may have it.
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // What one look at the buffer found.
    struct Take {
        bool fresh = false; // a scan newer than the last look
        std::array<double, 3> counts{};
        int error = 0; // the read failed with this errno
    };
    // The newest whole scan, if a new one came since the last look.
    Take takeNewest();

    // How the kernel keeps scans: how many it holds, how many it gathers before poll() says
    // they are there (the watermark, which a chip's hardware FIFO follows, so that the chip
    // interrupts once per that many samples), and the chip's sampling rate.
    struct Setup {
        int length = 64;
        int watermark = 1;
        QByteArray ratePath; // empty: the rate is left alone
        QByteArray rateText;
    };
    // What the device took of a Setup.
    struct Applied {
        double rate = 0.0;     // Hz as the device reads back; 0 when unknown
        QByteArray rateBefore; // the rate file's text before, to put back
    };
    // Turns the buffer off, applies `setup` and turns it on again; the node stays open. False
    // and why not when the device refuses; the buffer is then on as it was, if it can be.
    bool reconfigure(const Setup& setup, Applied* applied, QString* why);

    // One scan read whole.
    struct Scan {
        std::array<double, 3> counts{};
        std::int64_t time = 0; // the kernel's timestamp in ns; 0 without one
    };
    // Every whole scan the kernel has gathered, oldest first, appended to `scans`, reading only
    // as far as poll() says a watermark's worth is there; `drain` reads the rest too (flushing
    // a chip's hardware FIFO: for the end of a recording). 0, or the errno of a failed read.
    int takeAll(std::vector<Scan>* scans, bool drain = false);

private:
    QString folder_;
    ScanLayout layout_;
    int fd_ = -1;
    int capacity_ = 0; // scans the kernel keeps
    int watermark_ = 1;
    std::vector<unsigned char> scan_;
    std::vector<unsigned char> pending_; // bytes read that do not make a whole scan yet
};

} // namespace sensors
