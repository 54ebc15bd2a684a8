// The files this process holds open, with their access and share modes, so that opens,
// deletions and moves see one another as Windows does; files that machine.ini lists under
// [in use] count as held open by another program that shares nothing.
#ifndef HOSTWIN_OPEN_FILES_H
#define HOSTWIN_OPEN_FILES_H

#include <windows.h>

#include <string>

namespace hostwin {

class Machine;

// The standard DELETE access right, which an open asking for FILE_FLAG_DELETE_ON_CLOSE holds;
// other opens must then share FILE_SHARE_DELETE, and it must share what they hold.
constexpr DWORD kDeleteAccess = 0x00010000;

// Registers an open of a file (canonical Windows path); returns its id for ReleaseOpen.
// access is a combination of GENERIC_READ, GENERIC_WRITE, GENERIC_ALL and kDeleteAccess.
int RegisterOpen(const std::string& windowsPath, DWORD access, DWORD share);

// Marks the open as one whose file is deleted when the last open of the file goes.
void MarkDeleteOnClose(int id);

// Drops an open. True when the file is now to be deleted: an open of it asked for deletion
// on close and no open of it remains; deletePath then receives its current Windows path.
bool ReleaseOpen(int id, std::string* deletePath = nullptr);

// True when this process holds an open of the file.
bool IsOpen(const std::string& windowsPath);

// ERROR_SUCCESS when a new open with this access and share mode is compatible with every
// open of the file, else ERROR_SHARING_VIOLATION. A file listed as in use refuses every
// open that writes or deletes. With hostPath, the opens of other processes count too
// (share_locks.h).
DWORD CheckShareAccess(const Machine& machine, const std::string& windowsPath, DWORD access,
                       DWORD share, const std::string& hostPath = std::string());

// ERROR_SUCCESS when the file may be deleted or renamed now (no open without
// FILE_SHARE_DELETE, in this process or another, and not in use by another program), else
// ERROR_SHARING_VIOLATION.
DWORD CheckDeleteAccess(const Machine& machine, const std::string& windowsPath,
                        const std::string& hostPath);

// True when a file below the directory (canonical Windows path) is open in this process or
// listed as in use.
bool AnyOpenBelow(const Machine& machine, const std::string& windowsDirectory);

// A file was renamed: its opens follow it.
void RenameOpens(const std::string& fromWindowsPath, const std::string& toWindowsPath);

}  // namespace hostwin

#endif
