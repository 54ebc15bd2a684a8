// Short (8.3) aliases of long file names, as the FAT file system of Windows 9x gives them:
// "br10codec.info" is also "BR10CO~1.INF". An alias is upper case, has the first six
// characters of the name (fewer for larger numbers), "~N" with N the first number free in
// its folder, and the first three characters of the extension.
//
// Aliases are kept for the life of a file in shortnames.txt (one line per file: the alias, a
// tab, the canonical Windows path). A file that has no line yet (it was put into the machine
// folder from outside) gets its alias in name order among the unstored names of its folder;
// before any name of a folder is added or removed, those aliases are written down, so that
// no alias ever changes while its file lives. Created, copied and moved files get new ones.
#ifndef HOSTWIN_SHORT_NAMES_H
#define HOSTWIN_SHORT_NAMES_H

#include <string>
#include <utility>
#include <vector>

namespace hostwin {

class Machine;

// True when the name is a valid 8.3 name in any letter case; such a name is its own alias.
bool IsShortName(const std::string& name);

// The alias of a long name with the number n: MakeAlias("br10codec.info", 1) is
// "BR10CO~1.INF".
std::string MakeAlias(const std::string& name, int n);

// A folder of the machine: its canonical Windows path and its host path.
struct Folder {
    std::string windows;
    std::string host;
};

class ShortNameStore {
public:
    explicit ShortNameStore(std::string hostFile);

    // The aliases of a folder's entries that have one (long name, alias), in name order.
    std::vector<std::pair<std::string, std::string>> AliasesIn(const Folder& folder);
    // The long name in the folder whose alias is the given name; "" when none is.
    std::string LongNameOf(const Folder& folder, const std::string& alias);

    // Call before a name of the folder is added or removed: writes down the aliases that
    // its files have so far.
    void Freeze(const Folder& folder);
    // A name was added to the folder (created, copied or moved there): it gets the first
    // free alias.
    void Added(const Folder& folder, const std::string& name);
    // A file or directory was removed from the folder: its alias (and those below it) go.
    void Removed(const Folder& folder, const std::string& name);
    // A directory moved: the aliases of everything below it follow.
    void MovedTree(const std::string& fromWindows, const std::string& toWindows);
    void Save();

private:
    void ReloadIfChanged();
    // The aliases of every name of the folder that needs one, stored or derived.
    std::vector<std::pair<std::string, std::string>> Compute(const Folder& folder,
                                                             bool storeDerived);
    std::string file_;
    std::vector<std::pair<std::string, std::string>> entries_;  // (Windows path, alias)
    long long loadedStamp_ = -1;
    bool dirty_ = false;
};

// The short-name store of the open machine. Every change is written at once, so the store
// can be shared with the other processes of the machine.
ShortNameStore& ShortNames(Machine& machine);

}  // namespace hostwin

#endif
