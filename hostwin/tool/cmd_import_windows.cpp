// hostwin import-windows DIR --from SOURCE [--windows FOLDER]: a machine folder made from a real
// Windows 95, 98 or Me machine (its system drive as a folder or a raw disk image, or a REGEDIT4
// export with its Windows directory), reading the source and never writing to it.
#include <cstdio>

#include "import_error.h"
#include "import_windows.h"
#include "tool.h"

namespace hostwin_tool {

const char kImportWindowsHelp[] =
    "usage: hostwin import-windows DIR --from SOURCE [--windows FOLDER]\n\n"
    "Makes machine folder DIR from a Windows 95, 98 or Me machine. SOURCE is one of\n"
    "  - its system drive as a folder: a copy of C:\\ or a mounted partition;\n"
    "  - a raw disk image: a whole disk with an MBR partition table, or one FAT16 or FAT32\n"
    "    partition (read with mtools, never mounted, never written). Convert virtual\n"
    "    machine disks first: qemu-img convert -O raw win98.vdi win98.img\n"
    "  - a REGEDIT4 export (regedit /e on that machine), with --windows FOLDER naming a\n"
    "    copy of its Windows directory.\n"
    "The registry comes from SYSTEM.DAT and USER.DAT in the Windows directory (or the\n"
    "export); machine.ini takes the version from VersionNumber, the Windows directory from\n"
    "MSDOS.SYS (else the registry) and the drives; attributes.txt the FAT attributes. Files\n"
    "are imported from the Windows directory and the PELLAPPS folder of the system drive.\n"
    "DIR must not exist yet, or be an empty folder, and must lie outside SOURCE.\n\n"
    "exit codes: 0 made; 2 bad usage or a source that cannot be imported (nothing written).\n";

int CommandImportWindows(const std::vector<std::string>& args) {
    const ParsedArgs parsed = ParseArgs(args, {}, {"from", "windows"});
    if (parsed.words.size() != 1 || parsed.hasRest) throw UsageError("expected one folder");
    if (!parsed.Has("from")) throw UsageError("--from SOURCE is needed");
    hostwin_import::ImportOptions options;
    options.machineFolder = parsed.words[0];
    options.source = parsed.Value("from", "");
    options.windowsFolder = parsed.Value("windows", "");
    const hostwin_import::ImportSummary s = hostwin_import::ImportWindows(options);
    std::string drives;
    for (const std::string& d : s.drives) drives += (drives.empty() ? "" : " ") + d + ":";
    std::printf("imported %s %s into %s\n"
                "  version %s, Windows directory %s, drives %s\n"
                "  %zu registry keys, %zu files and %zu folders\n",
                s.sourceKind.c_str(), options.source.c_str(), options.machineFolder.c_str(),
                s.version.c_str(), s.windowsDirectory.c_str(), drives.c_str(), s.keys, s.files,
                s.directories);
    return kExitOk;
}

}  // namespace hostwin_tool
