// GetWindowsDirectoryA, GetCurrentDirectoryA (kernel32).
#include <cstring>
#include <string>

#include "hostwin/machine.h"
#include "hostwin/win_path.h"

namespace {

// Copies text when it fits with its zero: returns its length; else returns the size needed.
DWORD CopyOut(const std::string& text, LPSTR buffer, DWORD size) {
    const DWORD length = static_cast<DWORD>(text.size());
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return length;
}

}  // namespace

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return CopyOut(hostwin::Machine::Current().WindowsDirectory(), lpBuffer, uSize);
}

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    return CopyOut(hostwin::CurrentDirectory(hostwin::Machine::Current()), lpBuffer, nBufferLength);
}
