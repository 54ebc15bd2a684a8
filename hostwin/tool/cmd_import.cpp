// hostwin import DIR FILE.reg: merges a REGEDIT4 file into the machine's registry.
#include "hostwin/folder_lock.h"
#include "hostwin.h"
#include "command_io.h"
#include "tool.h"

namespace hostwin_tool {

const char kImportHelp[] =
    "usage: hostwin import DIR FILE.reg\n\n"
    "Merges FILE.reg, a REGEDIT4 file as regedit on Windows 9x writes it, into the registry of\n"
    "the machine folder DIR: keys and values are created or replaced, [-HKEY_...\\key] deletes a\n"
    "key with everything below it and \"name\"=- deletes a value. The registry is written back\n"
    "only when the whole file was read without error; a malformed file changes nothing.\n\n"
    "exit codes: 0 merged; 2 bad usage, or a folder or file that cannot be used or read (the\n"
    "message names the file and line).\n";

int CommandImport(const std::vector<std::string>& args) {
    const ParsedArgs parsed = ParseArgs(args, {}, {});
    if (parsed.words.size() != 2 || parsed.hasRest)
        throw UsageError("expected a machine folder and a .reg file");
    const std::string dir = ExistingMachineFolder(parsed.words[0]);
    const std::string text = ReadWholeFile(parsed.words[1]);
    // Held from load to save: a program working on the folder meanwhile waits, then replays its
    // own changes on the imported registry instead of losing them to this save.
    hostwin::FolderLock lock(dir);
    auto store = LoadMachineRegistry(dir);
    store->Merge(text, parsed.words[1]);
    store->Save();
    return kExitOk;
}

}  // namespace hostwin_tool
