// Host-only control of hostwin: which machine folder the Win32 layer works on.
// Tests and the program bridge use it; product code never does.
#ifndef HOSTWIN_HOSTWIN_H
#define HOSTWIN_HOSTWIN_H

#include <cstddef>
#include <string>

#include "hostwin/machine_control.h"
#include "hostwin/machine_error.h"

namespace hostwin {

// How many registry keys the program holds open (RegOpenKeyA and RegCreateKeyA handles not yet
// closed), so a test can tell that a program closes every key it opens.
size_t OpenRegistryKeyCount();

// Sets the identity of the running program: its host executable (its Windows path is the
// module path when it lies inside a drive folder, else the Windows directory and its name) and
// its arguments, from which GetCommandLineA is built unless HOSTWIN_CMDLINE is set.
void SetProgram(const std::string& hostExecutable, const std::string& arguments);

// The command-line tail that Windows hands to WinMain: the command line without the program's
// name (quoted or not) and without the blanks (bytes up to 0x20) that follow it.
std::string CommandLineTail(const std::string& commandLine);

// Runs a program's WinMain the way Windows starts it: opens the machine named by HOSTWIN_MACHINE,
// builds the command line, journals start and exit. Returns the process exit code.
using WinMainFunction = int (*)(struct HINSTANCE__*, struct HINSTANCE__*, char*, int);
int RunProgram(int argc, char** argv, WinMainFunction winMain);

}  // namespace hostwin

#endif
