#include "hostwin/attributes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "hostwin/drives.h"
#include "hostwin/folder_lock.h"
#include "hostwin/host_file.h"
#include "hostwin/machine_error.h"
#include "hostwin/machine.h"
#include "hostwin/text_util.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

// Two Windows paths name one file when they are equal with letter case and the kind of slash
// set aside; the index works on a hash of that folded form.
char Folded(char c) { return c == '/' ? '\\' : FoldCase(c); }

uint64_t FoldedHash(const std::string& path) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char c : path) hash = (hash ^ static_cast<unsigned char>(Folded(c))) * 1099511628211ull;
    return hash;
}

bool SameFolded(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Folded(a[i]) != Folded(b[i])) return false;
    return true;
}

// Whether path lies below directory (folded comparison, no copies: Forget runs this over every
// line).
bool IsBelow(const std::string& path, const std::string& directory) {
    if (path.size() <= directory.size() + 1 || Folded(path[directory.size()]) != '\\') return false;
    for (size_t i = 0; i < directory.size(); ++i)
        if (Folded(path[i]) != Folded(directory[i])) return false;
    return true;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

AttributeIndex::const_iterator FindAttributeEntry(const AttributeIndex& index,
                                                  const AttributeEntries& entries,
                                                  const std::string& windowsPath) {
    auto range = index.equal_range(FoldedHash(windowsPath));
    for (auto it = range.first; it != range.second; ++it)
        if (SameFolded(entries[it->second].first, windowsPath)) return it;
    return index.end();
}

void ParseAttributes(const std::string& text, const std::string& fileLabel, AttributeEntries& entries,
                     AttributeIndex& index) {
    entries.clear();
    index.clear();
    std::vector<int> lineOf;  // of each entry, for the message about a path listed twice
    ForEachLine(text, [&](int lineNo, const std::string& line) {
        if (Trim(line).empty() || line[0] == ';') return;
        // Exactly: 1 to 8 hex digits, one tab, a full Windows path.
        size_t digits = 0;
        while (digits < line.size() && IsHexDigit(line[digits])) ++digits;
        std::string path;
        auto where = [&] { return fileLabel + " line " + std::to_string(lineNo) + ": "; };
        if (digits == 0 || digits > 8 || digits >= line.size() || line[digits] != '\t' ||
            !NormalizeFullWindowsPath(line.substr(digits + 1), path))
            throw MachineError(where() + "expected 1 to 8 hex digits, a tab and a full Windows path");
        auto first = FindAttributeEntry(index, entries, path);
        if (first != index.end())
            throw MachineError(where() + path + " is listed twice, in line " +
                               std::to_string(lineOf[first->second]) + " and line " +
                               std::to_string(lineNo));
        index.emplace(FoldedHash(path), entries.size());
        lineOf.push_back(lineNo);
        entries.emplace_back(std::move(path), static_cast<DWORD>(std::strtoul(line.c_str(), nullptr, 16)));
    });
}

AttributeEntries ParseAttributes(const std::string& text, const std::string& fileLabel) {
    AttributeEntries entries;
    AttributeIndex index;
    ParseAttributes(text, fileLabel, entries, index);
    return entries;
}

std::string FormatAttributes(const AttributeEntries& entries) {
    std::string text;
    for (const auto& e : entries) {
        if (e.first.empty()) continue;  // an erased line of the store
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(e.second));
        text += hex;
        text += '\t';
        text += e.first;
        text += '\n';
    }
    return text;
}

AttributeStore::AttributeStore(std::string hostFile) : file_(std::move(hostFile)) {
    ReloadIfChanged();
}

// Another process of the machine (the self-removal batch) may change the file; reread it
// whenever it changed on disk.
void AttributeStore::ReloadIfChanged() {
    long long stamp = FileStamp(file_);
    if (stamp == loadedStamp_ || dirty_) return;
    std::string text;
    entries_.clear();
    index_.clear();
    erased_ = 0;
    if (ReadMachineFile(file_, kAttributesFileLimit, text)) ParseAttributes(text, file_, entries_, index_);
    loadedStamp_ = stamp;
}

// Closes up the gaps that erased lines left and indexes the entries again.
void AttributeStore::Compact() {
    AttributeEntries kept;
    kept.reserve(entries_.size() - erased_);
    for (auto& e : entries_)
        if (!e.first.empty()) kept.push_back(std::move(e));
    entries_ = std::move(kept);
    index_.clear();
    for (size_t i = 0; i < entries_.size(); ++i) index_.emplace(FoldedHash(entries_[i].first), i);
    erased_ = 0;
}

void AttributeStore::Erase(AttributeIndex::const_iterator at) {
    entries_[at->second].first.clear();
    index_.erase(at);
    ++erased_;
}

DWORD AttributeStore::Get(const std::string& windowsPath) {
    ReloadIfChanged();
    auto found = FindAttributeEntry(index_, entries_, windowsPath);
    return found == index_.end() ? 0 : entries_[found->second].second & kStoredAttributeMask;
}

void AttributeStore::Set(const std::string& windowsPath, DWORD bits) {
    // Read, change and write under the folder's lock, so no other process's line is lost.
    FolderLock lock(FolderLock::FolderOf(file_));
    ReloadIfChanged();
    bits &= kStoredAttributeMask;
    auto found = FindAttributeEntry(index_, entries_, windowsPath);
    if (found != index_.end()) {
        if (bits == 0)
            Erase(found);
        else
            entries_[found->second].second = bits;
    } else {
        if (bits == 0) return;
        index_.emplace(FoldedHash(windowsPath), entries_.size());
        entries_.emplace_back(windowsPath, bits);
    }
    dirty_ = true;
    Save();
}

void AttributeStore::Forget(const std::string& windowsPath) {
    FolderLock lock(FolderLock::FolderOf(file_));
    ReloadIfChanged();
    const size_t before = erased_;
    auto found = FindAttributeEntry(index_, entries_, windowsPath);
    if (found != index_.end()) Erase(found);
    // Everything below it: one pass without copies (a write of the file costs more).
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (!IsBelow(entries_[i].first, windowsPath)) continue;
        Erase(FindAttributeEntry(index_, entries_, entries_[i].first));
    }
    if (erased_ != before) {
        dirty_ = true;
        Save();
    }
}

void AttributeStore::Move(const std::string& fromWindowsPath, const std::string& toWindowsPath) {
    FolderLock lock(FolderLock::FolderOf(file_));
    DWORD bits = Get(fromWindowsPath);
    Forget(toWindowsPath);
    Forget(fromWindowsPath);
    if (bits) Set(toWindowsPath, bits);
}

void AttributeStore::Save() {
    if (!dirty_) return;
    if (erased_ > entries_.size() / 2) Compact();
    const std::string text = FormatAttributes(entries_);
    // A machine without special attributes has no attributes.txt.
    WriteHostFileOrRemove(file_, text);
    dirty_ = false;
    loadedStamp_ = FileStamp(file_);
}

DWORD AttributeBits(Machine& machine, const std::string& windowsPath, bool isDirectory) {
    DWORD bits = machine.Attributes().Get(windowsPath);
    if (!isDirectory && !windowsPath.empty() && IsCdromDrive(machine, windowsPath[0]))
        bits |= FILE_ATTRIBUTE_READONLY;
    return bits;
}

DWORD ReportedAttributes(Machine& machine, const std::string& windowsPath, bool isDirectory) {
    DWORD bits = AttributeBits(machine, windowsPath, isDirectory);
    if (isDirectory) bits |= FILE_ATTRIBUTE_DIRECTORY;
    return bits ? bits : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace hostwin
