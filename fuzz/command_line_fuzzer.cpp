// The command-line tail that WinMain receives, against the rule stated directly: skip the
// program name (from a leading quote to the next quote, else up to the first byte up to 0x20),
// then every byte up to 0x20. The command line is a C string: it ends at the first zero byte.
#include <cstdint>
#include <cstring>
#include <string>

#include "common/command_line_tail.h"
#include "fuzz_check.h"
#include "hostwin.h"

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string ExpectedTail(const std::string& line) {
    size_t start;
    if (!line.empty() && line[0] == '"') {
        const size_t close = line.find('"', 1);
        start = close == std::string::npos ? line.size() : close + 1;
    } else {
        start = 0;
        while (start < line.size() && !IsBlank(line[start])) ++start;
    }
    const std::string rest = line.substr(start);
    size_t blanks = 0;
    while (blanks < rest.size() && IsBlank(rest[blanks])) ++blanks;
    return rest.substr(blanks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* zero = std::memchr(bytes, 0, size);
    const std::string line(bytes, zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes)
                                       : size);
    // The shared rule of both builds, and what hostwin's bridge hands WinMain.
    const char* shared = common::CommandLineTail(line.c_str());
    FUZZ_CHECK(shared >= line.c_str() && shared <= line.c_str() + line.size());
    const std::string tail = shared;
    FUZZ_CHECK(tail == ExpectedTail(line));
    FUZZ_CHECK(hostwin::CommandLineTail(line) == tail);
    // The tail is what ends the line, and never starts with a blank.
    FUZZ_CHECK(tail.size() <= line.size() &&
               line.compare(line.size() - tail.size(), tail.size(), tail) == 0);
    FUZZ_CHECK(tail.empty() || !IsBlank(tail[0]));
    return 0;
}
