// The installed driver's virtual devices as machine.ini describes them:
//
//   [devices]
//   br10core.vxd=installed              ; or missing; a device without a line is missing
//   br10core.vxd.fail=0x1D2A68,0x10001  ; control codes that the device refuses
//   br10setp.vxd.answer.0x10004=0x1234 ; the 32-bit word a control code answers
#ifndef HOSTWIN_DEVICE_SETTINGS_H
#define HOSTWIN_DEVICE_SETTINGS_H

#include <windef.h>

#include <map>
#include <string>
#include <vector>

#include "hostwin/ini_file.h"

namespace hostwin {

// What machine.ini says about one device.
struct DeviceSetup {
    std::string name;  // as written in machine.ini
    bool installed = false;
    std::vector<DWORD> failingCodes;
    std::map<DWORD, DWORD> answers;
};

// Reads and checks the [devices] section; throws MachineError naming the line of bad text.
std::vector<DeviceSetup> ParseDeviceSetups(const IniFile& settings, const std::string& fileLabel);

// Throws MachineError naming the line of a malformed [devices] section (checked when the
// machine opens).
void CheckDeviceSettings(const IniFile& settings, const std::string& fileLabel);

}  // namespace hostwin

#endif
