// Virtual devices ("\\.\NAME" opened with CreateFileA) and DeviceIoControl, simulated from the
// [devices] section of machine.ini:
//
//   [devices]
//   br10core.vxd=installed              ; or missing; a device without a line is missing
//   br10core.vxd.fail=0x1D2A68,0x10001  ; control codes that the device refuses
//   br10setp.vxd.answer.0x10004=0x1234 ; the 32-bit word a control code answers
//
// A device answers a control code with its configured word; without one it echoes the input
// word, and without input it answers 0. Every open, control code and close is journaled.
#ifndef HOSTWIN_DEVICES_H
#define HOSTWIN_DEVICES_H

#include <windows.h>

#include <string>


namespace hostwin {

// Opens the device that a "\\.\NAME" file name names; INVALID_HANDLE_VALUE with the last error
// set (ERROR_FILE_NOT_FOUND) when no such device is installed. CreateFileA calls it.
HANDLE OpenDeviceFile(const char* name, DWORD access, DWORD shareMode, DWORD disposition,
                      DWORD flagsAndAttributes);

}  // namespace hostwin

#endif
