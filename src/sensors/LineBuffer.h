#pragma once

#include "sensors/ByteSource.h"

#include <QString>
#include <memory>
#include <string_view>

namespace sensors {

// Hands out the lines of a byte source from one fixed buffer of the source's capacity, so
// that memory stays bounded whatever the size of the input. A line stays valid until the next
// call to next().
class LineBuffer {
public:
    explicit LineBuffer(std::unique_ptr<ByteSource> source);

    // On failure returns false and sets `error` to the source's reason.
    bool open(QString* error);

    enum class Result { Line, End, Fault };
    // The next line without its line end (LF or CRLF); `terminated` is false for a last line
    // without one. On Fault, fault() says why and faultLine() where (0: the source failed).
    Result next(std::string_view* line, bool* terminated);
    // The 1-based number of the line last handed out.
    int line() const { return line_; }
    const QString& fault() const { return fault_; }
    int faultLine() const { return faultLine_; }

    bool mayWait() const { return source_->mayWait(); }
    void interrupt() { source_->interrupt(); }

private:
    bool fill();

    std::unique_ptr<ByteSource> source_;
    // The bytes read and not yet consumed are buffer_[begin_, end_).
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool sourceEnded_ = false;
    int line_ = 0;
    QString fault_;
    int faultLine_ = 0;
};

} // namespace sensors
