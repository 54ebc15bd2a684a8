// The placement engine: walks a table row by row and copies or moves each file. A failed
// placement only fails its own row; nothing stops the walk and nothing is reported.
#include "file_placement.h"

#include "common/win32_handles.h"
#include "upgrade_state.h"

namespace {

// The Windows subdirectory of the codes 1 to 7.
const char* SubdirectoryOf(int location) {
    switch (location) {
        case LocSystem: return "System";
        case LocInf: return "inf";
        case LocTemp: return "temp";
        case LocDrivers: return "drivers";
        case LocCatroot: return "CATROOT";
        case LocCatrootPattern: return "CATROOT";
        case LocInfPattern: return "inf";
        default: return NULL;
    }
}

std::string JoinPath(const std::string& directory, const std::string& name) {
    return directory.empty() ? name : directory + "\\" + name;
}

}  // namespace

bool PlaceFile(const std::string& name, PlaceMode mode, const std::string& destDir,
               const std::string& sourceDir) {
    const std::string source = JoinPath(sourceDir, name);
    // Clears read-only, hidden, system and archive; fails chiefly when there is no source.
    // On read-only media (a CD) the source keeps its attributes but is placed all the same:
    // its copy is then cleared instead, so that the next upgrade can replace it.
    const bool sourceCleared = SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
    if (!sourceCleared && GetFileAttributesA(source.c_str()) == INVALID_FILE_ATTRIBUTES)
        return false;
    const std::string destination = JoinPath(destDir, name);

    bool placed;
    bool sourceDeleted = true;
    if (mode == PlaceMode::Copy) {
        placed = CopyFileA(source.c_str(), destination.c_str(), FALSE) != 0;
    } else if (MoveFileA(source.c_str(), destination.c_str())) {
        placed = true;
    } else {
        // The destination exists (or lies on another drive): copy over it, then drop the
        // source. A copy stays in place even when the source cannot be deleted.
        placed = CopyFileA(source.c_str(), destination.c_str(), FALSE) != 0;
        if (placed) sourceDeleted = DeleteFileA(source.c_str()) != 0;
    }
    if (placed && !sourceCleared &&
        !SetFileAttributesA(destination.c_str(), FILE_ATTRIBUTE_NORMAL))
        return false;
    return placed && sourceDeleted;
}

bool PlaceMatchingFiles(const std::string& pattern, PlaceMode mode, const std::string& destDir) {
    WIN32_FIND_DATAA match;
    const common::FindHandle search(FindFirstFileA(pattern.c_str(), &match));
    if (!search.IsOpen()) return false;
    bool allPlaced = true;
    do {
        if (!PlaceFile(match.cFileName, mode, destDir, std::string())) allPlaced = false;
    } while (FindNextFileA(search.Get(), &match));
    return allPlaced;
}

bool PlaceTable(const FileEntry* table) {
    const PlaceMode mode = CleanupMode ? PlaceMode::Move : PlaceMode::Copy;
    for (const FileEntry* row = table; row->valid != 0; ++row) {
        std::string destination = WindowsDir;
        std::string sourceDir;
        if (const char* subdirectory = SubdirectoryOf(row->location)) {
            destination += "\\";
            destination += subdirectory;
        }
        if (row->location == LocApps || row->location == LocAppsFromDemos) {
            if (row->location == LocAppsFromDemos) sourceDir = std::string("..\\") + "ZX7Demos";
            // The root ends in a backslash already.
            destination = std::string(FixedDriveRoot) + "pellapps";
            CreateDirectoryA(destination.c_str(), NULL);
        }
        if (row->location == LocCatrootPattern || row->location == LocInfPattern)
            PlaceMatchingFiles(row->name, mode, destination);
        else
            PlaceFile(row->name, mode, destination, sourceDir);
    }
    return true;
}

bool PlaceAllTables() {
    PlaceTable(DriverFileTable);
    PlaceTable(SupportFileTable);
    return true;
}
