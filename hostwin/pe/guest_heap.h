// The process heap inside guest memory (HeapAlloc, HeapReAlloc, HeapFree): first fit over a
// fixed region, with the block table kept on the host side so a guest that writes past a block
// cannot corrupt the allocator.
#ifndef HOSTWIN_PE_GUEST_HEAP_H
#define HOSTWIN_PE_GUEST_HEAP_H

#include <cstdint>
#include <map>

#include "guest_memory.h"

namespace hostwin_pe {

class GuestHeap {
public:
    GuestHeap(GuestMemory& memory, uint32_t base, uint32_t size);
    uint32_t Handle() const { return base_; }
    // A block of at least size bytes (8-byte aligned), zeroed when asked; 0 when full.
    uint32_t Alloc(uint32_t size, bool zero);
    // False for an address that is no block of this heap.
    bool Free(uint32_t block);
    // The block grown or shrunk, keeping its bytes; 0 (the block kept) when no room, when it
    // would have to move and inPlace forbids that, or for an unknown block.
    uint32_t ReAlloc(uint32_t block, uint32_t size, bool zero, bool inPlace = false);
    // The size asked for of a block, or -1 (as HeapSize) for an unknown one.
    uint32_t SizeOf(uint32_t block) const;

private:
    void Release(uint32_t block, uint32_t length);
    GuestMemory& memory_;
    uint32_t base_;
    std::map<uint32_t, uint32_t> used_;  // block -> length (rounded)
    std::map<uint32_t, uint32_t> asked_;  // block -> size asked for
    std::map<uint32_t, uint32_t> free_;  // start -> length
};

}  // namespace hostwin_pe

#endif
