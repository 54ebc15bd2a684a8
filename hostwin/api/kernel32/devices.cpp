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
#include "hostwin/host_error.h"
#include "hostwin.h"
#include "hostwin/device_settings.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "hostwin/text_util.h"

namespace hostwin {

namespace {

const char kDevicePrefix[] = "\\\\.\\";


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
