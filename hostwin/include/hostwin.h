// Host-only control of hostwin: which machine folder the Win32 layer works on.
// Tests and the program bridge use it; product code never does.
#ifndef HOSTWIN_HOSTWIN_H
#define HOSTWIN_HOSTWIN_H

#include <stdexcept>
#include <string>

namespace hostwin {

// A machine folder that cannot be used: missing, or with a malformed registry.reg,
// machine.ini or attributes.txt. The message names the file and, where it helps, the line.
class MachineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Opens the machine folder at hostFolder (replacing any machine open before, after saving it).
// Throws MachineError when the folder or one of its files cannot be used; nothing is written then.
void OpenMachine(const std::string& hostFolder);

// Writes every pending change of the open machine back (atomically) and closes it.
void CloseMachine();

// Writes pending changes back without closing (done before a message box waits, before another
// process starts and at exit).
void SyncMachine();

// Sets the identity of the running program: its host executable (its Windows path is the
// module path when it lies inside a drive folder, else the Windows directory and its name) and
// its arguments, from which GetCommandLineA is built unless HOSTWIN_CMDLINE is set.
void SetProgram(const std::string& hostExecutable, const std::string& arguments);

// The file this process runs, when it is not the host executable itself (a Windows program that
// hostwin-pe runs): while the process lives, that file cannot be deleted, overwritten or moved.
void SetRunningExecutable(const std::string& hostFile);

// The command-line tail that Windows hands to WinMain: the command line without the program's
// name (quoted or not) and without the blanks (bytes up to 0x20) that follow it.
std::string CommandLineTail(const std::string& commandLine);

// Runs a program's WinMain the way Windows starts it: opens the machine named by HOSTWIN_MACHINE,
// builds the command line, journals start and exit. Returns the process exit code.
using WinMainFunction = int (*)(struct HINSTANCE__*, struct HINSTANCE__*, char*, int);
int RunProgram(int argc, char** argv, WinMainFunction winMain);

}  // namespace hostwin

#endif
