#include "hostwin/large_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace hostwin {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kFirstArenaBlock = size_t{16} << 10;
constexpr size_t kLargestArenaBlock = size_t{4} << 20;

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

}  // namespace

void* AllocateLarge(size_t bytes) {
    if (bytes < kHugePage) {
        void* memory = std::malloc(bytes ? bytes : 1);
        if (!memory) throw std::bad_alloc();
        return memory;
    }
    // Map one huge page more than needed and cut the unaligned head and tail away.
    const size_t size = RoundUp(bytes, kHugePage);
    void* mapped = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    char* start = static_cast<char*>(mapped);
    char* aligned = reinterpret_cast<char*>(RoundUp(reinterpret_cast<uintptr_t>(start), kHugePage));
    if (aligned > start) ::munmap(start, static_cast<size_t>(aligned - start));
    char* end = aligned + size;
    const size_t tail = static_cast<size_t>(start + size + kHugePage - end);
    if (tail) ::munmap(end, tail);
    ::madvise(aligned, size, MADV_HUGEPAGE);  // a hint: without huge pages it works all the same
    return aligned;
}

void FreeLarge(void* memory, size_t bytes) {
    if (!memory) return;
    if (bytes < kHugePage)
        std::free(memory);
    else
        ::munmap(memory, RoundUp(bytes, kHugePage));
}

LargeBlock::LargeBlock(size_t bytes) : data_(static_cast<char*>(AllocateLarge(bytes))), size_(bytes) {}

LargeBlock::~LargeBlock() { Release(); }

LargeBlock::LargeBlock(LargeBlock&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
}

LargeBlock& LargeBlock::operator=(LargeBlock&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = other.data_;
        size_ = other.size_;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

void LargeBlock::Release() {
    FreeLarge(data_, size_);
    data_ = nullptr;
    size_ = 0;
}

void* Arena::Allocate(size_t bytes, size_t align) {
    if (!blocks_.empty()) {
        Block& last = blocks_.back();
        const size_t at = RoundUp(last.used, align);
        if (at + bytes <= last.memory.Size()) {
            last.used = at + bytes;
            return last.memory.Data() + at;
        }
    }
    size_t size = blocks_.empty() ? kFirstArenaBlock : blocks_.back().memory.Size() * 2;
    if (size > kLargestArenaBlock) size = kLargestArenaBlock;
    if (size < bytes) size = bytes;
    blocks_.push_back(Block{LargeBlock(size), bytes});
    return blocks_.back().memory.Data();
}

}  // namespace hostwin
