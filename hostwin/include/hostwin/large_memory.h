// Memory for the large, long-lived parts of a loaded registry (keys, value lists, names and
// data). Page faults are what filling hundreds of megabytes costs most, on virtual
// machines above all: blocks of 2 MB and more are aligned to 2 MB and asked to be backed by
// huge pages, so one fault maps 2 MB instead of 4 KB. Memory is never zero-filled here: callers
// write before they read.
#ifndef HOSTWIN_LARGE_MEMORY_H
#define HOSTWIN_LARGE_MEMORY_H

#include <cstddef>
#include <vector>

namespace hostwin {

// bytes of raw memory: huge-page backed from 2 MB on, plain heap memory below. Throws
// std::bad_alloc. FreeLarge takes the same size back.
void* AllocateLarge(size_t bytes);
void FreeLarge(void* memory, size_t bytes);

// For std::vector: a long list (a key with a million subkeys) grows in huge pages too.
template <class T>
struct LargeAllocator {
    using value_type = T;
    LargeAllocator() = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(AllocateLarge(n * sizeof(T))); }
    void deallocate(T* p, size_t n) { FreeLarge(p, n * sizeof(T)); }
    friend bool operator==(const LargeAllocator&, const LargeAllocator&) { return true; }
    friend bool operator!=(const LargeAllocator&, const LargeAllocator&) { return false; }
};

// One block of raw memory: huge-page backed from 2 MB on, plain heap memory below.
class LargeBlock {
public:
    LargeBlock() = default;
    // Throws std::bad_alloc when the memory cannot be had.
    explicit LargeBlock(size_t bytes);
    ~LargeBlock();
    LargeBlock(LargeBlock&& other) noexcept;
    LargeBlock& operator=(LargeBlock&& other) noexcept;
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;

    char* Data() const { return data_; }
    size_t Size() const { return size_; }

private:
    void Release();
    char* data_ = nullptr;
    size_t size_ = 0;
};

// Bump allocation from blocks that never move and are freed all at once: the first block is
// small, each next one twice the last up to a few megabytes, so a small registry stays small
// and a large one lies in huge pages.
class Arena {
public:
    // bytes (a multiple of align, align a power of two up to 16), never zero-filled.
    void* Allocate(size_t bytes, size_t align);
    // Calls f(begin, used) for every block, in allocation order; objects of one size allocated
    // one after another lie back to back from begin.
    template <class F>
    void ForEachBlock(F f) const {
        for (const Block& b : blocks_) f(b.memory.Data(), b.used);
    }

private:
    struct Block {
        LargeBlock memory;
        size_t used;
    };
    std::vector<Block> blocks_;
};

}  // namespace hostwin

#endif
