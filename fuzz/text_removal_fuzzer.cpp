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
#include "text_removal_reference.h"

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
