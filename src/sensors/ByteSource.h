#pragma once

#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <memory>
#include <string_view>

class QIODevice;

namespace sensors {

// A line longer than this is refused, so that endless input without line ends (/dev/zero)
// cannot grow the buffer.
inline constexpr std::size_t kLongestLine = 1 << 20;

// Where the bytes of a recording come from: a file, FIFO or device by path, standard input,
// a QIODevice or a text in memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // On failure returns false and sets `error` to the reason.
    virtual bool open(QString* /*error*/) { return true; }
    // Bytes the reader needs to buffer at most; a source known to be shorter needs less.
    virtual std::size_t capacity() const { return kLongestLine; }
    // Whether a read may wait for a writer (a FIFO, a pipe, a terminal).
    virtual bool mayWait() const { return false; }
    // Up to `size` bytes into `data`: their number, 0 at the end, -1 on a fault (see error).
    virtual qint64 read(char* data, qint64 size) = 0;
    // Ends a read that waits for input; callable from any thread.
    virtual void interrupt() {}
    QString error;
};

// `path` names a file, FIFO or device, or standard input ("-"). Anything that may wait is
// polled together with a wake-up pipe, so interrupt() ends the wait.
std::unique_ptr<ByteSource> fileSource(QString path);
// `device` is open for reading and not owned.
std::unique_ptr<ByteSource> deviceSource(QIODevice* device);
// `text` must outlive the source.
std::unique_ptr<ByteSource> textSource(std::string_view text);

} // namespace sensors
