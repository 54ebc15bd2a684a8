// Bounded formatting (user32).
#include <windows.h>

#include <cstdarg>
#include <cstdio>

// wsprintfA writes at most 1024 characters including the terminating zero, as on Windows.
extern "C" int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
    if (!lpOut || !lpFmt) return 0;
    va_list args;
    va_start(args, lpFmt);
    int n = std::vsnprintf(lpOut, 1024, lpFmt, args);
    va_end(args);
    if (n < 0) {
        lpOut[0] = '\0';
        return 0;
    }
    return n > 1023 ? 1023 : n;
}
