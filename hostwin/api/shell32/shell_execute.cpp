// ShellExecuteExA (shell32): starts a program file of the machine as CreateProcessA does, and
// reports the outcome in hInstApp as the shell does.
#include <windows.h>

#include "hostwin/host_error.h"
#include "hostwin/journal.h"
#include "hostwin/win_path.h"
#include "kernel32/handles.h"
#include "kernel32/process_objects.h"
#include "kernel32/process_spawn.h"
#include "kernel32/process_start.h"

using namespace hostwin;

namespace {

// hInstApp values of ShellExecuteEx: above 32 on success, else an SE_ERR_ code.
const uintptr_t kShellSuccess = 42;
const uintptr_t kShellFileNotFound = 2;
const uintptr_t kShellPathNotFound = 3;
const uintptr_t kShellAccessDenied = 5;
const uintptr_t kShellBadFormat = 11;

HINSTANCE ShellCode(uintptr_t code) { return reinterpret_cast<HINSTANCE>(code); }

}  // namespace

extern "C" BOOL WINAPI ShellExecuteExA(LPSHELLEXECUTEINFOA lpExecInfo) {
    if (!lpExecInfo) return Fail(ERROR_INVALID_PARAMETER);
    SHELLEXECUTEINFOA& info = *lpExecInfo;
    if (info.cbSize != sizeof(SHELLEXECUTEINFOA)) {
        info.hInstApp = ShellCode(kShellAccessDenied);
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (info.fMask & SEE_MASK_NOCLOSEPROCESS) info.hProcess = nullptr;
    const std::string file = info.lpFile ? info.lpFile : "";
    const std::string parameters = info.lpParameters ? info.lpParameters : "";

    // A relative file name is found in lpDirectory when one is given.
    std::string lookup = file;
    if (info.lpDirectory && *info.lpDirectory && !ParseAbsoluteDrivePath(file) &&
        !(file.size() > 0 && (file[0] == '\\' || file[0] == '/')))
        lookup = std::string(info.lpDirectory) + "\\" + file;
    ResolvedPath resolved;
    DWORD error = file.empty() ? ERROR_FILE_NOT_FOUND : ResolveExistingFile(lookup, resolved);
    if (error == ERROR_SUCCESS && resolved.isDirectory) error = ERROR_ACCESS_DENIED;

    // The program starts in lpDirectory, else in the caller's current directory.
    ResolvedPath directory;
    if (error == ERROR_SUCCESS)
        error = ResolveStartDirectory(info.lpDirectory && *info.lpDirectory ? info.lpDirectory
                                                                            : nullptr,
                                      directory);

    std::shared_ptr<ProcessState> process;
    const char* kind = "";
    const char* cause = nullptr;
    if (error == ERROR_SUCCESS)
        error = StartProgramFile(resolved, SplitParameters(parameters), directory.host, false,
                                 false, process, kind, cause);

    JournalEvent event("process-start");
    event.Text("file", resolved.windows.empty() ? file : resolved.windows)
        .Text("parameters", parameters)
        .Number("show", info.nShow);
    if (!directory.windows.empty()) event.Text("directory", directory.windows);
    if (error == ERROR_SUCCESS) event.Text("kind", kind).Number("pid", process->Pid());
    if (cause) event.Text("cause", cause);
    event.Result(error == ERROR_SUCCESS, error).Write();

    if (error != ERROR_SUCCESS) {
        uintptr_t code = error == ERROR_FILE_NOT_FOUND   ? kShellFileNotFound
                         : error == ERROR_PATH_NOT_FOUND ? kShellPathNotFound
                         : error == ERROR_BAD_EXE_FORMAT ? kShellBadFormat
                                                         : kShellAccessDenied;
        info.hInstApp = ShellCode(code);
        return Fail(error);
    }
    info.hInstApp = ShellCode(kShellSuccess);
    if (info.fMask & SEE_MASK_NOCLOSEPROCESS)
        info.hProcess = InsertHandle(std::make_unique<ProcessObject>(process));
    return TRUE;
}
