// The cleaner's life, its log and the names of the registry roots.
#include "driver_cleaner.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

CDriverCleaner::CDriverCleaner() : logCallback(nullptr), windowsDirectory(nullptr) {
    windowsDirectory = new (std::nothrow) char[kPathBufferSize];
    if (windowsDirectory) {
        windowsDirectory[0] = '\0';
        UINT length = GetWindowsDirectoryA(windowsDirectory, kPathBufferSize);
        // A failed query, or a directory that does not fit, leaves no usable directory.
        if (length == 0 || length >= kPathBufferSize) windowsDirectory[0] = '\0';
    }
}

CDriverCleaner::~CDriverCleaner() { delete[] windowsDirectory; }

const char* CDriverCleaner::WindowsDirectory() const {
    return windowsDirectory && windowsDirectory[0] ? windowsDirectory : nullptr;
}

void CDriverCleaner::Log(const char* text) {
    if (logCallback) logCallback(text);
}

void CDriverCleaner::SetLogCallback(LogCallback callback) { logCallback = callback; }

void CDriverCleaner::LogFormatted(const char* format, ...) {
    char line[kLogLineBufferSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    Log(line);
}

int CDriverCleaner::GetRootKeyName(HKEY root, char* buffer, int bufferSize) {
    if (!buffer && bufferSize == 0) return 0;
    const char* name = "";
    if (root == HKEY_CLASSES_ROOT)
        name = "HKEY_CLASSES_ROOT";
    else if (root == HKEY_CURRENT_USER)
        name = "HKEY_CURRENT_USER";
    else if (root == HKEY_LOCAL_MACHINE)
        name = "HKEY_LOCAL_MACHINE";
    else if (root == HKEY_USERS)
        name = "HKEY_USERS";
    else if (root == HKEY_CURRENT_CONFIG)
        name = "HKEY_CURRENT_CONFIG";
    else if (root == HKEY_DYN_DATA)
        name = "HKEY_DYN_DATA";
    // A bounded copy: zero-padded when shorter, not terminated when the name fills the buffer.
    if (buffer && bufferSize > 0) std::strncpy(buffer, name, static_cast<size_t>(bufferSize));
    return static_cast<int>(std::strlen(name));
}
