#include "hostwin/line_reader.h"

#include <cstring>
#include <utility>

namespace hostwin {

LineReader::LineReader(const char* text, size_t size) : pos_(text), end_(text + size) {}

LineReader::LineReader(MachineFileReader& file, size_t pieceSize)
    : file_(&file), buffer_(pieceSize), pos_(nullptr), end_(nullptr), atEnd_(false) {
    pos_ = end_ = buffer_.Data();
}

bool LineReader::Next(const char*& b, const char*& e) {
    for (;;) {
        const void* nl = pos_ < end_ ? std::memchr(pos_, '\n', static_cast<size_t>(end_ - pos_))
                                     : nullptr;
        if (nl) {
            b = pos_;
            e = static_cast<const char*>(nl);
            pos_ = e + 1;
            return true;
        }
        if (atEnd_ || !Refill()) {
            if (pos_ >= end_) return false;
            b = pos_;
            e = end_;
            pos_ = end_;
            return true;
        }
    }
}

bool LineReader::Refill() {
    const size_t rest = static_cast<size_t>(end_ - pos_);
    if (rest * 2 > buffer_.Size()) {
        // A line longer than half the buffer: the buffer doubles, so every read stays large.
        LargeBlock bigger(buffer_.Size() * 2);
        std::memcpy(bigger.Data(), pos_, rest);
        buffer_ = std::move(bigger);
    } else if (rest) {
        std::memmove(buffer_.Data(), pos_, rest);
    }
    char* data = buffer_.Data();
    pos_ = data;
    end_ = data + rest;
    const size_t n = file_->Read(data + rest, buffer_.Size() - rest);
    end_ += n;
    if (n == 0) atEnd_ = true;
    return n > 0;
}

}  // namespace hostwin
