// Plain text helpers shared by the programs, the Windows start-up code and hostwin: bounded,
// on zero-terminated 8-bit texts, and free of any header so that they build without a C
// runtime.
#ifndef COMMON_BOUNDED_TEXT_H
#define COMMON_BOUNDED_TEXT_H

namespace common {

// Whether part occurs in text, byte-wise and case-sensitive, as the C library's strstr finds
// it: the empty part is in every text. A null text or part contains nothing and is in nothing.
inline bool Contains(const char* text, const char* part) {
    if (!text || !part) return false;
    for (;; ++text) {
        const char* t = text;
        const char* p = part;
        while (*p && *t == *p) ++t, ++p;
        if (!*p) return true;
        if (!*text) return false;
    }
}

// Writes "directory\name" into out (size bytes with the zero). False, with out holding an
// empty text, when it does not fit or an argument is null.
inline bool JoinPath(char* out, unsigned long size, const char* directory, const char* name) {
    if (!out || size == 0) return false;
    out[0] = '\0';
    if (!directory || !name) return false;
    unsigned long n = 0;
    for (const char* s = directory; *s; ++s) {
        if (n + 1 >= size) return out[0] = '\0', false;
        out[n++] = *s;
    }
    if (n + 1 >= size) return out[0] = '\0', false;
    out[n++] = '\\';
    for (const char* s = name; *s; ++s) {
        if (n + 1 >= size) return out[0] = '\0', false;
        out[n++] = *s;
    }
    out[n] = '\0';
    return true;
}

}  // namespace common

#endif
