// hostwin's command interpreter for batch files: what a small self-removal batch needs.
//
//   :label             a jump target (a line starting with ':')
//   goto label         jumps to the line after ":label" (case-insensitive; "goto :label" too)
//   del / erase paths  deletes files (wildcards allowed; switches such as /q are ignored)
//   rmdir / rd path    removes an empty directory
//   if [not] exist path command
//   rem, echo, @...    no effect; exit ends the batch
//
// Command words are case-insensitive; paths may be in double quotes. Before a line runs, %%
// becomes %, %0 the batch file's path, %1 to %9 nothing, and %name% nothing (the batch sees
// no environment variables). Every change goes through the hostwin functions (DeleteFileA,
// RemoveDirectoryA, ...), so the machine's rules apply; a file that is the executable of the
// still-running program that started the batch cannot be deleted, as on Windows.
//
// A batch that loops can never run forever: each jump back pauses 10 ms, and the batch is
// abandoned, with a journal line, after a time limit (120 seconds; HOSTWIN_BATCH_SECONDS
// sets another) or a million lines.
#ifndef HOSTWIN_PROCESS_BATCH_H
#define HOSTWIN_PROCESS_BATCH_H

#include <sys/types.h>

#include <string>

namespace hostwin {

struct BatchLimits {
    double seconds = 120;
    long lines = 1000000;
};

// The limits for a batch started now: the defaults, with HOSTWIN_BATCH_SECONDS applied.
BatchLimits DefaultBatchLimits();

// Runs a batch file (Windows path) in the current process; creator is the process whose
// executable counts as running. Returns the exit code: 0 when the batch ran to its end,
// 1 when it could not be read, was abandoned or jumped to a missing label.
int RunBatch(const std::string& batchWindowsPath, pid_t creator, const BatchLimits& limits);

}  // namespace hostwin

#endif
