#include "folder_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "hostwin.h"
#include "hostwin/folder_walk.h"

namespace hostwin_tool {

using hostwin::OpenDirectoryBelow;

namespace {

[[noreturn]] void Fail(const std::string& label, const std::string& relative,
                       const std::string& why) {
    throw hostwin::MachineError(label + (relative.empty() ? "" : "/" + relative) + ": " + why);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

std::string KindText(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}


}  // namespace

OpenFolder::OpenFolder(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        throw hostwin::MachineError("machine folder " + path + " does not exist or is not a folder");
}

OpenFolder::~OpenFolder() { ::close(fd_); }

void WalkTree(int rootFd, const std::string& relative, const std::string& label,
              const std::function<void(const TreeEntry&)>& visit, bool recursive) {
    struct Pending {
        std::string path;
        int depth;
    };
    std::vector<Pending> pending{{relative, 0}};
    size_t entries = 0;
    while (!pending.empty()) {
        const Pending dir = pending.back();
        pending.pop_back();
        Fd fd(OpenDirectoryBelow(rootFd, dir.path));
        if (fd.Get() < 0) Fail(label, dir.path, std::string("cannot read: ") + std::strerror(errno));
        const int listFd = ::openat(fd.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
        if (!list) {
            if (listFd >= 0) ::close(listFd);
            Fail(label, dir.path, std::string("cannot list: ") + std::strerror(errno));
        }
        std::vector<std::string> names;
        while (dirent* e = ::readdir(list)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (++entries > kTreeEntryLimit) {
                ::closedir(list);
                Fail(label, dir.path, "more than " + std::to_string(kTreeEntryLimit) + " entries");
            }
            names.push_back(name);
        }
        ::closedir(list);
        // Pushed in reverse, so that the next directory visited is the first one listed.
        std::vector<Pending> below;
        for (const std::string& name : names) {
            TreeEntry entry;
            entry.path = dir.path.empty() ? name : dir.path + "/" + name;
            entry.parentFd = fd.Get();
            entry.name = name;
            if (::fstatat(fd.Get(), name.c_str(), &entry.st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            const mode_t mode = entry.st.st_mode;
            entry.kind = S_ISREG(mode)   ? EntryKind::kFile
                         : S_ISDIR(mode) ? EntryKind::kDirectory
                         : S_ISLNK(mode) ? EntryKind::kLink
                                         : EntryKind::kSpecial;
            if (entry.kind == EntryKind::kLink) {
                char target[4096];
                const ssize_t n = ::readlinkat(fd.Get(), name.c_str(), target, sizeof target);
                entry.linkTarget.assign(target, n > 0 ? static_cast<size_t>(n) : 0);
            }
            if (entry.kind == EntryKind::kDirectory && recursive) {
                if (dir.depth + 1 > kTreeDepthLimit)
                    Fail(label, entry.path,
                         "nested deeper than " + std::to_string(kTreeDepthLimit) + " folders");
                below.push_back({entry.path, dir.depth + 1});
            }
            visit(entry);
        }
        pending.insert(pending.end(), below.rbegin(), below.rend());
    }
}

int OpenTreeFile(int rootFd, const std::string& relative, const std::string& label,
                 struct stat* st) {
    const size_t slash = relative.rfind('/');
    Fd dir(OpenDirectoryBelow(rootFd, slash == std::string::npos ? "" : relative.substr(0, slash)));
    if (dir.Get() < 0) Fail(label, relative, std::string("cannot read: ") + std::strerror(errno));
    const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    if (::fstatat(dir.Get(), name.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0)
        Fail(label, relative, std::string("cannot read: ") + std::strerror(errno));
    if (!S_ISREG(st->st_mode)) Fail(label, relative, "it is " + KindText(st->st_mode));
    const int fd = ::openat(dir.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) Fail(label, relative, std::string("cannot read: ") + std::strerror(errno));
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        Fail(label, relative, "it is " + KindText(st->st_mode));
    }
    return fd;
}

namespace {

// Copies the data of in to out, skipping holes, so that a sparse file stays sparse.
void CopyData(int in, int out, off_t size, const std::string& label, const std::string& path) {
    std::vector<char> buffer(1 << 20);
    off_t offset = 0;
    while (offset < size) {
        off_t data = ::lseek(in, offset, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break;  // only a hole is left
            data = offset;              // no hole support: copy everything
        }
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0 || hole > size) hole = size;
        for (off_t at = data; at < hole;) {
            const size_t want = static_cast<size_t>(std::min<off_t>(hole - at, buffer.size()));
            const ssize_t n = ::pread(in, buffer.data(), want, at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Fail(label, path, "cannot read: the file changed or failed while copied");
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = ::pwrite(out, buffer.data() + done, static_cast<size_t>(n - done),
                                           at + done);
                if (w < 0 && errno == EINTR) continue;
                if (w < 0) Fail(label, path, std::string("cannot copy: ") + std::strerror(errno));
                done += w;
            }
            at += n;
        }
        offset = hole;
    }
    if (::ftruncate(out, size) != 0)
        Fail(label, path, std::string("cannot copy: ") + std::strerror(errno));
}

}  // namespace

void CopyTree(int rootFd, const std::string& label, const std::string& to) {
    if (::mkdir(to.c_str(), 0755) != 0) Fail(to, "", std::string("cannot make: ") + std::strerror(errno));
    WalkTree(rootFd, "", label, [&](const TreeEntry& e) {
        const std::string target = to + "/" + e.path;
        switch (e.kind) {
        case EntryKind::kDirectory:
            if (::mkdir(target.c_str(), 0755) != 0)
                Fail(to, e.path, std::string("cannot make: ") + std::strerror(errno));
            return;
        case EntryKind::kLink:
        case EntryKind::kSpecial:
            Fail(label, e.path,
                 "it is " + KindText(e.st.st_mode) + ", which a private copy cannot hold");
        case EntryKind::kFile:
            break;
        }
        if (static_cast<uint64_t>(e.st.st_size) > kTreeFileSizeLimit)
            Fail(label, e.path, "larger than any file of a FAT drive (4 GiB)");
        const int inFd = ::openat(e.parentFd, e.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (inFd < 0) Fail(label, e.path, std::string("cannot read: ") + std::strerror(errno));
        Fd in(inFd);
        struct stat st {};
        if (::fstat(in.Get(), &st) != 0 || !S_ISREG(st.st_mode))
            Fail(label, e.path, "it is " + KindText(st.st_mode));
        if (static_cast<uint64_t>(st.st_size) > kTreeFileSizeLimit)
            Fail(label, e.path, "larger than any file of a FAT drive (4 GiB)");
        Fd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      st.st_mode & 0777));
        if (out.Get() < 0) Fail(to, e.path, std::string("cannot write: ") + std::strerror(errno));
        CopyData(in.Get(), out.Get(), st.st_size, label, e.path);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.Get(), times);
    });
}

}  // namespace hostwin_tool
