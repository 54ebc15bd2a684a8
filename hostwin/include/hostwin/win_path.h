// Windows paths on the machine folder: drive X: is the folder x/ of the machine, and names
// resolve case-insensitively onto what exists (new names keep the case given).
#ifndef HOSTWIN_WIN_PATH_H
#define HOSTWIN_WIN_PATH_H

#include <windows.h>

#include <string>
#include <vector>

namespace hostwin {

class Machine;

struct ResolvedPath {
    char drive = 0;             // lower-case drive letter
    std::string windows;        // canonical Windows path: C:\WINDOWS\INF\X.INF, on-disk case
    std::string host;           // the host path inside the machine folder
    std::string name;           // last component ("" for a drive root)
    std::string parentWindows;  // canonical Windows path of the containing directory
    std::string parentHost;
    bool isRoot = false;        // the path is a drive's root directory
    bool exists = false;
    bool isDirectory = false;
    bool parentExists = false;  // the containing directory exists (always true for a root)
};

// Resolves a Windows path (absolute, drive-relative, root-relative or relative to the current
// directory; either slash; any case). Returns ERROR_SUCCESS, or ERROR_PATH_NOT_FOUND for an
// empty path or a drive without folder, ERROR_INVALID_NAME for wildcards or characters that
// Windows forbids in names, ERROR_FILENAME_EXCED_RANGE for a full path of MAX_PATH characters
// or more, and ERROR_ACCESS_DENIED (journaled) when a symbolic link on the way leads outside
// the machine folder. A missing file or directory is no error: see exists and parentExists.
DWORD ResolvePath(Machine& machine, const char* windowsPath, ResolvedPath& out);

// Splits "dir\pattern" into the directory part (may be empty, meaning the current directory;
// "X:" alone, or "\" for the root) and the last component.
void SplitLastComponent(const std::string& windowsPath, std::string& directory,
                        std::string& last);

// The Windows current directory: the host working directory when it lies inside a drive
// folder of the machine, else C:\.
std::string CurrentDirectory(const Machine& machine);

// The Windows path of a host file inside a drive folder of the machine; false otherwise.
bool WindowsPathOfHostFile(const Machine& machine, const std::string& hostPath,
                           std::string& windowsPath);

// True for "X:\..." with a letter A-Z.
bool ParseAbsoluteDrivePath(const std::string& path);

// The normal form of a full Windows path "X:\..." as the settings files give it, without
// touching the disk: upper-case drive letter, backslashes, no empty, "." or ".." components,
// trailing dots and blanks of names dropped; names keep their case (compare them with
// SameWindowsPath). False for anything but a full path whose names hold no character that
// Windows forbids. The length is not checked: a setting may name a path no file can have.
bool NormalizeFullWindowsPath(const std::string& path, std::string& normal);

// Case-insensitive comparison of two Windows paths, treating / and \ alike.
bool SameWindowsPath(const std::string& a, const std::string& b);

// Windows wildcard match of one file name (case-insensitive; '*', '?'; "*.*" matches every
// name, and a pattern ending in ".*" also matches names without an extension).
bool MatchesWildcard(const std::string& pattern, const std::string& name);

// Names of a host directory (without . and ..), sorted case-insensitively.
std::vector<std::string> ListHostDirectory(const std::string& hostDirectory);

}  // namespace hostwin

#endif
