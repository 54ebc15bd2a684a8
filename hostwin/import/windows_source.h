// The source read: the drive that holds the Windows directory, where that directory lies
// (from MSDOS.SYS, else the folder holding SYSTEM.DAT, else the export's SystemRoot), the other
// FAT drives of a disk, and the registry from the hives or the export.
#ifndef HOSTWIN_IMPORT_WINDOWS_SOURCE_H
#define HOSTWIN_IMPORT_WINDOWS_SOURCE_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "import_windows.h"
#include "hostwin/registry_store.h"
#include "source_drive.h"
#include "source_kind.h"

namespace hostwin_import {

struct WindowsSource {
    std::string kindName;                // "folder", "disk image", "registry export"
    std::unique_ptr<SourceDrive> drive;  // the drive (or the export's Windows folder)
    std::string windowsSource;           // the Windows directory on the drive ("" for an export)
    char letter = 'C';                   // the drive letter Windows gives it
    std::string windowsTail;             // the directory below the drive root, e.g. WINDOWS
    std::vector<char> otherDrives;       // the letters of the disk's other FAT partitions
    bool hasAppsFolder = true;           // a drive root to look for PELLAPPS in (not an export)
    size_t keys = 0;                     // keys read from the hives or the export
};

// Opens the source of kind, finds its Windows directory and reads its registry into store.
// Throws ImportError for anything that is not a Windows 9x system drive or export.
WindowsSource ReadWindowsSource(const ImportOptions& options, SourceKind kind,
                                hostwin::RegistryStore& store);

}  // namespace hostwin_import

#endif
