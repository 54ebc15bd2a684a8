// Starting a program file of the machine: shared by CreateProcessA (kernel32) and
// ShellExecuteExA (shell32).
#ifndef HOSTWIN_API_PROCESS_START_H
#define HOSTWIN_API_PROCESS_START_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "hostwin/win_path.h"
#include "process_objects.h"

namespace hostwin {

// Resolves an existing file; ERROR_SUCCESS or the error Windows reports for it.
DWORD ResolveExistingFile(const std::string& path, ResolvedPath& resolved);

// Starts the resolved program file in the host directory: a described program is played (also
// when host programs are allowed, so a machine's description always holds), a batch file runs
// in the command interpreter, a host executable runs only when allowed. kind names what
// started; cause says why a host executable was refused.
DWORD StartProgramFile(const ResolvedPath& program, const std::vector<std::string>& arguments,
                       const std::string& hostDirectory, bool suspended, bool idle,
                       std::shared_ptr<ProcessState>& process, const char*& kind,
                       const char*& cause);

// Resolves the directory a new process starts in: given, else the caller's current directory.
DWORD ResolveStartDirectory(const char* given, ResolvedPath& directory);

}  // namespace hostwin

#endif
