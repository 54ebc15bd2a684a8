// ExitWindowsEx (user32): records the restart request in the journal and restarts nothing.
#include <windows.h>

#include "hostwin/journal.h"

using namespace hostwin;

extern "C" BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason) {
    JournalEvent("restart")
        .Number("flags", static_cast<long long>(uFlags))
        .Number("reserved", static_cast<long long>(dwReason))
        .Write();
    return TRUE;
}
