// The upgrade program's control: the start-up state and the fixed order of the steps.
#ifndef UPGRADE_UPGRADE_FLOW_H
#define UPGRADE_UPGRADE_FLOW_H

// Fills CleanupMode, WindowsDir, SetupProgramPath and FixedDriveRoot; always true.
bool PrepareUpgrade();
// Runs the whole upgrade; always true.
bool RunUpgrade();

#endif
