// Drive types from the [drives] section of machine.ini (c=fixed, d=cdrom, a=removable, ...).
#ifndef HOSTWIN_DRIVES_H
#define HOSTWIN_DRIVES_H

#include <windows.h>

#include <string>

#include "ini_file.h"

namespace hostwin {

// Throws MachineError naming the line of an entry of [drives] that is not "letter=type".
void CheckDriveSettings(const IniSection& drives, const std::string& fileLabel);

// The DRIVE_* type of a drive letter: the [drives] entry when there is one, else DRIVE_FIXED
// when the drive folder exists and DRIVE_NO_ROOT_DIR when it does not.
UINT DriveType(char driveLetter);

// True for drives whose media cannot be written (cdrom).
bool IsWriteProtectedDrive(char driveLetter);

}  // namespace hostwin

#endif
