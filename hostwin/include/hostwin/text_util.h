// Small text helpers shared by the hostwin families.
#ifndef HOSTWIN_TEXT_UTIL_H
#define HOSTWIN_TEXT_UTIL_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace hostwin {

// ASCII case folding, the way Windows compares file, key and value names.
inline char FoldCase(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
bool EqualsNoCase(const std::string& a, const std::string& b);
std::string ToLowerAscii(std::string s);
std::string ToUpperAscii(std::string s);
std::string Trim(const std::string& s);
// A 32-bit word as the journal and messages write it: 0x and upper-case hex digits.
std::string Hex(uint32_t value);

// Calls visit(lineNo, line) for each line of text, numbered from 1; a line ends at LF, and the
// CR of a CR LF end is dropped.
template <typename Visit>
void ForEachLine(const std::string& text, Visit visit) {
    int lineNo = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        visit(++lineNo, line);
    }
}

// Reads a whole regular host file of at most kHostFileLimit bytes; false when it cannot be read
// or is no such file (a FIFO or device is never waited on).
constexpr size_t kHostFileLimit = size_t{64} << 20;
bool ReadHostFile(const std::string& path, std::string& contents);
// Writes a host file atomically: a new temporary file beside it (CreateTemporaryBeside), then
// rename. Throws MachineError.
void WriteHostFileAtomically(const std::string& path, const std::string& contents);
// The same for a settings file that is left out when it would be empty: an empty text removes it.
void WriteHostFileOrRemove(const std::string& path, const std::string& contents);

}  // namespace hostwin

#endif
