// The driver handshakes. Each step that fails throws CMyError with its code; the handshake's
// own handler stores the code, closes whatever device is still open and reports false.
#include "driver_handshake.h"

#include "upgrade_state.h"

const char CoreDeviceName[] = "\\\\.\\br10core.vxd";
const char SetupDeviceName[] = "\\\\.\\br10setp.vxd";

namespace {

const DWORD CodeCoreQuery = 0x1D2A68;
const DWORD CodeSetupExchange = 0x10002;
const DWORD CodeSetupPrepare = 0x10001;
const DWORD CodeSetupQuery = 0x10004;
const DWORD CodeSetupCommit = 0x10003;

// Opens a device into DeviceHandle; throws failureCode when it does not open.
void OpenDevice(const char* name, LONG failureCode) {
    DeviceHandle = CreateFileA(name, 0, 0, NULL, 0, FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (DeviceHandle == INVALID_HANDLE_VALUE) throw CPellamUpgrade::CMyError(failureCode);
}

// Sends one control code to the open device; throws failureCode when the device refuses it.
void SendCode(DWORD code, LPVOID input, DWORD inputSize, LPVOID output, DWORD outputSize,
              LONG failureCode) {
    if (!DeviceIoControl(DeviceHandle, code, input, inputSize, output, outputSize, &BytesReturned,
                         NULL))
        throw CPellamUpgrade::CMyError(failureCode);
}

void CloseDevice() {
    CloseHandle(DeviceHandle);
    DeviceHandle = INVALID_HANDLE_VALUE;
}

bool HandleFailure(const CPellamUpgrade::CMyError& error) {
    LastHandshakeError = error.code;
    if (DeviceHandle != INVALID_HANDLE_VALUE) CloseHandle(DeviceHandle);
    DeviceHandle = INVALID_HANDLE_VALUE;
    return false;
}

}  // namespace

bool HandshakeBefore() {
    try {
        OpenDevice(CoreDeviceName, ErrorOpenCoreDevice);
        SendCode(CodeCoreQuery, NULL, 0, &DriverWord, sizeof DriverWord, ErrorCoreQuery);
        CloseDevice();

        OpenDevice(SetupDeviceName, ErrorOpenSetupDevice);
        SendCode(CodeSetupExchange, &DriverWord, sizeof DriverWord, &DriverWord,
                 sizeof DriverWord, ErrorSetupExchange);
        DWORD ignored = 0;
        SendCode(CodeSetupPrepare, &DriverWord, sizeof DriverWord, &ignored, sizeof ignored,
                 ErrorSetupPrepare);
        CloseDevice();
        return true;
    } catch (CPellamUpgrade::CMyError error) {
        return HandleFailure(error);
    }
}

bool HandshakeAfter() {
    try {
        OpenDevice(SetupDeviceName, ErrorOpenSetupDevice);
        SendCode(CodeSetupQuery, NULL, 0, &DriverWord, sizeof DriverWord, ErrorSetupQuery);
        SendCode(CodeSetupCommit, &DriverWord, sizeof DriverWord, NULL, 0, ErrorSetupCommit);
        CloseDevice();
        return true;
    } catch (CPellamUpgrade::CMyError error) {
        return HandleFailure(error);
    }
}
