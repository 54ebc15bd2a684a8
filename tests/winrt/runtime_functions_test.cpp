// The C functions of the Windows build's runtime (winrt/), compiled here under other names so
// that they do not replace the host's C library.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#define memcpy WinrtMemcpy
#define memmove WinrtMemmove
#define memset WinrtMemset
#define memcmp WinrtMemcmp
#define memchr WinrtMemchr
#include "memory.cpp"
#undef memcpy
#undef memmove
#undef memset
#undef memcmp
#undef memchr

#define strlen WinrtStrlen
#define strcmp WinrtStrcmp
#define strncmp WinrtStrncmp
#define strcpy WinrtStrcpy
#define strncpy WinrtStrncpy
#define strchr WinrtStrchr
#define strrchr WinrtStrrchr
#define strstr WinrtStrstr
#include "string.cpp"
#undef strlen
#undef strcmp
#undef strncmp
#undef strcpy
#undef strncpy
#undef strchr
#undef strrchr
#undef strstr

#include "format.cpp"

namespace {

int Format(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = __mingw_vsnprintf(buffer, size, format, args);
    va_end(args);
    return length;
}

TEST(WinrtFormat, WritesBoundedAndReportsTheFullLength) {
    char out[16];
    struct Case {
        size_t size;
        const char* expected;
        int length;
    } cases[] = {
        {sizeof out, "C:\\W\\inf -7 ff", 14},
        {8, "C:\\W\\in", 14},  // cut, still terminated
        {1, "", 14},
    };
    for (const Case& c : cases) {
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(c.length, Format(out, c.size, "%s\\inf %d %x", "C:\\W", -7, 255u)) << c.size;
        EXPECT_STREQ(c.expected, out) << c.size;
        if (c.size < sizeof out) {
            EXPECT_EQ('#', out[c.size]) << "wrote past the buffer";
        }
    }
    EXPECT_EQ(3, Format(nullptr, 0, "%s", "abc"));
}

TEST(WinrtFormat, Conversions) {
    struct Case {
        std::string expected;
        std::string actual;
    };
    char b[64];
    std::vector<Case> cases;
    auto add = [&](const char* expected, int) { cases.push_back({expected, b}); };
    add("-2147483648|4294967295", Format(b, sizeof b, "%ld|%lu", -2147483647L - 1, 4294967295UL));
    add("  42|42  |0042|2A|%|x", Format(b, sizeof b, "%4d|%-4d|%04u|%X|%%|%c", 42, 42, 42u, 42u, 'x'));
    add("(null)|  ab", Format(b, sizeof b, "%s|%4s", static_cast<const char*>(nullptr), "ab"));
    add("50%%q", Format(b, sizeof b, "50%%%q"));
    add("end", Format(b, sizeof b, "end%"));
    for (const Case& c : cases) EXPECT_EQ(c.expected, c.actual);
}

TEST(WinrtMemory, MoveHandlesOverlapBothWays) {
    char forward[] = "abcdefgh";
    WinrtMemmove(forward + 2, forward, 5);
    EXPECT_STREQ("ababcdeh", forward);
    char backward[] = "abcdefgh";
    WinrtMemmove(backward, backward + 2, 5);
    EXPECT_STREQ("cdefgfgh", backward);
    unsigned char high[] = {0x80, 0x01};
    unsigned char low[] = {0x01, 0x01};
    EXPECT_GT(WinrtMemcmp(high, low, 2), 0);  // unsigned bytes
    EXPECT_EQ(0, WinrtMemcmp(high, low, 0));
    EXPECT_EQ(high + 1, WinrtMemchr(high, 0x101, 2));  // the value is taken as a byte
    char filled[4] = {};
    WinrtMemset(filled, 0x141, 3);
    EXPECT_STREQ("AAA", filled);
}

TEST(WinrtString, SearchesCopiesAndCompares) {
    EXPECT_STREQ("dev_0003 now", WinrtStrstr("all dev_0003 now", "dev_0003"));
    EXPECT_EQ(nullptr, WinrtStrstr("dev_000", "dev_0003"));
    EXPECT_STREQ("abc", WinrtStrstr("abc", ""));
    EXPECT_STREQ("\\c.exe", WinrtStrrchr("a\\b\\c.exe", '\\'));
    EXPECT_STREQ("", WinrtStrchr("abc", '\0'));
    EXPECT_EQ(nullptr, WinrtStrchr("abc", 'z'));
    char padded[6];
    std::memset(padded, '#', sizeof padded);
    WinrtStrncpy(padded, "ab", 5);
    EXPECT_EQ(0, std::memcmp(padded, "ab\0\0\0#", 6));
    WinrtStrncpy(padded, "abcdefgh", 5);
    EXPECT_EQ(0, std::memcmp(padded, "abcde#", 6));  // not terminated when the text fills it
    EXPECT_GT(WinrtStrcmp("\x80", "a"), 0);
    EXPECT_LT(WinrtStrcmp("ab", "abc"), 0);
    EXPECT_EQ(0, WinrtStrncmp("abcX", "abcY", 3));
    EXPECT_EQ(0, WinrtStrncmp("ab", "ab", 10));
    EXPECT_EQ(5u, WinrtStrlen("hello"));
}

}  // namespace
