#include "hostwin/attributes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "hostwin/drives.h"
#include "hostwin/folder_lock.h"
#include "hostwin/host_file.h"
#include "hostwin/machine_error.h"
#include "hostwin/machine.h"
#include "hostwin/text_util.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

bool IsBelow(const std::string& path, const std::string& directory) {
    return path.size() > directory.size() + 1 &&
           EqualsNoCase(path.substr(0, directory.size()), directory) &&
           path[directory.size()] == '\\';
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

AttributeEntries ParseAttributes(const std::string& text, const std::string& fileLabel) {
    AttributeEntries entries;
    std::unordered_map<std::string, int> lines;  // by upper-cased path
    ForEachLine(text, [&](int lineNo, const std::string& line) {
        if (Trim(line).empty() || line[0] == ';') return;
        const std::string where = fileLabel + " line " + std::to_string(lineNo) + ": ";
        // Exactly: 1 to 8 hex digits, one tab, a full Windows path.
        size_t digits = 0;
        while (digits < line.size() && IsHexDigit(line[digits])) ++digits;
        std::string path;
        if (digits == 0 || digits > 8 || digits >= line.size() || line[digits] != '\t' ||
            !NormalizeFullWindowsPath(line.substr(digits + 1), path))
            throw MachineError(where + "expected 1 to 8 hex digits, a tab and a full Windows path");
        auto first = lines.emplace(ToUpperAscii(path), lineNo);
        if (!first.second)
            throw MachineError(where + path + " is listed twice, in line " +
                               std::to_string(first.first->second) + " and line " +
                               std::to_string(lineNo));
        entries.emplace_back(path, static_cast<DWORD>(std::strtoul(line.c_str(), nullptr, 16)));
    });
    return entries;
}

std::string FormatAttributes(const AttributeEntries& entries) {
    std::string text;
    for (const auto& e : entries) {
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
    if (ReadMachineFile(file_, kAttributesFileLimit, text)) entries_ = ParseAttributes(text, file_);
    loadedStamp_ = stamp;
}

DWORD AttributeStore::Get(const std::string& windowsPath) {
    ReloadIfChanged();
    for (const auto& e : entries_)
        if (SameWindowsPath(e.first, windowsPath)) return e.second & kStoredAttributeMask;
    return 0;
}

void AttributeStore::Set(const std::string& windowsPath, DWORD bits) {
    // Read, change and write under the folder's lock, so no other process's line is lost.
    FolderLock lock(FolderLock::FolderOf(file_));
    ReloadIfChanged();
    bits &= kStoredAttributeMask;
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (!SameWindowsPath(it->first, windowsPath)) continue;
        if (bits == 0)
            entries_.erase(it);
        else
            it->second = bits;
        dirty_ = true;
        Save();
        return;
    }
    if (bits == 0) return;
    entries_.emplace_back(windowsPath, bits);
    dirty_ = true;
    Save();
}

void AttributeStore::Forget(const std::string& windowsPath) {
    FolderLock lock(FolderLock::FolderOf(file_));
    ReloadIfChanged();
    size_t before = entries_.size();
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const std::pair<std::string, DWORD>& e) {
                                      return SameWindowsPath(e.first, windowsPath) ||
                                             IsBelow(e.first, windowsPath);
                                  }),
                   entries_.end());
    if (entries_.size() != before) {
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
    const std::string text = FormatAttributes(entries_);
    // A machine without special attributes has no attributes.txt.
    if (text.empty())
        ::unlink(file_.c_str());
    else
        WriteHostFileAtomically(file_, text);
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
