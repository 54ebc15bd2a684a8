#include "source_drive.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <regex>

#include "hostwin/folder_walk.h"
#include "import_error.h"

extern char** environ;

namespace hostwin_import {

using hostwin::OpenDirectoryBelow;

namespace {

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x -= 0x20;
        if (y >= 'a' && y <= 'z') y -= 0x20;
        if (x != y) return false;
    }
    return true;
}

std::string Join(const std::string& dir, const std::string& name) {
    return dir.empty() ? name : dir + "/" + name;
}

void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ImportError(std::string("writing a file: ") + std::strerror(errno));
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// A path on the drive as mtools takes it: mtools reads [ ] as a wildcard class (and * ?,
// which no checked name holds), so they are escaped to name exactly one file.
std::string MtoolsPath(const std::string& path) {
    std::string out = "::/";
    for (char c : path) {
        if (c == '[' || c == ']' || c == '*' || c == '?' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// ---- A host folder ---------------------------------------------------------------------------

// Deeper than any path of MAX_PATH characters can reach.
constexpr int kFolderDepthLimit = 128;

class FolderDrive : public SourceDrive {
public:
    explicit FolderDrive(std::string root) : root_(std::move(root)) {
        rootFd_ = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (rootFd_ < 0) throw ImportError(root_ + ": cannot be read: " + std::strerror(errno));
    }
    ~FolderDrive() override { ::close(rootFd_); }
    std::string Describe() const override { return root_; }

    std::vector<SourceEntry> List(const std::string& dir, bool recursive) override {
        std::vector<SourceEntry> out;
        ListInto(dir, recursive, 0, out);
        return out;
    }

    void CopyTo(const std::string& path, int fd, uint64_t limit) override {
        const std::string host = Host(path);
        const size_t slash = path.rfind('/');
        const int dir = OpenDirectoryBelow(rootFd_, slash == std::string::npos ? "" : path.substr(0, slash));
        const int in = dir < 0 ? -1
                               : ::openat(dir, path.substr(slash == std::string::npos ? 0 : slash + 1).c_str(),
                                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const int openError = errno;
        if (dir >= 0) ::close(dir);
        if (in < 0) throw ImportError(host + ": cannot be read: " + std::strerror(openError));
        struct stat st;
        std::string refused;
        if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode))
            refused = ": is a link or special file, which a Windows 9x drive cannot hold";
        else if (static_cast<uint64_t>(st.st_size) > limit)
            refused = ": is larger than " + std::to_string(limit) + " bytes";
        if (!refused.empty()) {
            ::close(in);
            throw ImportError(host + refused);
        }
        char buffer[65536];
        uint64_t copied = 0;
        for (;;) {
            const ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 || (copied += static_cast<uint64_t>(n > 0 ? n : 0)) > limit) {
                const int e = errno;
                ::close(in);
                throw ImportError(host + (n < 0 ? ": cannot be read: " + std::string(std::strerror(e))
                                                : ": is larger than " + std::to_string(limit) + " bytes"));
            }
            if (n == 0) break;
            try {
                WriteAll(fd, buffer, static_cast<size_t>(n));
            } catch (...) {
                ::close(in);
                throw;
            }
        }
        ::close(in);
    }

private:
    std::string Host(const std::string& path) const {
        return path.empty() ? root_ : root_ + "/" + path;
    }

    // The FAT attributes of a file on a mounted FAT file system; 0 on any other.
    static uint32_t FatAttributes(int dirFd, const std::string& name) {
        const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return 0;
        uint32_t attributes = 0;
        if (::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes) != 0) attributes = 0;
        ::close(fd);
        return attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
    }

    void ListInto(const std::string& dir, bool recursive, int depth, std::vector<SourceEntry>& out) {
        if (depth > kFolderDepthLimit)
            throw ImportError(Host(dir) + ": folders nested deeper than " +
                              std::to_string(kFolderDepthLimit) + " levels");
        const int dirFd = OpenDirectoryBelow(rootFd_, dir);
        const int listFd = dirFd < 0 ? -1 : ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* d = listFd < 0 ? nullptr : ::fdopendir(listFd);
        if (!d) {
            if (listFd >= 0) ::close(listFd);
            if (dirFd >= 0) ::close(dirFd);
            return;
        }
        std::vector<std::string> names;
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string path = Join(dir, name);
            struct stat st;
            if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
                ::close(dirFd);
                throw ImportError(Host(path) +
                                  ": is a link or special file, which a Windows 9x drive cannot "
                                  "hold");
            }
            SourceEntry entry;
            entry.path = path;
            entry.isDirectory = S_ISDIR(st.st_mode);
            entry.attributes = FatAttributes(dirFd, name);
            out.push_back(entry);
            if (recursive && entry.isDirectory) {
                try {
                    ListInto(path, true, depth + 1, out);
                } catch (...) {
                    ::close(dirFd);
                    throw;
                }
            }
        }
        ::close(dirFd);
    }

    std::string root_;
    int rootFd_ = -1;
};

// ---- A FAT file system in a disk image, through mtools ----------------------------------------

// mtools itself could not be started: not a fault of the source.
class MtoolsMissing : public ImportError {
public:
    using ImportError::ImportError;
};

// mtools ended by a signal (a crash) or was stopped for writing too much: never an empty
// result, and never taken for a missing directory.
class MtoolsBroken : public ImportError {
public:
    using ImportError::ImportError;
};

// Runs an mtools command with its output to outFd (or captured when outFd is -1) and returns
// the captured output; throws ImportError with mtools' own message when it fails, and
// MtoolsBroken when it crashes or writes more than limit bytes (it is then stopped).
class MtoolsRun {
public:
    static std::string Run(const std::vector<std::string>& args, int outFd, const std::string& what,
                           uint64_t limit = kListingLimit) {
        int errFd = ::memfd_create("mtools-stderr", MFD_CLOEXEC);
        int pipeFds[2] = {-1, -1};
        if (errFd < 0 || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
            if (errFd >= 0) ::close(errFd);
            throw ImportError(std::string("cannot run mtools: ") + std::strerror(errno));
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errFd, 2);

        // mtools reads only its own settings: no user configuration, no geometry checks that
        // refuse images made by other tools, names in UTF-8.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("MTOOLS", 0) == 0 || entry.rfind("LC_", 0) == 0 ||
                entry.rfind("LANG=", 0) == 0)
                continue;
            env.push_back(entry);
        }
        env.push_back("MTOOLSRC=/dev/null");
        env.push_back("MTOOLS_SKIP_CHECK=1");
        env.push_back("LC_ALL=C.UTF-8");
        std::vector<char*> envp, argv;
        for (std::string& e : env) envp.push_back(&e[0]);
        envp.push_back(nullptr);
        std::vector<std::string> argsCopy = args;
        for (std::string& a : argsCopy) argv.push_back(&a[0]);
        argv.push_back(nullptr);

        pid_t pid = 0;
        const int spawned =
            ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        // Everything mtools writes passes through here, counted: a file system that makes it
        // write without end (a directory loop) stops it at the limit.
        std::string output;
        uint64_t written = 0;
        bool tooMuch = false;
        ::close(pipeFds[1]);
        if (spawned == 0) {
            std::vector<char> buffer(65536);
            for (;;) {
                const ssize_t n = ::read(pipeFds[0], buffer.data(), buffer.size());
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                written += static_cast<uint64_t>(n);
                if (written > limit) {
                    tooMuch = true;
                    ::kill(pid, SIGKILL);
                    break;
                }
                if (outFd >= 0) {
                    try {
                        WriteAll(outFd, buffer.data(), static_cast<size_t>(n));
                    } catch (...) {
                        ::kill(pid, SIGKILL);
                        ::close(pipeFds[0]);
                        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
                        }
                        ::close(errFd);
                        throw;
                    }
                } else {
                    output.append(buffer.data(), static_cast<size_t>(n));
                }
            }
        }
        ::close(pipeFds[0]);
        int status = 0;
        if (spawned == 0) {
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        std::string errors;
        char buffer[1024];
        ::lseek(errFd, 0, SEEK_SET);
        for (ssize_t n; (n = ::read(errFd, buffer, sizeof buffer)) > 0;)
            errors.append(buffer, static_cast<size_t>(n));
        ::close(errFd);
        if (spawned != 0)
            throw MtoolsMissing("cannot run " + args[0] + " (install mtools): " +
                              std::strerror(spawned));
        if (tooMuch)
            throw MtoolsBroken(what + ": " + args[0] + " wrote more than " + std::to_string(limit) +
                               " bytes and was stopped (a corrupt file system, such as a " +
                               "directory that contains itself)");
        if (WIFSIGNALED(status))
            throw MtoolsBroken(what + ": " + args[0] + " crashed (signal " +
                               std::to_string(WTERMSIG(status)) +
                               "): the file system is corrupt, such as a directory that " +
                               "contains itself");
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127)  // the shell's "not found"
            throw MtoolsMissing("cannot run " + args[0] + " (install mtools)");
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            while (!errors.empty() && (errors.back() == '\n' || errors.back() == '\r'))
                errors.pop_back();
            const size_t lastLine = errors.rfind('\n');
            throw ImportError(what + ": " +
                              (errors.empty() ? args[0] + " failed"
                                              : errors.substr(lastLine == std::string::npos
                                                                  ? 0
                                                                  : lastLine + 1)));
        }
        return output;
    }
};

class ImageDrive : public SourceDrive {
public:
    ImageDrive(std::string image, uint64_t offset)
        : image_(std::move(image)), spec_(image_ + "@@" + std::to_string(offset)),
          offset_(offset) {}

    std::string Describe() const override {
        return offset_ == 0 ? image_ : image_ + " (partition at byte " + std::to_string(offset_) + ")";
    }

    std::vector<SourceEntry> List(const std::string& dir, bool recursive) override {
        const std::string target = MtoolsPath(dir);
        std::vector<std::string> args = {"mdir", "-i", spec_, "-a", "-b"};
        if (recursive) args.push_back("-/");
        args.push_back(target);
        std::string listing;
        try {
            listing = MtoolsRun::Run(args, -1, Describe());
        } catch (const MtoolsMissing&) {
            throw;
        } catch (const MtoolsBroken&) {
            throw;
        } catch (const ImportError& e) {
            // A missing directory is an empty list; any other failure is an error.
            if (std::string(e.what()).find("not found") != std::string::npos) return {};
            throw;
        }
        std::map<std::string, uint32_t> attributes;
        std::map<std::string, std::string> aliases;
        if (recursive) {
            attributes = Attributes(target);
            aliases = Aliases(target);
        }
        // Bare lines are full paths, directories ending in '/'.
        const std::string prefix = dir.empty() ? "::/" : "::/" + dir + "/";
        std::vector<SourceEntry> out;
        size_t start = 0;
        while (start < listing.size()) {
            size_t end = listing.find('\n', start);
            if (end == std::string::npos) end = listing.size();
            std::string line = listing.substr(start, end - start);
            start = end + 1;
            if (line.empty()) continue;
            if (line.compare(0, prefix.size(), prefix) != 0)
                throw ImportError(Describe() + ": unexpected name in the listing of ::/" + dir +
                                  ": \"" + line + "\"");
            SourceEntry entry;
            entry.isDirectory = line.back() == '/';
            if (entry.isDirectory) line.pop_back();
            entry.path = line.substr(3);
            if (entry.path.empty() || entry.path == dir) continue;
            // Attributes are read for recursive listings only (the files to import).
            auto it = attributes.find(entry.path);
            if (it != attributes.end()) entry.attributes = it->second;
            auto alias = aliases.find(entry.path);
            if (alias != aliases.end()) entry.alias = alias->second;
            out.push_back(entry);
        }
        std::sort(out.begin(), out.end(),
                  [](const SourceEntry& a, const SourceEntry& b) { return a.path < b.path; });
        return out;
    }

    void CopyTo(const std::string& path, int fd, uint64_t limit) override {
        MtoolsRun::Run({"mtype", "-i", spec_, MtoolsPath(path)}, fd, Describe() + ": " + path,
                       limit);
    }

    // One mcopy for many files of a folder, with their modification times: far faster than a
    // process for each file.
    void CopyBatch(const std::vector<std::string>& paths, const std::string& stagingDir) override {
        constexpr size_t kPerRun = 256;
        for (size_t first = 0; first < paths.size(); first += kPerRun) {
            std::vector<std::string> args = {"mcopy", "-i", spec_, "-n", "-m", "-Q"};
            for (size_t i = first; i < paths.size() && i < first + kPerRun; ++i)
                args.push_back(MtoolsPath(paths[i]));
            args.push_back(stagingDir + "/");
            MtoolsRun::Run(args, -1, Describe() + ": copying files of " + paths[first]);
        }
    }

private:
    // The short names of long-named entries, from mdir's full listing: "Directory for ::/DIR"
    // headers, then lines of short name, extension, size or <DIR>, date, time and long name.
    std::map<std::string, std::string> Aliases(const std::string& target) {
        static const std::regex kEntry(
            R"(^(\S+)(?: +(\S{1,3}))? +(?:<DIR>|\d+) +\d{4}-\d\d-\d\d +\d{1,2}:\d\d  (.+)$)");
        const std::string listing =
            MtoolsRun::Run({"mdir", "-i", spec_, "-/", "-a", target}, -1, Describe());
        std::map<std::string, std::string> out;
        std::string directory;
        size_t start = 0;
        while (start < listing.size()) {
            size_t end = listing.find('\n', start);
            if (end == std::string::npos) end = listing.size();
            const std::string line = listing.substr(start, end - start);
            start = end + 1;
            if (line.rfind("Directory for ::/", 0) == 0) {
                directory = line.substr(17);
                continue;
            }
            std::smatch m;
            if (!std::regex_match(line, m, kEntry)) continue;
            const std::string alias = m[1].str() + (m[2].matched ? "." + m[2].str() : "");
            out[directory.empty() ? m[3].str() : directory + "/" + m[3].str()] = alias;
        }
        return out;
    }

    // mattrib's listing: the attribute letters (A, S, H, R) then the full path.
    std::map<std::string, uint32_t> Attributes(const std::string& target) {
        const std::string listing =
            MtoolsRun::Run({"mattrib", "-i", spec_, "-/", target}, -1, Describe());
        std::map<std::string, uint32_t> out;
        size_t start = 0;
        while (start < listing.size()) {
            size_t end = listing.find('\n', start);
            if (end == std::string::npos) end = listing.size();
            const std::string line = listing.substr(start, end - start);
            start = end + 1;
            const size_t at = line.find("::/");
            if (at == std::string::npos) continue;
            uint32_t bits = 0;
            for (size_t i = 0; i < at; ++i) {
                switch (line[i]) {
                    case 'A': bits |= kAttrArchive; break;
                    case 'S': bits |= kAttrSystem; break;
                    case 'H': bits |= kAttrHidden; break;
                    case 'R': bits |= kAttrReadOnly; break;
                    default: break;
                }
            }
            out[line.substr(at + 3)] = bits;
        }
        return out;
    }

    std::string image_;
    std::string spec_;
    uint64_t offset_;
};

}  // namespace

void SourceDrive::CopyBatch(const std::vector<std::string>& paths, const std::string& stagingDir) {
    for (const std::string& path : paths) {
        const size_t slash = path.rfind('/');
        const std::string target =
            stagingDir + "/" + (slash == std::string::npos ? path : path.substr(slash + 1));
        const int fd =
            ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) throw ImportError(target + ": cannot be written: " + std::strerror(errno));
        try {
            CopyTo(path, fd);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (::close(fd) != 0)
            throw ImportError(target + ": cannot be written: " + std::strerror(errno));
    }
}

bool SourceDrive::Find(const std::string& dir, const std::string& name, SourceEntry& found) {
    for (const SourceEntry& e : List(dir, false)) {
        const size_t slash = e.path.rfind('/');
        const std::string own = slash == std::string::npos ? e.path : e.path.substr(slash + 1);
        if (EqualsNoCase(own, name)) {
            found = e;
            return true;
        }
    }
    return false;
}

std::string SourceDrive::Read(const std::string& path, size_t limit) {
    MemoryFile file(*this, path, limit);
    struct stat st;
    if (::stat(file.HostPath().c_str(), &st) != 0 || static_cast<uint64_t>(st.st_size) > limit)
        throw ImportError(Describe() + ": " + path + " is larger than " + std::to_string(limit) +
                          " bytes");
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    const int fd = ::open(file.HostPath().c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t got = fd < 0 ? -1 : ::pread(fd, &bytes[0], bytes.size(), 0);
    if (fd >= 0) ::close(fd);
    if (got != static_cast<ssize_t>(bytes.size()))
        throw ImportError(Describe() + ": " + path + " cannot be read");
    return bytes;
}

MemoryFile::MemoryFile(SourceDrive& drive, const std::string& path, uint64_t limit) {
    fd_ = ::memfd_create("hostwin-import", MFD_CLOEXEC);
    if (fd_ < 0) throw ImportError(std::string("cannot make a memory file: ") + std::strerror(errno));
    hostPath_ = "/proc/self/fd/" + std::to_string(fd_);
    try {
        drive.CopyTo(path, fd_, limit);
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

MemoryFile::~MemoryFile() { ::close(fd_); }

std::unique_ptr<SourceDrive> OpenFolderDrive(const std::string& hostFolder) {
    return std::make_unique<FolderDrive>(hostFolder);
}

std::unique_ptr<SourceDrive> OpenImageDrive(const std::string& image, uint64_t offset) {
    return std::make_unique<ImageDrive>(image, offset);
}

}  // namespace hostwin_import
