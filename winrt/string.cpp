// The string functions that the programs and the C++ support library call. Comparisons are by
// unsigned byte, as the C library's are.
#include <stddef.h>

extern "C" {

size_t strlen(const char* text) {
    size_t length = 0;
    while (text[length]) ++length;
    return length;
}

int strcmp(const char* left, const char* right) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(left);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(right);
    while (*a && *a == *b) ++a, ++b;
    return *a < *b ? -1 : *a > *b;
}

int strncmp(const char* left, const char* right, size_t count) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(left);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(right);
    for (; count; --count, ++a, ++b) {
        if (*a != *b) return *a < *b ? -1 : 1;
        if (!*a) break;
    }
    return 0;
}

char* strcpy(char* destination, const char* source) {
    char* to = destination;
    while ((*to++ = *source++)) {
    }
    return destination;
}

// Copies at most count bytes and pads with zeros; not terminated when source fills count.
char* strncpy(char* destination, const char* source, size_t count) {
    size_t i = 0;
    for (; i < count && source[i]; ++i) destination[i] = source[i];
    for (; i < count; ++i) destination[i] = '\0';
    return destination;
}

char* strchr(const char* text, int character) {
    const char wanted = static_cast<char>(character);
    for (;; ++text) {
        if (*text == wanted) return const_cast<char*>(text);
        if (!*text) return nullptr;
    }
}

char* strrchr(const char* text, int character) {
    const char wanted = static_cast<char>(character);
    const char* last = nullptr;
    for (;; ++text) {
        if (*text == wanted) last = text;
        if (!*text) return const_cast<char*>(last);
    }
}

char* strstr(const char* text, const char* word) {
    if (!*word) return const_cast<char*>(text);
    for (; *text; ++text) {
        size_t i = 0;
        while (word[i] && text[i] == word[i]) ++i;
        if (!word[i]) return const_cast<char*>(text);
    }
    return nullptr;
}

}  // extern "C"
