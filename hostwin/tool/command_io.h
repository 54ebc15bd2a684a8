// What the subcommands read and write besides the folder walk: a machine folder's registry.reg
// (loaded with a progress line), keys by full path, whole files given on the command line and
// standard output.
#ifndef HOSTWIN_TOOL_COMMAND_IO_H
#define HOSTWIN_TOOL_COMMAND_IO_H

#include <memory>
#include <string>

#include "hostwin/registry_store.h"

namespace hostwin_tool {

// The registry of the machine folder dir (an empty one when it has no registry.reg).
std::unique_ptr<hostwin::RegistryStore> LoadMachineRegistry(const std::string& dir);

// The key named by a full path such as HKEY_LOCAL_MACHINE\Enum\PCI (case ignored, either
// slash, a trailing backslash allowed); null when there is none.
hostwin::RegistryKey* FindKeyByPath(const hostwin::RegistryStore& store, const std::string& path);

// Reads a whole host file; throws MachineError when it cannot.
std::string ReadWholeFile(const std::string& path);

// Writes text to standard output; throws when that fails (a closed pipe, a full disk).
void WriteStandardOutput(const std::string& text);

}  // namespace hostwin_tool

#endif
