#include "hostwin/host_file.h"

#include <dirent.h>
#include <limits.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "hostwin/machine_error.h"

namespace hostwin {

namespace {

// The files whose write-back goes through a temporary file beside them.
const char* const kReplacedFiles[] = {"registry.reg", "attributes.txt"};

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
    throw MachineError("cannot read " + path + ": " + why);
}

const char* KindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "it is a symbolic link, not a regular file";
    if (S_ISDIR(mode)) return "it is a directory, not a regular file";
    if (S_ISFIFO(mode)) return "it is a FIFO, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
    return "it is not a regular file";
}

// The process id in "<pid>" or "<pid>.<hex>"; 0 when the text is neither.
pid_t TemporaryOwner(const std::string& suffix) {
    size_t i = 0;
    long long pid = 0;
    while (i < suffix.size() && suffix[i] >= '0' && suffix[i] <= '9' && pid < (1LL << 32))
        pid = pid * 10 + (suffix[i++] - '0');
    if (i == 0 || pid <= 0 || pid >= (1LL << 31)) return 0;
    if (i < suffix.size()) {
        if (suffix[i] != '.' || i + 1 == suffix.size()) return 0;
        for (size_t j = i + 1; j < suffix.size(); ++j)
            if (!std::isxdigit(static_cast<unsigned char>(suffix[j]))) return 0;
    }
    return static_cast<pid_t>(pid);
}

}  // namespace

void RequireRegularOrMissing(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return;
        Refuse(path, std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) Refuse(path, KindOf(st.st_mode));
}

namespace {

long long StampOf(const struct stat& st) {
    // FNV-1a over the fields that any replacement or edit of the file changes.
    const long long fields[] = {static_cast<long long>(st.st_dev), static_cast<long long>(st.st_ino),
                                static_cast<long long>(st.st_size), st.st_mtim.tv_sec,
                                st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
    unsigned long long h = 14695981039346656037ull;
    for (long long f : fields)
        for (int i = 0; i < 8; ++i) h = (h ^ ((static_cast<unsigned long long>(f) >> (8 * i)) & 0xFF)) * 1099511628211ull;
    return static_cast<long long>(h | 1);  // never 0, which means "missing"
}

}  // namespace

MachineFileReader::MachineFileReader(const std::string& path, size_t limit)
    : path_(path), limit_(limit) {
    // lstat first, so that a FIFO or device is refused without opening it at all.
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return;
        Refuse(path, std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) Refuse(path, KindOf(st.st_mode));
    // O_NOFOLLOW and O_NONBLOCK: a file swapped for a link or FIFO since the lstat still
    // neither leads elsewhere nor blocks; fstat then tells what was opened.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        if (errno == ENOENT) return;
        Refuse(path, errno == ELOOP ? KindOf(S_IFLNK) : std::strerror(errno));
    }
    try {
        if (::fstat(fd_, &st) != 0) Refuse(path, std::strerror(errno));
        if (!S_ISREG(st.st_mode)) Refuse(path, KindOf(st.st_mode));
        stamp_ = StampOf(st);
        if (static_cast<unsigned long long>(st.st_size) > limit)
            Refuse(path, "larger than " + std::to_string(limit) + " bytes");
    } catch (...) {
        ::close(fd_);
        throw;
    }
    size_ = static_cast<size_t>(st.st_size);
}

MachineFileReader::~MachineFileReader() {
    if (fd_ >= 0) ::close(fd_);
}

size_t MachineFileReader::Read(char* data, size_t size) {
    if (fd_ < 0) return 0;
    for (;;) {
        const ssize_t n = ::read(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            Refuse(path_, std::strerror(errno));
        }
        // Counted to the limit and beyond, in case the file grows while it is read.
        read_ += static_cast<size_t>(n);
        if (read_ > limit_) Refuse(path_, "larger than " + std::to_string(limit_) + " bytes");
        return static_cast<size_t>(n);
    }
}

bool ReadMachineFile(const std::string& path, size_t limit, std::string& contents,
                     long long* stamp) {
    if (stamp) *stamp = 0;
    MachineFileReader file(path, limit);
    if (stamp) *stamp = file.Stamp();
    if (!file.Exists()) return false;
    // Room for one read past the size, so that a file that did not grow is never copied again.
    std::string text(file.SizeAtOpen() + 4096, '\0');
    size_t done = 0;
    for (;;) {
        if (done == text.size()) text.resize(done + 4096);
        const size_t n = file.Read(&text[done], text.size() - done);
        if (n == 0) break;
        done += n;
    }
    text.resize(done);
    contents.swap(text);
    return true;
}

int OpenForAppend(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                    0644);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int CreateTemporaryBeside(const std::string& path, std::string& temporaryPath) {
    // A fresh seed for each file: the name only has to be hard to guess and free.
    std::mt19937_64 generator{std::random_device{}()};
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".tmp.%ld.%016llx", static_cast<long>(::getpid()),
                      static_cast<unsigned long long>(generator()));
        temporaryPath = path + suffix;
        // O_EXCL with O_NOFOLLOW: a file or link planted under this name is never written
        // through; another name is tried instead.
        int fd = ::open(temporaryPath.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    throw MachineError("cannot write " + temporaryPath + ": " + std::strerror(errno));
}

void RemoveStaleTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        for (const char* file : kReplacedFiles) {
            const std::string prefix = std::string(file) + ".tmp.";
            if (name.compare(0, prefix.size(), prefix) != 0) continue;
            const pid_t owner = TemporaryOwner(name.substr(prefix.size()));
            if (owner == 0) continue;
            // A process that still runs may be about to rename its file into place.
            if (owner != ::getpid() && !(::kill(owner, 0) != 0 && errno == ESRCH)) continue;
            struct stat st;
            const std::string path = folder + "/" + name;
            if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(path.c_str());
        }
    }
    ::closedir(dir);
}

bool LiesInsideFolder(const std::string& hostPath, const std::string& realFolder,
                      std::string& resolved) {
    std::string existing = hostPath;
    struct stat st;
    while (::lstat(existing.c_str(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) return false;
        const size_t slash = existing.rfind('/');
        if (slash == std::string::npos || slash == 0) return false;
        existing.resize(slash);
    }
    char real[PATH_MAX];
    if (!::realpath(existing.c_str(), real)) return false;
    resolved = real;
    if (realFolder == "/") return true;
    return resolved.compare(0, realFolder.size(), realFolder) == 0 &&
           (resolved.size() == realFolder.size() || resolved[realFolder.size()] == '/');
}

int OpenInsideFolder(const std::string& hostPath, const std::string& realFolder, int flags) {
    int fd = ::open(hostPath.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 || errno != ELOOP) return fd;
    // The final component is a link: open where it leads if that is inside, and that without
    // following a link again.
    std::string target;
    if (!LiesInsideFolder(hostPath, realFolder, target)) {
        errno = EACCES;
        return -1;
    }
    return ::open(target.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
}

long long FileStamp(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return 0;
    return StampOf(st);
}

}  // namespace hostwin
