// GetFileAttributesA, SetFileAttributesA (kernel32), over the attribute store.
#include <cstdio>

#include "hostwin/attributes.h"
#include "hostwin/drives.h"
#include "hostwin/host_error.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "hostwin/win_path.h"

using namespace hostwin;

namespace {

// Resolves an existing file or directory; on failure sets the last error.
bool ResolveExisting(LPCSTR path, ResolvedPath& resolved) {
    DWORD error = ResolvePath(Machine::Current(), path, resolved);
    if (error == ERROR_SUCCESS && !resolved.exists)
        error = resolved.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    if (error != ERROR_SUCCESS) SetLastError(error);
    return error == ERROR_SUCCESS;
}

}  // namespace

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    ResolvedPath resolved;
    if (!ResolveExisting(lpFileName, resolved)) return INVALID_FILE_ATTRIBUTES;
    return ReportedAttributes(Machine::Current(), resolved.windows, resolved.isDirectory);
}

extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    ResolvedPath resolved;
    if (!ResolveExisting(lpFileName, resolved)) return FALSE;
    AttributeStore& store = Machine::Current().Attributes();
    const DWORD before = store.Get(resolved.windows);
    const DWORD after = dwFileAttributes & kStoredAttributeMask;
    // A medium that cannot be written refuses every change, also one that changes nothing.
    const bool writeProtected = IsWriteProtectedDrive(Machine::Current(), resolved.drive);
    if (before == after && !writeProtected) return TRUE;
    const DWORD error =
        writeProtected ? WriteProtectError(Machine::Current(), resolved.drive) : ERROR_SUCCESS;
    if (!writeProtected) store.Set(resolved.windows, after);
    char bits[16];
    std::snprintf(bits, sizeof bits, "0x%X", static_cast<unsigned>(after));
    JournalEvent("file-attributes")
        .Text("path", resolved.windows)
        .Text("attributes", bits)
        .Result(!writeProtected, error)
        .Write();
    return writeProtected ? Fail(error) : TRUE;
}
