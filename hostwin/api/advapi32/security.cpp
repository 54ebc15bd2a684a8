// Thread tokens and privileges (advapi32). The 9x family has no security tokens; the NT family
// has them, but a thread that impersonates nobody has none.
#include <cstring>

#include "hostwin/host_error.h"
#include "hostwin/machine.h"

using namespace hostwin;

namespace {

// The locally unique identifiers of the privileges that Windows NT numbers this way.
struct Privilege {
    const char* name;
    DWORD luid;
};
const Privilege kPrivileges[] = {
    {"SeShutdownPrivilege", 19},
    {"SeRemoteShutdownPrivilege", 24},
    {"SeDebugPrivilege", 20},
    {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},
};

}  // namespace

extern "C" BOOL WINAPI OpenThreadToken(HANDLE ThreadHandle, DWORD, BOOL, PHANDLE TokenHandle) {
    if (!Machine::Current().IsWin9x() && ThreadHandle != GetCurrentThread())
        return Fail(ERROR_INVALID_HANDLE);
    if (TokenHandle) *TokenHandle = nullptr;
    return Fail(Machine::Current().IsWin9x() ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_NO_TOKEN);
}

extern "C" BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
    if (Machine::Current().IsWin9x()) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    if (lpSystemName && *lpSystemName) return Fail(ERROR_INVALID_PARAMETER);
    if (!lpName || !lpLuid) return Fail(ERROR_INVALID_PARAMETER);
    for (const Privilege& p : kPrivileges)
        if (std::strcmp(p.name, lpName) == 0) {
            lpLuid->LowPart = p.luid;
            lpLuid->HighPart = 0;
            return TRUE;
        }
    return Fail(ERROR_NO_SUCH_PRIVILEGE);
}

extern "C" BOOL WINAPI AdjustTokenPrivileges(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD,
                                             PTOKEN_PRIVILEGES, PDWORD) {
    // No token can be opened here, so every handle passed in is invalid.
    if (Machine::Current().IsWin9x()) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    return Fail(ERROR_INVALID_HANDLE);
}
