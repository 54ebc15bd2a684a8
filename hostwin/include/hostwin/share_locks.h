// The sharing rules between processes: every program of a machine is a host process of its
// own, so an open of a file in one must see the opens of the same file in the others, as on
// Windows (where the second writer of SYSTEM.INI gets ERROR_SHARING_VIOLATION instead of
// writing over the first one's changes).
//
// An open announces itself with open-file-description locks on its host descriptor, one byte
// for each right it holds (read, write, delete) and one for each it does not share, far beyond
// any file's data; closing the descriptor drops them, also when a process dies. A new open
// conflicts when it wants a right that another open does not share, or does not share a right
// that another open holds: the rule that open_files applies within the process.
#ifndef HOSTWIN_SHARE_LOCKS_H
#define HOSTWIN_SHARE_LOCKS_H

#include <windows.h>

#include <string>

namespace hostwin {

// For a descriptor just opened on the file: ERROR_SHARING_VIOLATION when the open (access as
// in open_files.h, share the FILE_SHARE_* bits) conflicts with an open of another descriptor
// of the same file; otherwise takes the locks that announce it and returns ERROR_SUCCESS.
// Checks and takes under the machine folder's lock, so two opens can't both pass at once.
DWORD ClaimSharing(int fd, const std::string& machineFolder, DWORD access, DWORD share);

// ERROR_SHARING_VIOLATION when an open with this access and share mode would conflict with an
// open of the host file by another descriptor (of this process or another); else, and when
// the file can't be opened to look, ERROR_SUCCESS.
DWORD CheckSharingOfOthers(const std::string& hostPath, DWORD access, DWORD share);

}  // namespace hostwin

#endif
