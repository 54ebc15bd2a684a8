// Virtual devices and DeviceIoControl (kernel32) over the [devices] section of machine.ini.
#include "devices.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "handles.h"
#include "host_error.h"
#include "hostwin.h"
#include "journal.h"
#include "machine.h"
#include "text_util.h"

namespace hostwin {

namespace {

const char kDevicePrefix[] = "\\\\.\\";

// What machine.ini says about one device.
struct DeviceSetup {
    std::string name;  // as written in machine.ini
    bool installed = false;
    std::vector<DWORD> failingCodes;
    std::map<DWORD, DWORD> answers;
};

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

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

// Reads and checks the [devices] section; throws MachineError naming the line of bad text.
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

class DeviceObject : public KernelObject {
public:
    DeviceObject(DeviceSetup setup, bool unloadOnClose)
        : setup_(std::move(setup)), unloadOnClose_(unloadOnClose) {}

    const DeviceSetup& Setup() const { return setup_; }

    bool OnClose() override {
        JournalEvent("device-close")
            .Text("device", setup_.name)
            .Flag("unload", unloadOnClose_)
            .Write();
        return true;
    }

private:
    DeviceSetup setup_;
    bool unloadOnClose_;  // FILE_FLAG_DELETE_ON_CLOSE: a dynamic driver is unloaded on close
};

}  // namespace

void CheckDeviceSettings(const IniFile& settings, const std::string& fileLabel) {
    ParseDeviceSetups(settings, fileLabel);
}

HANDLE OpenDeviceFile(const char* name, DWORD access, DWORD shareMode, DWORD disposition,
                      DWORD flagsAndAttributes) {
    std::string deviceName = name ? name : "";
    if (deviceName.compare(0, 4, kDevicePrefix) == 0) deviceName = deviceName.substr(4);
    // The open's arguments are journaled as given: a device accepts any of them.
    auto journal = [&](const std::string& device, bool ok) {
        JournalEvent("device-open")
            .Text("device", device)
            .Text("access", Hex(access))
            .Text("share", Hex(shareMode))
            .Text("disposition", Hex(disposition))
            .Text("flags", Hex(flagsAndAttributes))
            .Result(ok, ok ? 0 : ERROR_FILE_NOT_FOUND)
            .Write();
    };
    const Machine& machine = Machine::Current();
    for (DeviceSetup& device :
         ParseDeviceSetups(machine.Settings(), machine.HostPath("machine.ini"))) {
        if (!EqualsNoCase(device.name, deviceName) || !device.installed) continue;
        journal(device.name, true);
        return InsertHandle(std::make_unique<DeviceObject>(
            std::move(device), (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0));
    }
    journal(deviceName, false);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

}  // namespace hostwin

using namespace hostwin;

extern "C" BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                       DWORD nInBufferSize, LPVOID lpOutBuffer,
                                       DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                       LPOVERLAPPED) {
    DeviceObject* device = LookupHandleAs<DeviceObject>(hDevice);
    if (!device)
        // A file or other object supports no control codes of a device.
        return Fail(LookupHandle(hDevice) ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
    if (lpBytesReturned) *lpBytesReturned = 0;
    const DeviceSetup& setup = device->Setup();

    JournalEvent event("device-control");
    event.Text("device", setup.name).Text("code", Hex(dwIoControlCode));
    const bool hasInput = lpInBuffer && nInBufferSize > 0;
    DWORD input = 0;
    if (hasInput && nInBufferSize >= sizeof input) {
        std::memcpy(&input, lpInBuffer, sizeof input);
        event.Text("input", Hex(input));
    }

    DWORD error = ERROR_SUCCESS;
    if ((!lpInBuffer && nInBufferSize > 0) || (!lpOutBuffer && nOutBufferSize > 0))
        error = ERROR_NOACCESS;  // a buffer size without a buffer
    else if (hasInput && nInBufferSize < sizeof input)
        error = ERROR_INVALID_PARAMETER;  // the devices take whole 32-bit words
    else if (lpOutBuffer && nOutBufferSize > 0 && nOutBufferSize < sizeof(DWORD))
        error = ERROR_INSUFFICIENT_BUFFER;
    else
        for (DWORD code : setup.failingCodes)
            if (code == dwIoControlCode) error = ERROR_GEN_FAILURE;

    if (error == ERROR_SUCCESS && lpOutBuffer && nOutBufferSize > 0) {
        DWORD output = hasInput ? input : 0;
        auto answer = setup.answers.find(dwIoControlCode);
        if (answer != setup.answers.end()) output = answer->second;
        std::memcpy(lpOutBuffer, &output, sizeof output);
        if (lpBytesReturned) *lpBytesReturned = sizeof output;
        event.Text("output", Hex(output));
    }
    event.Result(error == ERROR_SUCCESS, error).Write();
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}
