// lstrlenA, CompareStringA (kernel32) and wsprintfA (user32).
#include <cstdio>
#include <cstring>

#include "hostwin/host_error.h"

namespace {

unsigned char FoldForCompare(unsigned char c, DWORD flags) {
    if ((flags & NORM_IGNORECASE) && c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    return c;
}

}  // namespace

extern "C" int WINAPI lstrlenA(LPCSTR lpString) {
    return lpString ? static_cast<int>(std::strlen(lpString)) : 0;
}

extern "C" int WINAPI CompareStringA(LCID, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1,
                                     LPCSTR lpString2, int cchCount2) {
    const DWORD known = NORM_IGNORECASE | NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS |
                        NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH;
    if (!lpString1 || !lpString2 || (dwCmpFlags & ~known)) {
        SetLastError(!lpString1 || !lpString2 ? ERROR_INVALID_PARAMETER : ERROR_INVALID_FLAGS);
        return 0;
    }
    // A negative count means "up to the zero"; a count stops early at a zero as well.
    size_t n1 = cchCount1 < 0 ? std::strlen(lpString1) : strnlen(lpString1, static_cast<size_t>(cchCount1));
    size_t n2 = cchCount2 < 0 ? std::strlen(lpString2) : strnlen(lpString2, static_cast<size_t>(cchCount2));
    for (size_t i = 0; i < n1 && i < n2; ++i) {
        unsigned char a = FoldForCompare(static_cast<unsigned char>(lpString1[i]), dwCmpFlags);
        unsigned char b = FoldForCompare(static_cast<unsigned char>(lpString2[i]), dwCmpFlags);
        if (a != b) return a < b ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
    }
    if (n1 == n2) return CSTR_EQUAL;
    return n1 < n2 ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}
