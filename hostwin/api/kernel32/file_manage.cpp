// CopyFileA, MoveFileA, CreateDirectoryA, RemoveDirectoryA (kernel32): placing files and
// directories on the machine folder, with their attributes, the files held open and the
// write-protected drives deciding as on Windows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "hostwin/attributes.h"
#include "hostwin/drives.h"
#include "hostwin/fault_injection.h"
#include "hostwin/folder_walk.h"
#include "file_object.h"
#include "hostwin/host_error.h"
#include "hostwin/host_file.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "hostwin/open_files.h"
#include "hostwin/running_programs.h"
#include "hostwin/short_names.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

// ANSI CreateDirectoryA leaves room for an 8.3 name below the new directory.
constexpr size_t kDirectoryPathLimit = MAX_PATH - 12;

DWORD HostWriteError(int error) {
    return (error == ENOSPC || error == EFBIG) ? static_cast<DWORD>(ERROR_DISK_FULL)
                                               : ErrorFromErrno(error);
}

// Resolves a path that must name something existing.
DWORD ResolveExisting(LPCSTR path, ResolvedPath& resolved) {
    DWORD error = ResolvePath(Machine::Current(), path, resolved);
    if (error == ERROR_SUCCESS && !resolved.exists)
        error = resolved.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    return error;
}

// Resolves a path whose containing directory must exist.
DWORD ResolveTarget(LPCSTR path, ResolvedPath& resolved) {
    DWORD error = ResolvePath(Machine::Current(), path, resolved);
    if (error == ERROR_SUCCESS && !resolved.parentExists) error = ERROR_PATH_NOT_FOUND;
    return error;
}

bool IsBelow(const std::string& path, const std::string& directory) {
    return path.size() > directory.size() + 1 &&
           SameWindowsPath(path.substr(0, directory.size()), directory) &&
           path[directory.size()] == '\\';
}

bool SameHostFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return StatInMachine(a, &sa, true) == 0 && StatInMachine(b, &sb, true) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool WriteAll(int fd, const char* data, size_t size, int& error) {
    while (size > 0) {
        ssize_t n = HostWrite(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies the contents and the last-write time of a host file into a new temporary file in
// the directory destinationHostDirectory; the caller renames it into place, so that no
// half-written destination is ever seen. On failure nothing is left behind.
DWORD CopyToTemporary(const std::string& sourceHost, const std::string& destinationHostDirectory,
                      std::string& temporaryHost) {
    int in = OpenInMachine(sourceHost, O_RDONLY);
    if (in < 0) return ErrorFromErrno(errno);
    struct stat st;
    // Only a regular file is copied: a directory cannot be, and a FIFO or device never was.
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        const DWORD error = S_ISREG(st.st_mode) ? ErrorFromErrno(errno) : ERROR_ACCESS_DENIED;
        ::close(in);
        return error;
    }
    int out = CreateTemporaryInMachine(destinationHostDirectory, ".hostwin-copy-", temporaryHost);
    if (out < 0) {
        const DWORD error = HostWriteError(errno);
        ::close(in);
        return error;
    }

    int hostError = 0;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            hostError = errno;
            break;
        }
        if (n == 0) break;
        if (!WriteAll(out, buffer.data(), static_cast<size_t>(n), hostError)) break;
    }
    ::close(in);
    if (hostError == 0) {
        ::fchmod(out, 0644);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
    }
    if (::close(out) != 0 && hostError == 0) hostError = errno;
    if (hostError != 0) {
        UnlinkInMachine(temporaryHost);
        temporaryHost.clear();
        return HostWriteError(hostError);
    }
    return ERROR_SUCCESS;
}

// Copies a file into place: a temporary file beside the destination, then a rename over it.
DWORD CopyIntoPlace(const std::string& sourceHost, const std::string& destinationHostDirectory,
                    const std::string& destinationHost) {
    std::string temporary;
    DWORD error = CopyToTemporary(sourceHost, destinationHostDirectory, temporary);
    if (error != ERROR_SUCCESS) return error;
    if (RenameInMachine(temporary, destinationHost) != 0) {
        error = ErrorFromErrno(errno);
        UnlinkInMachine(temporary);
    }
    return error;
}

// The attribute lines of a directory and everything below it, relative to it ("" for the
// directory itself), so that they can follow the directory to its new name.
std::vector<std::pair<std::string, DWORD>> CollectTreeAttributes(const std::string& windowsDir,
                                                                 const std::string& hostDir) {
    AttributeStore& store = Machine::Current().Attributes();
    std::vector<std::pair<std::string, DWORD>> found;
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        std::string relative = pending.back();
        pending.pop_back();
        const std::string windows = relative.empty() ? windowsDir : windowsDir + "\\" + relative;
        if (DWORD bits = store.Get(windows)) found.emplace_back(relative, bits);
        std::string host = hostDir;
        if (!relative.empty()) {
            std::string hostRelative = relative;
            for (char& c : hostRelative)
                if (c == '\\') c = '/';
            host += "/" + hostRelative;
        }
        struct stat st;
        if (StatInMachine(host, &st, true) != 0 || !S_ISDIR(st.st_mode)) continue;
        for (const std::string& name : ListHostDirectory(host))
            pending.push_back(relative.empty() ? name : relative + "\\" + name);
    }
    return found;
}

// The last component of a Windows path as the caller wrote it, without the trailing dots and
// blanks that Windows drops.
std::string RequestedName(LPCSTR path) {
    std::string directory, last;
    SplitLastComponent(path, directory, last);
    while (!last.empty() && (last.back() == '.' || last.back() == ' ')) last.pop_back();
    return last;
}

// Why a copy from source (an existing file) to target (parent exists) may not happen, or
// ERROR_SUCCESS.
DWORD CheckCopy(const ResolvedPath& source, const ResolvedPath& target, bool failIfExists) {
    AttributeStore& store = Machine::Current().Attributes();
    if (target.exists && target.isDirectory) return ERROR_ACCESS_DENIED;
    if (target.exists && failIfExists) return ERROR_FILE_EXISTS;
    // The source is open for reading while the destination is opened for writing.
    if (target.exists && SameHostFile(source.host, target.host)) return ERROR_SHARING_VIOLATION;
    if (IsWriteProtectedDrive(Machine::Current(), target.drive)) return ERROR_WRITE_PROTECT;
    // The source is read while others may go on using it, as long as they share reading.
    DWORD error = CheckShareAccess(Machine::Current(), source.windows, GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   source.host);
    if (error != ERROR_SUCCESS) return error;
    if (!target.exists) {
        // A file deleted while still open keeps its name until it is closed.
        return IsOpen(target.windows) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    }
    if (store.Get(target.windows) & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
    if (IsRunningExecutable(target.host)) return ERROR_SHARING_VIOLATION;
    error = CheckShareAccess(Machine::Current(), target.windows, GENERIC_WRITE, 0, target.host);
    if (error != ERROR_SUCCESS) return error;
    if (MappedSizeOfPath(target.host) > 0) return ERROR_USER_MAPPED_FILE;
    return ERROR_SUCCESS;
}

// Why source (existing) may not move to target (parent exists), or ERROR_SUCCESS.
DWORD CheckMove(const ResolvedPath& source, const ResolvedPath& target, bool sameName) {
    const bool otherDrive = source.drive != target.drive;
    if (source.isRoot) return ERROR_ACCESS_DENIED;
    if (target.exists && !sameName) return ERROR_ALREADY_EXISTS;
    if (source.isDirectory && IsBelow(target.windows, source.windows)) return ERROR_ACCESS_DENIED;
    // The source must be removable from where it is, and the target writable.
    if (IsWriteProtectedDrive(Machine::Current(), source.drive)) return ERROR_ACCESS_DENIED;
    if (IsWriteProtectedDrive(Machine::Current(), target.drive)) return ERROR_WRITE_PROTECT;
    if (!target.exists && IsOpen(target.windows)) return ERROR_ACCESS_DENIED;
    if (source.isDirectory) {
        // A directory moves only within its drive, and not while files below it are open or
        // while it is a running process's current directory.
        if (otherDrive || AnyOpenBelow(Machine::Current(), source.windows) ||
            IsCurrentDirectoryOfRunningProcess(source.host))
            return ERROR_ACCESS_DENIED;
        return ERROR_SUCCESS;
    }
    DWORD error = CheckDeleteAccess(Machine::Current(), source.windows, source.host);
    if (error != ERROR_SUCCESS) return error;
    // Windows 9x keeps a running program's executable where it is; NT renames it, but
    // cannot delete it after a copy to another drive.
    if (IsRunningExecutable(source.host) && (Machine::Current().IsWin9x() || otherDrive))
        return ERROR_ACCESS_DENIED;
    // Across drives the file is copied and the source deleted, which a read-only file refuses.
    if (otherDrive && (Machine::Current().Attributes().Get(source.windows) & FILE_ATTRIBUTE_READONLY))
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

void JournalTwoPaths(const char* event, const std::string& from, const std::string& to,
                     DWORD error) {
    JournalEvent(event)
        .Text("from", from)
        .Text("to", to)
        .Result(error == ERROR_SUCCESS, error)
        .Write();
}

void JournalOnePath(const char* event, const std::string& path, DWORD error) {
    JournalEvent(event).Text("path", path).Result(error == ERROR_SUCCESS, error).Write();
}

}  // namespace

}  // namespace hostwin

using namespace hostwin;

extern "C" BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                                 BOOL bFailIfExists) {
    ResolvedPath source, target;
    DWORD error = ResolveExisting(lpExistingFileName, source);
    if (error == ERROR_SUCCESS && source.isDirectory) error = ERROR_ACCESS_DENIED;
    if (error == ERROR_SUCCESS) error = ResolveTarget(lpNewFileName, target);
    if (error != ERROR_SUCCESS) return Fail(error);

    Machine& machine = Machine::Current();
    AttributeStore& store = machine.Attributes();
    error = CheckCopy(source, target, bFailIfExists != FALSE);
    const Folder targetFolder{target.parentWindows, target.parentHost};
    if (error == ERROR_SUCCESS && !target.exists) ShortNames(machine).Freeze(targetFolder);
    if (error == ERROR_SUCCESS) error = CopyIntoPlace(source.host, target.parentHost, target.host);
    if (error == ERROR_SUCCESS && !target.exists) ShortNames(machine).Added(targetFolder, target.name);
    // The copy takes the source's attributes; a file from a cdrom arrives read-only.
    if (error == ERROR_SUCCESS)
        store.Set(target.windows, AttributeBits(Machine::Current(), source.windows, false));

    JournalTwoPaths("file-copy", source.windows, target.windows, error);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

extern "C" BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
    ResolvedPath source, target;
    DWORD error = ResolveExisting(lpExistingFileName, source);
    if (error == ERROR_SUCCESS) error = ResolveTarget(lpNewFileName, target);
    if (error != ERROR_SUCCESS) return Fail(error);

    AttributeStore& store = Machine::Current().Attributes();
    // A new spelling of the same name only changes the name's case.
    const bool sameName = SameWindowsPath(source.windows, target.windows);
    std::string targetWindows = target.windows;
    std::string targetHost = target.host;
    if (sameName && !source.isRoot) {
        const std::string requested = RequestedName(lpNewFileName);
        if (!requested.empty()) {
            targetHost = target.parentHost + "/" + requested;
            targetWindows = target.parentWindows +
                            (target.parentWindows.back() == '\\' ? "" : "\\") + requested;
        }
    }

    error = CheckMove(source, target, sameName);
    std::vector<std::pair<std::string, DWORD>> treeAttributes;
    if (error == ERROR_SUCCESS && source.isDirectory)
        treeAttributes = CollectTreeAttributes(source.windows, source.host);
    const Folder sourceFolder{source.parentWindows, source.parentHost};
    const Folder targetFolder{target.parentWindows, target.parentHost};
    if (error == ERROR_SUCCESS) {
        ShortNames(Machine::Current()).Freeze(sourceFolder);
        ShortNames(Machine::Current()).Freeze(targetFolder);
    }
    if (error == ERROR_SUCCESS && RenameInMachine(source.host, targetHost) != 0) {
        const int renameError = errno;
        error = ErrorFromErrno(renameError);
        // The drive folders lie on different host file systems: copy, then delete the
        // source; if the source cannot go, the copy goes instead and nothing is lost.
        if (renameError == EXDEV && !source.isDirectory) {
            error = CopyIntoPlace(source.host, target.parentHost, targetHost);
            if (error == ERROR_SUCCESS && UnlinkInMachine(source.host) != 0) {
                error = ErrorFromErrno(errno);
                UnlinkInMachine(targetHost);
            }
        }
    }
    if (error == ERROR_SUCCESS) {
        if (source.isDirectory) {
            store.Forget(source.windows);
            for (const auto& entry : treeAttributes)
                store.Set(entry.first.empty() ? targetWindows : targetWindows + "\\" + entry.first,
                          entry.second);
        } else {
            store.Move(source.windows, targetWindows);
            RenameOpens(source.windows, targetWindows);
        }
        // The moved file or directory gets a new alias where it arrives.
        if (source.isDirectory) ShortNames(Machine::Current()).MovedTree(source.windows, targetWindows);
        ShortNames(Machine::Current()).Removed(sourceFolder, source.name);
        ShortNames(Machine::Current()).Added(targetFolder, targetWindows.substr(targetWindows.rfind('\\') + 1));
    }

    JournalTwoPaths("file-move", source.windows, targetWindows, error);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName,
                                        LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    (void)lpSecurityAttributes;
    ResolvedPath resolved;
    DWORD error = ResolvePath(Machine::Current(), lpPathName, resolved);
    if (error == ERROR_SUCCESS && resolved.exists) error = ERROR_ALREADY_EXISTS;
    if (error == ERROR_SUCCESS && !resolved.parentExists) error = ERROR_PATH_NOT_FOUND;
    if (error == ERROR_SUCCESS && resolved.windows.size() >= kDirectoryPathLimit)
        error = ERROR_FILENAME_EXCED_RANGE;
    if (error != ERROR_SUCCESS) return Fail(error);

    if (IsWriteProtectedDrive(Machine::Current(), resolved.drive))
        error = ERROR_WRITE_PROTECT;
    else if (IsOpen(resolved.windows))
        error = ERROR_ACCESS_DENIED;  // a file deleted while still open keeps its name
    const Folder folder{resolved.parentWindows, resolved.parentHost};
    if (error == ERROR_SUCCESS) ShortNames(Machine::Current()).Freeze(folder);
    if (error == ERROR_SUCCESS && MkdirInMachine(resolved.host, 0755) != 0)
        error = HostWriteError(errno);
    // Lines left behind by something removed outside the machine do not apply to the new one.
    if (error == ERROR_SUCCESS) {
        Machine::Current().Attributes().Forget(resolved.windows);
        ShortNames(Machine::Current()).Added(folder, resolved.name);
    }

    JournalOnePath("dir-create", resolved.windows, error);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    ResolvedPath resolved;
    DWORD error = ResolveExisting(lpPathName, resolved);
    if (error == ERROR_SUCCESS && !resolved.isDirectory) error = ERROR_DIRECTORY;
    if (error != ERROR_SUCCESS) return Fail(error);

    AttributeStore& store = Machine::Current().Attributes();
    if (resolved.isRoot || IsWriteProtectedDrive(Machine::Current(), resolved.drive) ||
        (store.Get(resolved.windows) & FILE_ATTRIBUTE_READONLY))
        error = ERROR_ACCESS_DENIED;
    // No process's current directory can be removed: Windows 9x refuses it as DOS does,
    // NT because the process holds the directory open.
    else if (IsCurrentDirectoryOfRunningProcess(resolved.host))
        error = Machine::Current().IsWin9x() ? static_cast<DWORD>(ERROR_CURRENT_DIRECTORY)
                                             : static_cast<DWORD>(ERROR_SHARING_VIOLATION);
    const Folder folder{resolved.parentWindows, resolved.parentHost};
    if (error == ERROR_SUCCESS) ShortNames(Machine::Current()).Freeze(folder);
    if (error == ERROR_SUCCESS && RmdirInMachine(resolved.host) != 0)
        error = (errno == ENOTEMPTY || errno == EEXIST) ? static_cast<DWORD>(ERROR_DIR_NOT_EMPTY)
                                                        : ErrorFromErrno(errno);
    if (error == ERROR_SUCCESS) {
        store.Forget(resolved.windows);
        ShortNames(Machine::Current()).Removed(folder, resolved.name);
    }

    JournalOnePath("dir-remove", resolved.windows, error);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}
