// Starting host processes for ShellExecuteExA and CreateProcessA: host programs (fork and
// exec) and detached batch processes (hostwin's command interpreter in a forked process that
// outlives the program).
#ifndef HOSTWIN_PROCESS_SPAWN_H
#define HOSTWIN_PROCESS_SPAWN_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "process_objects.h"
#include "hostwin/simulated_programs.h"

namespace hostwin {

// Splits a Windows parameter text into arguments: blanks separate them, double quotes group
// blanks into one argument and are dropped.
std::vector<std::string> SplitParameters(const std::string& parameters);

// True for a regular host file with an execute bit.
bool IsHostExecutable(const std::string& hostFile);

// Runs a host executable with the arguments in hostDirectory, its standard streams on
// /dev/null and HOSTWIN_MACHINE naming this machine, so that a hostwin program works on the
// same machine. A suspended start waits for ResumeThread before the program runs.
// ERROR_SUCCESS, or ERROR_BAD_EXE_FORMAT when the host cannot run the file.
DWORD StartHostProgram(const std::string& hostFile, const std::string& name,
                       const std::vector<std::string>& arguments,
                       const std::string& hostDirectory, bool suspended,
                       std::shared_ptr<ProcessState>& process);

// Plays a program that [programs] describes, in a child process in hostDirectory: it appends
// its record to logHost (when the description names a log), runs for the described time and
// ends with the described code. Its executable (executableHost) counts as running meanwhile. A
// suspended start waits for ResumeThread.
DWORD StartSimulatedProgram(const SimulatedProgram& description, const std::string& executableHost,
                            const std::string& name, const std::vector<std::string>& arguments,
                            const std::string& logHost, const std::string& hostDirectory,
                            bool suspended, std::shared_ptr<ProcessState>& process);

// Runs a batch file (canonical Windows path) with hostwin's command interpreter in a detached
// process (its own session, standard streams on /dev/null) whose current directory is
// hostDirectory; it ends on its own, also after this process has ended.
DWORD StartBatchProcess(const std::string& batchWindowsPath, const std::string& hostDirectory,
                        bool suspended, bool idle, std::shared_ptr<ProcessState>& process);

}  // namespace hostwin

#endif
