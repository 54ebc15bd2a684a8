// GetDriveTypeA (kernel32) over the drive table of machine.ini.
#include <windows.h>

#include <string>

#include "hostwin/machine.h"
#include "hostwin/drives.h"
#include "hostwin/win_path.h"

extern "C" UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName) {
    std::string root = lpRootPathName
                           ? lpRootPathName
                           : hostwin::CurrentDirectory(hostwin::Machine::Current()).substr(0, 3);
    // Only a drive root with its backslash names a drive ("C:\"); anything else has no root.
    if (root.size() != 3 || root[1] != ':' || (root[2] != '\\' && root[2] != '/'))
        return DRIVE_NO_ROOT_DIR;
    char letter = root[0];
    if (!((letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z')))
        return DRIVE_NO_ROOT_DIR;
    return hostwin::DriveType(hostwin::Machine::Current(), letter);
}
