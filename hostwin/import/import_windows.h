// hostwin import-windows: makes a machine folder from a real Windows 9x machine, read only.
//
// Sources: a system drive as a host folder (a copy of C:\ or a mounted partition); a raw disk
// image (a whole disk with an MBR, or one FAT16/FAT32 partition) read through mtools; or a
// REGEDIT4 export of the registry together with a folder holding its Windows directory.
//
// The registry comes from SYSTEM.DAT, USER.DAT and (Windows Me) CLASSES.DAT in the Windows
// directory, or from the export; machine.ini takes the version from VersionNumber, the Windows
// directory from MSDOS.SYS (else the registry) and lists the drives; attributes.txt and
// shortnames.txt take the FAT attributes and short names. Files are imported from the Windows
// directory (all of it) and the PELLAPPS folder in the root of the system drive, nothing else.
//
// Everything is checked before the machine folder is made; a failure later removes what was
// written. Nothing is ever written to the source or outside the machine folder.
#ifndef HOSTWIN_IMPORT_IMPORT_WINDOWS_H
#define HOSTWIN_IMPORT_IMPORT_WINDOWS_H

#include <cstddef>
#include <string>
#include <vector>

namespace hostwin_import {

struct ImportOptions {
    std::string machineFolder;  // DIR: must not exist, or be an empty folder
    std::string source;         // SOURCE: folder, disk image or REGEDIT4 file
    std::string windowsFolder;  // with a REGEDIT4 export: the folder of its Windows directory
};

struct ImportSummary {
    std::string sourceKind;        // "folder", "disk image", "registry export"
    std::string version;           // machine.ini's version word
    std::string windowsDirectory;  // e.g. C:\WINDOWS
    std::vector<std::string> drives;  // drive letters made, lower case
    size_t keys = 0;               // keys read from the hives or the export
    size_t files = 0;
    size_t directories = 0;
};

// Throws ImportError (nothing written) for anything that cannot be imported.
ImportSummary ImportWindows(const ImportOptions& options);

}  // namespace hostwin_import

#endif
