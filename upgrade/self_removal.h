// The self-removal of cleanup mode: a batch file that deletes the program's executable and
// its directory once the program has ended.
#ifndef UPGRADE_SELF_REMOVAL_H
#define UPGRADE_SELF_REMOVAL_H

#include <windows.h>

// "\PellamUpgradeDelUS.bat", in the root directory of the current drive.
extern const char SelfRemovalBatchPath[];

// The batch text for a module path (cmd.exe's % expansion taken into account); false when
// it would not fit the buffer of size characters.
bool FormatSelfRemovalBatch(const char* modulePath, char* buffer, int size);

// Whether a batch, written to and started in the root of currentDirectory's drive, could
// delete the executable at modulePath: not from a network current directory (\\server\...),
// which the command interpreter cannot use, and not from a CD.
bool SelfRemovalCanFinish(const char* modulePath, const char* currentDirectory);

// Writes the batch file and starts it, suspended at idle priority, resumed as the very last
// thing; gives up silently when that cannot be done, leaving the program as it was.
void RemoveSelf();

#endif
