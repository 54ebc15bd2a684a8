// The plan of an import, made and checked whole before anything is written: every file and
// folder to copy with its Windows name in the machine's code page, the drive folders, and the
// texts of attributes.txt and shortnames.txt.
#ifndef HOSTWIN_IMPORT_IMPORT_PLAN_H
#define HOSTWIN_IMPORT_IMPORT_PLAN_H

#include <cstdint>
#include <string>
#include <vector>

#include "hostwin/registry_store.h"
#include "windows_source.h"

namespace hostwin_import {

// One file or folder to import: where it is on the source and where it goes.
struct PlannedEntry {
    std::string sourcePath;   // on the source drive
    std::string hostRelative; // below the machine folder, e.g. c/WINDOWS/INF
    std::string windowsPath;  // e.g. C:\WINDOWS\INF
    bool isDirectory = false;
    uint32_t attributes = 0;
    std::string alias;  // the short name on the source, when the name needs one
};

struct ImportPlan {
    std::string windowsDirectory;       // e.g. C:\WINDOWS, its name in the machine's code page
    std::vector<std::string> drives;    // drive letters to make, lower case, the system drive first
    std::vector<PlannedEntry> entries;  // the Windows directory first, what is below it, PELLAPPS
    std::string attributes;             // attributes.txt ("" for none)
    std::string shortNames;             // shortnames.txt ("" for none)
};

// Plans the import of the source's Windows directory and PELLAPPS folder. Throws ImportError,
// naming sourceName, for a name Windows cannot hold or the code page cannot spell, a path too
// long for Windows 9x and two names that differ only in case.
ImportPlan PlanImport(const WindowsSource& source, const hostwin::RegistryStore& store,
                      const std::string& sourceName);

}  // namespace hostwin_import

#endif
