// Lines of a text held in memory, or of a machine file read a piece at a time into one reused
// buffer, so that reading a file of hundreds of megabytes takes a few hundred kilobytes.
#ifndef HOSTWIN_LINE_READER_H
#define HOSTWIN_LINE_READER_H

#include <cstddef>
#include <string_view>

#include "hostwin/host_file.h"
#include "hostwin/large_memory.h"

namespace hostwin {

class LineReader {
public:
    // The lines of text[0, size), which must outlive the reader.
    LineReader(const char* text, size_t size);
    // The lines of an open file, read into a buffer of pieceSize bytes (more for long lines).
    explicit LineReader(MachineFileReader& file, size_t pieceSize = kPieceSize);

    // The next line as [b, e) without its LF (a CR before it is kept); false at the end. A last
    // line without LF counts when it is not empty. The bytes stay valid until the next call.
    bool Next(const char*& b, const char*& e);

    // The bytes after the last line given that are already at hand (none read for it), so that
    // a caller can look ahead.
    std::string_view Unread() const {
        return std::string_view(pos_, static_cast<size_t>(end_ - pos_));
    }

    static constexpr size_t kPieceSize = 256 * 1024;

private:
    // Moves the unread rest to the front of the buffer and reads more after it, doubling the
    // buffer when the rest fills more than half of it (a long line); false at the end of file.
    bool Refill();

    MachineFileReader* file_ = nullptr;
    LargeBlock buffer_;
    const char* pos_;
    const char* end_;
    bool atEnd_ = true;
};

}  // namespace hostwin

#endif
