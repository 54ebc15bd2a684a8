// The upgrade flow: first handshake, setup program, file placement, second handshake, the
// reboot message when a handshake failed, and in cleanup mode the self-removal.
#include "upgrade_flow.h"

#include <windows.h>

#include <string.h>

#include "driver_handshake.h"
#include "file_placement.h"
#include "self_removal.h"
#include "setup_launch.h"
#include "upgrade_state.h"

namespace {

const char CleanupWord[] = "Cleanup";
const int CleanupWordLength = 7;
const char SetupProgramName[] = "br10setp.exe";

// The argument: what follows the last double quote of the command line (the whole line when
// it has none), less the one character that separates it from the program path.
const char* ArgumentOf(const char* commandLine) {
    const char* lastQuote = strrchr(commandLine, '"');
    const char* argument = lastQuote ? lastQuote + 1 : commandLine;
    if (*argument) ++argument;
    return argument;
}

void FindFirstFixedDrive() {
    for (char letter = 'c'; letter <= 'y'; ++letter) {
        FixedDriveRoot[0] = letter;
        if (GetDriveTypeA(FixedDriveRoot) == DRIVE_FIXED) return;
    }
    // None of c to y is fixed: drive z is used without being asked.
    FixedDriveRoot[0] = 'z';
}

}  // namespace

bool PrepareUpgrade() {
    const char* argument = ArgumentOf(GetCommandLineA());
    // Only the first seven characters count; a shorter argument is compared with its own
    // length, so the comparison never reads past its end and never matches.
    int length = lstrlenA(argument);
    if (length > CleanupWordLength) length = CleanupWordLength;
    if (CompareStringA(LOCALE_SYSTEM_DEFAULT,
                       NORM_IGNORECASE | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH, argument, length,
                       CleanupWord, CleanupWordLength) == CSTR_EQUAL)
        CleanupMode = true;

    GetWindowsDirectoryA(WindowsDir, MAX_PATH);
    // A Windows directory too long for the setup program's path leaves it empty.
    if (lstrlenA(WindowsDir) + 1 + lstrlenA(SetupProgramName) < MAX_PATH)
        wsprintfA(SetupProgramPath, "%s\\%s", WindowsDir, SetupProgramName);
    else
        SetupProgramPath[0] = '\0';

    FindFirstFixedDrive();
    return true;
}

bool RunUpgrade() {
    PrepareUpgrade();

    HCURSOR previousCursor = NULL;
    if (HCURSOR waitCursor = LoadCursorA(NULL, IDC_WAIT)) previousCursor = SetCursor(waitCursor);

    // Failing to open the core device alone does not call for a reboot: the second
    // handshake then decides.
    bool rebootNeeded = !HandshakeBefore() && LastHandshakeError != ErrorOpenCoreDevice;
    RunSetupProgram();
    PlaceAllTables();
    if (!rebootNeeded) rebootNeeded = !HandshakeAfter();

    if (rebootNeeded)
        MessageBoxA(NULL, "You will need to re-boot to continue..", "Pellam Upgrade",
                    MB_OK | MB_ICONWARNING);
    if (CleanupMode) RemoveSelf();

    if (previousCursor) SetCursor(previousCursor);
    return true;
}
