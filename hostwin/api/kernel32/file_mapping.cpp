// CreateFileMappingA, MapViewOfFile, FlushViewOfFile, UnmapViewOfFile (kernel32): file
// mappings as host mmap(2) views of the file itself, so bytes written through a view reach
// the file without passing through ordinary memory.
//
// A mapping object holds its own descriptor of the file and a view holds its mapping object,
// so the file handle and the mapping handle may be closed in any order while a view stays
// usable, as on Windows.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <set>

#include "hostwin/fault_injection.h"
#include "hostwin/folder_walk.h"
#include "file_object.h"
#include "handles.h"
#include "hostwin/host_error.h"
#include "hostwin/session.h"

namespace hostwin {

namespace {

// Views start on multiples of the allocation granularity, as on Windows.
constexpr uint64_t kAllocationGranularity = 65536;

// The storage of one mapping object: the host file and the mapped size.
class Section {
public:
    Section(int descriptor, uint64_t sectionSize, DWORD pageProtection,
            std::shared_ptr<FileChangeRecord> changeRecord, std::set<const Section*>& liveSet)
        : fd(descriptor), size(sectionSize), protect(pageProtection),
          change(std::move(changeRecord)), live(liveSet) {
        struct stat st;
        if (::fstat(fd, &st) == 0) {
            device = st.st_dev;
            inode = st.st_ino;
        }
        live.insert(this);
    }
    ~Section() {
        live.erase(this);
        ::close(fd);
    }
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

    const int fd;
    const uint64_t size;
    const DWORD protect;  // PAGE_READONLY, PAGE_READWRITE or PAGE_WRITECOPY
    const std::shared_ptr<FileChangeRecord> change;  // null for memory without a file
    // The session's sections, this one among them while it lives.
    std::set<const Section*>& live;
    dev_t device = 0;
    ino_t inode = 0;
};

class MappingObject : public KernelObject {
public:
    explicit MappingObject(std::shared_ptr<Section> s) : section(std::move(s)) {}
    std::shared_ptr<Section> section;
};

struct View {
    size_t length;
    bool shared;  // false for a copy-on-write view, whose changes never reach the file
    std::shared_ptr<Section> section;
};

// The session's mappings: every section that a mapping handle or a view still holds, and the
// views by base address. The views go first, so a section they hold leaves the set it is in.
struct Mappings : SessionPart {
    std::set<const Section*> live;
    std::map<uintptr_t, View> views;
};

Mappings& TheMappings() { return Session::Current().Part<Mappings>(Session::kMappings); }

std::map<uintptr_t, View>& Views() { return TheMappings().views; }

// The view that contains the address, or Views().end().
std::map<uintptr_t, View>::iterator FindView(const void* address) {
    auto& views = Views();
    const uintptr_t a = reinterpret_cast<uintptr_t>(address);
    auto it = views.upper_bound(a);
    if (it == views.begin()) return views.end();
    --it;
    return a < it->first + it->second.length ? it : views.end();
}

uint64_t LargestSection(dev_t device, ino_t inode) {
    uint64_t largest = 0;
    for (const Section* s : TheMappings().live)
        if (s->change && s->device == device && s->inode == inode)
            largest = std::max(largest, s->size);
    return largest;
}

HANDLE FailNull(DWORD error) {
    SetLastError(error);
    return nullptr;
}

}  // namespace

uint64_t MappedSizeOfFile(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return 0;
    return LargestSection(st.st_dev, st.st_ino);
}

uint64_t MappedSizeOfPath(const std::string& hostPath) {
    struct stat st;
    if (StatInMachine(hostPath, &st, true) != 0) return 0;
    return LargestSection(st.st_dev, st.st_ino);
}

}  // namespace hostwin

using namespace hostwin;

extern "C" HANDLE WINAPI CreateFileMappingA(HANDLE hFile,
                                            LPSECURITY_ATTRIBUTES lpFileMappingAttributes,
                                            DWORD flProtect, DWORD dwMaximumSizeHigh,
                                            DWORD dwMaximumSizeLow, LPCSTR lpName) {
    (void)lpFileMappingAttributes;
    // Names are accepted but not shared: every call makes a new mapping object.
    (void)lpName;
    const DWORD protect = flProtect & 0xFF;
    if ((flProtect & ~static_cast<DWORD>(0xFF | SEC_COMMIT)) ||
        (protect != PAGE_READONLY && protect != PAGE_READWRITE && protect != PAGE_WRITECOPY))
        return FailNull(ERROR_INVALID_PARAMETER);
    uint64_t size = (static_cast<uint64_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
    if (size > SIZE_MAX) return FailNull(ERROR_NOT_ENOUGH_MEMORY);

    int fd = -1;
    std::shared_ptr<FileChangeRecord> change;
    if (hFile == INVALID_HANDLE_VALUE) {
        // Memory backed by the paging file: it needs a size of its own.
        if (size == 0) return FailNull(ERROR_INVALID_PARAMETER);
        fd = ::memfd_create("hostwin-mapping", MFD_CLOEXEC);
        if (fd < 0) return FailNull(ERROR_NOT_ENOUGH_MEMORY);
        if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
            ::close(fd);
            return FailNull(ERROR_NOT_ENOUGH_MEMORY);
        }
    } else {
        FileObject* file = LookupHandleAs<FileObject>(hFile);
        if (!file) return FailNull(ERROR_INVALID_HANDLE);
        // The handle must allow what the mapping allows.
        if (!file->canRead || (protect == PAGE_READWRITE && !file->canWrite))
            return FailNull(ERROR_ACCESS_DENIED);
        struct stat st;
        if (::fstat(file->fd, &st) != 0) return FailNull(ErrorFromErrno(errno));
        const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
        if (size == 0) {
            if (fileSize == 0) return FailNull(ERROR_FILE_INVALID);
            size = fileSize;
        }
        if (size > fileSize) {
            // Only a writable mapping may grow the file; it grows with zero bytes.
            if (protect != PAGE_READWRITE) return FailNull(ERROR_NOT_ENOUGH_MEMORY);
            if (::ftruncate(file->fd, static_cast<off_t>(size)) != 0) {
                const int e = errno;
                const DWORD error = (e == ENOSPC || e == EFBIG) ? static_cast<DWORD>(ERROR_DISK_FULL)
                                                                : ErrorFromErrno(e);
                file->change->Failed(error);
                return FailNull(error);
            }
            file->change->Changed();
        }
        fd = ::fcntl(file->fd, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) return FailNull(ErrorFromErrno(errno));
        change = file->change;
    }
    auto section =
        std::make_shared<Section>(fd, size, protect, std::move(change), TheMappings().live);
    HANDLE handle = InsertHandle(std::make_unique<MappingObject>(std::move(section)));
    SetLastError(NO_ERROR);
    return handle;
}

extern "C" LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess,
                                       DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                                       SIZE_T dwNumberOfBytesToMap) {
    MappingObject* mapping = LookupHandleAs<MappingObject>(hFileMappingObject);
    if (!mapping) return FailNull(ERROR_INVALID_HANDLE);
    const std::shared_ptr<Section>& section = mapping->section;

    // FILE_MAP_ALL_ACCESS includes FILE_MAP_WRITE; FILE_MAP_COPY counts only without it.
    const bool write = (dwDesiredAccess & FILE_MAP_WRITE) != 0;
    const bool copy = !write && (dwDesiredAccess & FILE_MAP_COPY) != 0;
    const bool read = (dwDesiredAccess & FILE_MAP_READ) != 0;
    if (!write && !copy && !read) return FailNull(ERROR_INVALID_PARAMETER);
    if (write && section->protect != PAGE_READWRITE) return FailNull(ERROR_ACCESS_DENIED);

    const uint64_t offset = (static_cast<uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    if (offset % kAllocationGranularity != 0) return FailNull(ERROR_MAPPED_ALIGNMENT);
    if (offset >= section->size) return FailNull(ERROR_ACCESS_DENIED);
    const uint64_t length = dwNumberOfBytesToMap ? dwNumberOfBytesToMap : section->size - offset;
    if (length > section->size - offset) return FailNull(ERROR_ACCESS_DENIED);

    const int protection = (write || copy) ? PROT_READ | PROT_WRITE : PROT_READ;
    void* base = HostMmap(nullptr, static_cast<size_t>(length), protection,
                        copy ? MAP_PRIVATE : MAP_SHARED, section->fd, static_cast<off_t>(offset));
    if (base == MAP_FAILED) return FailNull(ERROR_NOT_ENOUGH_MEMORY);
    Views()[reinterpret_cast<uintptr_t>(base)] = View{static_cast<size_t>(length), !copy, section};
    // Bytes written through the view reach the file; count the open as a change.
    if (write && section->change) section->change->Changed();
    return base;
}

extern "C" BOOL WINAPI FlushViewOfFile(LPCVOID lpBaseAddress, SIZE_T dwNumberOfBytesToFlush) {
    auto it = FindView(lpBaseAddress);
    if (it == Views().end()) return Fail(ERROR_INVALID_ADDRESS);
    if (!it->second.shared) return TRUE;
    const uintptr_t viewEnd = it->first + it->second.length;
    const uintptr_t address = reinterpret_cast<uintptr_t>(lpBaseAddress);
    uintptr_t end = viewEnd;
    if (dwNumberOfBytesToFlush != 0 && dwNumberOfBytesToFlush < viewEnd - address)
        end = address + dwNumberOfBytesToFlush;
    // msync wants a page-aligned start; the view's base is one.
    const uintptr_t pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t start = std::max<uintptr_t>(it->first, address - address % pageSize);
    if (::msync(reinterpret_cast<void*>(start), end - start, MS_SYNC) != 0)
        return Fail(ErrorFromErrno(errno));
    return TRUE;
}

extern "C" BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress) {
    auto it = FindView(lpBaseAddress);
    if (it == Views().end()) return Fail(ERROR_INVALID_ADDRESS);
    ::munmap(reinterpret_cast<void*>(it->first), it->second.length);
    Views().erase(it);
    return TRUE;
}
