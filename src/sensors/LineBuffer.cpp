#include "sensors/LineBuffer.h"

#include <cstring>

namespace sensors {

LineBuffer::LineBuffer(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}

bool LineBuffer::open(QString* error) {
    capacity_ = source_->capacity();
    buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
    return source_->open(error);
}

bool LineBuffer::fill() {
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    const qint64 n = source_->read(buffer_.get() + end_, qint64(capacity_ - end_));
    if (n < 0) {
        faultLine_ = 0;
        fault_ = source_->error;
        return false;
    }
    if (n == 0)
        sourceEnded_ = true;
    end_ += std::size_t(n);
    return true;
}

LineBuffer::Result LineBuffer::next(std::string_view* line, bool* terminated) {
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
            return Result::Line;
        }
        if (sourceEnded_)
            return Result::End;
        if (available >= capacity_) {
            faultLine_ = ++line_;
            fault_ = QStringLiteral("expected a line end within 1 MB, found none (this is not a "
                                    "recording)");
            return Result::Fault;
        }
        scanned = available;
        if (!fill())
            return Result::Fault;
    }
}

} // namespace sensors
