#include "hostwin/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hostwin/machine_error.h"
#include "hostwin/session.h"

namespace hostwin {

namespace {

// The lock this process holds: its folder, descriptor and nesting depth.
struct HeldLock : SessionPart {
    std::string folder;
    int fd = -1;
    int depth = 0;
};

// Kept by the session, which destroys it after the machine: a machine closed late still writes
// back under the lock.
HeldLock& Held() { return Session::Current().Part<HeldLock>(Session::kFolderLock); }

}  // namespace

FolderLock::FolderLock(const std::string& folder) {
    HeldLock& held = Held();
    if (held.depth > 0) {
        // One folder at a time: the machine of a process is one folder.
        if (held.folder != folder)
            throw MachineError("cannot lock " + folder + " while " + held.folder + " is locked");
        ++held.depth;
        return;
    }
    // O_CLOEXEC: a program started while the lock is held must not inherit (and keep) it.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw MachineError("cannot lock machine folder " + folder + ": " + std::strerror(errno));
    int result;
    do result = ::flock(fd, LOCK_EX);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int err = errno;
        ::close(fd);
        throw MachineError("cannot lock machine folder " + folder + ": " + std::strerror(err));
    }
    held.folder = folder;
    held.fd = fd;
    held.depth = 1;
}

FolderLock::~FolderLock() {
    HeldLock& held = Held();
    if (--held.depth > 0) return;
    ::close(held.fd);  // closing the only descriptor releases the lock
    held.fd = -1;
    held.folder.clear();
}

std::string FolderLock::FolderOf(const std::string& hostFile) {
    const size_t slash = hostFile.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : hostFile.substr(0, slash);
}

}  // namespace hostwin
