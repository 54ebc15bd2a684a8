// Reading the [devices] section of machine.ini.
#include "hostwin/device_settings.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "hostwin/machine_error.h"
#include "hostwin/text_util.h"

namespace hostwin {

namespace {

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
    return text.size() > tail.size() &&
           EqualsNoCase(text.substr(text.size() - tail.size()), tail);
}

// A 32-bit number written in hex (0x...) or decimal.
bool ParseWord(const std::string& text, DWORD& value) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t = t.substr(2);
    }
    for (char c : t)
        if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                         : (c >= '0' && c <= '9')))
            return false;
    errno = 0;
    unsigned long long parsed = std::strtoull(t.c_str(), nullptr, base);
    if (errno != 0 || parsed > 0xFFFFFFFFull) return false;
    value = static_cast<DWORD>(parsed);
    return true;
}

}  // namespace

std::vector<DeviceSetup> ParseDeviceSetups(const IniFile& settings, const std::string& fileLabel) {
    std::vector<DeviceSetup> devices;
    const IniSection* section = settings.find("devices");
    if (!section) return devices;
    RequireUniqueKeys(*section, fileLabel);
    auto find = [&](const std::string& name) -> DeviceSetup* {
        for (DeviceSetup& d : devices)
            if (EqualsNoCase(d.name, name)) return &d;
        return nullptr;
    };
    // Device lines first, so that the other keys may name a device declared below them.
    for (int pass = 0; pass < 2; ++pass) {
        for (const IniEntry& e : section->entries) {
            const std::string where = fileLabel + " line " + std::to_string(e.line) + ": ";
            if (!e.hasValue) throw MachineError(where + "expected key=value in [devices]");
            const std::string& key = e.key;
            const size_t answerAt = ToLowerAscii(key).rfind(".answer.");
            const bool isFail = EndsWithNoCase(key, ".fail");
            const bool isAnswer = answerAt != std::string::npos && answerAt > 0;
            if (pass == 0) {
                if (isFail || isAnswer) continue;
                if (key.find_first_of("\\/:*?\"<>| ") != std::string::npos)
                    throw MachineError(where + "'" + key + "' is not a device name");
                DeviceSetup device;
                device.name = key;
                if (EqualsNoCase(e.value, "installed"))
                    device.installed = true;
                else if (!EqualsNoCase(e.value, "missing"))
                    throw MachineError(where + "a device is installed or missing, not '" +
                                       e.value + "'");
                devices.push_back(device);
                continue;
            }
            if (!isFail && !isAnswer) continue;
            const std::string deviceName =
                isFail ? key.substr(0, key.size() - 5) : key.substr(0, answerAt);
            DeviceSetup* device = find(deviceName);
            if (!device)
                throw MachineError(where + "'" + key + "' names device '" + deviceName +
                                   "', which has no line " + deviceName + "=installed|missing");
            if (isFail) {
                size_t pos = 0;
                const std::string& list = e.value;
                while (pos <= list.size()) {
                    size_t comma = list.find(',', pos);
                    if (comma == std::string::npos) comma = list.size();
                    DWORD code;
                    if (!ParseWord(list.substr(pos, comma - pos), code))
                        throw MachineError(where + "expected control codes such as 0x1D2A68, "
                                                   "separated by commas");
                    device->failingCodes.push_back(code);
                    pos = comma + 1;
                }
            } else {
                DWORD code, word;
                if (!ParseWord(key.substr(answerAt + 8), code))
                    throw MachineError(where + "expected a control code after '.answer.'");
                if (!ParseWord(e.value, word))
                    throw MachineError(where + "expected a 32-bit word such as 0x1234");
                if (device->answers.count(code))
                    throw MachineError(where + "a second answer for control code " + Hex(code));
                device->answers[code] = word;
            }
        }
    }
    return devices;
}

void CheckDeviceSettings(const IniFile& settings, const std::string& fileLabel) {
    ParseDeviceSetups(settings, fileLabel);
}

}  // namespace hostwin
