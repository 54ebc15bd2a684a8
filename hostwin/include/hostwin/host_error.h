// Win32 error codes for host failures.
#ifndef HOSTWIN_HOST_ERROR_H
#define HOSTWIN_HOST_ERROR_H

#include <windows.h>

namespace hostwin {

// The Win32 error code that matches a host errno value.
DWORD ErrorFromErrno(int error);

// Sets the thread's last error and returns FALSE, for the many BOOL functions that fail.
inline BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace hostwin

#endif
