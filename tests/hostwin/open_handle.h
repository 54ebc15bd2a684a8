// A kernel handle closed when the test leaves, so no open file outlives its scratch machine.
#ifndef TESTS_HOSTWIN_OPEN_HANDLE_H
#define TESTS_HOSTWIN_OPEN_HANDLE_H

#include <windows.h>

struct OpenHandle {
    HANDLE h;
    explicit OpenHandle(HANDLE handle) : h(handle) {}
    OpenHandle(const OpenHandle&) = delete;
    ~OpenHandle() { Close(); }
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
