// RemoveTextFromFile: cuts every occurrence of a text out of a file, in place.
//
// What is cut: repeatedly the leftmost occurrence in the content as it stands after the cuts
// so far, searching as strstr does (byte-wise, case-sensitive, ending at the first zero byte),
// until none is left. A cut can bring an occurrence together from the bytes on both sides of
// it ("aabb" without "ab" becomes "ab", then empty); those are cut as well. The bytes from the
// first zero byte on are never searched and stay as they are, behind the remaining text.
//
// How: one left-to-right pass through the view with a read and a write cursor. The bytes
// written so far (the output) never hold an occurrence; each byte read is appended to the
// output, and when the output ends with the text, those bytes are dropped again. Since all
// occurrences have the same length, the first occurrence to end is also the leftmost one, and
// the output before it is free of occurrences, so this drops exactly what repeating the
// leftmost cut from the start would drop, in the same order.
//
// A KMP automaton follows how much of the text the output ends with (its state). Right after a
// cut the state is rebuilt from the last L-1 bytes of the output, and bytes are taken one at a
// time while a partial match still reaches back across the cut (at most L-1 bytes). Otherwise
// the partial match and everything up to the next cut are untouched bytes of the original
// content, so the next cut is simply the next occurrence in the content from the partial
// match's start, found with Horspool's skip search; the bytes before it move down in one block.
// Time: the searches cover each byte about once (at worst L comparisons a byte, usually fewer),
// each cut costs O(L) and consumes L bytes: linear in the file's size for a fixed text. Only
// the text's tables live in ordinary memory; the file is edited in its mapped view.
#include <cstring>
#include <memory>
#include <new>

#include "driver_cleaner.h"
#include "mapped_file.h"

namespace {

class TextMatcher {
public:
    // border must hold `length` entries; length is at least 1.
    TextMatcher(const unsigned char* text, size_t length, size_t* border)
        : text_(text), length_(length), border_(border) {
        // border[i]: length of the longest proper prefix of text[0..i] that is also its suffix.
        border_[0] = 0;
        size_t k = 0;
        for (size_t i = 1; i < length_; ++i) {
            while (k > 0 && text_[i] != text_[k]) k = border_[k - 1];
            if (text_[i] == text_[k]) ++k;
            border_[i] = k;
        }
        // skip_[c]: how far a candidate start may move when its last byte is c.
        for (size_t& s : skip_) s = length_;
        for (size_t i = 0; i + 1 < length_; ++i) skip_[text_[i]] = length_ - 1 - i;
    }

    size_t Length() const { return length_; }

    // The state after byte c, from a state below the text's length: how many bytes of the
    // text the stream now ends with (the text's length for a complete occurrence).
    size_t Advance(size_t state, unsigned char c) const {
        while (state > 0 && text_[state] != c) state = border_[state - 1];
        return text_[state] == c ? state + 1 : 0;
    }

    // The state after the bytes [begin, end), which hold no occurrence of the text. Only the
    // last L-1 of them can be part of a partial match, so only those are read.
    size_t StateAfter(const unsigned char* begin, const unsigned char* end) const {
        // A last byte that is no byte of the text but its last one ends no partial match.
        if (begin == end || skip_[end[-1]] == length_) return 0;
        if (static_cast<size_t>(end - begin) > length_ - 1) begin = end - (length_ - 1);
        size_t state = 0;
        for (const unsigned char* p = begin; p < end; ++p) state = Advance(state, *p);
        return state;
    }

    // The offset of the first occurrence lying wholly inside content[from, end), or end.
    size_t Find(const unsigned char* content, size_t from, size_t end) const {
        const unsigned char last = text_[length_ - 1];
        for (size_t at = from; end - at >= length_;) {
            const unsigned char c = content[at + length_ - 1];
            if (c == last && std::memcmp(content + at, text_, length_ - 1) == 0) return at;
            at += skip_[c];
        }
        return end;
    }

private:
    const unsigned char* text_;
    size_t length_;
    size_t* border_;
    size_t skip_[256];
};

// Cuts every occurrence out of content[0, size) in place and returns the new size. The bytes
// that the cuts free at the end are left as they were; the caller clears them.
size_t CutEveryOccurrence(unsigned char* content, size_t size, const TextMatcher& matcher) {
    const size_t length = matcher.Length();
    const void* zero = std::memchr(content, 0, size);
    const size_t end = zero ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - content)
                            : size;
    size_t read = 0;       // next input byte
    size_t write = 0;      // end of the output
    size_t state = 0;      // how much of the text the output ends with
    size_t lastCut = 0;    // read position right after the last cut
    while (read < end) {
        if (state <= read - lastCut) {
            // The partial match lies in bytes read since the last cut. They still stand at
            // [read - state, read) (the output is at least L bytes behind the input once
            // anything was cut, or is the input itself), and until the next cut the input
            // continues them, so that cut is at the next occurrence from there.
            const size_t at = matcher.Find(content, read - state, end);
            if (at == end) break;
            if (at >= read) {
                if (write != read) std::memmove(content + write, content + read, at - read);
                write += at - read;
            } else {
                write -= read - at;  // the occurrence began in the output
            }
            read = at + length;
        } else {
            // A partial match reaches back across the last cut: take one byte.
            const unsigned char c = content[read++];
            content[write++] = c;
            state = matcher.Advance(state, c);
            if (state < length) continue;
            write -= length;
        }
        lastCut = read;
        state = matcher.StateAfter(content, content + write);
    }
    // What follows the output unchanged: the unsearched rest, the first zero byte and
    // everything behind it.
    if (write != read) std::memmove(content + write, content + read, size - read);
    return write + (size - read);
}

}  // namespace

// An empty text would occur everywhere and remove nothing, so the file is not touched at all
// (a missing file is not created either; with a text, a missing file is created empty, as
// opening it for writing does). The same holds for a null name or text.
void CDriverCleaner::RemoveTextFromFile(const char* fileName, const char* text) {
    if (!fileName || !text || !text[0]) return;

    CMappedFile file;
    CStream& stream = file;
    // A file that can't be opened for writing (read-only, in use, name too long) is left alone.
    if (stream.OpenAlways(fileName) != 1) {
        stream.Close();
        return;
    }

    const size_t length = std::strlen(text);
    const size_t size = stream.Size();
    if (length <= size) {
        std::unique_ptr<size_t[]> border(new (std::nothrow) size_t[length]);
        if (border) {
            const TextMatcher matcher(reinterpret_cast<const unsigned char*>(text), length,
                                      border.get());
            unsigned char* content = reinterpret_cast<unsigned char*>(stream.CurrentPointer());
            const size_t newSize = CutEveryOccurrence(content, size, matcher);
            if (newSize != size) {
                // The freed tail reads as zero again, like the rest of the view behind the content.
                std::memset(content + newSize, 0, size - newSize);
                stream.SetSize(static_cast<DWORD>(newSize));
            }
        }
    }
    // Releasing the file gives it the new size as its length.
    stream.Close();
}
