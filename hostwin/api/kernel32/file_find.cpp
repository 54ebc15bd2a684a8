// FindFirstFileA, FindNextFileA, FindClose (kernel32): Windows wildcard searches of one
// directory of the machine, with "." and ".." for directories other than a drive root.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "hostwin/attributes.h"
#include "hostwin/folder_walk.h"
#include "handles.h"
#include "hostwin/host_file.h"
#include "hostwin/host_error.h"
#include "hostwin/machine.h"
#include "hostwin/short_names.h"
#include "hostwin/text_util.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

class FindSearch : public KernelObject {
public:
    std::string directoryHost;
    std::string directoryWindows;
    std::vector<std::string> names;  // matching names, in the order they are reported
    std::vector<std::string> aliases;  // their short aliases ("" for 8.3 names and dots)
    size_t next = 0;
};

FILETIME ToFileTime(const struct timespec& t) {
    // 100-ns intervals since 1601-01-01.
    unsigned long long ticks =
        (static_cast<unsigned long long>(t.tv_sec) + 11644473600ULL) * 10000000ULL +
        static_cast<unsigned long long>(t.tv_nsec) / 100;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

// Fills the find data of the next entry that still exists; false when there is none.
bool ReportNext(FindSearch& search, WIN32_FIND_DATAA& data) {
    while (search.next < search.names.size()) {
        const std::string& alias = search.aliases[search.next];
        const std::string& name = search.names[search.next++];
        const bool dots = name == "." || name == "..";
        std::string host = dots ? search.directoryHost : search.directoryHost + "/" + name;
        // A link leading outside the machine folder shows its own data, nothing of its target.
        struct stat st;
        if (StatInMachine(host, &st, true) != 0 && StatInMachine(host, &st, false) != 0)
            continue;  // deleted since the search began
        if (name.size() >= sizeof data.cFileName) continue;
        std::memset(&data, 0, sizeof data);
        std::string windows = search.directoryWindows;
        if (windows.back() != '\\') windows += '\\';
        data.dwFileAttributes =
            dots ? static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)
                 : ReportedAttributes(Machine::Current(), windows + name, S_ISDIR(st.st_mode));
        data.ftCreationTime = ToFileTime(st.st_mtim);
        data.ftLastAccessTime = ToFileTime(st.st_atim);
        data.ftLastWriteTime = ToFileTime(st.st_mtim);
        if (!S_ISDIR(st.st_mode)) {
            unsigned long long size = static_cast<unsigned long long>(st.st_size);
            data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
            data.nFileSizeLow = static_cast<DWORD>(size);
        }
        std::memcpy(data.cFileName, name.c_str(), name.size() + 1);
        std::memcpy(data.cAlternateFileName, alias.c_str(),
                    std::min(alias.size() + 1, sizeof data.cAlternateFileName));
        return true;
    }
    return false;
}

}  // namespace

}  // namespace hostwin

using namespace hostwin;

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    if (!lpFileName || !*lpFileName || !lpFindFileData) {
        SetLastError(lpFindFileData ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string directory, pattern;
    SplitLastComponent(lpFileName, directory, pattern);
    if (pattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    for (unsigned char c : pattern)
        if (c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|') {
            SetLastError(ERROR_INVALID_NAME);
            return INVALID_HANDLE_VALUE;
        }
    ResolvedPath dir;
    DWORD error = ResolvePath(Machine::Current(), directory.empty() ? "." : directory.c_str(), dir);
    if (error == ERROR_SUCCESS && dir.windows.size() + 1 + pattern.size() >= MAX_PATH)
        error = ERROR_FILENAME_EXCED_RANGE;
    if (error == ERROR_SUCCESS && !(dir.exists && dir.isDirectory)) error = ERROR_PATH_NOT_FOUND;
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }

    auto search = std::make_unique<FindSearch>();
    search->directoryHost = dir.host;
    search->directoryWindows = dir.windows;
    std::vector<std::string> candidates;
    if (!dir.isRoot) {
        candidates.push_back(".");
        candidates.push_back("..");
    }
    for (std::string& name : ListHostDirectory(dir.host)) candidates.push_back(std::move(name));
    // A pattern matches a name or its short alias, as on Windows: "br10*.inf" also finds
    // "br10codec.info", whose alias is BR10CO~1.INF.
    std::map<std::string, std::string> aliases;
    for (auto& entry : ShortNames(Machine::Current()).AliasesIn(Folder{dir.windows, dir.host}))
        aliases.insert(std::move(entry));
    for (const std::string& name : candidates) {
        const auto known = aliases.find(name);
        const std::string alias = known == aliases.end() ? "" : known->second;
        if (MatchesWildcard(pattern, name) || (!alias.empty() && MatchesWildcard(pattern, alias))) {
            search->names.push_back(name);
            search->aliases.push_back(alias);
        }
    }

    if (!ReportNext(*search, *lpFindFileData)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return InsertHandle(std::move(search));
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    FindSearch* search = LookupHandleAs<FindSearch>(hFindFile);
    if (!search) return Fail(ERROR_INVALID_HANDLE);
    if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER);
    if (!ReportNext(*search, *lpFindFileData)) return Fail(ERROR_NO_MORE_FILES);
    return TRUE;
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (!LookupHandleAs<FindSearch>(hFindFile)) return Fail(ERROR_INVALID_HANDLE);
    RemoveHandle(hFindFile);
    return TRUE;
}
