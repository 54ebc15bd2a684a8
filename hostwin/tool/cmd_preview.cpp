// hostwin preview DIR -- PROGRAM ARGS...: runs a program on a scratch copy of the machine and
// shows what it would change, leaving DIR untouched.
#include <cstdlib>
#include <filesystem>

#include "hostwin.h"
#include "machine_diff.h"
#include "program_runs.h"
#include "command_io.h"
#include "tool.h"

namespace hostwin_tool {

const char kPreviewHelp[] =
    "usage: hostwin preview DIR [--keep] [--json] [--allow-host-programs] -- PROGRAM [ARGS...]\n\n"
    "Copies the machine folder DIR to a scratch folder (under TMPDIR, else /tmp), runs PROGRAM\n"
    "there as hostwin run does, and prints the journal lines of the run and then what the run\n"
    "changed, as hostwin diff DIR COPY shows it. DIR is left untouched; the copy is removed\n"
    "afterwards.\n\n"
    "  --keep  keep the scratch copy and say where it is\n"
    "  --allow-host-programs  let host executables in the folder run (HOSTWIN_ALLOW_HOST_PROGRAMS=1);\n"
    "         without it, only programs that [programs] in machine.ini describes start\n"
    "  --json  one JSON object: {\"code\":N,\"journal\":[...],\"diff\":{...}}\n\n"
    "exit codes: the program's own; 2 bad usage, a folder that cannot be used or no such\n"
    "program.\n";

namespace {

// A scratch folder that is removed when the preview ends, unless it is to be kept.
class ScratchFolder {
public:
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/hostwin-preview.XXXXXX";
        if (!::mkdtemp(&pattern[0]))
            throw hostwin::MachineError("cannot make a scratch folder in " + pattern);
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!keep_) std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return path_; }
    void Keep() { keep_ = true; }

private:
    std::string path_;
    bool keep_ = false;
};

}  // namespace

int CommandPreview(const std::vector<std::string>& args) {
    const ParsedArgs parsed = ParseArgs(args, {"json", "keep", "allow-host-programs"}, {});
    AllowHostProgramsIfAsked(parsed);
    if (parsed.words.size() != 1 || !parsed.hasRest || parsed.rest.empty())
        throw UsageError("expected a machine folder, then -- and the program to run");
    // The folder itself, not a link to it: the copy is made from what the link leads to.
    const std::string dir = RealFolder(ExistingMachineFolder(parsed.words[0]));
    const std::string program = FindProgram(parsed.rest[0]);
    const bool json = parsed.Has("json");

    ScratchFolder scratch;
    if (parsed.Has("keep")) scratch.Keep();
    const std::string copy = scratch.Path() + "/machine";
    CopyMachine(dir, copy);
    const unsigned long long start = JournalSize(copy);
    const int code = RunProgramOn(
        copy, program, std::vector<std::string>(parsed.rest.begin() + 1, parsed.rest.end()));
    const std::vector<std::string> journal = JournalLinesFrom(copy, start);
    const MachineDiff diff = CompareMachines(dir, copy);

    std::string out;
    if (json) {
        out = "{\"code\":" + std::to_string(code) + ",\"journal\":[";
        for (size_t i = 0; i < journal.size(); ++i) out += (i ? ",\n  " : "\n  ") + journal[i];
        out += "],\n\"diff\":" + FormatDiffJson(diff) + "}\n";
    } else {
        out = "== journal of " + parsed.rest[0] + " (exit code " + std::to_string(code) + ")\n";
        for (const std::string& line : journal) out += "   " + ReadableJournalLine(line) + "\n";
        out += "== what it changed\n" + FormatDiff(diff);
        if (parsed.Has("keep")) out += "== the scratch machine stays in " + copy + "\n";
    }
    WriteStandardOutput(out);
    return code;
}

}  // namespace hostwin_tool
