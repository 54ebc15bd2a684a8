// The programs running on the machine, as far as this process can know them: itself, the
// processes it started, and, in a batch process, the program that started the batch and the
// processes that program had started. On Windows 9x a running program's executable cannot be
// deleted, overwritten or moved, and no process's current directory can be removed.
#ifndef HOSTWIN_RUNNING_PROGRAMS_H
#define HOSTWIN_RUNNING_PROGRAMS_H

#include <sys/types.h>

#include <string>

namespace hostwin {

// A process this one started: a host program (its host executable) or a batch process
// (hostExecutable empty: the command interpreter is no file of the machine).
void NoteStartedProcess(pid_t pid, const std::string& hostExecutable);

// A started process was seen to end (its exit reported); it no longer counts as running.
void NoteProcessEnded(pid_t pid);

// Called in a batch process, a fork of the program that started it: from now on this process
// is the command interpreter, and the program (creator) counts as a running program.
void BecomeCommandInterpreter(pid_t creator);

// The file this process runs, when it is not the host executable itself (a Windows program that
// hostwin-pe runs): while the process lives, that file cannot be deleted, overwritten or moved.
void SetRunningExecutable(const std::string& hostFile);

// True when the host file is the executable of a running program.
bool IsRunningExecutable(const std::string& hostFile);

// True when the host directory is the current directory of a running process (this one
// included).
bool IsCurrentDirectoryOfRunningProcess(const std::string& hostDirectory);

}  // namespace hostwin

#endif
