#include "hostwin/share_locks.h"

#include <fcntl.h>
#include <unistd.h>

#include "hostwin/folder_lock.h"
#include "hostwin/open_files.h"

namespace hostwin {

namespace {

// The lock bytes: "holds read" ... "denies delete", at the top of the file offsets.
constexpr off_t kLockBase = 0x7FFFFFFFFFFFF000;
enum Right { kRead, kWrite, kDelete };
off_t Holds(Right r) { return kLockBase + r; }
off_t Denies(Right r) { return kLockBase + 3 + r; }

bool Wants(DWORD access, Right r) {
    const DWORD bits[] = {GENERIC_READ, GENERIC_WRITE, kDeleteAccess};
    return (access & (bits[r] | GENERIC_ALL)) != 0;
}

bool Shares(DWORD share, Right r) {
    const DWORD bits[] = {FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_DELETE};
    return (share & bits[r]) != 0;
}

struct flock ByteLock(short type, off_t offset) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    return lock;
}

// True when a descriptor other than fd's own holds a lock on the byte at offset.
bool LockedByOthers(int fd, off_t offset) {
    struct flock probe = ByteLock(F_WRLCK, offset);
    return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

bool Conflicts(int fd, DWORD access, DWORD share) {
    for (Right r : {kRead, kWrite, kDelete}) {
        if (Wants(access, r) && LockedByOthers(fd, Denies(r))) return true;
        if (!Shares(share, r) && LockedByOthers(fd, Holds(r))) return true;
    }
    return false;
}

bool TakesPart(DWORD access) {
    // Opens that neither read, write nor delete (queries) take no part in sharing.
    return Wants(access, kRead) || Wants(access, kWrite) || Wants(access, kDelete);
}

void Announce(int fd, off_t offset) {
    struct flock lock = ByteLock(F_RDLCK, offset);
    ::fcntl(fd, F_OFD_SETLK, &lock);  // read locks never conflict with one another
}

}  // namespace

DWORD ClaimSharing(int fd, const std::string& machineFolder, DWORD access, DWORD share) {
    if (!TakesPart(access)) return ERROR_SUCCESS;
    FolderLock lock(machineFolder);
    if (Conflicts(fd, access, share)) return ERROR_SHARING_VIOLATION;
    for (Right r : {kRead, kWrite, kDelete}) {
        if (Wants(access, r)) Announce(fd, Holds(r));
        if (!Shares(share, r)) Announce(fd, Denies(r));
    }
    return ERROR_SUCCESS;
}

DWORD CheckSharingOfOthers(const std::string& hostPath, DWORD access, DWORD share) {
    if (!TakesPart(access)) return ERROR_SUCCESS;
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ERROR_SUCCESS;
    const bool conflicts = Conflicts(fd, access, share);
    ::close(fd);
    return conflicts ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
}

}  // namespace hostwin
