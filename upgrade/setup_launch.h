// Starting other programs: the driver setup program, run and waited for.
#ifndef UPGRADE_SETUP_LAUNCH_H
#define UPGRADE_SETUP_LAUNCH_H

#include <windows.h>

// The wait for the setup program, in units of 100 ms (100 seconds).
extern const int SetupWaitLimit;
// The wait that RunSetupProgram uses, SetupWaitLimit * 100 ms. Tests shorten it; nothing in
// the program changes it.
extern DWORD SetupWaitMilliseconds;

// Starts a file through the shell with its default action and, unless waitMs is 0, waits for
// the process; true when it started and (with a wait) ended within the time.
bool RunProgram(const char* file, const char* parameters, DWORD waitMs);
// Runs SetupProgramPath with the argument "15", waits for it and then pauses two seconds.
bool RunSetupProgram();

#endif
