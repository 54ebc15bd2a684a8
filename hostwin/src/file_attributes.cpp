// GetFileAttributesA, SetFileAttributesA (kernel32), over the attribute store.
#include <cstdio>

#include "attributes.h"
#include "drives.h"
#include "host_error.h"
#include "journal.h"
#include "machine.h"
#include "win_path.h"

using namespace hostwin;

namespace {

// Resolves an existing file or directory; on failure sets the last error.
bool ResolveExisting(LPCSTR path, ResolvedPath& resolved) {
    DWORD error = ResolvePath(path, resolved);
    if (error == ERROR_SUCCESS && !resolved.exists)
        error = resolved.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    if (error != ERROR_SUCCESS) SetLastError(error);
    return error == ERROR_SUCCESS;
}

}  // namespace

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    ResolvedPath resolved;
    if (!ResolveExisting(lpFileName, resolved)) return INVALID_FILE_ATTRIBUTES;
    return ReportedAttributes(resolved.windows, resolved.isDirectory);
}

extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    ResolvedPath resolved;
    if (!ResolveExisting(lpFileName, resolved)) return FALSE;
    AttributeStore& store = Machine::Current().Attributes();
    const DWORD before = store.Get(resolved.windows);
    const DWORD after = dwFileAttributes & kStoredAttributeMask;
    if (before == after) return TRUE;
    const bool ok = !IsWriteProtectedDrive(resolved.drive);
    if (ok) store.Set(resolved.windows, after);
    char bits[16];
    std::snprintf(bits, sizeof bits, "0x%X", static_cast<unsigned>(after));
    JournalEvent("file-attributes")
        .Text("path", resolved.windows)
        .Text("attributes", bits)
        .Result(ok, ERROR_ACCESS_DENIED)
        .Write();
    return ok ? TRUE : Fail(ERROR_ACCESS_DENIED);
}
