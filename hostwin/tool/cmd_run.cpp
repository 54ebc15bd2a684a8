// hostwin run DIR -- PROGRAM ARGS...: runs a program on the machine and shows its journal.
#include "program_runs.h"
#include "command_io.h"
#include "tool.h"

namespace hostwin_tool {

const char kRunHelp[] =
    "usage: hostwin run DIR [--json] [--allow-host-programs] -- PROGRAM [ARGS...]\n\n"
    "Runs PROGRAM (unpellam, upgrade, or a path) on the machine folder DIR, then prints the\n"
    "journal lines of that run. A Windows program file (a host path, or a Windows path on the\n"
    "machine such as C:\\WINDOWS\\UNPELLAM.EXE) runs in hostwin-pe. The folder is changed as the\n"
    "program changes it. Message boxes take their answers from HOSTWIN_ANSWERS, else from the\n"
    "terminal (see docs/hostwin.md).\n\n"
    "  --allow-host-programs  let host executables in the folder run (HOSTWIN_ALLOW_HOST_PROGRAMS=1);\n"
    "         without it, only programs that [programs] in machine.ini describes start\n"
    "  --json  the journal lines as they are (one JSON object per line)\n\n"
    "exit codes: the program's own; 2 bad usage, a folder that cannot be used or no such\n"
    "program.\n";

int CommandRun(const std::vector<std::string>& args) {
    const ParsedArgs parsed = ParseArgs(args, {"json", "allow-host-programs"}, {});
    AllowHostProgramsIfAsked(parsed);
    if (parsed.words.size() != 1 || !parsed.hasRest || parsed.rest.empty())
        throw UsageError("expected a machine folder, then -- and the program to run");
    const std::string dir = ExistingMachineFolder(parsed.words[0]);
    const std::string program = FindProgram(parsed.rest[0]);
    const unsigned long long start = JournalSize(dir);
    const int code = RunProgramOn(
        dir, program, std::vector<std::string>(parsed.rest.begin() + 1, parsed.rest.end()));
    std::string out;
    for (const std::string& line : JournalLinesFrom(dir, start))
        out += (parsed.Has("json") ? line : ReadableJournalLine(line)) + "\n";
    WriteStandardOutput(out);
    return code;
}

}  // namespace hostwin_tool
