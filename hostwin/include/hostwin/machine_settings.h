// machine.ini: the machine's settings, read and checked as a whole when the machine opens.
//
//   [system]   version=win95|win98|winme|nt4|win2000|winxp, windir=C:\WINDOWS
//   [in use]   one full Windows path a line: files held open by another program
//   [drives]   c=fixed (removable, fixed, remote, cdrom, ramdisk)
//   [devices]  the virtual devices (devices.h)
//   [programs] the programs hostwin plays instead of running them (simulated_programs.h)
#ifndef HOSTWIN_MACHINE_SETTINGS_H
#define HOSTWIN_MACHINE_SETTINGS_H

#include <windows.h>

#include <string>
#include <vector>

#include "hostwin/ini_file.h"
#include "hostwin/simulated_programs.h"

namespace hostwin {

// What GetVersionExA reports for one release.
struct VersionRecord {
    const char* name;  // the machine.ini word: win95, win98, winme, nt4, win2000, winxp
    DWORD platformId;
    DWORD major;
    DWORD minor;
    DWORD build;
    const char* csdVersion;
};

// The version records of the releases that machine.ini can name; null for another name.
const VersionRecord* FindVersionRecord(const std::string& name);

struct MachineSettings {
    IniFile ini;
    const VersionRecord* version = FindVersionRecord("win98");
    std::string windowsDirectory = "C:\\WINDOWS";  // normal form, no trailing backslash
    std::vector<std::string> inUse;                // normal forms (NormalizeFullWindowsPath)
    std::vector<SimulatedProgram> programs;        // [programs]
};

// Parses and checks the whole of machine.ini (every section, [drives] and [devices] included).
// Throws MachineError naming fileLabel and the line of the first problem.
MachineSettings ParseMachineSettings(const std::string& text, const std::string& fileLabel);

}  // namespace hostwin

#endif
