// The hostwin command's way through a machine folder: from a descriptor of the folder, one
// directory at a time with O_NOFOLLOW, so that no link, FIFO or device in the folder makes the
// command read, list or copy anything outside it. Links are reported as links, never followed;
// special files are reported, never opened. Every walk is bounded in depth and entries.
#ifndef HOSTWIN_TOOL_FOLDER_TREE_H
#define HOSTWIN_TOOL_FOLDER_TREE_H

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>

namespace hostwin_tool {

// Far beyond what a Windows path of MAX_PATH characters can hold.
constexpr int kTreeDepthLimit = 128;
constexpr size_t kTreeEntryLimit = 4000000;
// The largest file a FAT drive holds: a larger one cannot come from a Windows 9x machine.
constexpr uint64_t kTreeFileSizeLimit = 0xFFFFFFFFull;

enum class EntryKind { kFile, kDirectory, kLink, kSpecial };

struct TreeEntry {
    std::string path;  // relative to the walked folder, '/'-separated
    EntryKind kind;
    struct stat st;
    std::string linkTarget;  // for a link: its text
    int parentFd;            // the directory that holds it, open during the visit
    std::string name;        // its name in that directory
};

// A folder the person named on the command line, opened as a directory (a link given there is
// the person's own choice and is followed). Throws MachineError when it is not a directory.
class OpenFolder {
public:
    explicit OpenFolder(const std::string& path);
    ~OpenFolder();
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int fd_;
};

// Visits every entry below relative ("" for the folder itself), directories before what they
// hold; only the entries directly in it when recursive is false. Throws MachineError naming
// label when the walk is deeper than kTreeDepthLimit, has more than kTreeEntryLimit entries,
// or a directory cannot be read.
void WalkTree(int rootFd, const std::string& relative, const std::string& label,
              const std::function<void(const TreeEntry&)>& visit, bool recursive = true);

// Opens a regular file of the folder by its relative path without following any link; throws
// MachineError naming label when it is anything but a regular file or cannot be opened.
int OpenTreeFile(int rootFd, const std::string& relative, const std::string& label,
                 struct stat* st);

// Copies the folder to the new folder to, sharing nothing with it: regular files are copied
// (holes of sparse files kept as holes), directories made. Throws MachineError, and leaves to
// for the caller to remove, when the folder holds a link, FIFO, device or a file larger than
// kTreeFileSizeLimit.
void CopyTree(int rootFd, const std::string& label, const std::string& to);

}  // namespace hostwin_tool

#endif
