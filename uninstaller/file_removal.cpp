// DeleteFilesMatching: deletes the files of one directory that match a wildcard pattern.
#include "common/bounded_text.h"
#include "common/win32_handles.h"
#include "driver_cleaner.h"

namespace {

const DWORD kResetAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const DWORD kSkippedEntries = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_OFFLINE;

// Formats "directory\name" into a path buffer; false when it does not fit.
bool JoinPath(char (&path)[kPathBufferSize], const char* directory, const char* name) {
    return common::JoinPath(path, sizeof path, directory, name);
}

}  // namespace

void CDriverCleaner::DeleteFilesMatching(const char* directory, const char* pattern) {
    char path[kPathBufferSize];
    // A search text that does not fit is not searched at all: a cut pattern could match
    // files that the caller never named.
    if (!directory || !pattern || !JoinPath(path, directory, pattern)) return;

    WIN32_FIND_DATAA found;
    const common::FindHandle search(FindFirstFileA(path, &found));
    if (!search.IsOpen()) return;
    do {
        if (found.dwFileAttributes & kSkippedEntries) continue;
        if (!JoinPath(path, directory, found.cFileName)) {
            LogFormatted("ERROR: Couldn't remove '%s\\%s'", directory, found.cFileName);
            continue;
        }
        if (found.dwFileAttributes & kResetAttributes)
            SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileA(path))
            LogFormatted("--Removed '%s'", path);
        else
            LogFormatted("ERROR: Couldn't remove '%s'", path);
    } while (FindNextFileA(search.Get(), &found));
}
