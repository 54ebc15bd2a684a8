// attributes.txt: the Windows file attributes (read-only, hidden, system, archive, ...) that
// hostwin keeps for files whose attributes are not plain. One line per file: the bits in hex,
// a tab, the canonical Windows path. Host permission bits play no part (root ignores them).
#ifndef HOSTWIN_ATTRIBUTES_H
#define HOSTWIN_ATTRIBUTES_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace hostwin {

class Machine;

// The attribute bits that the store keeps; FILE_ATTRIBUTE_DIRECTORY and _NORMAL are derived.
constexpr DWORD kStoredAttributeMask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                       FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The lines of attributes.txt: normal-form Windows path and bits, in file order.
using AttributeEntries = std::vector<std::pair<std::string, DWORD>>;

// Parses attributes.txt. Blank lines and lines starting with ';' are skipped; every other line
// is 1 to 8 hex digits, a tab and a full Windows path, which is taken in its normal form
// (NormalizeFullWindowsPath). Throws MachineError naming fileLabel and the line for anything
// else and for a path listed twice (naming both lines). A path may hold blanks and ';', so
// nothing after it counts as a comment.
AttributeEntries ParseAttributes(const std::string& text, const std::string& fileLabel);

// Positions in an AttributeEntries by a hash of the path with letter case and the kind of slash
// set aside: finding a path takes the same time however many lines the file has.
using AttributeIndex = std::unordered_multimap<uint64_t, size_t>;
// The same parse, giving the index of the entries too.
void ParseAttributes(const std::string& text, const std::string& fileLabel, AttributeEntries& entries,
                     AttributeIndex& index);
// The index entry of the path's line, or index.end().
AttributeIndex::const_iterator FindAttributeEntry(const AttributeIndex& index,
                                                  const AttributeEntries& entries,
                                                  const std::string& windowsPath);
// The file's text for the entries: "%08X<tab>path" lines.
std::string FormatAttributes(const AttributeEntries& entries);

class AttributeStore {
public:
    // Reads the file (a missing file is an empty store); throws MachineError for a bad line.
    explicit AttributeStore(std::string hostFile);

    // Stored bits of a file (canonical Windows path); 0 when it has none.
    DWORD Get(const std::string& windowsPath);
    // Sets the stored bits (0 removes the line) and writes the file at once.
    void Set(const std::string& windowsPath, DWORD bits);
    // A deleted file or directory (and everything below it) loses its lines.
    void Forget(const std::string& windowsPath);
    // A moved file takes its line along.
    void Move(const std::string& fromWindowsPath, const std::string& toWindowsPath);
    void Save();

private:
    void ReloadIfChanged();
    void Compact();
    void Erase(AttributeIndex::const_iterator at);
    std::string file_;
    // File order. An erased line keeps its place, with an empty path, until more than half the
    // places are such gaps; then the entries close up and are indexed again.
    AttributeEntries entries_;
    AttributeIndex index_;
    size_t erased_ = 0;
    long long loadedStamp_ = -1;
    bool dirty_ = false;
};

// The attribute bits of an existing file or directory: the stored bits, plus
// FILE_ATTRIBUTE_READONLY for every file on a cdrom (its medium cannot change).
DWORD AttributeBits(Machine& machine, const std::string& windowsPath, bool isDirectory);

// The attributes of an existing resolved file as Win32 reports them: AttributeBits, plus
// FILE_ATTRIBUTE_DIRECTORY for directories; FILE_ATTRIBUTE_NORMAL when nothing else is set.
DWORD ReportedAttributes(Machine& machine, const std::string& windowsPath, bool isDirectory);

}  // namespace hostwin

#endif
