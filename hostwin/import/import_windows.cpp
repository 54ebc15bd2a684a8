#include "import_windows.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

#include "disk_image.h"
#include "hive_reader.h"
#include "hostwin.h"
#include "import_error.h"
#include "registry_store.h"
#include "short_names.h"
#include "source_drive.h"
#include "win9x_registry.h"
#include "windows_names.h"

namespace hostwin_import {

namespace {

constexpr size_t kMsdosSysLimit = 64 * 1024;
constexpr size_t kExportLimit = size_t{1} << 31;
constexpr size_t kMaxPath = 260;  // MAX_PATH: Windows 9x cannot reach longer paths
const char kAppsFolder[] = "PELLAPPS";  // the upgrade program's folder on the first fixed drive

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

// The host path made absolute and free of . and .. and links, for the "inside" checks; a path
// that does not exist yet is resolved through its nearest existing parent.
std::string Resolved(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer)) return buffer;
    const size_t slash = path.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    if (parent == path) return path;
    std::string base = Resolved(parent);
    return (base == "/" ? "" : base) + "/" + leaf;
}

bool IsInside(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() &&
                              path.compare(0, folder.size(), folder) == 0 &&
                              (folder == "/" || path[folder.size()] == '/'));
}

// MSDOS.SYS of Windows 95 and later is an INI text; [Paths] WinDir= names the Windows directory.
std::string WinDirFromMsdosSys(const std::string& text) {
    bool inPaths = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == '[') {
            inPaths = Upper(line) == "[PATHS]";
        } else if (inPaths) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos && Upper(Trim(line.substr(0, eq))) == "WINDIR")
                return Trim(line.substr(eq + 1));
        }
    }
    return "";
}

// One file or folder to import: where it is on the source and where it goes.
struct PlannedEntry {
    std::string sourcePath;   // on the source drive
    std::string hostRelative; // below the machine folder, e.g. c/WINDOWS/INF
    std::string windowsPath;  // e.g. C:\WINDOWS\INF
    bool isDirectory = false;
    uint32_t attributes = 0;
    std::string alias;  // the short name on the source, when the name needs one
};

// Where the Windows directory lies on a drive.
struct WindowsLocation {
    std::string sourcePath;  // on the source drive, e.g. WINDOWS
    char letter = 'C';
    bool fromMsdosSys = false;
};

bool LocateWindows(SourceDrive& drive, WindowsLocation& where) {
    SourceEntry msdos;
    if (drive.Find("", "MSDOS.SYS", msdos) && !msdos.isDirectory) {
        const std::string winDir = WinDirFromMsdosSys(drive.Read(msdos.path, kMsdosSysLimit));
        if (!winDir.empty()) {
            if (winDir.size() < 3 || winDir[1] != ':' || winDir[2] != '\\' ||
                !std::isalpha(static_cast<unsigned char>(winDir[0])))
                throw ImportError(drive.Describe() + ": MSDOS.SYS names WinDir=" + winDir +
                                  ", which is not a full path");
            std::string path;
            size_t start = 3;
            while (start < winDir.size()) {
                size_t end = winDir.find('\\', start);
                if (end == std::string::npos) end = winDir.size();
                SourceEntry level;
                if (end > start && !drive.Find(path, winDir.substr(start, end - start), level))
                    throw ImportError(drive.Describe() + ": MSDOS.SYS names WinDir=" + winDir +
                                      ", but the drive has no such folder");
                if (end > start) path = level.path;
                start = end + 1;
            }
            if (path.empty())
                throw ImportError(drive.Describe() + ": MSDOS.SYS names WinDir=" + winDir +
                                  ", the root of the drive; a Windows directory is needed");
            where.sourcePath = path;
            where.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(winDir[0])));
            where.fromMsdosSys = true;
            return true;
        }
    }
    // No WinDir: the folder in the root that holds SYSTEM.DAT (WINDOWS first).
    std::vector<std::string> candidates;
    for (const SourceEntry& e : drive.List("", false)) {
        SourceEntry hive;
        if (e.isDirectory && drive.Find(e.path, "SYSTEM.DAT", hive) && !hive.isDirectory)
            candidates.push_back(e.path);
    }
    if (candidates.empty()) return false;
    where.sourcePath = candidates.front();
    for (const std::string& c : candidates)
        if (Upper(c) == "WINDOWS") where.sourcePath = c;
    return true;
}

// Reads the Windows directory's hives into the store; returns the keys read.
size_t ReadHives(SourceDrive& drive, const std::string& windowsSource,
                 const std::string& windowsPath, hostwin::RegistryStore& store) {
    SourceEntry system, user;
    if (!drive.Find(windowsSource, "SYSTEM.DAT", system) || system.isDirectory)
        throw ImportError(drive.Describe() + ": the Windows directory " + windowsPath +
                          " has no SYSTEM.DAT, so this is not a Windows 9x system drive");
    size_t keys = 0;
    {
        MemoryFile file(drive, system.path, kHiveFileLimit);
        keys += ReadHive(file.HostPath(), windowsPath + "\\SYSTEM.DAT", store,
                         *store.Root(HKEY_LOCAL_MACHINE));
    }
    // Windows Me keeps HKEY_LOCAL_MACHINE\Software\Classes in a hive of its own.
    SourceEntry classes;
    if (drive.Find(windowsSource, "CLASSES.DAT", classes) && !classes.isDirectory) {
        MemoryFile file(drive, classes.path, kHiveFileLimit);
        hostwin::RegistryKey& software =
            store.CreateSubkey(*store.Root(HKEY_LOCAL_MACHINE), "Software");
        keys += ReadHive(file.HostPath(), windowsPath + "\\CLASSES.DAT", store,
                         store.CreateSubkey(software, "Classes"));
    }
    if (drive.Find(windowsSource, "USER.DAT", user) && !user.isDirectory) {
        MemoryFile file(drive, user.path, kHiveFileLimit);
        hostwin::RegistryStore scratch;
        keys += ReadHive(file.HostPath(), windowsPath + "\\USER.DAT", scratch,
                         *scratch.Root(HKEY_USERS));
        PlaceUserHive(*scratch.Root(HKEY_USERS), store);
    }
    LinkRoots(store);
    return keys;
}

size_t CountKeys(const hostwin::RegistryKey& key) {
    size_t n = key.SubkeyCount();
    for (size_t i = 0; i < key.SubkeyCount(); ++i) n += CountKeys(key.SubkeyAt(i));
    return n;
}

int AnsiCodePage(const hostwin::RegistryStore& store) {
    const std::string acp =
        MachineText(store, "System\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP");
    const int cp = std::atoi(acp.c_str());
    return cp > 0 ? cp : 1252;
}

// Plans the import of one folder tree of the source: every entry below sourceRoot (and the
// folder itself) placed at windowsRoot (e.g. C:\WINDOWS). Checks every name.
void PlanTree(SourceDrive& drive, const std::string& sourceRoot, const std::string& windowsRoot,
              const AnsiNames& names, std::vector<PlannedEntry>& plan) {
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsRoot[0])));
    auto hostOf = [&](const std::string& windowsPath) {
        std::string rel(1, letter);
        for (size_t i = 2; i < windowsPath.size(); ++i)
            rel += windowsPath[i] == '\\' ? '/' : windowsPath[i];
        return rel;
    };
    PlannedEntry top;
    top.sourcePath = sourceRoot;
    top.windowsPath = windowsRoot;
    top.hostRelative = hostOf(windowsRoot);
    top.isDirectory = true;
    plan.push_back(top);

    std::set<std::string> seen;  // upper-cased Windows paths: names differing in case collide
    const std::string prefix = sourceRoot.empty() ? "" : sourceRoot + "/";
    for (const SourceEntry& e : drive.List(sourceRoot, true)) {
        if (e.path.compare(0, prefix.size(), prefix) != 0)
            throw ImportError(drive.Describe() + ": unexpected entry " + e.path);
        const std::string below = e.path.substr(prefix.size());
        std::string windowsPath = windowsRoot;
        std::string ansi;
        size_t start = 0;
        while (start <= below.size()) {
            size_t end = below.find('/', start);
            if (end == std::string::npos) end = below.size();
            const std::string name = below.substr(start, end - start);
            if (!names.ToAnsi(name, ansi))
                throw ImportError(drive.Describe() + ": the name \"" + e.path +
                                  "\" has characters outside the machine's code page " +
                                  std::to_string(names.CodePage()));
            const std::string problem = WindowsNameProblem(ansi);
            if (!problem.empty())
                throw ImportError(drive.Describe() + ": \"" + e.path + "\" has " + problem +
                                  "; it cannot be imported");
            windowsPath += "\\" + ansi;
            start = end + 1;
        }
        if (windowsPath.size() >= kMaxPath)
            throw ImportError(drive.Describe() + ": " + e.path + " gives a path of " +
                              std::to_string(windowsPath.size()) +
                              " characters, more than Windows 9x can reach");
        if (!seen.insert(Upper(windowsPath)).second)
            throw ImportError(drive.Describe() + ": two entries are both " + windowsPath +
                              " on Windows (names differ only in letter case)");
        PlannedEntry p;
        p.sourcePath = e.path;
        p.windowsPath = windowsPath;
        p.hostRelative = hostOf(windowsPath);
        p.isDirectory = e.isDirectory;
        p.attributes = e.attributes;
        // The file system's own short name is kept, so the machine finds the file by the
        // alias that programs and batch files on the real machine use.
        std::string alias;
        if (!e.alias.empty() && !hostwin::IsShortName(ansi) && names.ToAnsi(e.alias, alias) &&
            hostwin::IsShortName(alias))
            p.alias = alias;
        plan.push_back(p);
    }
}

// Makes the machine folder and removes what it made when anything fails before Commit.
class MachineFolderWriter {
    static constexpr const char* kStaging = ".import-staging";

public:
    explicit MachineFolderWriter(const std::string& folder) : folder_(folder) {
        struct stat st;
        if (::lstat(folder.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                throw ImportError(folder + ": exists and is not a folder");
            DIR* d = ::opendir(folder.c_str());
            if (!d) throw ImportError(folder + ": cannot be read: " + std::strerror(errno));
            bool empty = true;
            while (dirent* e = ::readdir(d))
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    empty = false;
            ::closedir(d);
            if (!empty)
                throw ImportError(folder + ": exists and is not empty; give a new folder");
        } else {
            if (::mkdir(folder.c_str(), 0755) != 0)
                throw ImportError(folder + ": cannot be made: " + std::strerror(errno));
            createdFolder_ = true;
        }
    }

    ~MachineFolderWriter() {
        if (committed_) return;
        // Whatever a failed copy left in the staging folder (plain files only ever arrive there).
        const std::string staging = folder_ + "/" + kStaging;
        if (DIR* d = ::opendir(staging.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    ::unlinkat(::dirfd(d), e->d_name, 0);
            ::closedir(d);
        }
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            const std::string path = folder_ + "/" + *it;
            if (::unlink(path.c_str()) != 0) ::rmdir(path.c_str());
        }
        if (createdFolder_) ::rmdir(folder_.c_str());
    }

    void MakeDirectory(const std::string& relative) {
        const std::string path = folder_ + "/" + relative;
        if (::mkdir(path.c_str(), 0755) != 0) {
            struct stat st;
            if (errno == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
            throw ImportError(path + ": cannot be made: " + std::strerror(errno));
        }
        made_.push_back(relative);
    }

    // A new file (never an existing one, never through a link).
    int CreateFile(const std::string& relative) {
        const std::string path = folder_ + "/" + relative;
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) throw ImportError(path + ": cannot be written: " + std::strerror(errno));
        made_.push_back(relative);
        return fd;
    }

    void WriteText(const std::string& relative, const std::string& text) {
        const int fd = CreateFile(relative);
        const char* p = text.data();
        size_t left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int e = errno;
                ::close(fd);
                throw ImportError(folder_ + "/" + relative + ": cannot be written: " +
                                  std::strerror(e));
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        if (::close(fd) != 0)
            throw ImportError(folder_ + "/" + relative + ": cannot be written: " +
                              std::strerror(errno));
    }

    // An empty folder inside the machine folder that files are copied into first.
    std::string MakeStaging() {
        MakeDirectory(kStaging);
        return folder_ + "/" + kStaging;
    }

    // Moves a staged file to its place (never over anything); it must be a plain file.
    void MoveIn(const std::string& staged, const std::string& relative) {
        struct stat st;
        if (::lstat(staged.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            throw ImportError(staged + ": the copy is missing or not a plain file");
        const std::string target = folder_ + "/" + relative;
        if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0)
            throw ImportError(target + ": cannot be written: " + std::strerror(errno));
        made_.push_back(relative);
    }

    // Nothing but the expected files may arrive in the staging folder.
    void CheckStagingEmpty() {
        const std::string path = folder_ + "/" + kStaging;
        DIR* d = ::opendir(path.c_str());
        if (!d) throw ImportError(path + ": cannot be read");
        std::string stray;
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                stray = e->d_name;
        ::closedir(d);
        if (!stray.empty()) throw ImportError("unexpected file \"" + stray + "\" from the source");
    }

    void RemoveStaging() {
        if (::rmdir((folder_ + "/" + kStaging).c_str()) == 0) made_.pop_back();
    }

    void Commit() { committed_ = true; }

private:
    std::string folder_;
    bool createdFolder_ = false;
    bool committed_ = false;
    std::vector<std::string> made_;
};

enum class SourceKind { Folder, Image, Export };

SourceKind KindOf(const std::string& source, const std::string& windowsFolder) {
    struct stat st;
    if (::stat(source.c_str(), &st) != 0)
        throw ImportError(source + ": does not exist");
    if (S_ISDIR(st.st_mode)) {
        if (!windowsFolder.empty())
            throw ImportError("--windows goes with a REGEDIT4 export as SOURCE, not a folder");
        return SourceKind::Folder;
    }
    if (!S_ISREG(st.st_mode)) throw ImportError(source + ": is neither a folder nor a file");
    char head[16] = {};
    if (std::FILE* f = std::fopen(source.c_str(), "rb")) {
        const size_t got = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
        const std::string start(head, got);
        if (start.rfind("REGEDIT4", 0) == 0 || start.rfind("\xEF\xBB\xBFREGEDIT4", 0) == 0) {
            if (windowsFolder.empty())
                throw ImportError(source +
                                  ": is a REGEDIT4 export; give the folder of its Windows "
                                  "directory with --windows FOLDER");
            return SourceKind::Export;
        }
        if (start.rfind("CREG", 0) == 0 || start.rfind("regf", 0) == 0)
            throw ImportError(source +
                              ": is a registry hive by itself; give the drive (folder or disk "
                              "image) that holds the Windows directory");
    } else {
        throw ImportError(source + ": cannot be read: " + std::strerror(errno));
    }
    if (!windowsFolder.empty())
        throw ImportError("--windows goes with a REGEDIT4 export as SOURCE");
    return SourceKind::Image;
}

std::string MachineIni(const std::string& version, const std::string& windowsDirectory,
                       const std::vector<std::string>& drives) {
    std::string text = "[system]\nversion=" + version + "\nwindir=" + windowsDirectory +
                       "\n\n[drives]\n";
    for (const std::string& d : drives) text += d + "=fixed\n";
    return text;
}

}  // namespace

ImportSummary ImportWindows(const ImportOptions& options) {
    if (options.machineFolder.empty() || options.source.empty())
        throw ImportError("both the machine folder and --from SOURCE are needed");
    const SourceKind kind = KindOf(options.source, options.windowsFolder);

    // The machine folder must lie outside everything that is read.
    const std::string target = Resolved(options.machineFolder);
    for (const std::string& input : {options.source, options.windowsFolder}) {
        if (input.empty()) continue;
        const std::string resolved = Resolved(input);
        if (IsInside(target, resolved) || IsInside(resolved, target))
            throw ImportError(options.machineFolder + ": lies inside " + input +
                              " (or holds it); the source is never written to");
    }

    ImportSummary summary;
    hostwin::RegistryStore store;
    std::unique_ptr<SourceDrive> drive;
    std::string windowsSource;  // the Windows directory on the drive
    char letter = 'C';
    std::string windowsTail;    // the Windows directory below the drive root, e.g. WINDOWS
    std::vector<char> otherDrives;

    if (kind == SourceKind::Export) {
        summary.sourceKind = "registry export";
        struct stat st;
        if (::stat(options.windowsFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            throw ImportError(options.windowsFolder + ": is not a folder");
        std::FILE* f = std::fopen(options.source.c_str(), "rb");
        if (!f) throw ImportError(options.source + ": cannot be read: " + std::strerror(errno));
        std::string text;
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
            text.append(buffer, n);
            if (text.size() > kExportLimit) break;
        }
        std::fclose(f);
        if (text.size() > kExportLimit) throw ImportError(options.source + ": is too large");
        if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
        std::unique_ptr<hostwin::RegistryStore> parsed;
        try {
            parsed = hostwin::RegistryStore::Parse(text, options.source);
        } catch (const hostwin::MachineError& e) {
            throw ImportError(e.what());
        }
        CopyTree(store, *parsed->Root(HKEY_LOCAL_MACHINE), *store.Root(HKEY_LOCAL_MACHINE));
        CopyTree(store, *parsed->Root(HKEY_USERS), *store.Root(HKEY_USERS));
        for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_CURRENT_CONFIG})
            CopyTree(store, *parsed->Root(root), *store.Root(root));
        FoldLinkedRoots(store);
        LinkRoots(store);
        summary.keys = CountKeys(*store.Root(HKEY_LOCAL_MACHINE)) +
                       CountKeys(*store.Root(HKEY_USERS));
        drive = OpenFolderDrive(options.windowsFolder);
        SourceEntry marker;
        if (!drive->Find("", "WIN.INI", marker) && !drive->Find("", "SYSTEM.INI", marker) &&
            !drive->Find("", "SYSTEM", marker))
            throw ImportError(options.windowsFolder +
                              ": does not look like a Windows directory (no WIN.INI, SYSTEM.INI "
                              "or SYSTEM folder)");
        const std::string root = MachineText(
            store, "Software\\Microsoft\\Windows\\CurrentVersion", "SystemRoot");
        windowsTail = "WINDOWS";
        if (root.size() > 3 && root[1] == ':' && root[2] == '\\' &&
            std::isalpha(static_cast<unsigned char>(root[0]))) {
            letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
            windowsTail = root.substr(3);
            while (!windowsTail.empty() && windowsTail.back() == '\\') windowsTail.pop_back();
        }
        windowsSource = "";
    } else {
        std::vector<FatPartition> partitions;
        std::vector<std::unique_ptr<SourceDrive>> drives;
        if (kind == SourceKind::Folder) {
            summary.sourceKind = "folder";
            drives.push_back(OpenFolderDrive(options.source));
        } else {
            summary.sourceKind = "disk image";
            partitions = FindFatPartitions(options.source);
            for (const FatPartition& p : partitions)
                drives.push_back(OpenImageDrive(options.source, p.offset));
        }
        WindowsLocation where;
        size_t systemIndex = drives.size();
        for (size_t i = 0; i < drives.size(); ++i) {
            if (LocateWindows(*drives[i], where)) {
                systemIndex = i;
                break;
            }
        }
        if (systemIndex == drives.size())
            throw ImportError(options.source +
                              ": is not a Windows 9x system drive: no MSDOS.SYS naming WinDir "
                              "and no folder holding SYSTEM.DAT");
        drive = std::move(drives[systemIndex]);
        windowsSource = where.sourcePath;
        windowsTail = where.sourcePath;
        for (char& c : windowsTail)
            if (c == '/') c = '\\';
        letter = where.letter;
        // The other FAT partitions of the disk take the following letters, in Windows' order.
        char next = 'C';
        for (size_t i = 0; i < drives.size(); ++i) {
            if (i == systemIndex) continue;
            if (next == letter) ++next;
            if (next <= 'Z') otherDrives.push_back(next++);
        }
        const std::string windowsPath = std::string(1, letter) + ":\\" + windowsTail;
        summary.keys = ReadHives(*drive, windowsSource, windowsPath, store);
        if (!where.fromMsdosSys) {
            // Without MSDOS.SYS the registry's SystemRoot gives the drive letter.
            const std::string root = MachineText(
                store, "Software\\Microsoft\\Windows\\CurrentVersion", "SystemRoot");
            if (root.size() > 3 && root[1] == ':' && Upper(root.substr(3)) == Upper(windowsTail))
                letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
        }
    }

    summary.windowsDirectory = std::string(1, letter) + ":\\" + windowsTail;
    summary.version = VersionWord(store, options.source);

    // Plan every file and folder, checking names, before anything is written.
    const AnsiNames names(AnsiCodePage(store));
    std::string ansiTail;
    for (size_t start = 0; start <= windowsTail.size();) {
        size_t end = windowsTail.find('\\', start);
        if (end == std::string::npos) end = windowsTail.size();
        std::string ansi;
        const std::string name = windowsTail.substr(start, end - start);
        if (!names.ToAnsi(name, ansi) || !WindowsNameProblem(ansi).empty())
            throw ImportError(options.source + ": the Windows directory name \"" + windowsTail +
                              "\" cannot be used");
        ansiTail += (ansiTail.empty() ? "" : "\\") + ansi;
        start = end + 1;
    }
    summary.windowsDirectory = std::string(1, letter) + ":\\" + ansiTail;
    std::vector<PlannedEntry> plan;
    PlanTree(*drive, windowsSource, summary.windowsDirectory, names, plan);
    if (kind != SourceKind::Export) {
        SourceEntry apps;
        if (drive->Find("", kAppsFolder, apps) && apps.isDirectory)
            PlanTree(*drive, apps.path, std::string(1, letter) + ":\\" + kAppsFolder, names, plan);
    }

    // Write: drive folders, the tree, then the settings and the registry.
    summary.drives.push_back(std::string(1, static_cast<char>(std::tolower(letter))));
    for (char d : otherDrives)
        summary.drives.push_back(std::string(1, static_cast<char>(std::tolower(d))));
    const std::string registryText = store.Serialize();
    std::string attributes;
    std::string shortNames;

    MachineFolderWriter writer(options.machineFolder);
    for (const std::string& d : summary.drives) writer.MakeDirectory(d);
    // Parents of the Windows directory (e.g. C:\WIN\98 has C:\WIN).
    {
        const std::string& top = plan.front().hostRelative;
        for (size_t at = top.find('/', 2); at != std::string::npos; at = top.find('/', at + 1))
            writer.MakeDirectory(top.substr(0, at));
    }
    // Folders first; then the files of each folder, copied into a staging folder in DIR and
    // moved into place under their checked names.
    std::vector<std::pair<std::string, std::vector<const PlannedEntry*>>> filesByFolder;
    for (const PlannedEntry& p : plan) {
        if (p.isDirectory) {
            writer.MakeDirectory(p.hostRelative);
            if (&p != &plan.front()) ++summary.directories;
        } else {
            const std::string folder = p.hostRelative.substr(0, p.hostRelative.rfind('/'));
            if (filesByFolder.empty() || filesByFolder.back().first != folder) {
                bool found = false;
                for (auto& f : filesByFolder)
                    if (f.first == folder) {
                        f.second.push_back(&p);
                        found = true;
                    }
                if (!found) filesByFolder.push_back({folder, {&p}});
            } else {
                filesByFolder.back().second.push_back(&p);
            }
        }
        if (!p.alias.empty()) shortNames += p.alias + "\t" + p.windowsPath + "\n";
        if (p.attributes) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(p.attributes));
            attributes += std::string(hex) + "\t" + p.windowsPath + "\n";
        }
    }
    const std::string staging = writer.MakeStaging();
    for (const auto& folder : filesByFolder) {
        std::vector<std::string> sources;
        for (const PlannedEntry* p : folder.second) sources.push_back(p->sourcePath);
        drive->CopyBatch(sources, staging);
        for (const PlannedEntry* p : folder.second) {
            const size_t slash = p->sourcePath.rfind('/');
            writer.MoveIn(staging + "/" + p->sourcePath.substr(slash == std::string::npos ? 0 : slash + 1),
                          p->hostRelative);
            ++summary.files;
        }
        writer.CheckStagingEmpty();
    }
    writer.RemoveStaging();
    if (!attributes.empty()) writer.WriteText("attributes.txt", attributes);
    if (!shortNames.empty()) writer.WriteText("shortnames.txt", shortNames);
    writer.WriteText("machine.ini",
                     MachineIni(summary.version, summary.windowsDirectory, summary.drives));
    writer.WriteText("registry.reg", registryText);
    writer.Commit();
    return summary;
}

}  // namespace hostwin_import
