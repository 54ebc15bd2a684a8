// machine.ini: any text is either refused with a MachineError or read into settings in which
// no comment or control character ends up in a setting and every path is in its normal form
// (normalising it again changes nothing).
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "hostwin.h"
#include "hostwin/machine_settings.h"
#include "hostwin/win_path.h"

namespace {

bool IsNormal(const std::string& path) {
    std::string again;
    return hostwin::NormalizeFullWindowsPath(path, again) && again == path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    hostwin::MachineSettings settings;
    try {
        settings = hostwin::ParseMachineSettings(text, "machine.ini");
    } catch (const hostwin::MachineError&) {
        return 0;
    }
    for (const hostwin::IniSection& section : settings.ini.sections)
        for (const hostwin::IniEntry& e : section.entries) {
            FUZZ_CHECK(!e.text.empty() && !e.key.empty());
            for (size_t i = 0; i < e.text.size(); ++i) {
                const unsigned char c = static_cast<unsigned char>(e.text[i]);
                FUZZ_CHECK(c >= 0x20 || c == '\t');
                FUZZ_CHECK(!(c == ';' && i > 0 && (e.text[i - 1] == ' ' || e.text[i - 1] == '\t')));
            }
        }
    FUZZ_CHECK(settings.version != nullptr);
    FUZZ_CHECK(IsNormal(settings.windowsDirectory));
    for (const std::string& path : settings.inUse) FUZZ_CHECK(IsNormal(path));
    return 0;
}
