// hostwin diff DIR1 DIR2 [--json]: what differs between two machine folders.
#include "machine_diff.h"
#include "command_io.h"
#include "tool.h"

namespace hostwin_tool {

const char kDiffHelp[] =
    "usage: hostwin diff DIR1 DIR2 [--json]\n\n"
    "Shows what differs between two machine folders, from DIR1 to DIR2:\n"
    "  the registry key by key and value by value: - [key] removed (with the number of subkeys\n"
    "  and values it took along), + [key] added, ~ [key] a key whose values changed, followed\n"
    "  by its value lines (- removed, + added, ~ old -> new);\n"
    "  the files and folders of the drives by Windows path, with size and attributes, and\n"
    "  machine.ini. The journal is left out.\n\n"
    "  --json  one JSON object: {\"registry\":[...],\"files\":[...],\"same\":{...}}\n\n"
    "exit codes: 0 no differences; 1 differences; 2 bad usage or a folder that cannot be used.\n";

int CommandDiff(const std::vector<std::string>& args) {
    const ParsedArgs parsed = ParseArgs(args, {"json"}, {});
    if (parsed.words.size() != 2 || parsed.hasRest) throw UsageError("expected two machine folders");
    const MachineDiff diff = CompareMachines(ExistingMachineFolder(parsed.words[0]),
                                             ExistingMachineFolder(parsed.words[1]));
    WriteStandardOutput(parsed.Has("json") ? FormatDiffJson(diff) : FormatDiff(diff));
    return diff.Empty() ? kExitOk : kExitDifferent;
}

}  // namespace hostwin_tool
