// A kernel handle that a test closes when it leaves, so that no open file outlives the
// scratch machine it belongs to.
#ifndef TESTS_HOSTWIN_OPEN_HANDLE_H
#define TESTS_HOSTWIN_OPEN_HANDLE_H

#include <windows.h>

struct OpenHandle {
    HANDLE h;
    explicit OpenHandle(HANDLE handle) : h(handle) {}
    ~OpenHandle() { Close(); }
    OpenHandle(const OpenHandle&) = delete;
    OpenHandle& operator=(const OpenHandle&) = delete;
    bool valid() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    void Close() {
        if (valid()) CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
};

inline HANDLE OpenFile(const char* path, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags = 0) {
    return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}

#endif
