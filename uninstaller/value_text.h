// The text of a registry string value as read into a buffer: the data returned, up to their
// first zero byte or, for a value stored without its terminating zero, up to their end. The
// confirmation's warning texts and the registry walks read values by this one rule.
#ifndef UNINSTALLER_VALUE_TEXT_H
#define UNINSTALLER_VALUE_TEXT_H

#include <windows.h>

#include <cstddef>
#include <cstring>

// The length of the text in size bytes of data.
inline size_t ValueTextLength(const char* data, DWORD size) {
    const void* zero = std::memchr(data, '\0', size);
    return zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : size;
}

#endif
