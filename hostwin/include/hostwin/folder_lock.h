// The lock that serialises the write-backs of every process working on one machine folder:
// registry.reg, attributes.txt and shortnames.txt are each read, changed and replaced under it,
// so no process replaces a file with a version that lacks another process's change.
#ifndef HOSTWIN_FOLDER_LOCK_H
#define HOSTWIN_FOLDER_LOCK_H

#include <string>

namespace hostwin {

// An exclusive flock on the folder itself (no lock file to plant or leave behind), held for the
// object's lifetime. Re-entrant within the process: a lock on the folder already held by this
// process is shared, since a second flock by the same process would wait for ever. Throws
// MachineError when the folder cannot be opened or locked.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // The folder that holds hostFile (everything before its last slash).
    static std::string FolderOf(const std::string& hostFile);
};

}  // namespace hostwin

#endif
