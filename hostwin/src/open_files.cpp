#include "open_files.h"

#include <map>

#include "machine.h"
#include "win_path.h"

namespace hostwin {

namespace {

struct OpenRecord {
    std::string path;
    DWORD access;
    DWORD share;
};

std::map<int, OpenRecord>& Opens() {
    static std::map<int, OpenRecord> opens;
    return opens;
}

bool Reads(DWORD access) { return (access & (GENERIC_READ | GENERIC_ALL)) != 0; }
bool Writes(DWORD access) { return (access & (GENERIC_WRITE | GENERIC_ALL)) != 0; }

}  // namespace

int RegisterOpen(const std::string& windowsPath, DWORD access, DWORD share) {
    static int next = 1;
    Opens()[next] = OpenRecord{windowsPath, access, share};
    return next++;
}

void ReleaseOpen(int id) { Opens().erase(id); }

DWORD CheckShareAccess(const std::string& windowsPath, DWORD access, DWORD share) {
    if (Machine::Current().IsInUse(windowsPath) && Writes(access))
        return ERROR_SHARING_VIOLATION;
    for (const auto& entry : Opens()) {
        const OpenRecord& o = entry.second;
        if (!SameWindowsPath(o.path, windowsPath)) continue;
        // Each side must share what the other one does.
        if ((Reads(access) && !(o.share & FILE_SHARE_READ)) ||
            (Writes(access) && !(o.share & FILE_SHARE_WRITE)) ||
            (Reads(o.access) && !(share & FILE_SHARE_READ)) ||
            (Writes(o.access) && !(share & FILE_SHARE_WRITE)))
            return ERROR_SHARING_VIOLATION;
    }
    return ERROR_SUCCESS;
}

DWORD CheckDeleteAccess(const std::string& windowsPath) {
    if (Machine::Current().IsInUse(windowsPath)) return ERROR_SHARING_VIOLATION;
    for (const auto& entry : Opens())
        if (SameWindowsPath(entry.second.path, windowsPath) &&
            !(entry.second.share & FILE_SHARE_DELETE))
            return ERROR_SHARING_VIOLATION;
    return ERROR_SUCCESS;
}

}  // namespace hostwin
