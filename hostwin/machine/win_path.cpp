#include "hostwin/win_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "hostwin/folder_walk.h"
#include "hostwin/host_file.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "hostwin/short_names.h"
#include "hostwin/text_util.h"

namespace hostwin {

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string ToBackslashes(std::string s) {
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

std::vector<std::string> SplitComponents(const std::string& s) {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= s.size()) {
        size_t end = s.find('\\', pos);
        if (end == std::string::npos) end = s.size();
        if (end > pos) parts.push_back(s.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

bool HasForbiddenCharacter(const std::string& name) {
    for (unsigned char c : name)
        if (c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' ||
            c == '*')
            return true;
    return false;
}

// The components of a path below its drive's root as Windows reads them: "." dropped, ".."
// taking back the one before, trailing dots and blanks of a name dropped. False when a name holds
// a character Windows forbids.
bool NormalComponents(const std::string& rest, std::vector<std::string>& parts) {
    for (std::string part : SplitComponents(rest)) {
        if (part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        if (part.empty()) continue;
        if (HasForbiddenCharacter(part)) return false;
        parts.push_back(part);
    }
    return true;
}

bool StatPath(const std::string& host, struct stat& st) { return ::stat(host.c_str(), &st) == 0; }

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return path;
    return buffer;
}

// A symbolic link in the machine folder is followed only while it leads to a place inside the
// folder: a folder copied from elsewhere must never reach the host's own files. Anything else
// is refused as Windows refuses an inaccessible file, and the journal says why.
DWORD RefuseLinksLeadingOutside(const Machine& machine, const ResolvedPath& path) {
    std::string target;
    if (LiesInsideFolder(path.host, machine.RealRoot(), target)) return ERROR_SUCCESS;
    JournalEvent("path-refused")
        .Text("path", path.windows)
        .Text("reason", "a symbolic link leads outside the machine folder")
        .Text("target", target)
        .Write();
    return ERROR_ACCESS_DENIED;
}

}  // namespace

bool ParseAbsoluteDrivePath(const std::string& path) {
    return path.size() >= 3 && IsLetter(path[0]) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

bool SameWindowsPath(const std::string& a, const std::string& b) {
    return EqualsNoCase(ToBackslashes(a), ToBackslashes(b));
}

std::vector<std::string> ListHostDirectory(const std::string& hostDirectory) {
    std::vector<std::string> names;
    // Inside the machine, the directory is reached by the descriptor walk, never through a
    // link that leads out.
    const int fd = Machine::IfOpen() ? OpenInMachine(hostDirectory, O_RDONLY | O_DIRECTORY)
                                     : ::open(hostDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0) ::close(fd);
        return names;
    }
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& x, const std::string& y) {
        std::string ux = ToUpperAscii(x), uy = ToUpperAscii(y);
        return ux != uy ? ux < uy : x < y;
    });
    return names;
}

std::string CurrentDirectory(const Machine& machine) {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer)) {
        std::string windows;
        if (WindowsPathOfHostFile(machine, buffer, windows)) return windows;
    }
    return "C:\\";
}

bool WindowsPathOfHostFile(const Machine& machine, const std::string& hostPath,
                           std::string& windowsPath) {
    std::string root = RealPath(machine.Root());
    std::string path = RealPath(hostPath);
    if (path.size() < root.size() + 2 || path.compare(0, root.size(), root) != 0 ||
        path[root.size()] != '/')
        return false;
    std::string rest = path.substr(root.size() + 1);
    if (rest.size() < 1 || !(rest[0] >= 'a' && rest[0] <= 'z') ||
        (rest.size() > 1 && rest[1] != '/'))
        return false;
    windowsPath = std::string(1, FoldCase(rest[0])) + ":\\";
    if (rest.size() > 2) windowsPath += ToBackslashes(rest.substr(2));
    return true;
}

void SplitLastComponent(const std::string& windowsPath, std::string& directory,
                        std::string& last) {
    std::string p = ToBackslashes(windowsPath);
    size_t slash = p.rfind('\\');
    if (slash == std::string::npos) {
        if (p.size() >= 2 && IsLetter(p[0]) && p[1] == ':') {
            directory = p.substr(0, 2);
            last = p.substr(2);
        } else {
            directory.clear();
            last = p;
        }
        return;
    }
    directory = p.substr(0, slash + 1);
    // Keep the backslash only where it names a root: "\" or "X:\".
    if (!(directory == "\\" || (directory.size() == 3 && directory[1] == ':')))
        directory.pop_back();
    last = p.substr(slash + 1);
}

DWORD ResolvePath(Machine& machine, const char* windowsPath, ResolvedPath& out) {
    out = ResolvedPath();
    if (!windowsPath || !*windowsPath) return ERROR_PATH_NOT_FOUND;
    std::string p = ToBackslashes(windowsPath);
    if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') return ERROR_PATH_NOT_FOUND;

    std::string cwd = CurrentDirectory(machine);
    char drive;
    std::string rest;
    if (p.size() >= 2 && IsLetter(p[0]) && p[1] == ':') {
        drive = p[0];
        if (p.size() >= 3 && p[2] == '\\') {
            rest = p.substr(3);
        } else if (FoldCase(cwd[0]) == FoldCase(drive)) {
            rest = cwd.substr(3) + "\\" + p.substr(2);
        } else {
            rest = p.substr(2);
        }
    } else if (p[0] == '\\') {
        drive = cwd[0];
        rest = p.substr(1);
    } else {
        drive = cwd[0];
        rest = cwd.substr(3) + "\\" + p;
    }
    out.drive = static_cast<char>(ToLowerAscii(std::string(1, drive))[0]);

    std::vector<std::string> parts;
    if (!NormalComponents(rest, parts)) return ERROR_INVALID_NAME;

    // The full path with its terminating zero must fit in MAX_PATH characters.
    size_t length = 2;
    for (const std::string& part : parts) length += 1 + part.size();
    if (parts.empty()) length = 3;
    if (length >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;

    std::string host = machine.DriveFolder(out.drive);
    std::string windows = std::string(1, FoldCase(out.drive)) + ":\\";
    struct stat st;
    if (!StatPath(host, st) || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;

    out.isRoot = parts.empty();
    out.parentExists = true;
    out.exists = true;
    out.isDirectory = true;
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        std::string name = parts[i];
        if (out.exists) {
            // Prefer the exact name; else the first name that matches without regard to case.
            std::string candidate = host + "/" + name;
            if (!StatPath(candidate, st)) {
                bool found = false;
                for (const std::string& entry : ListHostDirectory(host))
                    if (EqualsNoCase(entry, name)) {
                        name = entry;
                        found = true;
                        break;
                    }
                // A short alias ("BR10CO~1.INF") names its long file.
                if (!found && name.find('~') != std::string::npos && IsShortName(name)) {
                    const Folder folder{windows.size() > 3 ? windows.substr(0, windows.size() - 1)
                                                           : windows,
                                        host};
                    const std::string longName = ShortNames(machine).LongNameOf(folder, name);
                    if (!longName.empty()) name = longName;
                }
            }
        }
        if (last) {
            out.parentHost = host;
            out.parentWindows = windows.size() > 3 ? windows.substr(0, windows.size() - 1) : windows;
            out.parentExists = out.exists && out.isDirectory;
            out.name = name;
        }
        host += "/" + name;
        windows += name + (last ? "" : "\\");
        if (out.exists && out.isDirectory && StatPath(host, st)) {
            out.isDirectory = S_ISDIR(st.st_mode);
        } else {
            out.exists = false;
            out.isDirectory = false;
        }
        if (!last && !(out.exists && out.isDirectory)) {
            out.exists = false;
        }
    }
    if (out.isRoot) {
        out.parentHost = host;
        out.parentWindows = windows;
    }
    out.host = host;
    out.windows = windows;
    return RefuseLinksLeadingOutside(machine, out);
}

bool MatchesWildcard(const std::string& pattern, const std::string& name) {
    if (pattern == "*" || pattern == "*.*") return true;
    // Iterative glob with backtracking over the last '*'.
    auto glob = [](const std::string& pat, const std::string& str) {
        size_t p = 0, s = 0, star = std::string::npos, mark = 0;
        while (s < str.size()) {
            if (p < pat.size() && (pat[p] == '?' || FoldCase(pat[p]) == FoldCase(str[s]))) {
                ++p;
                ++s;
            } else if (p < pat.size() && pat[p] == '*') {
                star = p++;
                mark = s;
            } else if (star != std::string::npos) {
                p = star + 1;
                s = ++mark;
            } else {
                return false;
            }
        }
        while (p < pat.size() && pat[p] == '*') ++p;
        return p == pat.size();
    };
    if (glob(pattern, name)) return true;
    // "name.*" also matches a name without any dot, and "name." matches only such names.
    if (name.find('.') == std::string::npos) {
        if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0)
            return glob(pattern.substr(0, pattern.size() - 2), name);
        if (!pattern.empty() && pattern.back() == '.')
            return glob(pattern.substr(0, pattern.size() - 1), name);
    }
    return false;
}

bool NormalizeFullWindowsPath(const std::string& path, std::string& normal) {
    if (!ParseAbsoluteDrivePath(path)) return false;
    std::string out = std::string(1, FoldCase(path[0])) + ":";
    std::vector<std::string> parts;
    if (!NormalComponents(ToBackslashes(path.substr(3)), parts)) return false;
    for (const std::string& part : parts) out += "\\" + part;
    if (parts.empty()) out += "\\";
    normal = out;
    return true;
}

}  // namespace hostwin
