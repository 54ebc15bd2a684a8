// What differs between two machine folders: the registry key by key and value by value, the
// files of the drive folders by path with size, contents and attributes, and machine.ini.
#ifndef HOSTWIN_TOOL_MACHINE_DIFF_H
#define HOSTWIN_TOOL_MACHINE_DIFF_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hostwin_tool {

enum class Change { kRemoved, kAdded, kChanged };

// One registry difference. A removed or added key stands for everything below it (counted in
// subkeys and values); a changed key is listed once, before the value changes inside it.
struct RegistryChange {
    RegistryChange(Change c, std::string keyName, bool valueChange = false,
                   std::string valueName = std::string())
        : change(c), key(std::move(keyName)), isValue(valueChange), value(std::move(valueName)) {}
    Change change;
    std::string key;     // full name, as the first folder has it (the second for added keys)
    bool isValue = false;
    std::string value;   // value name ("" is the default value)
    std::string before;  // value line ("name"=data) in the first folder, for removed/changed
    std::string after;   // and in the second, for added/changed
    size_t subkeys = 0;  // for a removed or added key: keys and values below and in it
    size_t values = 0;
};

struct FileEntryState {
    bool directory = false;
    uint64_t size = 0;
    uint32_t attributes = 0;  // stored Windows attribute bits (read-only, hidden, ...)
};

struct FileChange {
    FileChange(Change c, std::string windowsPath) : change(c), path(std::move(windowsPath)) {}
    Change change;
    std::string path;  // Windows path (C:\WINDOWS\X.INF), or machine.ini
    FileEntryState before, after;
    bool contentsDiffer = false;  // changed files of equal size
};

struct MachineDiff {
    std::vector<RegistryChange> registry;
    std::vector<FileChange> files;
    size_t keysKept = 0;    // keys present in both folders
    size_t valuesKept = 0;  // values with the same type and data in both
    size_t filesKept = 0;   // files and folders the same in both
    bool Empty() const { return registry.empty() && files.empty(); }
};

// Compares the folders; throws MachineError when either cannot be read.
MachineDiff CompareMachines(const std::string& first, const std::string& second);

// The differences as a person reads them: one line per key, value or file, with a summary.
std::string FormatDiff(const MachineDiff& diff);
// The differences as one JSON object.
std::string FormatDiffJson(const MachineDiff& diff);

}  // namespace hostwin_tool

#endif
