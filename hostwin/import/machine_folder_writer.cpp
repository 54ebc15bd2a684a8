#include "machine_folder_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "hostwin/folder_lock.h"
#include "import_error.h"

namespace hostwin_import {

namespace {

// Makes the machine folder and removes what it made when anything fails before Commit.
class MachineFolderWriter {
    static constexpr const char* kStaging = ".import-staging";

public:
    explicit MachineFolderWriter(const std::string& folder) : folder_(folder) {
        struct stat st;
        if (::lstat(folder.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                throw ImportError(folder + ": exists and is not a folder");
            DIR* d = ::opendir(folder.c_str());
            if (!d) throw ImportError(folder + ": cannot be read: " + std::strerror(errno));
            bool empty = true;
            while (dirent* e = ::readdir(d))
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    empty = false;
            ::closedir(d);
            if (!empty)
                throw ImportError(folder + ": exists and is not empty; give a new folder");
        } else {
            if (::mkdir(folder.c_str(), 0755) != 0)
                throw ImportError(folder + ": cannot be made: " + std::strerror(errno));
            createdFolder_ = true;
        }
        // Held while the folder is written, as every command that writes a folder holds it.
        lock_ = std::make_unique<hostwin::FolderLock>(folder);
    }

    ~MachineFolderWriter() {
        if (committed_) return;
        // Whatever a failed copy left in the staging folder (plain files only ever arrive there).
        const std::string staging = folder_ + "/" + kStaging;
        if (DIR* d = ::opendir(staging.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    ::unlinkat(::dirfd(d), e->d_name, 0);
            ::closedir(d);
        }
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            const std::string path = folder_ + "/" + *it;
            if (::unlink(path.c_str()) != 0) ::rmdir(path.c_str());
        }
        if (createdFolder_) ::rmdir(folder_.c_str());
    }

    void MakeDirectory(const std::string& relative) {
        const std::string path = folder_ + "/" + relative;
        if (::mkdir(path.c_str(), 0755) != 0) {
            struct stat st;
            if (errno == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
            throw ImportError(path + ": cannot be made: " + std::strerror(errno));
        }
        made_.push_back(relative);
    }

    // A new file (never an existing one, never through a link).
    int CreateFile(const std::string& relative) {
        const std::string path = folder_ + "/" + relative;
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) throw ImportError(path + ": cannot be written: " + std::strerror(errno));
        made_.push_back(relative);
        return fd;
    }

    void WriteText(const std::string& relative, const std::string& text) {
        const int fd = CreateFile(relative);
        const char* p = text.data();
        size_t left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int e = errno;
                ::close(fd);
                throw ImportError(folder_ + "/" + relative + ": cannot be written: " +
                                  std::strerror(e));
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        if (::close(fd) != 0)
            throw ImportError(folder_ + "/" + relative + ": cannot be written: " +
                              std::strerror(errno));
    }

    // An empty folder inside the machine folder that files are copied into first.
    std::string MakeStaging() {
        MakeDirectory(kStaging);
        return folder_ + "/" + kStaging;
    }

    // Moves a staged file to its place (never over anything); it must be a plain file.
    void MoveIn(const std::string& staged, const std::string& relative) {
        struct stat st;
        if (::lstat(staged.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            throw ImportError(staged + ": the copy is missing or not a plain file");
        const std::string target = folder_ + "/" + relative;
        if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0)
            throw ImportError(target + ": cannot be written: " + std::strerror(errno));
        made_.push_back(relative);
    }

    // Nothing but the expected files may arrive in the staging folder.
    void CheckStagingEmpty() {
        const std::string path = folder_ + "/" + kStaging;
        DIR* d = ::opendir(path.c_str());
        if (!d) throw ImportError(path + ": cannot be read");
        std::string stray;
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                stray = e->d_name;
        ::closedir(d);
        if (!stray.empty()) throw ImportError("unexpected file \"" + stray + "\" from the source");
    }

    void RemoveStaging() {
        if (::rmdir((folder_ + "/" + kStaging).c_str()) == 0) made_.pop_back();
    }

    void Commit() { committed_ = true; }

private:
    std::string folder_;
    bool createdFolder_ = false;
    bool committed_ = false;
    std::vector<std::string> made_;
    std::unique_ptr<hostwin::FolderLock> lock_;
};

}  // namespace

void WriteMachineFolder(const std::string& folder, const ImportPlan& plan, SourceDrive& drive,
                        const std::string& machineIni, const std::string& registryText,
                        ImportSummary& summary) {
    MachineFolderWriter writer(folder);
    for (const std::string& d : plan.drives) writer.MakeDirectory(d);
    // Parents of the Windows directory (e.g. C:\WIN\98 has C:\WIN).
    {
        const std::string& top = plan.entries.front().hostRelative;
        for (size_t at = top.find('/', 2); at != std::string::npos; at = top.find('/', at + 1))
            writer.MakeDirectory(top.substr(0, at));
    }
    // Folders first; then the files of each folder, copied into a staging folder in DIR and
    // moved into place under their checked names.
    std::vector<std::pair<std::string, std::vector<const PlannedEntry*>>> filesByFolder;
    for (const PlannedEntry& p : plan.entries) {
        if (p.isDirectory) {
            writer.MakeDirectory(p.hostRelative);
            if (&p != &plan.entries.front()) ++summary.directories;
        } else {
            const std::string folder = p.hostRelative.substr(0, p.hostRelative.rfind('/'));
            if (filesByFolder.empty() || filesByFolder.back().first != folder) {
                bool found = false;
                for (auto& f : filesByFolder)
                    if (f.first == folder) {
                        f.second.push_back(&p);
                        found = true;
                    }
                if (!found) filesByFolder.push_back({folder, {&p}});
            } else {
                filesByFolder.back().second.push_back(&p);
            }
        }
    }
    const std::string staging = writer.MakeStaging();
    for (const auto& folder : filesByFolder) {
        std::vector<std::string> sources;
        for (const PlannedEntry* p : folder.second) sources.push_back(p->sourcePath);
        drive.CopyBatch(sources, staging);
        for (const PlannedEntry* p : folder.second) {
            const size_t slash = p->sourcePath.rfind('/');
            writer.MoveIn(staging + "/" + p->sourcePath.substr(slash == std::string::npos ? 0 : slash + 1),
                          p->hostRelative);
            ++summary.files;
        }
        writer.CheckStagingEmpty();
    }
    writer.RemoveStaging();
    if (!plan.attributes.empty()) writer.WriteText("attributes.txt", plan.attributes);
    if (!plan.shortNames.empty()) writer.WriteText("shortnames.txt", plan.shortNames);
    writer.WriteText("machine.ini", machineIni);
    writer.WriteText("registry.reg", registryText);
    writer.Commit();
}

}  // namespace hostwin_import
