// Reaching a file of the machine folder without ever re-resolving a path string: every
// component is opened from the directory descriptor of the one before it, with O_NOFOLLOW, so a
// directory swapped for a link between a check and a use can never lead the use outside the
// folder. Links are not followed by the kernel at all: a link's text is read and walked on by
// the same rules, and one that leads outside the folder (or loops) is refused with EACCES.
#ifndef HOSTWIN_FOLDER_WALK_H
#define HOSTWIN_FOLDER_WALK_H

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace hostwin {

// An owned descriptor, closed with the object.
class WalkFd {
public:
    WalkFd() = default;
    explicit WalkFd(int fd) : fd_(fd) {}
    ~WalkFd() { Reset(); }
    WalkFd(WalkFd&& other) noexcept : fd_(other.Release()) {}
    WalkFd& operator=(WalkFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }
    WalkFd(const WalkFd&) = delete;
    WalkFd& operator=(const WalkFd&) = delete;
    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset();
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The largest file a FAT drive holds; OpenInMachine refuses larger ones.
constexpr unsigned long long kFatFileLimit = 0xFFFFFFFFull;

// The most links one walk follows before it counts as a loop (the kernel's own figure).
constexpr int kWalkLinkLimit = 40;

// Walks relative (components separated by '/') from the directory rootFd, which stands for the
// folder at realRoot (its path with no links). On success *parent is the directory that holds
// the last component and *name that component's name (never a link to be followed when
// followLast is set: the link has been walked through; "." when the path names rootFd or
// ends in ".."). -1 with errno: EACCES for a link that leads outside or loops, ENOENT or
// ENOTDIR for a missing directory on the way.
int WalkToParent(int rootFd, const std::string& realRoot, const std::string& relative,
                 bool followLast, WalkFd* parent, std::string* name);

// The same calls on a host path of the open machine (Machine::Current().Root() or RealRoot()
// followed by "/..."), walked from a descriptor of the machine folder. Each returns what the
// plain call returns, -1 with errno set; a path that is not inside the machine folder is EACCES.
//
// Opens a file or directory, following a link in the last component while it stays inside.
// Never blocks on a FIFO, and opens only regular files of at most kFatFileLimit bytes and
// directories (else EACCES). An open
// that can change the file (O_WRONLY, O_RDWR, O_TRUNC) is refused with EACCES for a file with
// more than one name (a hard link): the other name may lie outside the folder and must not see
// the change. O_TRUNC truncates only once all checks pass. O_CREAT needs O_EXCL (else EINVAL).
int OpenInMachine(const std::string& hostPath, int flags, mode_t mode = 0644);
// Opens a file for appending, creating it when missing, never through a link in its last
// component; -1 (EACCES) for anything but a regular file with one name.
int OpenForAppendInMachine(const std::string& hostPath, mode_t mode = 0644);
// Makes the directory the current one, entered by the walk; -1 with errno when it cannot.
int ChangeDirectoryInMachine(const std::string& hostDirectory);
// stat of the file (followLast) or of the name itself.
int StatInMachine(const std::string& hostPath, struct stat* st, bool followLast);
int UnlinkInMachine(const std::string& hostPath);
int RmdirInMachine(const std::string& hostPath);
int MkdirInMachine(const std::string& hostPath, mode_t mode);
// Renames one name to another (neither is followed), through the fault-injected rename.
int RenameInMachine(const std::string& fromHostPath, const std::string& toHostPath);
// Reads a whole regular file of the machine (at most kHostFileLimit bytes, as ReadHostFile);
// false when it cannot be reached by the walk, is anything else, or is larger.
bool ReadFileInMachine(const std::string& hostPath, std::string& contents);
// A new temporary file in the directory hostDirectory, "<directory>/<prefix>XXXXXX": the open
// descriptor, and its host path in temporaryPath.
int CreateTemporaryInMachine(const std::string& hostDirectory, const std::string& prefix,
                             std::string& temporaryPath);

// Opens the directory relative ("" for rootFd itself; names separated by '/') below rootFd, one
// name at a time and never through a link or "..", so a folder swapped for a link cannot lead
// a walk outside. A new descriptor, not a dup: a dup would share the read position of its list.
// -1 with errno set when a name is missing, a link or not a directory.
int OpenDirectoryBelow(int rootFd, const std::string& relative);

}  // namespace hostwin

#endif
