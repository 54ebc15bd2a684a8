#include "machine_diff.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <cstring>
#include <memory>
#include <set>

#include "folder_tree.h"
#include "hostwin/attributes.h"
#include "hostwin/host_file.h"
#include "hostwin.h"
#include "hostwin/journal.h"
#include "progress.h"
#include "command_io.h"
#include "hostwin/registry_store.h"
#include "hostwin/text_util.h"
#include "hostwin/win_path.h"

namespace hostwin_tool {

namespace {

using hostwin::RegistryKey;
using hostwin::RegistryValue;

// ---- Registry ------------------------------------------------------------------------------

void CountBelow(const RegistryKey& top, size_t& keys, size_t& values) {
    keys = 0;
    values = 0;
    std::vector<const RegistryKey*> pending{&top};
    while (!pending.empty()) {
        const RegistryKey* key = pending.back();
        pending.pop_back();
        values += key->ValueCount();
        for (size_t i = 0; i < key->SubkeyCount(); ++i) pending.push_back(&key->SubkeyAt(i));
        keys += key->SubkeyCount();
    }
}

RegistryChange WholeKey(Change change, const RegistryKey& key) {
    RegistryChange c{change, key.FullName()};
    CountBelow(key, c.subkeys, c.values);
    return c;
}

bool SameValue(const RegistryValue& a, const RegistryValue& b) {
    return a.type == b.type && a.data == b.data;
}

void CompareValues(const RegistryKey& a, const RegistryKey& b, MachineDiff& diff) {
    std::vector<RegistryChange> changes;
    for (size_t i = 0; i < a.ValueCount(); ++i) {
        const RegistryValue& va = a.ValueAt(i);
        const RegistryValue* vb = b.FindValue(va.name);
        if (vb && SameValue(va, *vb)) {
            ++diff.valuesKept;
            continue;
        }
        RegistryChange c(vb ? Change::kChanged : Change::kRemoved, std::string(), true, std::string(va.name));
        c.before = hostwin::ValueLine(va);
        if (vb) c.after = hostwin::ValueLine(*vb);
        changes.push_back(std::move(c));
    }
    for (size_t i = 0; i < b.ValueCount(); ++i) {
        const RegistryValue& vb = b.ValueAt(i);
        if (a.FindValue(vb.name)) continue;
        RegistryChange c(Change::kAdded, std::string(), true, std::string(vb.name));
        c.after = hostwin::ValueLine(vb);
        changes.push_back(std::move(c));
    }
    if (changes.empty()) return;
    const std::string name = a.FullName();
    diff.registry.push_back(RegistryChange{Change::kChanged, name});
    for (RegistryChange& c : changes) {
        c.key = name;
        diff.registry.push_back(std::move(c));
    }
}

// Walks both trees depth first in the first tree's order; keys only the second has follow
// their siblings.
void CompareRegistries(const hostwin::RegistryStore& first, const hostwin::RegistryStore& second,
                       MachineDiff& diff) {
    struct Pair {
        const RegistryKey* a;
        const RegistryKey* b;
    };
    std::vector<Pair> pending;
    for (const char* root : {"HKEY_DYN_DATA", "HKEY_CURRENT_CONFIG", "HKEY_USERS",
                             "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT"})
        pending.push_back({first.RootNamed(root), second.RootNamed(root)});
    while (!pending.empty()) {
        const Pair p = pending.back();
        pending.pop_back();
        if (!p.b) {
            diff.registry.push_back(WholeKey(Change::kRemoved, *p.a));
            continue;
        }
        if (!p.a) {
            diff.registry.push_back(WholeKey(Change::kAdded, *p.b));
            continue;
        }
        if (!p.a->IsRoot()) ++diff.keysKept;
        CompareValues(*p.a, *p.b, diff);
        std::vector<Pair> children;
        for (size_t i = 0; i < p.a->SubkeyCount(); ++i) {
            const RegistryKey& sub = p.a->SubkeyAt(i);
            children.push_back({&sub, p.b->FindSubkey(sub.Name())});
        }
        for (size_t i = 0; i < p.b->SubkeyCount(); ++i) {
            const RegistryKey& sub = p.b->SubkeyAt(i);
            if (!p.a->FindSubkey(sub.Name())) children.push_back({nullptr, &sub});
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(*it);
    }
}

// ---- Files ---------------------------------------------------------------------------------

struct FileEntry {
    std::string windowsPath;
    std::string relative;  // below the machine folder: c/WINDOWS/X.INF
    EntryKind kind = EntryKind::kFile;
    std::string linkTarget;
    FileEntryState state;
};

// Every file and folder below the drive folders (c/, d/, ...), by upper-cased Windows path.
// Links are listed as links and special files as such; neither is followed or opened.
std::map<std::string, FileEntry> ListDrives(const OpenFolder& dir) {
    std::map<std::string, FileEntry> entries;
    hostwin::AttributeStore attributes(dir.Path() + "/attributes.txt");
    std::vector<std::string> drives;
    WalkTree(
        dir.Fd(), "", dir.Path(),
        [&](const TreeEntry& e) {
            if (e.path.size() == 1 && e.path[0] >= 'a' && e.path[0] <= 'z' &&
                e.kind == EntryKind::kDirectory)
                drives.push_back(e.path);
        },
        false);
    for (const std::string& drive : drives) {
        const std::string windowsDrive = std::string(1, drive[0] - 'a' + 'A') + ":";
        WalkTree(dir.Fd(), drive, dir.Path(), [&](const TreeEntry& t) {
            FileEntry e;
            std::string below = t.path.substr(drive.size() + 1);
            for (char& c : below)
                if (c == '/') c = '\\';
            e.windowsPath = windowsDrive + "\\" + below;
            e.relative = t.path;
            e.kind = t.kind;
            e.linkTarget = t.linkTarget;
            e.state.directory = t.kind == EntryKind::kDirectory;
            e.state.size = t.kind == EntryKind::kFile ? static_cast<uint64_t>(t.st.st_size) : 0;
            e.state.attributes = attributes.Get(e.windowsPath);
            entries.emplace(hostwin::ToUpperAscii(e.windowsPath), std::move(e));
        });
    }
    return entries;
}

// Whether two entries of the same size hold different bytes: files by their contents, links by
// their text; a special file is never opened.
bool ContentsDiffer(const OpenFolder& da, const FileEntry& a, const OpenFolder& db,
                    const FileEntry& b) {
    if (a.kind != b.kind) return true;
    if (a.kind == EntryKind::kLink) return a.linkTarget != b.linkTarget;
    if (a.kind != EntryKind::kFile) return false;
    struct stat sa, sb;
    const int fa = OpenTreeFile(da.Fd(), a.relative, da.Path(), &sa);
    const int fb = OpenTreeFile(db.Fd(), b.relative, db.Path(), &sb);
    std::vector<char> ba(1 << 16), bb(1 << 16);
    // Read no further than the size listed: a file that grows meanwhile cannot hold the walk.
    // Holes at the same places in both read as the same zeros and are skipped.
    const off_t size = static_cast<off_t>(a.state.size);
    bool differ = false;
    for (off_t at = 0; at < size && !differ;) {
        const off_t dataA = ::lseek(fa, at, SEEK_DATA), dataB = ::lseek(fb, at, SEEK_DATA);
        if (dataA < 0 && dataB < 0 && errno == ENXIO) break;
        if (dataA == dataB && dataA > at) {
            at = dataA;
            continue;
        }
        const size_t want = static_cast<size_t>(std::min<off_t>(size - at, ba.size()));
        const ssize_t na = ::pread(fa, ba.data(), want, at);
        const ssize_t nb = ::pread(fb, bb.data(), want, at);
        if (na < 0 || nb < 0) {
            ::close(fa);
            ::close(fb);
            throw hostwin::MachineError("cannot read " + (na < 0 ? a.relative : b.relative));
        }
        differ = na != nb || std::memcmp(ba.data(), bb.data(), static_cast<size_t>(na)) != 0;
        if (na == 0) break;
        at += na;
    }
    ::close(fa);
    ::close(fb);
    return differ;
}

void CompareFiles(const std::string& first, const std::string& second, MachineDiff& diff) {
    const OpenFolder da(first), db(second);
    const auto a = ListDrives(da);
    const auto b = ListDrives(db);
    // Entries below a removed or added folder are left out: the folder stands for them.
    std::set<std::string> wholeFolders;
    auto below = [&](const std::string& key) {
        for (size_t slash = key.find('\\'); slash != std::string::npos;
             slash = key.find('\\', slash + 1))
            if (wholeFolders.count(key.substr(0, slash))) return true;
        return false;
    };
    auto ia = a.begin();
    auto ib = b.begin();
    while (ia != a.end() || ib != b.end()) {
        const bool onlyA = ib == b.end() || (ia != a.end() && ia->first < ib->first);
        const bool onlyB = ia == a.end() || (ib != b.end() && ib->first < ia->first);
        if (onlyA || onlyB) {
            const auto& it = onlyA ? ia : ib;
            if (!below(it->first)) {
                FileChange c{onlyA ? Change::kRemoved : Change::kAdded, it->second.windowsPath};
                (onlyA ? c.before : c.after) = it->second.state;
                diff.files.push_back(c);
                if (it->second.state.directory) wholeFolders.insert(it->first);
            }
            onlyA ? ++ia : ++ib;
            continue;
        }
        const FileEntryState& sa = ia->second.state;
        const FileEntryState& sb = ib->second.state;
        FileChange c(Change::kChanged, ia->second.windowsPath);
        c.before = sa;
        c.after = sb;
        if (sa.directory == sb.directory && !sa.directory && sa.size == sb.size)
            c.contentsDiffer = ContentsDiffer(da, ia->second, db, ib->second);
        if (sa.directory != sb.directory || sa.size != sb.size || sa.attributes != sb.attributes ||
            c.contentsDiffer)
            diff.files.push_back(c);
        else
            ++diff.filesKept;
        ++ia;
        ++ib;
    }

    // machine.ini: the machine's settings, compared as a whole.
    std::string ta, tb;
    const bool hasA = hostwin::ReadMachineFile(first + "/machine.ini", hostwin::kSettingsFileLimit, ta);
    const bool hasB = hostwin::ReadMachineFile(second + "/machine.ini", hostwin::kSettingsFileLimit, tb);
    if (hasA != hasB || ta != tb) {
        FileChange c{hasA ? (hasB ? Change::kChanged : Change::kRemoved) : Change::kAdded,
                     "machine.ini"};
        c.before.size = ta.size();
        c.after.size = tb.size();
        c.contentsDiffer = hasA && hasB && ta.size() == tb.size();
        diff.files.push_back(c);
    } else if (hasA) {
        ++diff.filesKept;
    }
}

// ---- Output --------------------------------------------------------------------------------

const char* Sign(Change c) { return c == Change::kRemoved ? "-" : c == Change::kAdded ? "+" : "~"; }
const char* Word(Change c) {
    return c == Change::kRemoved ? "removed" : c == Change::kAdded ? "added" : "changed";
}

std::string AttributeNames(uint32_t bits) {
    static const struct {
        uint32_t bit;
        const char* name;
    } kNames[] = {{FILE_ATTRIBUTE_READONLY, "read-only"}, {FILE_ATTRIBUTE_HIDDEN, "hidden"},
                  {FILE_ATTRIBUTE_SYSTEM, "system"},      {FILE_ATTRIBUTE_ARCHIVE, "archive"},
                  {FILE_ATTRIBUTE_TEMPORARY, "temporary"}, {FILE_ATTRIBUTE_OFFLINE, "offline"},
                  {FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, "not-indexed"}};
    std::string names;
    for (const auto& n : kNames)
        if (bits & n.bit) names += std::string(names.empty() ? "" : " ") + n.name;
    return names.empty() ? "none" : names;
}

std::string Plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Describe(const FileEntryState& s) {
    std::string text = s.directory ? "folder" : Plural(s.size, "byte", "bytes");
    if (s.attributes) text += ", " + AttributeNames(s.attributes);
    return text;
}

}  // namespace

MachineDiff CompareMachines(const std::string& first, const std::string& second) {
    auto a = LoadMachineRegistry(first);
    auto b = LoadMachineRegistry(second);
    ProgressStep progress("comparing " + first + " and " + second);
    MachineDiff diff;
    CompareRegistries(*a, *b, diff);
    CompareFiles(first, second, diff);
    return diff;
}

std::string FormatDiff(const MachineDiff& diff) {
    size_t keyCount[3] = {0, 0, 0}, valueCount[3] = {0, 0, 0}, fileCount[3] = {0, 0, 0};
    for (const RegistryChange& c : diff.registry)
        ++(c.isValue ? valueCount : keyCount)[static_cast<int>(c.change)];
    for (const FileChange& c : diff.files) ++fileCount[static_cast<int>(c.change)];

    std::string out;
    auto counts = [](const size_t n[3], const char* one, const char* many) {
        return Plural(n[0], one, many) + " removed, " + std::to_string(n[1]) + " added, " +
               std::to_string(n[2]) + " changed";
    };
    out += "registry: " + counts(keyCount, "key", "keys") + "; " +
           counts(valueCount, "value", "values") + " in kept keys; " +
           Plural(diff.keysKept, "key", "keys") + " and " +
           Plural(diff.valuesKept, "value", "values") + " the same\n";
    for (const RegistryChange& c : diff.registry) {
        if (!c.isValue) {
            out += std::string(Sign(c.change)) + " [" + c.key + "]";
            if (c.change != Change::kChanged)
                out += "  (" + Plural(c.subkeys, "subkey", "subkeys") + ", " +
                       Plural(c.values, "value", "values") + ")";
            out += '\n';
        } else if (c.change == Change::kChanged) {
            out += "    ~ " + c.before + "  ->  " + c.after + "\n";
        } else {
            out += std::string("    ") + Sign(c.change) + " " +
                   (c.change == Change::kRemoved ? c.before : c.after) + "\n";
        }
    }
    out += "files: " + counts(fileCount, "file", "files") + "; " +
           Plural(diff.filesKept, "file", "files") + " the same\n";
    for (const FileChange& c : diff.files) {
        out += std::string(Sign(c.change)) + " " + c.path + (c.before.directory && c.change == Change::kRemoved ? "\\" : "") +
               (c.after.directory && c.change == Change::kAdded ? "\\" : "") + "  (";
        if (c.change == Change::kRemoved)
            out += Describe(c.before);
        else if (c.change == Change::kAdded)
            out += Describe(c.after);
        else if (c.before.directory != c.after.directory)
            out += Describe(c.before) + " -> " + Describe(c.after);
        else {
            std::string parts;
            if (c.before.size != c.after.size)
                parts = std::to_string(c.before.size) + " -> " +
                        Plural(c.after.size, "byte", "bytes");
            else if (c.contentsDiffer)
                parts = "contents differ, " + Plural(c.after.size, "byte", "bytes");
            if (c.before.attributes != c.after.attributes)
                parts += std::string(parts.empty() ? "" : ", ") + "attributes " +
                         AttributeNames(c.before.attributes) + " -> " +
                         AttributeNames(c.after.attributes);
            out += parts;
        }
        out += ")\n";
    }
    if (diff.Empty()) out += "no differences\n";
    return out;
}

std::string FormatDiffJson(const MachineDiff& diff) {
    using hostwin::JsonQuote;
    std::string out = "{\"registry\":[";
    for (size_t i = 0; i < diff.registry.size(); ++i) {
        const RegistryChange& c = diff.registry[i];
        out += i ? ",\n  " : "\n  ";
        out += "{\"change\":" + JsonQuote(Word(c.change)) + ",\"key\":" + JsonQuote(c.key);
        if (c.isValue) {
            out += ",\"value\":" + JsonQuote(c.value);
            if (c.change != Change::kAdded) out += ",\"before\":" + JsonQuote(c.before);
            if (c.change != Change::kRemoved) out += ",\"after\":" + JsonQuote(c.after);
        } else if (c.change != Change::kChanged) {
            out += ",\"subkeys\":" + std::to_string(c.subkeys) +
                   ",\"values\":" + std::to_string(c.values);
        }
        out += '}';
    }
    out += "],\n\"files\":[";
    auto state = [](const char* name, const FileEntryState& s) {
        return std::string(",\"") + name + "\":{\"folder\":" + (s.directory ? "true" : "false") +
               ",\"size\":" + std::to_string(s.size) +
               ",\"attributes\":" + std::to_string(s.attributes) + "}";
    };
    for (size_t i = 0; i < diff.files.size(); ++i) {
        const FileChange& c = diff.files[i];
        out += i ? ",\n  " : "\n  ";
        out += "{\"change\":" + JsonQuote(Word(c.change)) + ",\"path\":" + JsonQuote(c.path);
        if (c.change != Change::kAdded) out += state("before", c.before);
        if (c.change != Change::kRemoved) out += state("after", c.after);
        if (c.change == Change::kChanged)
            out += std::string(",\"contentsDiffer\":") + (c.contentsDiffer ? "true" : "false");
        out += '}';
    }
    out += "],\n\"same\":{\"keys\":" + std::to_string(diff.keysKept) +
           ",\"values\":" + std::to_string(diff.valuesKept) +
           ",\"files\":" + std::to_string(diff.filesKept) + "}}\n";
    return out;
}

}  // namespace hostwin_tool
