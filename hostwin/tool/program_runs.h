// Running a built program (unpellam, upgrade, ...) on a machine folder and reading the journal
// lines of that run; copying a machine folder to a scratch place.
#ifndef HOSTWIN_TOOL_PROGRAM_RUNS_H
#define HOSTWIN_TOOL_PROGRAM_RUNS_H

#include <string>
#include <vector>

namespace hostwin_tool {

// The host executable for a program word: a path (with a slash) as it is; a name is looked
// for among the programs built beside this tool, then in PATH. Throws MachineError when none
// is found.
std::string FindProgram(const std::string& word);

// Runs the program with HOSTWIN_MACHINE set to the folder, standard input, output and error
// shared with this process. Returns its exit code (128 + the signal when a signal ended it).
int RunProgramOn(const std::string& folder, const std::string& program,
                 const std::vector<std::string>& args);

// The most journal text one run may add that run and preview show (far above any real run).
constexpr unsigned long long kJournalRunLimit = 64ull << 20;

// Size of the folder's journal.jsonl (0 when there is none): where a run's lines will start.
unsigned long long JournalSize(const std::string& folder);
// The journal lines written from offset on. Both throw MachineError when journal.jsonl is a
// link, FIFO, device or directory, or when the run added more than kJournalRunLimit bytes.
std::vector<std::string> JournalLinesFrom(const std::string& folder, unsigned long long offset);
// A journal line as a person reads it: the event name, then key=value pairs.
std::string ReadableJournalLine(const std::string& line);

// Copies a whole machine folder to to (which must not exist yet), with a progress line: a
// private copy that shares nothing with it (see CopyTree).
void CopyMachine(const std::string& from, const std::string& to);

// An absolute form of a host path, so a program started elsewhere finds the same folder.
std::string AbsolutePath(const std::string& path);

}  // namespace hostwin_tool

#endif
