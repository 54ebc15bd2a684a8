// The command-line tail that Windows start-up code hands to WinMain: the command line without
// the program's name and without the blanks that follow it. A quoted name ends at its closing
// quote, even when no blank follows ("C:\Silent\unpellam.exe"now gives "now"); an unquoted one
// ends at the first byte up to 0x20. The blanks skipped after the name are the bytes from 0x01
// to 0x20.
//
// Shared by the Windows start-up code (winrt/startup.cpp) and hostwin's program bridge, so that
// both builds hand WinMain the same text. Free of any header so that it builds without a C
// runtime.
#ifndef COMMON_COMMAND_LINE_TAIL_H
#define COMMON_COMMAND_LINE_TAIL_H

namespace common {

// Returns a pointer into commandLine (never null; a null commandLine gives an empty text).
inline const char* CommandLineTail(const char* commandLine) {
    if (!commandLine) return "";
    const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p > ' ') ++p;
    }
    while (*p && *p <= ' ') ++p;
    return reinterpret_cast<const char*>(p);
}

inline char* CommandLineTail(char* commandLine) {
    return const_cast<char*>(CommandLineTail(static_cast<const char*>(commandLine)));
}

}  // namespace common

#endif
