// The files this process holds open, with their access and share modes, so that opens,
// deletions and moves see one another as Windows does; files that machine.ini lists under
// [in use] count as held open by another program that shares nothing.
#ifndef HOSTWIN_OPEN_FILES_H
#define HOSTWIN_OPEN_FILES_H

#include <windows.h>

#include <string>

namespace hostwin {

// Registers an open of a file (canonical Windows path); returns its id for ReleaseOpen.
int RegisterOpen(const std::string& windowsPath, DWORD access, DWORD share);
void ReleaseOpen(int id);

// ERROR_SUCCESS when a new open with this access and share mode is compatible with every
// open of the file, else ERROR_SHARING_VIOLATION.
DWORD CheckShareAccess(const std::string& windowsPath, DWORD access, DWORD share);

// ERROR_SUCCESS when the file may be deleted or renamed now (no open without
// FILE_SHARE_DELETE and not in use by another program), else ERROR_SHARING_VIOLATION.
DWORD CheckDeleteAccess(const std::string& windowsPath);

}  // namespace hostwin

#endif
