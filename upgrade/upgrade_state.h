// The upgrade program's process-wide state: plain globals, filled once at start by
// PrepareUpgrade (and, for the device items, used by the handshakes) and read by every step.
#ifndef UPGRADE_UPGRADE_STATE_H
#define UPGRADE_UPGRADE_STATE_H

#include <windows.h>

// Set when the command line asks for "Cleanup": files are moved, not copied, and the program
// removes itself at the end.
extern bool CleanupMode;
// The Windows directory, without a trailing backslash.
extern char WindowsDir[MAX_PATH];
// The driver setup program as it stands in the Windows directory: WindowsDir\br10setp.exe.
extern char SetupProgramPath[MAX_PATH];
// The root of the first fixed drive, lower-case letter, colon, backslash ("c:\").
extern char FixedDriveRoot[4];
// The code of the last failed handshake (1 to 7), 0 while none has failed.
extern LONG LastHandshakeError;

// The device open at the moment during a handshake; INVALID_HANDLE_VALUE outside them.
extern HANDLE DeviceHandle;
// The word that one control code answers and the next one is sent.
extern DWORD DriverWord;
// Byte count that every DeviceIoControl call reports into; never read.
extern DWORD BytesReturned;

#endif
