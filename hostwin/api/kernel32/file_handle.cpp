// CreateFileA, ReadFile, WriteFile, GetFileSize, SetFilePointer, SetEndOfFile (kernel32):
// file handles over the machine folder. Opens see one another through their share modes,
// read-only files and write-protected drives refuse writing, and a file is never cut below
// the size of a mapping of it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "hostwin/attributes.h"
#include "hostwin/fault_injection.h"
#include "hostwin/folder_walk.h"
#include "devices.h"
#include "hostwin/drives.h"
#include "file_object.h"
#include "handles.h"
#include "hostwin/host_error.h"
#include "hostwin/host_file.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "hostwin/open_files.h"
#include "hostwin/running_programs.h"
#include "hostwin/share_locks.h"
#include "hostwin/short_names.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

// The specific file rights that GENERIC_READ and GENERIC_WRITE stand for.
constexpr DWORD kFileReadData = 0x0001;
constexpr DWORD kFileWriteData = 0x0002;
constexpr DWORD kFileAppendData = 0x0004;

HANDLE FailHandle(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

DWORD HostWriteError(int error) {
    return (error == ENOSPC || error == EFBIG) ? static_cast<DWORD>(ERROR_DISK_FULL)
                                               : ErrorFromErrno(error);
}

bool EndsWithSeparator(const char* name) {
    size_t length = std::strlen(name);
    return length > 0 && (name[length - 1] == '\\' || name[length - 1] == '/');
}

void JournalRefusedWrite(const std::string& windowsPath, DWORD error) {
    JournalEvent("file-write").Text("path", windowsPath).Result(false, error).Write();
}

// Deletes a file whose last open asked for FILE_FLAG_DELETE_ON_CLOSE.
void DeleteClosedFile(const std::string& windowsPath) {
    Machine& machine = Machine::Current();
    ResolvedPath resolved;
    if (ResolvePath(machine, windowsPath.c_str(), resolved) != ERROR_SUCCESS || !resolved.exists ||
        resolved.isDirectory)
        return;
    DWORD error = CheckDeleteAccess(machine, resolved.windows, resolved.host);
    const Folder folder{resolved.parentWindows, resolved.parentHost};
    if (error == ERROR_SUCCESS) ShortNames(Machine::Current()).Freeze(folder);
    if (error == ERROR_SUCCESS && UnlinkInMachine(resolved.host) != 0) error = ErrorFromErrno(errno);
    if (error == ERROR_SUCCESS) {
        Machine::Current().Attributes().Forget(resolved.windows);
        ShortNames(Machine::Current()).Removed(folder, resolved.name);
    }
    JournalEvent("file-delete")
        .Text("path", resolved.windows)
        .Result(error == ERROR_SUCCESS, error)
        .Write();
}

// Reads the file's size; false with the last error set when the host cannot tell.
bool HostFileSize(int fd, uint64_t& size) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

}  // namespace

FileChangeRecord::~FileChangeRecord() {
    if (!changed_ && !error_) return;
    try {
        JournalEvent("file-write").Text("path", windowsPath_).Result(error_ == 0, error_).Write();
    } catch (...) {
        // A journal that cannot be written must not take the program down.
    }
}

FileObject::~FileObject() {
    if (fd >= 0) ::close(fd);
}

bool FileObject::OnClose() {
    if (openId == 0) return true;
    std::string deletePath;
    const bool deleteNow = ReleaseOpen(openId, &deletePath);
    openId = 0;
    // The handle's journal line goes out now unless a mapping still holds the record.
    change.reset();
    if (deleteNow) DeleteClosedFile(deletePath);
    return true;
}

}  // namespace hostwin

using namespace hostwin;

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                     DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                     HANDLE hTemplateFile) {
    (void)lpSecurityAttributes;
    (void)hTemplateFile;
    if (lpFileName && std::strncmp(lpFileName, "\\\\.\\", 4) == 0)
        return OpenDeviceFile(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                              dwFlagsAndAttributes);

    const DWORD disposition = dwCreationDisposition;
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
        (dwShareMode & ~static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)))
        return FailHandle(ERROR_INVALID_PARAMETER);
    const bool wantRead = (dwDesiredAccess & (GENERIC_READ | GENERIC_ALL | kFileReadData)) != 0;
    const bool wantWrite =
        (dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL | kFileWriteData | kFileAppendData)) != 0;
    // Truncating an existing file takes write access.
    if (disposition == TRUNCATE_EXISTING && !wantWrite) return FailHandle(ERROR_INVALID_PARAMETER);
    const bool deleteOnClose = (dwFlagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    // The 9x versions know no sharing of deletion.
    if ((dwShareMode & FILE_SHARE_DELETE) && Machine::Current().IsWin9x())
        return FailHandle(ERROR_INVALID_PARAMETER);

    ResolvedPath resolved;
    DWORD error = ResolvePath(Machine::Current(), lpFileName, resolved);
    if (error == ERROR_SUCCESS && !resolved.parentExists) error = ERROR_PATH_NOT_FOUND;
    if (error == ERROR_SUCCESS && resolved.exists && resolved.isDirectory)
        error = disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED;
    // "name\" names a directory; for a file it is no valid name.
    if (error == ERROR_SUCCESS && EndsWithSeparator(lpFileName)) error = ERROR_INVALID_NAME;
    if (error != ERROR_SUCCESS) return FailHandle(error);

    Machine& machine = Machine::Current();
    AttributeStore& store = machine.Attributes();
    const DWORD registered = (wantRead ? GENERIC_READ : 0) | (wantWrite ? GENERIC_WRITE : 0) |
                             (deleteOnClose ? kDeleteAccess : 0);
    const DWORD newAttributes = dwFlagsAndAttributes & kStoredAttributeMask;
    int fd = -1;

    if (!resolved.exists) {
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            return FailHandle(ERROR_FILE_NOT_FOUND);
        // A file deleted while this process still holds it open stays "delete pending" on
        // Windows until the last handle goes; it cannot be created again before.
        if (IsOpen(resolved.windows)) return FailHandle(ERROR_ACCESS_DENIED);
        if (IsWriteProtectedDrive(Machine::Current(), resolved.drive)) {
            error = ERROR_WRITE_PROTECT;
        } else {
            ShortNames(machine).Freeze(Folder{resolved.parentWindows, resolved.parentHost});
            fd = OpenInMachine(resolved.host, O_CREAT | O_EXCL | O_RDWR, 0644);
            if (fd < 0) error = ErrorFromErrno(errno);
        }
        // A new file is announced to the other programs like any open.
        if (error == ERROR_SUCCESS) ClaimSharing(fd, machine.Root(), registered, dwShareMode);
        if (error == ERROR_SUCCESS) {
            store.Set(resolved.windows, newAttributes);
            ShortNames(machine).Added(Folder{resolved.parentWindows, resolved.parentHost},
                                      resolved.name);
        }
        JournalEvent("file-create")
            .Text("path", resolved.windows)
            .Result(error == ERROR_SUCCESS, error)
            .Write();
        if (error != ERROR_SUCCESS) return FailHandle(error);
    } else {
        if (disposition == CREATE_NEW) return FailHandle(ERROR_FILE_EXISTS);
        const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
        const bool changes = wantWrite || truncate;
        const DWORD bits = store.Get(resolved.windows);
        if (changes && IsWriteProtectedDrive(Machine::Current(), resolved.drive))
            error = ERROR_WRITE_PROTECT;
        else if (deleteOnClose && IsWriteProtectedDrive(Machine::Current(), resolved.drive))
            error = ERROR_ACCESS_DENIED;
        else if ((changes || deleteOnClose) && (bits & FILE_ATTRIBUTE_READONLY))
            error = ERROR_ACCESS_DENIED;
        // A running program's executable can be read but not changed or deleted.
        else if ((changes || deleteOnClose) && IsRunningExecutable(resolved.host))
            error = deleteOnClose ? ERROR_ACCESS_DENIED : ERROR_SHARING_VIOLATION;
        // Windows NT refuses to overwrite a hidden or system file unless the caller asks for
        // those attributes again.
        else if (disposition == CREATE_ALWAYS && !machine.IsWin9x() &&
                 (bits & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) & ~newAttributes))
            error = ERROR_ACCESS_DENIED;
        else
            error = CheckShareAccess(Machine::Current(), resolved.windows,
                                     registered | (truncate ? GENERIC_WRITE : 0), dwShareMode);
        if (error == ERROR_SUCCESS && truncate && MappedSizeOfPath(resolved.host) > 0)
            error = ERROR_USER_MAPPED_FILE;
        if (error == ERROR_SUCCESS) {
            fd = OpenInMachine(resolved.host, changes ? O_RDWR : O_RDONLY);
            if (fd < 0) error = ErrorFromErrno(errno);
        }
        // The opens of other programs count as well; only an open that passes may truncate.
        if (error == ERROR_SUCCESS) {
            error = ClaimSharing(fd, machine.Root(), registered | (truncate ? GENERIC_WRITE : 0),
                                 dwShareMode);
            if (error == ERROR_SUCCESS && truncate && ::ftruncate(fd, 0) != 0)
                error = ErrorFromErrno(errno);
            if (error != ERROR_SUCCESS) {
                ::close(fd);
                fd = -1;
            }
        }
        if (error != ERROR_SUCCESS) {
            if (changes && error != ERROR_FILE_NOT_FOUND) JournalRefusedWrite(resolved.windows, error);
            return FailHandle(error);
        }
        if (disposition == CREATE_ALWAYS) store.Set(resolved.windows, newAttributes);
    }

    auto file = std::make_unique<FileObject>();
    file->fd = fd;
    file->windowsPath = resolved.windows;
    file->hostPath = resolved.host;
    file->canRead = wantRead;
    file->canWrite = wantWrite;
    file->change = std::make_shared<FileChangeRecord>(resolved.windows);
    if (resolved.exists && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING))
        file->change->Changed();
    file->openId = RegisterOpen(resolved.windows, registered, dwShareMode);
    if (deleteOnClose) MarkDeleteOnClose(file->openId);
    HANDLE handle = InsertHandle(std::move(file));
    SetLastError(resolved.exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return handle;
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    FileObject* file = LookupHandleAs<FileObject>(hFile);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    if (!lpNumberOfBytesRead && !lpOverlapped) return Fail(ERROR_INVALID_PARAMETER);
    if (!file->canRead) return Fail(ERROR_ACCESS_DENIED);
    if (nNumberOfBytesToRead > 0 && !lpBuffer) return Fail(ERROR_NOACCESS);

    // An OVERLAPPED record on a synchronous handle gives the position to read from.
    uint64_t position = file->position;
    if (lpOverlapped)
        position = (static_cast<uint64_t>(lpOverlapped->OffsetHigh) << 32) | lpOverlapped->Offset;
    char* out = static_cast<char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        ssize_t n = ::pread(file->fd, out + done, nNumberOfBytesToRead - done,
                            static_cast<off_t>(position + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(ErrorFromErrno(errno));
        }
        if (n == 0) break;
        done += static_cast<DWORD>(n);
    }
    file->position = position + done;
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
    if (lpOverlapped) {
        lpOverlapped->Internal = 0;
        lpOverlapped->InternalHigh = done;
        // At the end of the file a read through an OVERLAPPED record reports it as an error.
        if (done == 0 && nNumberOfBytesToRead > 0) return Fail(ERROR_HANDLE_EOF);
    }
    return TRUE;
}

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    FileObject* file = LookupHandleAs<FileObject>(hFile);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    if (!lpNumberOfBytesWritten && !lpOverlapped) return Fail(ERROR_INVALID_PARAMETER);
    if (!file->canWrite) return Fail(ERROR_ACCESS_DENIED);
    if (nNumberOfBytesToWrite > 0 && !lpBuffer) return Fail(ERROR_NOACCESS);

    uint64_t position = file->position;
    if (lpOverlapped)
        position = (static_cast<uint64_t>(lpOverlapped->OffsetHigh) << 32) | lpOverlapped->Offset;
    const char* in = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    DWORD error = ERROR_SUCCESS;
    while (done < nNumberOfBytesToWrite) {
        ssize_t n = HostPwrite(file->fd, in + done, nNumberOfBytesToWrite - done,
                             static_cast<off_t>(position + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            error = HostWriteError(errno);
            break;
        }
        done += static_cast<DWORD>(n);
    }
    if (done > 0) file->change->Changed();
    file->position = position + done;
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
    if (lpOverlapped) {
        lpOverlapped->Internal = 0;
        lpOverlapped->InternalHigh = done;
    }
    if (error != ERROR_SUCCESS) {
        file->change->Failed(error);
        return Fail(error);
    }
    return TRUE;
}

extern "C" DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    FileObject* file = LookupHandleAs<FileObject>(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    uint64_t size;
    if (!HostFileSize(file->fd, size)) return INVALID_FILE_SIZE;
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    // A low part that looks like the failure value is told apart by the last error.
    if (static_cast<DWORD>(size) == INVALID_FILE_SIZE) SetLastError(NO_ERROR);
    return static_cast<DWORD>(size);
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                                       PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
    FileObject* file = LookupHandleAs<FileObject>(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the distance is a signed 32-bit number; with one, both halves
    // form a signed 64-bit distance.
    int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh)
        distance = static_cast<int64_t>(
            (static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
            static_cast<uint32_t>(lDistanceToMove));
    uint64_t base = 0;
    switch (dwMoveMethod) {
        case FILE_BEGIN: break;
        case FILE_CURRENT: base = file->position; break;
        case FILE_END:
            if (!HostFileSize(file->fd, base)) return INVALID_SET_FILE_POINTER;
            break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_SET_FILE_POINTER;
    }
    int64_t target;
    if (base > static_cast<uint64_t>(INT64_MAX) ||
        __builtin_add_overflow(static_cast<int64_t>(base), distance, &target)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the caller can only be told a 32-bit position.
    if (!lpDistanceToMoveHigh && static_cast<uint64_t>(target) > 0xFFFFFFFEu) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    file->position = static_cast<uint64_t>(target);
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(target >> 32);
    const DWORD low = static_cast<DWORD>(target);
    if (low == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
    return low;
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    FileObject* file = LookupHandleAs<FileObject>(hFile);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    if (!file->canWrite) return Fail(ERROR_ACCESS_DENIED);
    uint64_t size;
    if (!HostFileSize(file->fd, size)) return FALSE;
    if (file->position == size) return TRUE;
    // Windows keeps a mapped file at least as long as its mappings; the host would fault on
    // pages of a view behind the end.
    if (file->position < size && file->position < MappedSizeOfFile(file->fd))
        return Fail(ERROR_USER_MAPPED_FILE);
    if (::ftruncate(file->fd, static_cast<off_t>(file->position)) != 0) {
        const DWORD error = HostWriteError(errno);
        file->change->Failed(error);
        return Fail(error);
    }
    file->change->Changed();
    return TRUE;
}
