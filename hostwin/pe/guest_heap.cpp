#include "guest_heap.h"

#include <algorithm>
#include <vector>

namespace hostwin_pe {

namespace {

uint64_t Round(uint64_t size) { return std::max<uint64_t>(8, (size + 7) & ~uint64_t(7)); }

}  // namespace

GuestHeap::GuestHeap(GuestMemory& memory, uint32_t base, uint32_t size)
    : memory_(memory), base_(base) {
    // The first bytes stay unused so that no block sits at the heap's handle value.
    free_[base + 16] = size - 16;
}

uint32_t GuestHeap::Alloc(uint32_t size, bool zero) {
    const uint64_t length = Round(size);
    for (auto it = free_.begin(); it != free_.end(); ++it) {
        if (it->second < length) continue;
        const uint32_t block = it->first;
        const uint32_t rest = static_cast<uint32_t>(it->second - length);
        free_.erase(it);
        if (rest) free_[static_cast<uint32_t>(block + length)] = rest;
        used_[block] = static_cast<uint32_t>(length);
        asked_[block] = size;
        if (zero) {
            const std::vector<char> zeros(static_cast<size_t>(length), 0);
            memory_.Write(block, zeros.data(), zeros.size());
        }
        return block;
    }
    return 0;
}

void GuestHeap::Release(uint32_t block, uint32_t length) {
    auto next = free_.lower_bound(block);
    if (next != free_.end() && block + length == next->first) {
        length += next->second;
        next = free_.erase(next);
    }
    if (next != free_.begin()) {
        auto previous = std::prev(next);
        if (previous->first + previous->second == block) {
            previous->second += length;
            return;
        }
    }
    free_[block] = length;
}

bool GuestHeap::Free(uint32_t block) {
    auto it = used_.find(block);
    if (it == used_.end()) return false;
    const uint32_t length = it->second;
    used_.erase(it);
    asked_.erase(block);
    Release(block, length);
    return true;
}

uint32_t GuestHeap::ReAlloc(uint32_t block, uint32_t size, bool zero, bool inPlace) {
    auto it = used_.find(block);
    if (it == used_.end()) return 0;
    const uint32_t oldSize = asked_[block];
    const uint64_t length = Round(size);
    if (length <= it->second) {  // shrinks in place; the tail goes back to the heap
        const uint32_t tail = static_cast<uint32_t>(it->second - length);
        it->second = static_cast<uint32_t>(length);
        if (tail) Release(static_cast<uint32_t>(block + length), tail);
    } else {
        auto next = free_.find(block + it->second);
        const uint64_t extra = length - it->second;
        if (next != free_.end() && next->second >= extra) {  // grows into the free block after it
            const uint32_t rest = static_cast<uint32_t>(next->second - extra);
            free_.erase(next);
            if (rest) free_[static_cast<uint32_t>(block + length)] = rest;
            it->second = static_cast<uint32_t>(length);
        } else {
            if (inPlace) return 0;
            const uint32_t moved = Alloc(size, false);
            if (!moved) return 0;
            const std::vector<char> bytes = memory_.ReadBuffer(block, std::min(oldSize, size));
            memory_.Write(moved, bytes.data(), bytes.size());
            Free(block);
            block = moved;
        }
    }
    asked_[block] = size;
    if (zero && size > oldSize) {
        const std::vector<char> zeros(size - oldSize, 0);
        memory_.Write(block + oldSize, zeros.data(), zeros.size());
    }
    return block;
}

uint32_t GuestHeap::SizeOf(uint32_t block) const {
    auto it = asked_.find(block);
    return it == asked_.end() ? 0xFFFFFFFFu : it->second;
}

}  // namespace hostwin_pe
