#include "attributes.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "hostwin.h"
#include "machine.h"
#include "text_util.h"
#include "win_path.h"

namespace hostwin {

namespace {

long long Stamp(const std::string& file) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) return 0;
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec +
           static_cast<long long>(st.st_size) * 7919;
}

bool IsBelow(const std::string& path, const std::string& directory) {
    return path.size() > directory.size() + 1 &&
           EqualsNoCase(path.substr(0, directory.size()), directory) &&
           path[directory.size()] == '\\';
}

}  // namespace

AttributeStore::AttributeStore(std::string hostFile) : file_(std::move(hostFile)) {
    ReloadIfChanged();
}

// Another process of the machine (the self-removal batch) may change the file; reread it
// whenever it changed on disk.
void AttributeStore::ReloadIfChanged() {
    long long stamp = Stamp(file_);
    if (stamp == loadedStamp_ || dirty_) return;
    entries_.clear();
    std::string text;
    if (ReadHostFile(file_, text)) {
        int lineNo = 0;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(pos, end - pos);
            pos = end + 1;
            ++lineNo;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (Trim(line).empty()) continue;
            size_t tab = line.find('\t');
            char* stop = nullptr;
            std::string hex = tab == std::string::npos ? "" : line.substr(0, tab);
            unsigned long bits = std::strtoul(hex.c_str(), &stop, 16);
            if (hex.empty() || *stop != '\0' || tab + 1 >= line.size())
                throw MachineError(file_ + " line " + std::to_string(lineNo) +
                                   ": expected hex bits, a tab and a Windows path");
            entries_.emplace_back(line.substr(tab + 1), static_cast<DWORD>(bits));
        }
    }
    loadedStamp_ = stamp;
}

DWORD AttributeStore::Get(const std::string& windowsPath) {
    ReloadIfChanged();
    for (const auto& e : entries_)
        if (SameWindowsPath(e.first, windowsPath)) return e.second & kStoredAttributeMask;
    return 0;
}

void AttributeStore::Set(const std::string& windowsPath, DWORD bits) {
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
    DWORD bits = Get(fromWindowsPath);
    Forget(toWindowsPath);
    Forget(fromWindowsPath);
    if (bits) Set(toWindowsPath, bits);
}

void AttributeStore::Save() {
    if (!dirty_) return;
    std::string text;
    for (const auto& e : entries_) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(e.second));
        text += hex;
        text += '\t';
        text += e.first;
        text += '\n';
    }
    WriteHostFileAtomically(file_, text);
    dirty_ = false;
    loadedStamp_ = Stamp(file_);
}

DWORD ReportedAttributes(const std::string& windowsPath, bool isDirectory) {
    DWORD bits = Machine::Current().Attributes().Get(windowsPath);
    if (isDirectory) bits |= FILE_ATTRIBUTE_DIRECTORY;
    return bits ? bits : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace hostwin
