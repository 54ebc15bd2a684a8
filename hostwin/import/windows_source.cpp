#include "windows_source.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "disk_image.h"
#include "hive_reader.h"
#include "hostwin.h"
#include "import_error.h"
#include "win9x_registry.h"
#include "windows_names.h"

namespace hostwin_import {

namespace {

constexpr size_t kMsdosSysLimit = 64 * 1024;
constexpr size_t kExportLimit = size_t{1} << 31;

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
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

// The registry of a REGEDIT4 export, and the folder of its Windows directory as the drive.
void ReadExport(const ImportOptions& options, hostwin::RegistryStore& store, WindowsSource& out) {
    out.kindName = "registry export";
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
    out.keys = CountKeys(*store.Root(HKEY_LOCAL_MACHINE)) + CountKeys(*store.Root(HKEY_USERS));
    out.drive = OpenFolderDrive(options.windowsFolder);
    SourceEntry marker;
    if (!out.drive->Find("", "WIN.INI", marker) && !out.drive->Find("", "SYSTEM.INI", marker) &&
        !out.drive->Find("", "SYSTEM", marker))
        throw ImportError(options.windowsFolder +
                          ": does not look like a Windows directory (no WIN.INI, SYSTEM.INI "
                          "or SYSTEM folder)");
    const std::string root = MachineText(
        store, "Software\\Microsoft\\Windows\\CurrentVersion", "SystemRoot");
    out.windowsTail = "WINDOWS";
    if (root.size() > 3 && root[1] == ':' && root[2] == '\\' &&
        std::isalpha(static_cast<unsigned char>(root[0]))) {
        out.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
        out.windowsTail = root.substr(3);
        while (!out.windowsTail.empty() && out.windowsTail.back() == '\\')
            out.windowsTail.pop_back();
    }
}

// The hives of the Windows directory on a system drive (a folder, or the FAT partitions of a
// disk image) and the letters of the drives.
void ReadDrive(const ImportOptions& options, SourceKind kind, hostwin::RegistryStore& store,
               WindowsSource& out) {
    std::vector<FatPartition> partitions;
    std::vector<std::unique_ptr<SourceDrive>> drives;
    if (kind == SourceKind::Folder) {
        out.kindName = "folder";
        drives.push_back(OpenFolderDrive(options.source));
    } else {
        out.kindName = "disk image";
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
    out.drive = std::move(drives[systemIndex]);
    out.windowsSource = where.sourcePath;
    out.windowsTail = where.sourcePath;
    for (char& c : out.windowsTail)
        if (c == '/') c = '\\';
    out.letter = where.letter;
    // The other FAT partitions of the disk take the following letters, in Windows' order.
    char next = 'C';
    for (size_t i = 0; i < drives.size(); ++i) {
        if (i == systemIndex) continue;
        if (next == out.letter) ++next;
        if (next <= 'Z') out.otherDrives.push_back(next++);
    }
    const std::string windowsPath = std::string(1, out.letter) + ":\\" + out.windowsTail;
    out.keys = ReadHives(*out.drive, out.windowsSource, windowsPath, store);
    if (!where.fromMsdosSys) {
        // Without MSDOS.SYS the registry's SystemRoot gives the drive letter.
        const std::string root = MachineText(
            store, "Software\\Microsoft\\Windows\\CurrentVersion", "SystemRoot");
        if (root.size() > 3 && root[1] == ':' && Upper(root.substr(3)) == Upper(out.windowsTail))
            out.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    }
}

}  // namespace

WindowsSource ReadWindowsSource(const ImportOptions& options, SourceKind kind,
                                hostwin::RegistryStore& store) {
    WindowsSource out;
    if (kind == SourceKind::Export) {
        ReadExport(options, store, out);
        out.hasAppsFolder = false;
    } else {
        ReadDrive(options, kind, store, out);
    }
    return out;
}

}  // namespace hostwin_import
