// The setup program run: started through the shell, hidden, and waited for up to 100 seconds.
#include "setup_launch.h"

#include <string.h>

#include "common/win32_handles.h"
#include "upgrade_state.h"

const int SetupWaitLimit = 1000;
DWORD SetupWaitMilliseconds = SetupWaitLimit * 100;

namespace {

const int SetupArgument = 15;
const DWORD SetupPauseMilliseconds = 2000;

}  // namespace

bool RunProgram(const char* file, const char* parameters, DWORD waitMs) {
    SHELLEXECUTEINFOA info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = waitMs == 0 ? SEE_MASK_FLAG_NO_UI : SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExA(&info)) return false;
    if (waitMs == 0) return true;
    const common::KernelHandle process(info.hProcess);
    // A program that outlives the wait is left running.
    return WaitForSingleObject(process.Get(), waitMs) == WAIT_OBJECT_0;
}

bool RunSetupProgram() {
    // A Windows directory too long for the setup program's path leaves the path empty: there
    // is then nothing that could be started.
    if (SetupProgramPath[0] == '\0') return false;
    char argument[16];
    wsprintfA(argument, "%d", SetupArgument);
    if (!RunProgram(SetupProgramPath, argument, SetupWaitMilliseconds)) return false;
    Sleep(SetupPauseMilliseconds);
    return true;
}
