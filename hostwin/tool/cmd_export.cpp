// hostwin export DIR [KEY]: the machine's registry, or one key, as REGEDIT4 on standard output.
#include "hostwin.h"
#include "command_io.h"
#include "tool.h"

namespace hostwin_tool {

const char kExportHelp[] =
    "usage: hostwin export DIR [KEY]\n\n"
    "Writes the registry of the machine folder DIR to standard output as REGEDIT4, in the\n"
    "layout regedit on Windows 9x writes (CR LF line ends, keys in tree order). With KEY, a\n"
    "full key path such as HKEY_LOCAL_MACHINE\\Enum\\PCI, only that key and everything below it.\n\n"
    "exit codes: 0 written; 2 bad usage, a folder that cannot be used, or no such key.\n";

int CommandExport(const std::vector<std::string>& args) {
    const ParsedArgs parsed = ParseArgs(args, {}, {});
    if (parsed.words.empty() || parsed.words.size() > 2 || parsed.hasRest)
        throw UsageError("expected a machine folder and at most one key");
    const std::string dir = ExistingMachineFolder(parsed.words[0]);
    auto store = LoadMachineRegistry(dir);
    if (parsed.words.size() == 1) {
        WriteStandardOutput(store->Serialize());
        return kExitOk;
    }
    const hostwin::RegistryKey* key = FindKeyByPath(*store, parsed.words[1]);
    if (!key) throw hostwin::MachineError("no key " + parsed.words[1] + " in " + dir);
    WriteStandardOutput(store->SerializeKey(*key));
    return kExitOk;
}

}  // namespace hostwin_tool
