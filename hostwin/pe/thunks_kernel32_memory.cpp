// KERNEL32 process heap, thread-local storage and semaphores. The heap lives in guest memory;
// TLS slots and semaphores are kept by the runner (the program has one thread, so a semaphore
// wait that would block can never be released and fails instead of hanging).
#include "thunks.h"

namespace hostwin_pe {

namespace {

constexpr uint32_t kHeapZeroMemory = 0x08;
constexpr uint32_t kHeapReAllocInPlaceOnly = 0x10;
constexpr unsigned kTlsSlots = 80;  // TLS_MINIMUM_AVAILABLE on Windows 95

bool IsProcessHeap(Call& c) {
    if (c.Arg(0) == c.p.heap->Handle()) return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

uint32_t HeapAllocThunk(Call& c) {
    if (!IsProcessHeap(c)) return 0;
    return c.p.heap->Alloc(c.Arg(2), (c.Arg(1) & kHeapZeroMemory) != 0);
}

uint32_t HeapFreeThunk(Call& c) {
    if (!IsProcessHeap(c)) return 0;
    if (c.Arg(2) == 0 || c.p.heap->Free(c.Arg(2))) return 1;
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

uint32_t HeapReAllocThunk(Call& c) {
    if (!IsProcessHeap(c)) return 0;
    const uint32_t flags = c.Arg(1);
    return c.p.heap->ReAlloc(c.Arg(2), c.Arg(3), (flags & kHeapZeroMemory) != 0,
                             (flags & kHeapReAllocInPlaceOnly) != 0);
}

uint32_t TlsAllocThunk(Call& c) {
    if (c.p.tlsUsed.empty()) {
        c.p.tlsUsed.assign(kTlsSlots, false);
        c.p.tlsSlots.assign(kTlsSlots, 0);
    }
    for (uint32_t i = 0; i < kTlsSlots; ++i)
        if (!c.p.tlsUsed[i]) {
            c.p.tlsUsed[i] = true;
            c.p.tlsSlots[i] = 0;
            return i;
        }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return 0xFFFFFFFFu;  // TLS_OUT_OF_INDEXES
}

bool ValidSlot(Call& c, uint32_t slot) {
    if (slot < c.p.tlsUsed.size() && c.p.tlsUsed[slot]) return true;
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

uint32_t CreateSemaphoreThunk(Call& c) {
    const int32_t initial = static_cast<int32_t>(c.Arg(1));
    const int32_t maximum = static_cast<int32_t>(c.Arg(2));
    if (c.Arg(3) || maximum <= 0 || initial < 0 || initial > maximum) {
        SetLastError(c.Arg(3) ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
        return 0;
    }
    const uint32_t handle = c.p.NewOwnHandle();
    c.p.semaphores[handle] = {initial, maximum};
    return handle;
}

uint32_t ReleaseSemaphoreThunk(Call& c) {
    auto it = c.p.semaphores.find(c.Arg(0));
    if (it == c.p.semaphores.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const int32_t add = static_cast<int32_t>(c.Arg(1));
    if (add <= 0 || add > it->second.maximum - it->second.count) {
        SetLastError(ERROR_INVALID_PARAMETER);  // ERROR_TOO_MANY_POSTS on NT
        return 0;
    }
    if (c.Arg(2)) c.p.memory.Write32(c.Arg(2), static_cast<uint32_t>(it->second.count));
    it->second.count += add;
    return 1;
}

}  // namespace

bool CloseOwnHandle(Process& p, uint32_t handle) { return p.semaphores.erase(handle) > 0; }

bool WaitOwnHandle(Process& p, uint32_t handle, uint32_t& result) {
    auto it = p.semaphores.find(handle);
    if (it == p.semaphores.end()) return false;
    if (it->second.count > 0) {
        --it->second.count;
        result = WAIT_OBJECT_0;
    } else {
        result = WAIT_TIMEOUT;
    }
    return true;
}

void AddKernel32MemoryThunks(std::vector<Thunk>& t) {
    const char* k = "KERNEL32.dll";
    t.push_back({k, "GetProcessHeap", 0, [](Call& c) { return c.p.heap->Handle(); }});
    t.push_back({k, "HeapAlloc", 3, HeapAllocThunk});
    t.push_back({k, "HeapFree", 3, HeapFreeThunk});
    t.push_back({k, "HeapReAlloc", 4, HeapReAllocThunk});
    t.push_back({k, "TlsAlloc", 0, TlsAllocThunk});
    t.push_back({k, "TlsFree", 1, [](Call& c) -> uint32_t {
                     if (!ValidSlot(c, c.Arg(0))) return 0;
                     c.p.tlsUsed[c.Arg(0)] = false;
                     return 1;
                 }});
    t.push_back({k, "TlsGetValue", 1, [](Call& c) -> uint32_t {
                     if (!ValidSlot(c, c.Arg(0))) return 0;
                     SetLastError(ERROR_SUCCESS);
                     return c.p.tlsSlots[c.Arg(0)];
                 }});
    t.push_back({k, "TlsSetValue", 2, [](Call& c) -> uint32_t {
                     if (!ValidSlot(c, c.Arg(0))) return 0;
                     c.p.tlsSlots[c.Arg(0)] = c.Arg(1);
                     return 1;
                 }});
    t.push_back({k, "CreateSemaphoreA", 4, CreateSemaphoreThunk});
    t.push_back({k, "ReleaseSemaphore", 3, ReleaseSemaphoreThunk});
}

}  // namespace hostwin_pe
