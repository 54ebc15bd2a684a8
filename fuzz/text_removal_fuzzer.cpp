// RemoveTextFromFile on a real file of the machine leaves exactly what the plain removal loop
// leaves: cut the leftmost occurrence, search again from the start, stop at the first zero
// byte. The input is the text to remove (up to the first zero byte, at most 64 bytes) and,
// after that zero byte, the file's content.
#include <cstdint>
#include <cstring>
#include <string>

#include "driver_cleaner.h"
#include "fuzz_check.h"
#include "fuzz_machine.h"

namespace {

// The removal loop step by step, on the content followed by zero bytes as the mapped view
// behind the content reads.
std::string RemoveByRescanning(const std::string& content, const std::string& text) {
    std::string view = content + std::string(text.size() + 1, '\0');
    size_t size = content.size();
    for (const char* found; size > 0 && (found = std::strstr(view.c_str(), text.c_str()));) {
        const size_t at = static_cast<size_t>(found - view.c_str());
        std::memmove(&view[at], &view[at + text.size()], size - at - text.size());
        std::memset(&view[size - text.size()], 0, text.size());
        size -= text.size();
    }
    return view.substr(0, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* zero = std::memchr(bytes, 0, size);
    if (!zero) return 0;
    const size_t textSize = static_cast<size_t>(static_cast<const char*>(zero) - bytes);
    if (textSize == 0 || textSize > 64) return 0;
    const std::string text(bytes, textSize);
    const std::string content(bytes + textSize + 1, size - textSize - 1);

    FuzzMachineRoot();
    static CDriverCleaner cleaner;
    WriteFuzzFile("c/WINDOWS/SYSTEM.INI", content);
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\SYSTEM.INI", text.c_str());
    FUZZ_CHECK(ReadFuzzFile("c/WINDOWS/SYSTEM.INI") == RemoveByRescanning(content, text));
    return 0;
}
