// KERNEL32 files, directories, drives, file mappings and devices.
#include <cstring>

#include "thunks.h"

namespace hostwin_pe {

namespace {

static_assert(sizeof(WIN32_FIND_DATAA) == 320, "the find record has the Win32 layout");

uint32_t Bool(BOOL value) { return value ? 1u : 0u; }

// OVERLAPPED of the guest (five dwords) around a host call.
class GuestOverlapped {
public:
    GuestOverlapped(Call& call, uint32_t address) : p_(call.p), address_(address) {
        if (!address_) return;
        host_.Internal = p_.memory.Read32(address_);
        host_.InternalHigh = p_.memory.Read32(address_ + 4);
        host_.Offset = p_.memory.Read32(address_ + 8);
        host_.OffsetHigh = p_.memory.Read32(address_ + 12);
        host_.hEvent = p_.HostHandle(p_.memory.Read32(address_ + 16));
    }
    LPOVERLAPPED Get() { return address_ ? &host_ : nullptr; }
    void WriteBack() {
        if (!address_) return;
        p_.memory.Write32(address_, static_cast<uint32_t>(host_.Internal));
        p_.memory.Write32(address_ + 4, static_cast<uint32_t>(host_.InternalHigh));
    }

private:
    Process& p_;
    uint32_t address_;
    OVERLAPPED host_{};
};

uint32_t FindFirstFile(Call& c) {
    const char* pattern = c.OptionalString(0);
    WIN32_FIND_DATAA data;
    c.p.memory.Read(c.Arg(1), &data, sizeof data);
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h != INVALID_HANDLE_VALUE) c.p.memory.Write(c.Arg(1), &data, sizeof data);
    return c.p.GuestHandle(h);
}

uint32_t FindNextFile(Call& c) {
    WIN32_FIND_DATAA data;
    c.p.memory.Read(c.Arg(1), &data, sizeof data);
    const BOOL ok = FindNextFileA(c.Handle(0), &data);
    if (ok) c.p.memory.Write(c.Arg(1), &data, sizeof data);
    return Bool(ok);
}

uint32_t CreateFile(Call& c) {
    const char* name = c.OptionalString(0);
    return c.p.GuestHandle(CreateFileA(name, c.Arg(1), c.Arg(2), nullptr, c.Arg(4), c.Arg(5),
                                       c.Handle(6)));
}

uint32_t WriteFileThunk(Call& c) {
    GuestBuffer data(c, c.Arg(1), c.Arg(2));
    GuestDword written(c, c.Arg(3));
    GuestOverlapped overlapped(c, c.Arg(4));
    const BOOL ok = WriteFile(c.Handle(0), data.Get(), c.Arg(2), written.Get(), overlapped.Get());
    written.WriteBack();
    overlapped.WriteBack();
    return Bool(ok);
}

uint32_t GetFileSizeThunk(Call& c) {
    GuestDword high(c, c.Arg(1));
    const DWORD size = GetFileSize(c.Handle(0), high.Get());
    high.WriteBack();
    return size;
}

uint32_t SetFilePointerThunk(Call& c) {
    GuestDword high(c, c.Arg(2));
    const DWORD at = SetFilePointer(c.Handle(0), static_cast<LONG>(c.Arg(1)),
                                    reinterpret_cast<PLONG>(high.Get()), c.Arg(3));
    high.WriteBack();
    return at;
}

uint32_t DeviceIoControlThunk(Call& c) {
    GuestBuffer in(c, c.Arg(2), c.Arg(3));
    GuestBuffer out(c, c.Arg(4), c.Arg(5));
    GuestDword returned(c, c.Arg(6));
    GuestOverlapped overlapped(c, c.Arg(7));
    const BOOL ok = DeviceIoControl(c.Handle(0), c.Arg(1), in.Get(), c.Arg(3), out.Get(),
                                    c.Arg(5), returned.Get(), overlapped.Get());
    out.WriteBack();
    returned.WriteBack();
    overlapped.WriteBack();
    return Bool(ok);
}

uint32_t GetWindowsDirectory(Call& c) {
    GuestBuffer buffer(c, c.Arg(0), c.Arg(1));
    const UINT n = GetWindowsDirectoryA(buffer.Get(), c.Arg(1));
    buffer.WriteBack();
    return n;
}

uint32_t GetCurrentDirectory(Call& c) {
    GuestBuffer buffer(c, c.Arg(1), c.Arg(0));
    const DWORD n = GetCurrentDirectoryA(c.Arg(0), buffer.Get());
    buffer.WriteBack();
    return n;
}

uint32_t GetModuleFileName(Call& c) {
    // The program's own module is the one hostwin knows; any other handle it refuses.
    const uint32_t module = c.Arg(0);
    HMODULE host = module == 0 || module == c.p.image.base
                       ? nullptr
                       : reinterpret_cast<HMODULE>(static_cast<uintptr_t>(module));
    GuestBuffer buffer(c, c.Arg(1), c.Arg(2));
    const DWORD n = GetModuleFileNameA(host, buffer.Get(), c.Arg(2));
    buffer.WriteBack();
    return n;
}

uint32_t CreateFileMapping(Call& c) {
    HANDLE file = c.Handle(0);
    const char* name = c.OptionalString(5);
    uint64_t size = (uint64_t(c.Arg(3)) << 32) | c.Arg(4);
    if (size == 0 && file != INVALID_HANDLE_VALUE) size = GetFileSize(file, nullptr);
    HANDLE mapping = CreateFileMappingA(file, nullptr, c.Arg(2), c.Arg(3), c.Arg(4), name);
    const uint32_t guest = c.p.GuestHandle(mapping);
    if (mapping) c.p.mappingSizes[guest] = size;
    return guest;
}

// A view is the host's own mapping of the file, shared into guest memory, so bytes the guest
// writes reach the file exactly as through a view on Windows.
uint32_t MapViewOfFileThunk(Call& c) {
    const uint32_t mapping = c.Arg(0);
    const uint64_t offset = (uint64_t(c.Arg(2)) << 32) | c.Arg(3);
    void* host = MapViewOfFile(c.Handle(0), c.Arg(1), c.Arg(2), c.Arg(3), c.Arg(4));
    if (!host) return 0;
    auto known = c.p.mappingSizes.find(mapping);
    uint64_t size = c.Arg(4);
    if (size == 0 && known != c.p.mappingSizes.end() && known->second > offset)
        size = known->second - offset;
    const uint32_t at = size && size < 0x40000000u
                            ? c.p.memory.FindFree(static_cast<uint32_t>(size), 0x20000000u)
                            : 0;
    if (!at || reinterpret_cast<uintptr_t>(host) % 0x1000) {
        UnmapViewOfFile(host);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    c.p.memory.MapHost(at, static_cast<uint32_t>(size), host);
    c.p.views[at] = {host, static_cast<uint32_t>(size)};
    return at;
}

uint32_t FlushViewOfFileThunk(Call& c) {
    const uint32_t at = c.Arg(0);
    auto it = c.p.views.upper_bound(at);
    if (it == c.p.views.begin()) return Bool(FlushViewOfFile(nullptr, 0));
    --it;
    if (at >= it->first + uint64_t(it->second.size)) return Bool(FlushViewOfFile(nullptr, 0));
    return Bool(FlushViewOfFile(static_cast<char*>(it->second.host) + (at - it->first), c.Arg(1)));
}

uint32_t UnmapViewOfFileThunk(Call& c) {
    auto it = c.p.views.find(c.Arg(0));
    if (it == c.p.views.end()) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return 0;
    }
    c.p.memory.Unmap(it->first, it->second.size);
    const BOOL ok = UnmapViewOfFile(it->second.host);
    c.p.views.erase(it);
    return Bool(ok);
}

uint32_t CloseHandleThunk(Call& c) {
    if (CloseOwnHandle(c.p, c.Arg(0))) return 1;
    c.p.mappingSizes.erase(c.Arg(0));
    return Bool(CloseHandle(c.Handle(0)));
}

}  // namespace

void AddKernel32FileThunks(std::vector<Thunk>& t) {
    const char* k = "KERNEL32.dll";
    t.push_back({k, "FindFirstFileA", 2, FindFirstFile});
    t.push_back({k, "FindNextFileA", 2, FindNextFile});
    t.push_back({k, "FindClose", 1, [](Call& c) { return Bool(FindClose(c.Handle(0))); }});
    t.push_back({k, "CreateFileA", 7, CreateFile});
    t.push_back({k, "WriteFile", 5, WriteFileThunk});
    t.push_back({k, "GetFileSize", 2, GetFileSizeThunk});
    t.push_back({k, "SetFilePointer", 4, SetFilePointerThunk});
    t.push_back({k, "SetEndOfFile", 1, [](Call& c) { return Bool(SetEndOfFile(c.Handle(0))); }});
    t.push_back({k, "CloseHandle", 1, CloseHandleThunk});
    t.push_back({k, "DeviceIoControl", 8, DeviceIoControlThunk});
    t.push_back({k, "GetWindowsDirectoryA", 2, GetWindowsDirectory});
    t.push_back({k, "GetCurrentDirectoryA", 2, GetCurrentDirectory});
    t.push_back({k, "GetModuleFileNameA", 3, GetModuleFileName});
    t.push_back({k, "CreateFileMappingA", 6, CreateFileMapping});
    t.push_back({k, "MapViewOfFile", 5, MapViewOfFileThunk});
    t.push_back({k, "FlushViewOfFile", 2, FlushViewOfFileThunk});
    t.push_back({k, "UnmapViewOfFile", 1, UnmapViewOfFileThunk});
    t.push_back({k, "GetFileAttributesA", 1,
                 [](Call& c) { return GetFileAttributesA(c.OptionalString(0)); }});
    t.push_back({k, "SetFileAttributesA", 2, [](Call& c) {
                     return Bool(SetFileAttributesA(c.OptionalString(0), c.Arg(1)));
                 }});
    t.push_back({k, "DeleteFileA", 1, [](Call& c) { return Bool(DeleteFileA(c.OptionalString(0))); }});
    t.push_back({k, "CopyFileA", 3, [](Call& c) {
                     const char* from = c.OptionalString(0);
                     return Bool(CopyFileA(from, c.OptionalString(1), c.Arg(2)));
                 }});
    t.push_back({k, "MoveFileA", 2, [](Call& c) {
                     const char* from = c.OptionalString(0);
                     return Bool(MoveFileA(from, c.OptionalString(1)));
                 }});
    t.push_back({k, "CreateDirectoryA", 2,
                 [](Call& c) { return Bool(CreateDirectoryA(c.OptionalString(0), nullptr)); }});
    t.push_back({k, "GetDriveTypeA", 1, [](Call& c) { return GetDriveTypeA(c.OptionalString(0)); }});
}

}  // namespace hostwin_pe
