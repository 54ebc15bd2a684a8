// Bounded formatting for std::snprintf and std::vsnprintf, which the compiler's headers route to
// __mingw_vsnprintf. The programs format paths and log lines: %s, %c, %d, %i, %u, %x, %X and %%,
// with an optional l (long) or h size, and a field width and '-'/'0' flags. The output is always
// terminated within the buffer; the result is the length the whole text would have, as C99 says.
#include <stdarg.h>
#include <stddef.h>

namespace {

class BoundedWriter {
public:
    BoundedWriter(char* buffer, size_t size) : buffer_(buffer), size_(size) {}

    void Put(char c) {
        if (buffer_ && length_ + 1 < size_) buffer_[length_] = c;
        ++length_;
    }
    void Repeat(char c, size_t count) {
        while (count--) Put(c);
    }
    void Finish() {
        if (buffer_ && size_ > 0) buffer_[length_ < size_ ? length_ : size_ - 1] = '\0';
    }
    size_t Length() const { return length_; }

private:
    char* buffer_;
    size_t size_;
    size_t length_ = 0;
};

struct FieldLayout {
    bool leftAlign = false;
    bool zeroPad = false;
    size_t width = 0;
};

void PutField(BoundedWriter& out, const FieldLayout& layout, const char* text, size_t length,
              bool negative) {
    const size_t total = length + (negative ? 1 : 0);
    const size_t pad = layout.width > total ? layout.width - total : 0;
    if (!layout.leftAlign && !layout.zeroPad) out.Repeat(' ', pad);
    if (negative) out.Put('-');
    if (!layout.leftAlign && layout.zeroPad) out.Repeat('0', pad);
    for (size_t i = 0; i < length; ++i) out.Put(text[i]);
    if (layout.leftAlign) out.Repeat(' ', pad);
}

void PutNumber(BoundedWriter& out, const FieldLayout& layout, unsigned long value, bool negative,
               unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char text[24];  // a 64-bit value in decimal fits
    size_t length = 0;
    do {
        text[sizeof text - 1 - length++] = digits[value % base];
        value /= base;
    } while (value);
    PutField(out, layout, text + sizeof text - length, length, negative);
}

}  // namespace

extern "C" int __mingw_vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
    BoundedWriter out(buffer, size);
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            out.Put(*p);
            continue;
        }
        FieldLayout layout;
        for (++p; *p == '-' || *p == '0'; ++p) (*p == '-' ? layout.leftAlign : layout.zeroPad) = true;
        for (; *p >= '0' && *p <= '9'; ++p) layout.width = layout.width * 10 + (*p - '0');
        bool isLong = false;
        for (; *p == 'l' || *p == 'h'; ++p) isLong = isLong || *p == 'l';
        switch (*p) {
        case 's': {
            const char* text = va_arg(args, const char*);
            if (!text) text = "(null)";
            size_t length = 0;
            while (text[length]) ++length;
            layout.zeroPad = false;
            PutField(out, layout, text, length, false);
            break;
        }
        case 'c': {
            const char c = static_cast<char>(va_arg(args, int));
            layout.zeroPad = false;
            PutField(out, layout, &c, 1, false);
            break;
        }
        case 'd':
        case 'i': {
            const long value = isLong ? va_arg(args, long) : va_arg(args, int);
            const unsigned long magnitude =
                value < 0 ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
            PutNumber(out, layout, magnitude, value < 0, 10, false);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            const unsigned long value =
                isLong ? va_arg(args, unsigned long) : va_arg(args, unsigned int);
            PutNumber(out, layout, value, false, *p == 'u' ? 10 : 16, *p == 'X');
            break;
        }
        case '%':
            out.Put('%');
            break;
        default:
            // An unknown conversion is copied as it stands; at the end of the format, the lone
            // '%' is dropped.
            if (!*p) {
                out.Finish();
                return static_cast<int>(out.Length());
            }
            out.Put('%');
            out.Put(*p);
            break;
        }
    }
    out.Finish();
    return static_cast<int>(out.Length());
}
