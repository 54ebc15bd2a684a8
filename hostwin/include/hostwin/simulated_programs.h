// [programs] in machine.ini: the programs of the machine that hostwin plays instead of running
// anything from the folder. A machine folder is data, so a host executable in it runs only when
// the person running hostwin allows host programs (HOSTWIN_ALLOW_HOST_PROGRAMS=1).
//
//   C:\WINDOWS\SETUP.EXE.runs=500        milliseconds it runs (default 0)
//   C:\WINDOWS\SETUP.EXE.exit=0          its exit code, 0 to 255 (default 0)
//   C:\WINDOWS\SETUP.EXE.log=SETUP.LOG   a file beside it that each start appends
//                                        "<name> started with: <arguments>" to
#ifndef HOSTWIN_SIMULATED_PROGRAMS_H
#define HOSTWIN_SIMULATED_PROGRAMS_H

#include <windows.h>

#include <string>
#include <vector>

#include "hostwin/ini_file.h"

namespace hostwin {

struct SimulatedProgram {
    std::string path;  // normal form (NormalizeFullWindowsPath)
    DWORD runsMs = 0;
    DWORD exitCode = 0;
    std::string log;  // a plain file name in the program's folder; empty: records nothing
};

// Reads the [programs] section; throws MachineError naming fileLabel and the line of the first
// malformed or repeated key.
std::vector<SimulatedProgram> ParseProgramSettings(const IniSection& section,
                                                   const std::string& fileLabel);

// The description of a program (any form of its Windows path), or null.
const SimulatedProgram* FindSimulatedProgram(const std::vector<SimulatedProgram>& programs,
                                             const std::string& windowsPath);

// True when HOSTWIN_ALLOW_HOST_PROGRAMS is 1: host executables in the folder may run.
bool HostProgramsAllowed();

}  // namespace hostwin

#endif
