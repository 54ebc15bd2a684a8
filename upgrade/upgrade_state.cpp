// The upgrade program's process-wide state with its initial values.
#include "upgrade_state.h"

bool CleanupMode = false;
char WindowsDir[MAX_PATH] = "";
char SetupProgramPath[MAX_PATH] = "";
char FixedDriveRoot[4] = "c:\\";
LONG LastHandshakeError = 0;

HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
DWORD DriverWord = 0;
DWORD BytesReturned = 0;
