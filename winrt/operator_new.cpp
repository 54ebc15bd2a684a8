// operator new and delete over the process heap. The throwing forms end the process when the
// heap is exhausted (the programs do not catch std::bad_alloc); the nothrow forms return null.
#include <stddef.h>
#include <stdlib.h>

#include <new>

namespace {

void* AllocateOrAbort(size_t size) {
    void* block = malloc(size);
    if (!block) abort();
    return block;
}

}  // namespace

const std::nothrow_t std::nothrow{};

void* operator new(size_t size) { return AllocateOrAbort(size); }
void* operator new[](size_t size) { return AllocateOrAbort(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return malloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return malloc(size); }

void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { free(block); }
