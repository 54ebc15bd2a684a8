// hostwin: works on machine folders, the emulated Windows 9x machines that the host build of
// the programs runs on. "hostwin --help" lists the subcommands, "hostwin NAME --help" explains one.
#include <stdlib.h>
#include <limits.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hostwin.h"
#include "tool.h"

namespace hostwin_tool {

namespace {

const Command kCommands[] = {
    {"new", CommandNew, "make an empty machine folder", kNewHelp},
    {"import", CommandImport, "merge a REGEDIT4 file into a machine's registry", kImportHelp},
    {"export", CommandExport, "write a machine's registry, or one key, as REGEDIT4", kExportHelp},
    {"diff", CommandDiff, "show what differs between two machine folders", kDiffHelp},
    {"run", CommandRun, "run a program on a machine and show its journal", kRunHelp},
    {"preview", CommandPreview, "run a program on a scratch copy and show what it would change",
     kPreviewHelp},
    {"import-windows", CommandImportWindows,
     "make a machine folder from a Windows 9x drive, disk image or registry export",
     kImportWindowsHelp},
};

void PrintOverview(std::FILE* out) {
    std::fprintf(out,
                 "usage: hostwin COMMAND [ARGS...]\n"
                 "       hostwin COMMAND --help\n\n"
                 "Works on machine folders: emulated Windows 9x machines (drive folders c/, d/, "
                 "registry.reg,\nmachine.ini, attributes.txt, journal.jsonl).\n\ncommands:\n");
    for (const Command& c : kCommands) std::fprintf(out, "  %-14s %s\n", c.name, c.summary);
    std::fprintf(out,
                 "\nexit codes: 0 success; 1 diff found differences; 2 bad usage or a folder or "
                 "file that\ncannot be used (the message is on standard error). run and preview "
                 "exit with the\nprogram's own code.\n");
}

bool IsHelp(const std::string& word) { return word == "--help" || word == "-h"; }

}  // namespace

bool ParsedArgs::Has(const std::string& name) const {
    for (const auto& o : options)
        if (o.first == name) return true;
    return false;
}

std::string ParsedArgs::Value(const std::string& name, const std::string& fallback) const {
    std::string value = fallback;
    for (const auto& o : options)
        if (o.first == name) value = o.second;
    return value;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<std::string>& flags,
                     const std::vector<std::string>& takesValue) {
    auto listed = [](const std::vector<std::string>& names, const std::string& name) {
        for (const std::string& n : names)
            if (n == name) return true;
        return false;
    };
    ParsedArgs parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            parsed.hasRest = true;
            parsed.rest.assign(args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        }
        if (a.size() < 2 || a[0] != '-') {
            parsed.words.push_back(a);
            continue;
        }
        std::string name = a.compare(0, 2, "--") == 0 ? a.substr(2) : a.substr(1);
        std::string value;
        const size_t eq = name.find('=');
        const bool inlineValue = eq != std::string::npos;
        if (inlineValue) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (listed(takesValue, name)) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) throw UsageError("option --" + name + " needs a value");
                value = args[++i];
            }
        } else if (!listed(flags, name) || inlineValue) {
            throw UsageError("unknown option '" + a + "'");
        }
        parsed.options.emplace_back(name, value);
    }
    return parsed;
}

void AllowHostProgramsIfAsked(const ParsedArgs& parsed) {
    if (parsed.Has("allow-host-programs")) ::setenv("HOSTWIN_ALLOW_HOST_PROGRAMS", "1", 1);
}

std::string ExistingMachineFolder(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw hostwin::MachineError("machine folder " + path +
                                    " does not exist or is not a folder");
    return path;
}

std::string RealFolder(const std::string& path) {
    char real[PATH_MAX];
    if (!::realpath(path.c_str(), real))
        throw hostwin::MachineError("machine folder " + path + " cannot be found: " + std::strerror(errno));
    return real;
}

int Main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || IsHelp(args[0]) || args[0] == "help") {
        if (args.size() >= 2 && args[0] == "help") args = {args[1], "--help"};
        else {
            PrintOverview(args.empty() ? stderr : stdout);
            return args.empty() ? kExitError : kExitOk;
        }
    }
    for (const Command& c : kCommands) {
        if (args[0] != c.name) continue;
        std::vector<std::string> rest(args.begin() + 1, args.end());
        // --help before any "--" (after it, the words belong to the program being run).
        for (const std::string& a : rest) {
            if (a == "--") break;
            if (IsHelp(a)) {
                std::fputs(c.help, stdout);
                return kExitOk;
            }
        }
        try {
            return c.run(rest);
        } catch (const UsageError& e) {
            std::fprintf(stderr, "hostwin %s: %s (see hostwin %s --help)\n", c.name, e.what(),
                         c.name);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "hostwin %s: %s\n", c.name, e.what());
        }
        return kExitError;
    }
    std::fprintf(stderr, "hostwin: unknown command '%s' (see hostwin --help)\n", args[0].c_str());
    return kExitError;
}

}  // namespace hostwin_tool

int main(int argc, char** argv) { return hostwin_tool::Main(argc, argv); }
