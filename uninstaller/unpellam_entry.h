// The uninstaller's entry, shared with its tests.
#ifndef UNINSTALLER_UNPELLAM_ENTRY_H
#define UNINSTALLER_UNPELLAM_ENTRY_H

class CDriverCleaner;

// Asks Windows to restart; on NT only from a thread with a token of its own (see the .cpp).
void RestartWindows();

// One pass of the uninstaller on its cleaner: keywords of the (writable) argument text, the
// warning texts, the boxes and the selected removals. WinMain creates the cleaner around it.
void RunUninstaller(CDriverCleaner& cleaner, char* arguments);

#endif
