// The drive table of machine.ini: each drive letter's type and write protection.
#include "hostwin/drives.h"

#include <sys/stat.h>

#include <string>

#include "hostwin/machine_error.h"
#include "hostwin/machine.h"
#include "hostwin/text_util.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

// The drive types machine.ini names.
const struct {
    const char* word;
    UINT type;
} kTypes[] = {{"removable", DRIVE_REMOVABLE}, {"fixed", DRIVE_FIXED}, {"remote", DRIVE_REMOTE},
              {"cdrom", DRIVE_CDROM},         {"ramdisk", DRIVE_RAMDISK}};

bool ParseDriveType(const std::string& word, UINT& type) {
    for (const auto& t : kTypes)
        if (EqualsNoCase(word, t.word)) {
            type = t.type;
            return true;
        }
    return false;
}

const char kWriteProtected[] = "write-protected";

// A [drives] value: a type, and for a removable drive optionally "write-protected" after it.
bool ParseDriveSetting(const std::string& text, UINT& type, bool& writeProtected) {
    std::string value = Trim(text);
    writeProtected = false;
    const size_t blank = value.find_first_of(" \t");
    if (blank != std::string::npos) {
        if (!EqualsNoCase(Trim(value.substr(blank)), kWriteProtected)) return false;
        writeProtected = true;
        value = value.substr(0, blank);
    }
    return ParseDriveType(value, type) && (!writeProtected || type == DRIVE_REMOVABLE);
}

struct DriveEntry {
    UINT type;
    bool writeProtected;
};

DriveEntry LookUpDrive(const Machine& machine, char driveLetter) {
    // The section was checked when the machine opened.
    if (const IniSection* drives = machine.Settings().find("drives")) {
        for (const IniEntry& e : drives->entries) {
            DriveEntry drive;
            if (FoldCase(e.key[0]) == FoldCase(driveLetter) &&
                ParseDriveSetting(e.value, drive.type, drive.writeProtected))
                return drive;
        }
    }
    struct stat st;
    std::string folder = machine.DriveFolder(driveLetter);
    return {(::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? UINT(DRIVE_FIXED)
                                                                      : UINT(DRIVE_NO_ROOT_DIR),
            false};
}

}  // namespace

void CheckDriveSettings(const IniSection& drives, const std::string& fileLabel) {
    RequireUniqueKeys(drives, fileLabel);
    for (const IniEntry& e : drives.entries) {
        const std::string where = fileLabel + " line " + std::to_string(e.line) + ": ";
        const char letter = FoldCase(e.key[0]);
        if (e.key.size() != 1 || letter < 'A' || letter > 'Z')
            throw MachineError(where + "'" + e.key + "' is not a drive letter");
        UINT type;
        bool writeProtected;
        if (!e.hasValue || !ParseDriveSetting(e.value, type, writeProtected))
            throw MachineError(where +
                               "a drive is removable, fixed, remote, cdrom or ramdisk "
                               "(a removable one may be write-protected)");
    }
}

UINT DriveType(const Machine& machine, char driveLetter) {
    return LookUpDrive(machine, driveLetter).type;
}

bool IsWriteProtectedDrive(const Machine& machine, char driveLetter) {
    const DriveEntry drive = LookUpDrive(machine, driveLetter);
    return drive.type == DRIVE_CDROM || drive.writeProtected;
}

bool IsCdromDrive(const Machine& machine, char driveLetter) {
    return DriveType(machine, driveLetter) == DRIVE_CDROM;
}

DWORD WriteProtectError(const Machine& machine, char driveLetter) {
    return IsCdromDrive(machine, driveLetter) ? static_cast<DWORD>(ERROR_ACCESS_DENIED)
                                     : static_cast<DWORD>(ERROR_WRITE_PROTECT);
}

}  // namespace hostwin
