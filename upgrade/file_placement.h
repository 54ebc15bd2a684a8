// The package's file tables and the engine that copies (or, in cleanup mode, moves) every
// file they name from the current directory into place.
#ifndef UPGRADE_FILE_PLACEMENT_H
#define UPGRADE_FILE_PLACEMENT_H

#include <windows.h>

#include <string>

// Where a row's file goes. Any other value is treated as LocWindows.
enum FileLocation {
    LocWindows = 0,         // WindowsDir
    LocSystem = 1,          // WindowsDir\System
    LocInf = 2,             // WindowsDir\inf
    LocTemp = 3,            // WindowsDir\temp
    LocDrivers = 4,         // WindowsDir\drivers
    LocCatroot = 5,         // WindowsDir\CATROOT
    LocCatrootPattern = 6,  // WindowsDir\CATROOT, name is a wildcard pattern
    LocInfPattern = 7,      // WindowsDir\inf, name is a wildcard pattern
    LocApps = 8,            // pellapps on the first fixed drive, created first
    LocAppsFromDemos = 9,   // as LocApps, source taken from ..\ZX7Demos
};

// One row of a file table; a row whose valid is zero ends the table.
struct FileEntry {
    const char* name;
    int location;
    int valid;
};

enum class PlaceMode { Copy, Move };

extern const FileEntry DriverFileTable[];
extern const FileEntry SupportFileTable[];

// Places both tables, the driver files first; always true.
bool PlaceAllTables();
// Places every row of one table up to its end row; always true.
bool PlaceTable(const FileEntry* table);
// Places one file: sourceDir\name (or name in the current directory) to destDir\name.
bool PlaceFile(const std::string& name, PlaceMode mode, const std::string& destDir,
               const std::string& sourceDir);
// Places every file of the current directory that matches the pattern into destDir; true when
// at least one matched and every match was placed.
bool PlaceMatchingFiles(const std::string& pattern, PlaceMode mode, const std::string& destDir);

#endif
