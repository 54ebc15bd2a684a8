// GetVersionExA (kernel32): the version record of the release that machine.ini names.
#include <cstring>

#include "hostwin/host_error.h"
#include "hostwin/machine.h"

extern "C" BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    if (!lpVersionInformation) return hostwin::Fail(ERROR_INVALID_PARAMETER);
    // The caller states the record's size; only the plain record (148 bytes) and the
    // extended one (156 bytes) are accepted, as Windows does.
    const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOA) + 8)
        return hostwin::Fail(ERROR_INSUFFICIENT_BUFFER);
    const hostwin::VersionRecord& v = hostwin::Machine::Current().Version();
    lpVersionInformation->dwMajorVersion = v.major;
    lpVersionInformation->dwMinorVersion = v.minor;
    lpVersionInformation->dwBuildNumber = v.build;
    lpVersionInformation->dwPlatformId = v.platformId;
    std::memset(lpVersionInformation->szCSDVersion, 0, sizeof lpVersionInformation->szCSDVersion);
    std::strncpy(lpVersionInformation->szCSDVersion, v.csdVersion,
                 sizeof lpVersionInformation->szCSDVersion - 1);
    return TRUE;
}
