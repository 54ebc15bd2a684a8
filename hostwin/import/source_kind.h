// What SOURCE is (a system drive as a folder, a disk image, a REGEDIT4 export), told from the
// file itself, and the rule that the machine folder lies apart from everything read.
#ifndef HOSTWIN_IMPORT_SOURCE_KIND_H
#define HOSTWIN_IMPORT_SOURCE_KIND_H

#include <string>

#include "import_windows.h"

namespace hostwin_import {

enum class SourceKind { Folder, Image, Export };

// Throws ImportError for a missing or unreadable source, a hive given by itself, and --windows
// given with anything but an export (or an export without it).
SourceKind KindOf(const std::string& source, const std::string& windowsFolder);

// Throws ImportError when the machine folder lies inside the source or the Windows folder, or
// holds one of them.
void CheckOutsideInputs(const ImportOptions& options);

}  // namespace hostwin_import

#endif
