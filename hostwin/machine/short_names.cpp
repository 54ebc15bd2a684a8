#include "hostwin/short_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "hostwin/folder_lock.h"
#include "hostwin/host_file.h"
#include "hostwin/machine_error.h"
#include "hostwin/machine.h"
#include "hostwin/text_util.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

// Characters a long name may hold but an 8.3 name may not; an alias has '_' in their place.
bool IsLongOnlyCharacter(char c) {
    return c == '+' || c == ',' || c == ';' || c == '=' || c == '[' || c == ']';
}

bool IsShortPart(const std::string& part, size_t limit) {
    if (part.size() > limit) return false;
    for (char c : part)
        if (c == ' ' || c == '.' || IsLongOnlyCharacter(c)) return false;
    return true;
}

std::string ParentOf(const std::string& windowsPath) {
    const size_t slash = windowsPath.rfind('\\');
    if (slash == std::string::npos) return "";
    return slash == 2 ? windowsPath.substr(0, 3) : windowsPath.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

bool IsBelow(const std::string& path, const std::string& directory) {
    const std::string prefix = directory.back() == '\\' ? directory : directory + "\\";
    return path.size() > prefix.size() && EqualsNoCase(path.substr(0, prefix.size()), prefix);
}

// hostwin's own temporary files (a copy on its way into place) have no alias.
bool IsTemporary(const std::string& name) { return name.compare(0, 8, ".hostwin") == 0; }

}  // namespace

bool IsShortName(const std::string& name) {
    if (name.empty() || name[0] == '.') return false;
    const size_t dot = name.find('.');
    if (dot == std::string::npos) return IsShortPart(name, 8);
    return dot > 0 && IsShortPart(name.substr(0, dot), 8) && IsShortPart(name.substr(dot + 1), 3);
}

std::string MakeAlias(const std::string& name, int n) {
    std::string text;
    for (char c : name)
        if (c != ' ') text += c;
    // Leading dots are dropped; the extension follows the last dot, the other dots go.
    text.erase(0, text.find_first_not_of('.') == std::string::npos ? text.size()
                                                                    : text.find_first_not_of('.'));
    const size_t dot = text.rfind('.');
    std::string base = dot == std::string::npos ? text : text.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : text.substr(dot + 1, 3);
    base.erase(std::remove(base.begin(), base.end(), '.'), base.end());
    auto shorten = [](std::string& part) {
        part = ToUpperAscii(part);
        for (char& c : part)
            if (IsLongOnlyCharacter(c)) c = '_';
    };
    shorten(base);
    shorten(extension);
    if (base.empty()) base = "_";
    const std::string tail = "~" + std::to_string(n);
    base = base.substr(0, 8 - std::min<size_t>(tail.size(), 7));
    return base + tail + (extension.empty() ? "" : "." + extension);
}

ShortNameStore::ShortNameStore(std::string hostFile) : file_(std::move(hostFile)) {
    ReloadIfChanged();
}

// The self-removal batch runs in a process of its own: reread the file whenever it changed.
void ShortNameStore::ReloadIfChanged() {
    const long long stamp = FileStamp(file_);
    if (stamp == loadedStamp_ || dirty_) return;
    entries_.clear();
    // Held to the rules of the other machine files: a link, directory, FIFO or device, or a
    // file over the limit, stops the program instead of reading as "no aliases".
    std::string text;
    if (ReadMachineFile(file_, kShortNamesFileLimit, text)) {
        ForEachLine(text, [&](int lineNo, const std::string& line) {
            if (Trim(line).empty()) return;
            const size_t tab = line.find('\t');
            if (tab == std::string::npos || tab == 0 || !IsShortName(line.substr(0, tab)) ||
                !ParseAbsoluteDrivePath(line.substr(tab + 1)))
                throw MachineError(file_ + " line " + std::to_string(lineNo) +
                                   ": expected an 8.3 alias, a tab and a Windows path");
            entries_.emplace_back(line.substr(tab + 1), line.substr(0, tab));
        });
    }
    loadedStamp_ = stamp;
}

std::vector<std::pair<std::string, std::string>> ShortNameStore::Compute(const Folder& folder,
                                                                         bool storeDerived) {
    ReloadIfChanged();
    const std::vector<std::string> names = ListHostDirectory(folder.host);
    const std::set<std::string> present(names.begin(), names.end());
    std::set<std::string> taken;
    std::map<std::string, std::string> stored;  // long name -> alias, for present names
    for (const std::string& name : names)
        if (IsShortName(name)) taken.insert(ToUpperAscii(name));
    for (const auto& entry : entries_) {
        if (!EqualsNoCase(ParentOf(entry.first), folder.windows)) continue;
        const std::string name = entry.first.substr(entry.first.rfind('\\') + 1);
        if (!present.count(name)) continue;
        stored[name] = entry.second;
        taken.insert(ToUpperAscii(entry.second));
    }
    std::vector<std::pair<std::string, std::string>> result;
    for (const std::string& name : names) {
        if (IsShortName(name) || IsTemporary(name)) continue;
        const auto known = stored.find(name);
        if (known != stored.end()) {
            result.push_back(*known);
            continue;
        }
        std::string alias;
        for (int n = 1; alias.empty() || taken.count(alias); ++n) alias = MakeAlias(name, n);
        taken.insert(alias);
        result.emplace_back(name, alias);
        if (storeDerived) {
            entries_.emplace_back(Join(folder.windows, name), alias);
            dirty_ = true;
        }
    }
    return result;
}

std::vector<std::pair<std::string, std::string>> ShortNameStore::AliasesIn(const Folder& folder) {
    return Compute(folder, false);
}

std::string ShortNameStore::LongNameOf(const Folder& folder, const std::string& alias) {
    for (const auto& entry : Compute(folder, false))
        if (EqualsNoCase(entry.second, alias)) return entry.first;
    return "";
}

// The changes read, change and write the file under the folder's lock, so that no other
// process's line is lost.
void ShortNameStore::Freeze(const Folder& folder) {
    FolderLock lock(FolderLock::FolderOf(file_));
    Compute(folder, true);
    Save();
}

void ShortNameStore::Added(const Folder& folder, const std::string& name) {
    FolderLock lock(FolderLock::FolderOf(file_));
    ReloadIfChanged();
    const std::string path = Join(folder.windows, name);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const std::pair<std::string, std::string>& e) {
                                      return EqualsNoCase(e.first, path);
                                  }),
                   entries_.end());
    dirty_ = true;
    Compute(folder, true);  // the new name is the one without a stored alias
    Save();
}

void ShortNameStore::Removed(const Folder& folder, const std::string& name) {
    FolderLock lock(FolderLock::FolderOf(file_));
    ReloadIfChanged();
    const std::string path = Join(folder.windows, name);
    const size_t before = entries_.size();
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const std::pair<std::string, std::string>& e) {
                                      return EqualsNoCase(e.first, path) || IsBelow(e.first, path);
                                  }),
                   entries_.end());
    if (entries_.size() != before) dirty_ = true;
    Save();
}

void ShortNameStore::MovedTree(const std::string& fromWindows, const std::string& toWindows) {
    FolderLock lock(FolderLock::FolderOf(file_));
    ReloadIfChanged();
    for (auto& entry : entries_)
        if (IsBelow(entry.first, fromWindows)) {
            entry.first = toWindows + entry.first.substr(fromWindows.size());
            dirty_ = true;
        }
    Save();
}

void ShortNameStore::Save() {
    if (!dirty_) return;
    std::string text;
    for (const auto& entry : entries_) text += entry.second + "\t" + entry.first + "\n";
    // A machine whose names are all short has no shortnames.txt.
    WriteHostFileOrRemove(file_, text);
    dirty_ = false;
    loadedStamp_ = FileStamp(file_);
}

namespace {

// The session's aliases: those of the machine folder that is open now.
struct SessionShortNames : SessionPart {
    std::unique_ptr<ShortNameStore> store;
    std::string root;
};

}  // namespace

ShortNameStore& ShortNames(Machine& machine) {
    SessionShortNames& names = Session::Current().Part<SessionShortNames>(Session::kShortNames);
    if (!names.store || names.root != machine.Root()) {
        names.store = std::make_unique<ShortNameStore>(machine.HostPath("shortnames.txt"));
        names.root = machine.Root();
    }
    return *names.store;
}

}  // namespace hostwin
