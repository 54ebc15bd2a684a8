#include "hostwin/folder_walk.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <random>
#include <vector>

#include "hostwin/fault_injection.h"
#include "hostwin/machine.h"
#include "hostwin/session.h"
#include "hostwin/text_util.h"

namespace hostwin {

void WalkFd::Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

namespace {

// Puts the components of text in front of queue, in order.
void PushFront(std::deque<std::string>& queue, const std::string& text) {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('/', pos);
        if (end == std::string::npos) end = text.size();
        if (end > pos) parts.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) queue.push_front(*it);
}

bool ReadLink(int dirFd, const std::string& name, std::string& target) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlinkat(dirFd, name.c_str(), buffer.data(), buffer.size());
        if (n < 0) return false;
        if (static_cast<size_t>(n) < buffer.size()) {
            target.assign(buffer.data(), static_cast<size_t>(n));
            return true;
        }
        if (buffer.size() >= 65536) return false;
        buffer.resize(buffer.size() * 2);
    }
}

int Duplicate(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }

int Refuse(int error) {
    errno = error;
    return -1;
}

}  // namespace

int WalkToParent(int rootFd, const std::string& realRoot, const std::string& relative,
                 bool followLast, WalkFd* parent, std::string* name) {
    std::vector<WalkFd> stack;  // the directories below the root walked into; top is current
    std::deque<std::string> queue;
    PushFront(queue, relative);
    int links = 0;
    auto current = [&] { return stack.empty() ? rootFd : stack.back().Get(); };
    auto finish = [&](const std::string& last) {
        const int fd = Duplicate(current());
        if (fd < 0) return -1;
        *parent = WalkFd(fd);
        *name = last;
        return 0;
    };
    while (!queue.empty()) {
        const std::string part = queue.front();
        queue.pop_front();
        const bool last = queue.empty();
        if (part == "." || part == "..") {
            if (part == "..") {
                if (stack.empty()) return Refuse(EACCES);  // above the folder
                stack.pop_back();
            }
            if (last) return finish(".");
            continue;
        }
        struct stat st;
        if (::fstatat(current(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (last && errno == ENOENT) return finish(part);  // a name to be created
            return -1;
        }
        if (S_ISLNK(st.st_mode)) {
            if (last && !followLast) return finish(part);
            if (++links > kWalkLinkLimit) return Refuse(EACCES);
            std::string target;
            if (!ReadLink(current(), part, target)) {
                // Replaced by something else since the fstatat: look at it again.
                if (errno == EINVAL) {
                    queue.push_front(part);
                    continue;
                }
                return -1;
            }
            if (!target.empty() && target[0] == '/') {
                // An absolute link is walked from the folder's root when it names a place in it.
                const std::string prefix = realRoot == "/" ? "/" : realRoot + "/";
                if (target != realRoot && target.compare(0, prefix.size(), prefix) != 0)
                    return Refuse(EACCES);
                stack.clear();
                PushFront(queue, target == realRoot ? "" : target.substr(prefix.size()));
                if (queue.empty()) return finish(".");
            } else {
                PushFront(queue, target);
                if (queue.empty()) return Refuse(EACCES);  // an empty link leads nowhere
            }
            continue;
        }
        if (last) return finish(part);
        if (!S_ISDIR(st.st_mode)) return Refuse(ENOTDIR);
        const int fd = ::openat(current(), part.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            // Swapped for a link since the fstatat: walk the component again, counted as a link
            // so that a swap repeated for ever cannot hold the walk.
            if ((errno == ELOOP || errno == ENOTDIR) && ++links <= kWalkLinkLimit) {
                queue.push_front(part);
                continue;
            }
            return errno == ELOOP ? Refuse(EACCES) : -1;
        }
        stack.emplace_back(fd);
    }
    return finish(".");
}

namespace {

// The descriptor of the open machine's folder, opened once per folder. A process that closes
// the descriptors it inherited (a batch process does) may reuse the number for something else:
// the descriptor is checked to be the folder still before each use.
// The session's descriptor of the machine folder, kept open between walks. A batch process
// closes descriptors it did not open and the number may be reused, so the descriptor is checked
// by device and inode before each use and before it is closed.
struct RootDescriptor : SessionPart {
    std::string openRoot;
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
    bool StillOurs() const {
        struct stat st;
        return fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
    }
    ~RootDescriptor() override {
        if (StillOurs()) ::close(fd);
    }
};

int MachineRootFd(const std::string& realRoot) {
    RootDescriptor& root = Session::Current().Part<RootDescriptor>(Session::kFolderWalk);
    std::string& openRoot = root.openRoot;
    int& fd = root.fd;
    dev_t& device = root.device;
    ino_t& inode = root.inode;
    struct stat st;
    if (fd >= 0 && openRoot == realRoot && ::fstat(fd, &st) == 0 && st.st_dev == device &&
        st.st_ino == inode)
        return fd;
    const int opened = ::open(realRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0 || ::fstat(opened, &st) != 0) {
        if (opened >= 0) ::close(opened);
        return -1;
    }
    // The old number is closed only when it still is this walk's descriptor (and is not the
    // number just opened, which the open may have reused).
    struct stat old;
    if (fd >= 0 && fd != opened && ::fstat(fd, &old) == 0 && old.st_dev == device &&
        old.st_ino == inode)
        ::close(fd);
    fd = opened;
    device = st.st_dev;
    inode = st.st_ino;
    openRoot = realRoot;
    return fd;
}

// The path of hostPath below the machine folder; false when it is not inside it.
bool RelativeToMachine(const Machine& machine, const std::string& hostPath, std::string& relative) {
    for (const std::string* root : {&machine.Root(), &machine.RealRoot()}) {
        if (hostPath == *root) {
            relative.clear();
            return true;
        }
        if (hostPath.size() > root->size() && hostPath.compare(0, root->size(), *root) == 0 &&
            hostPath[root->size()] == '/') {
            relative = hostPath.substr(root->size() + 1);
            return true;
        }
    }
    return false;
}

int WalkMachinePath(const std::string& hostPath, bool followLast, WalkFd* parent,
                    std::string* name) {
    const Machine& machine = Machine::Current();
    std::string relative;
    if (!RelativeToMachine(machine, hostPath, relative)) return Refuse(EACCES);
    const int rootFd = MachineRootFd(machine.RealRoot());
    if (rootFd < 0) return -1;
    return WalkToParent(rootFd, machine.RealRoot(), relative, followLast, parent, name);
}

bool Changes(int flags) {
    return (flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC) != 0;
}

}  // namespace

int OpenInMachine(const std::string& hostPath, int flags, mode_t mode) {
    if ((flags & O_CREAT) && !(flags & O_EXCL)) return Refuse(EINVAL);
    // A last component swapped for a link between the walk and the open is walked again.
    for (int attempt = 0; attempt < kWalkLinkLimit; ++attempt) {
        WalkFd parent;
        std::string name;
        if (WalkMachinePath(hostPath, true, &parent, &name) != 0) return -1;
        struct stat st;
        // A FIFO or device is refused before it is opened: opening one can have effects.
        if (::fstatat(parent.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode))
            return Refuse(EACCES);
        if (flags & O_CREAT)
            return ::openat(parent.Get(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
        WalkFd fd(::openat(parent.Get(), name.c_str(),
                           (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!fd) {
            if (errno == ELOOP) continue;
            return -1;
        }
        if (::fstat(fd.Get(), &st) != 0) return -1;
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return Refuse(EACCES);
        // No FAT drive holds a larger file: one cannot come from a Windows 9x machine, and a
        // sparse one would be copied or read without end.
        if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > kFatFileLimit)
            return Refuse(EACCES);
        if (Changes(flags) && S_ISREG(st.st_mode) && st.st_nlink > 1) return Refuse(EACCES);
        if ((flags & O_TRUNC) && ::ftruncate(fd.Get(), 0) != 0) return -1;
        if (!(flags & O_NONBLOCK)) ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK & ~O_ACCMODE);
        return fd.Release();
    }
    return Refuse(EACCES);
}

int OpenForAppendInMachine(const std::string& hostPath, mode_t mode) {
    WalkFd parent;
    std::string name;
    if (WalkMachinePath(hostPath, false, &parent, &name) != 0) return -1;
    WalkFd fd(::openat(parent.Get(), name.c_str(),
                       O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
    if (!fd) return errno == ELOOP ? Refuse(EACCES) : -1;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) return -1;
    if (!S_ISREG(st.st_mode) || st.st_nlink > 1) return Refuse(EACCES);
    return fd.Release();
}

int ChangeDirectoryInMachine(const std::string& hostDirectory) {
    WalkFd fd(OpenInMachine(hostDirectory, O_RDONLY | O_DIRECTORY));
    if (!fd) return -1;
    return ::fchdir(fd.Get());
}

int StatInMachine(const std::string& hostPath, struct stat* st, bool followLast) {
    WalkFd parent;
    std::string name;
    if (WalkMachinePath(hostPath, followLast, &parent, &name) != 0) return -1;
    return ::fstatat(parent.Get(), name.c_str(), st, AT_SYMLINK_NOFOLLOW);
}

int UnlinkInMachine(const std::string& hostPath) {
    WalkFd parent;
    std::string name;
    if (WalkMachinePath(hostPath, false, &parent, &name) != 0) return -1;
    return ::unlinkat(parent.Get(), name.c_str(), 0);
}

int RmdirInMachine(const std::string& hostPath) {
    WalkFd parent;
    std::string name;
    if (WalkMachinePath(hostPath, false, &parent, &name) != 0) return -1;
    return ::unlinkat(parent.Get(), name.c_str(), AT_REMOVEDIR);
}

int MkdirInMachine(const std::string& hostPath, mode_t mode) {
    WalkFd parent;
    std::string name;
    if (WalkMachinePath(hostPath, false, &parent, &name) != 0) return -1;
    return ::mkdirat(parent.Get(), name.c_str(), mode);
}

int RenameInMachine(const std::string& fromHostPath, const std::string& toHostPath) {
    WalkFd fromParent, toParent;
    std::string fromName, toName;
    if (WalkMachinePath(fromHostPath, false, &fromParent, &fromName) != 0 ||
        WalkMachinePath(toHostPath, false, &toParent, &toName) != 0)
        return -1;
    return HostRenameAt(fromParent.Get(), fromName.c_str(), toParent.Get(), toName.c_str());
}

bool ReadFileInMachine(const std::string& hostPath, std::string& contents) {
    WalkFd fd(OpenInMachine(hostPath, O_RDONLY));
    struct stat st;
    if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_size) > kHostFileLimit)
        return false;
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kHostFileLimit) return false;
    }
    contents.swap(text);
    return true;
}

int CreateTemporaryInMachine(const std::string& hostDirectory, const std::string& prefix,
                             std::string& temporaryPath) {
    // A fresh seed for each file: the name only has to be hard to guess and free.
    std::mt19937_64 generator{std::random_device{}()};
    WalkFd parent;
    std::string name;
    if (WalkMachinePath(hostDirectory, true, &parent, &name) != 0) return -1;
    WalkFd directory(::openat(parent.Get(), name.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory) return errno == ELOOP ? Refuse(EACCES) : -1;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "%06llx",
                      static_cast<unsigned long long>(generator() & 0xFFFFFF));
        const std::string file = prefix + suffix;
        const int fd = ::openat(directory.Get(), file.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            temporaryPath = hostDirectory + "/" + file;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

int OpenDirectoryBelow(int rootFd, const std::string& relative) {
    // A new open of the directory, not a dup: a dup would share the read position of its list.
    int fd = ::openat(rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t pos = 0;
    while (fd >= 0 && pos < relative.size()) {
        size_t end = relative.find('/', pos);
        if (end == std::string::npos) end = relative.size();
        const std::string part = relative.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".") continue;
        const int next = part == ".." ? (errno = EACCES, -1)
                                      : ::openat(fd, part.c_str(),
                                                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        fd = next;
        errno = error;
    }
    return fd;
}

}  // namespace hostwin
