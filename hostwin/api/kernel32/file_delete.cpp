// DeleteFileA (kernel32): read-only files, directories, files held open or mapped, running
// programs' executables and files on write-protected drives fail as they do on Windows.
#include <unistd.h>

#include <cerrno>

#include "hostwin/attributes.h"
#include "hostwin/drives.h"
#include "hostwin/folder_walk.h"
#include "file_object.h"
#include "hostwin/host_error.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "hostwin/open_files.h"
#include "hostwin/running_programs.h"
#include "hostwin/short_names.h"
#include "hostwin/win_path.h"

using namespace hostwin;

extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    ResolvedPath resolved;
    DWORD error = ResolvePath(Machine::Current(), lpFileName, resolved);
    if (error == ERROR_SUCCESS && !resolved.exists)
        error = resolved.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    if (error != ERROR_SUCCESS) return Fail(error);

    // The executable of a running program cannot be deleted.
    const bool running = !resolved.isDirectory && IsRunningExecutable(resolved.host);
    if (resolved.isDirectory)
        error = ERROR_ACCESS_DENIED;
    else if (IsWriteProtectedDrive(Machine::Current(), resolved.drive))
        error = WriteProtectError(Machine::Current(), resolved.drive);
    else if (Machine::Current().Attributes().Get(resolved.windows) & FILE_ATTRIBUTE_READONLY)
        error = ERROR_ACCESS_DENIED;
    else if (running)
        error = ERROR_ACCESS_DENIED;
    // A file stays while a mapping of it lives, also after its handles are closed.
    else if (MappedSizeOfPath(resolved.host) > 0)
        error = ERROR_ACCESS_DENIED;
    else
        error = CheckDeleteAccess(Machine::Current(), resolved.windows, resolved.host);
    const Folder folder{resolved.parentWindows, resolved.parentHost};
    if (error == ERROR_SUCCESS) ShortNames(Machine::Current()).Freeze(folder);
    if (error == ERROR_SUCCESS && UnlinkInMachine(resolved.host) != 0)
        error = ErrorFromErrno(errno);
    if (error == ERROR_SUCCESS) {
        Machine::Current().Attributes().Forget(resolved.windows);
        ShortNames(Machine::Current()).Removed(folder, resolved.name);
    }

    JournalEvent event("file-delete");
    event.Text("path", resolved.windows).Result(error == ERROR_SUCCESS, error);
    if (running) event.Text("cause", "the program is still running");
    event.Write();
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}
