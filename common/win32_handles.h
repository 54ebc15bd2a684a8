// Owners of the Win32 handles the programs open: a kernel object (file, process, thread,
// token), a file search and a registry key. Each closes its handle with the call Windows pairs
// with the open.
#ifndef COMMON_WIN32_HANDLES_H
#define COMMON_WIN32_HANDLES_H

#include <windows.h>

#include "common/unique_handle.h"

namespace common {

// A kernel object whose "no handle" value is null (processes, threads, tokens, mappings).
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type handle) { CloseHandle(handle); }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

// A file opened with CreateFileA, whose "no handle" value is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) { CloseHandle(handle); }
};
using FileHandle = UniqueHandle<FileHandleTraits>;

// A search of FindFirstFileA.
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) { FindClose(handle); }
};
using FindHandle = UniqueHandle<FindHandleTraits>;

// A registry key opened by the program (never a predefined root).
struct RegistryKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type key) { RegCloseKey(key); }
};
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

}  // namespace common

#endif
