// malloc, calloc, realloc and free over the process heap, for the C++ support library (exception
// objects, thread-local records) and operator new.
#include <windows.h>

#include <stddef.h>

extern "C" void* malloc(size_t size) {
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

extern "C" void* calloc(size_t count, size_t size) {
    // Refuse a product that does not fit in size_t rather than allocate a short block.
    if (size && count > static_cast<size_t>(-1) / size) return nullptr;
    const size_t total = count * size;
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, total ? total : 1);
}

extern "C" void free(void* block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

extern "C" void* realloc(void* block, size_t size) {
    if (!block) return malloc(size);
    if (size == 0) {
        free(block);
        return nullptr;
    }
    // HeapReAlloc keeps the block when it fails, as realloc must.
    return HeapReAlloc(GetProcessHeap(), 0, block, size);
}
