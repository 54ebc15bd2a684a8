#include "source_kind.h"

#include <limits.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "import_error.h"

namespace hostwin_import {

namespace {

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

}  // namespace

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

void CheckOutsideInputs(const ImportOptions& options) {
    // The machine folder must lie outside everything that is read.
    const std::string target = Resolved(options.machineFolder);
    for (const std::string& input : {options.source, options.windowsFolder}) {
        if (input.empty()) continue;
        const std::string resolved = Resolved(input);
        if (IsInside(target, resolved) || IsInside(resolved, target))
            throw ImportError(options.machineFolder + ": lies inside " + input +
                              " (or holds it); the source is never written to");
    }

}

}  // namespace hostwin_import
