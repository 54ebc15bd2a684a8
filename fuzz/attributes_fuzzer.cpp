// attributes.txt: any text is either refused with a MachineError or read into entries whose
// paths are in normal form and which, written back, read back as the same entries.
#include <cstdint>
#include <string>

#include "hostwin/attributes.h"
#include "fuzz_check.h"
#include "hostwin.h"
#include "hostwin/win_path.h"

namespace {

bool IsNormal(const std::string& path) {
    std::string again;
    return hostwin::NormalizeFullWindowsPath(path, again) && again == path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    hostwin::AttributeEntries entries;
    try {
        entries = hostwin::ParseAttributes(text, "attributes.txt");
    } catch (const hostwin::MachineError&) {
        return 0;
    }
    for (const auto& e : entries) FUZZ_CHECK(IsNormal(e.first));
    hostwin::AttributeEntries again;
    try {
        again = hostwin::ParseAttributes(hostwin::FormatAttributes(entries), "attributes.txt");
    } catch (const hostwin::MachineError& e) {
        FUZZ_FAIL(std::string("written attributes do not read back: ") + e.what());
    }
    FUZZ_CHECK(again == entries);
    return 0;
}
