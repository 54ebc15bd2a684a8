// Opening, writing back and closing the session's machine folder.
#ifndef HOSTWIN_MACHINE_CONTROL_H
#define HOSTWIN_MACHINE_CONTROL_H

#include <string>

namespace hostwin {

// Opens the machine folder at hostFolder (replacing any machine open before, after saving it).
// Throws MachineError when the folder or one of its files cannot be used; nothing is written then.
void OpenMachine(const std::string& hostFolder);

// Writes every pending change of the open machine back (atomically) and closes it.
void CloseMachine();

// Writes pending changes back without closing (done before a message box waits, before another
// process starts and at exit).
void SyncMachine();

}  // namespace hostwin

#endif
