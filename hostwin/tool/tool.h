// The hostwin command: one command with subcommands that work on machine folders (new, import,
// export, diff, run, preview). Each subcommand lives in its own cmd_*.cpp and is listed in
// main.cpp's table.
#ifndef HOSTWIN_TOOL_TOOL_H
#define HOSTWIN_TOOL_TOOL_H

#include <stdexcept>
#include <string>
#include <vector>

namespace hostwin_tool {

// Exit codes shared by every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitDifferent = 1;  // diff: the folders differ
constexpr int kExitError = 2;      // bad usage, or a folder or file that cannot be used

// Bad usage: the message goes to standard error with a pointer to --help; exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A subcommand: its arguments without the command words; returns the exit code. Errors are
// thrown (UsageError, hostwin::MachineError, ToolError) and reported by main.
using CommandFunction = int (*)(const std::vector<std::string>& args);

struct Command {
    const char* name;
    CommandFunction run;
    const char* summary;  // one line for hostwin --help
    const char* help;     // the text of hostwin NAME --help
};

int CommandNew(const std::vector<std::string>& args);
int CommandImport(const std::vector<std::string>& args);
int CommandExport(const std::vector<std::string>& args);
int CommandDiff(const std::vector<std::string>& args);
int CommandRun(const std::vector<std::string>& args);
int CommandPreview(const std::vector<std::string>& args);
int CommandImportWindows(const std::vector<std::string>& args);

extern const char kNewHelp[];
extern const char kImportHelp[];
extern const char kExportHelp[];
extern const char kDiffHelp[];
extern const char kRunHelp[];
extern const char kPreviewHelp[];
extern const char kImportWindowsHelp[];

// Splits arguments into options (--name or --name=value, or --name value for the names in
// takesValue) and positional words; "--" ends the options, and whatever follows it is kept in
// rest. Unknown options are a UsageError.
struct ParsedArgs {
    std::vector<std::string> words;
    std::vector<std::pair<std::string, std::string>> options;  // name (without --), value
    std::vector<std::string> rest;                              // after "--"
    bool hasRest = false;
    bool Has(const std::string& name) const;
    std::string Value(const std::string& name, const std::string& fallback) const;
};
ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<std::string>& flags,
                     const std::vector<std::string>& takesValue);

// --allow-host-programs: sets HOSTWIN_ALLOW_HOST_PROGRAMS=1 for the program run, so that host
// executables in the machine folder may start.
void AllowHostProgramsIfAsked(const ParsedArgs& parsed);

// The machine folder named on the command line: an existing folder, else a UsageError-like
// MachineError naming it.
std::string ExistingMachineFolder(const std::string& path);
// The path of a folder with every link resolved; throws MachineError when there is none.
std::string RealFolder(const std::string& path);

}  // namespace hostwin_tool

#endif
