#include "hostwin/open_files.h"

#include "hostwin/share_locks.h"

#include <map>

#include "hostwin/machine.h"
#include "hostwin/session.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

struct OpenRecord {
    std::string path;
    DWORD access;
    DWORD share;
    bool deleteOnClose = false;
};

// The open files of the session, by the id RegisterOpen gave them.
struct OpenFiles : SessionPart {
    std::map<int, OpenRecord> records;
    int next = 1;
};

OpenFiles& TheOpenFiles() { return Session::Current().Part<OpenFiles>(Session::kOpenFiles); }

std::map<int, OpenRecord>& Opens() { return TheOpenFiles().records; }

bool Reads(DWORD access) { return (access & (GENERIC_READ | GENERIC_ALL)) != 0; }
bool Writes(DWORD access) { return (access & (GENERIC_WRITE | GENERIC_ALL)) != 0; }
bool Deletes(DWORD access) { return (access & (kDeleteAccess | GENERIC_ALL)) != 0; }

bool IsBelow(const std::string& path, const std::string& directory) {
    std::string prefix = directory;
    if (prefix.empty() || prefix.back() != '\\') prefix += '\\';
    return path.size() > prefix.size() && SameWindowsPath(path.substr(0, prefix.size()), prefix);
}

}  // namespace

int RegisterOpen(const std::string& windowsPath, DWORD access, DWORD share) {
    OpenFiles& files = TheOpenFiles();
    files.records[files.next] = OpenRecord{windowsPath, access, share};
    return files.next++;
}

void MarkDeleteOnClose(int id) {
    auto it = Opens().find(id);
    if (it != Opens().end()) it->second.deleteOnClose = true;
}

bool ReleaseOpen(int id, std::string* deletePath) {
    auto it = Opens().find(id);
    if (it == Opens().end()) return false;
    OpenRecord record = it->second;
    Opens().erase(it);
    for (auto& entry : Opens())
        if (SameWindowsPath(entry.second.path, record.path)) {
            // Another open remains: the pending deletion waits for it.
            if (record.deleteOnClose) entry.second.deleteOnClose = true;
            return false;
        }
    if (record.deleteOnClose && deletePath) *deletePath = record.path;
    return record.deleteOnClose;
}

bool IsOpen(const std::string& windowsPath) {
    for (const auto& entry : Opens())
        if (SameWindowsPath(entry.second.path, windowsPath)) return true;
    return false;
}

DWORD CheckShareAccess(const Machine& machine, const std::string& windowsPath, DWORD access,
                       DWORD share, const std::string& hostPath) {
    if (machine.IsInUse(windowsPath) && (Writes(access) || Deletes(access)))
        return ERROR_SHARING_VIOLATION;
    // Opens that neither read, write nor delete (queries) take no part in sharing.
    if (!Reads(access) && !Writes(access) && !Deletes(access)) return ERROR_SUCCESS;
    for (const auto& entry : Opens()) {
        const OpenRecord& o = entry.second;
        if (!SameWindowsPath(o.path, windowsPath)) continue;
        if (!Reads(o.access) && !Writes(o.access) && !Deletes(o.access)) continue;
        // Each side must share what the other one does.
        if ((Reads(access) && !(o.share & FILE_SHARE_READ)) ||
            (Writes(access) && !(o.share & FILE_SHARE_WRITE)) ||
            (Deletes(access) && !(o.share & FILE_SHARE_DELETE)) ||
            (Reads(o.access) && !(share & FILE_SHARE_READ)) ||
            (Writes(o.access) && !(share & FILE_SHARE_WRITE)) ||
            (Deletes(o.access) && !(share & FILE_SHARE_DELETE)))
            return ERROR_SHARING_VIOLATION;
    }
    return hostPath.empty() ? ERROR_SUCCESS : CheckSharingOfOthers(hostPath, access, share);
}

DWORD CheckDeleteAccess(const Machine& machine, const std::string& windowsPath,
                        const std::string& hostPath) {
    if (machine.IsInUse(windowsPath)) return ERROR_SHARING_VIOLATION;
    for (const auto& entry : Opens())
        if (SameWindowsPath(entry.second.path, windowsPath) &&
            !(entry.second.share & FILE_SHARE_DELETE))
            return ERROR_SHARING_VIOLATION;
    // Deleting asks for the delete right and shares everything.
    return CheckSharingOfOthers(hostPath, kDeleteAccess,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

bool AnyOpenBelow(const Machine& machine, const std::string& windowsDirectory) {
    for (const auto& entry : Opens())
        if (IsBelow(entry.second.path, windowsDirectory)) return true;
    for (const std::string& path : machine.InUseFiles())
        if (IsBelow(path, windowsDirectory)) return true;
    return false;
}

void RenameOpens(const std::string& fromWindowsPath, const std::string& toWindowsPath) {
    for (auto& entry : Opens())
        if (SameWindowsPath(entry.second.path, fromWindowsPath)) entry.second.path = toWindowsPath;
}

}  // namespace hostwin
