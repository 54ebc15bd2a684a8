// Drive types from the [drives] section of machine.ini (c=fixed, d=cdrom, a=removable, ...);
// a removable drive may carry a write-protected disk ("a=removable write-protected").
#ifndef HOSTWIN_DRIVES_H
#define HOSTWIN_DRIVES_H

#include <windows.h>

#include <string>

#include "hostwin/ini_file.h"

namespace hostwin {

class Machine;

// Throws MachineError naming the line of an entry of [drives] that is not "letter=type".
void CheckDriveSettings(const IniSection& drives, const std::string& fileLabel);

// The DRIVE_* type of a drive letter: the [drives] entry when there is one, else DRIVE_FIXED
// when the drive folder exists and DRIVE_NO_ROOT_DIR when it does not.
UINT DriveType(const Machine& machine, char driveLetter);

// True for drives whose media cannot be written: a cdrom, or a write-protected disk.
bool IsWriteProtectedDrive(const Machine& machine, char driveLetter);

// True for a cdrom drive, whose files all report FILE_ATTRIBUTE_READONLY.
bool IsCdromDrive(const Machine& machine, char driveLetter);

// The error a change on a write-protected drive fails with: ERROR_ACCESS_DENIED on a cdrom
// (the medium is read-only), ERROR_WRITE_PROTECT for a write-protected disk.
DWORD WriteProtectError(const Machine& machine, char driveLetter);

}  // namespace hostwin

#endif
