// Writing the planned machine folder: the drive folders, the Windows directory and PELLAPPS
// (files copied into a staging folder inside the machine folder, then moved to their checked
// names), attributes.txt, shortnames.txt, machine.ini and registry.reg. The folder lock is held
// throughout; when anything fails, everything made is removed again.
#ifndef HOSTWIN_IMPORT_MACHINE_FOLDER_WRITER_H
#define HOSTWIN_IMPORT_MACHINE_FOLDER_WRITER_H

#include <string>

#include "import_plan.h"
#include "import_windows.h"
#include "source_drive.h"

namespace hostwin_import {

// Writes the plan to folder (new, or an empty folder), copying its files from drive; counts the
// files and folders in summary. Throws ImportError, leaving folder as it was.
void WriteMachineFolder(const std::string& folder, const ImportPlan& plan, SourceDrive& drive,
                        const std::string& machineIni, const std::string& registryText,
                        ImportSummary& summary);

}  // namespace hostwin_import

#endif
