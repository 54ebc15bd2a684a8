// Small text helpers shared by the hostwin families.
#ifndef HOSTWIN_TEXT_UTIL_H
#define HOSTWIN_TEXT_UTIL_H

#include <cstddef>
#include <string>

namespace hostwin {

// ASCII case folding, the way Windows compares file, key and value names.
char FoldCase(char c);
bool EqualsNoCase(const std::string& a, const std::string& b);
std::string ToLowerAscii(std::string s);
std::string ToUpperAscii(std::string s);
std::string Trim(const std::string& s);

// Reads a whole regular host file of at most kHostFileLimit bytes; false when it cannot be read
// or is no such file (a FIFO or device is never waited on).
constexpr size_t kHostFileLimit = size_t{64} << 20;
bool ReadHostFile(const std::string& path, std::string& contents);
// Writes a host file atomically: a new temporary file beside it (CreateTemporaryBeside), then
// rename. Throws MachineError.
void WriteHostFileAtomically(const std::string& path, const std::string& contents);

}  // namespace hostwin

#endif
