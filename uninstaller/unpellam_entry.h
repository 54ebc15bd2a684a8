// The uninstaller's restart request, shared with the tests of the entry.
#ifndef UNINSTALLER_UNPELLAM_ENTRY_H
#define UNINSTALLER_UNPELLAM_ENTRY_H

void RestartWindows();

#endif
