// A Windows 9x drive to import from, read only: a host folder (a copy of C:\ or a mounted
// partition) or a FAT file system inside a disk image, read through mtools.
#ifndef HOSTWIN_IMPORT_SOURCE_DRIVE_H
#define HOSTWIN_IMPORT_SOURCE_DRIVE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hostwin_import {

// FAT attribute bits, as Windows reports them.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrArchive = 0x20;

// The largest file a FAT drive holds.
constexpr uint64_t kSourceFileLimit = 0xFFFFFFFFull;
// The most output of one mtools listing: far beyond any Windows 9x drive's directories.
constexpr size_t kListingLimit = size_t{256} << 20;

struct SourceEntry {
    std::string path;  // below the drive root, names joined by '/', as the source spells them
    bool isDirectory = false;
    uint32_t attributes = 0;  // the FAT attribute bits above
    std::string alias;        // the short (8.3) name the file system keeps, when known and
                              // different from the name
};

class SourceDrive {
public:
    virtual ~SourceDrive() = default;
    // How messages name the drive: the folder, or image@offset.
    virtual std::string Describe() const = 0;
    // The entries directly in dir ("" is the root) or, when recursive, everything below it.
    // An empty list for a missing directory.
    virtual std::vector<SourceEntry> List(const std::string& dir, bool recursive) = 0;
    // Writes the file's bytes to the open host file descriptor fd. Throws ImportError, also
    // for a file of more than limit bytes (checked before its bytes are read where the size
    // is known, else while they are).
    virtual void CopyTo(const std::string& path, int fd, uint64_t limit = kSourceFileLimit) = 0;
    // Copies files into the empty host folder stagingDir, each under its last name as List
    // spells it. The default copies them one by one through CopyTo.
    virtual void CopyBatch(const std::vector<std::string>& paths, const std::string& stagingDir);

    // The entry of dir named name without regard to ASCII case; false when none is.
    bool Find(const std::string& dir, const std::string& name, SourceEntry& found);
    // The whole file, at most limit bytes (more is an ImportError).
    std::string Read(const std::string& path, size_t limit);
};

std::unique_ptr<SourceDrive> OpenFolderDrive(const std::string& hostFolder);
std::unique_ptr<SourceDrive> OpenImageDrive(const std::string& image, uint64_t offset);

// An anonymous in-memory host file holding the drive file's bytes, for readers that need a
// path (libcreg): the descriptor and its /proc path. Closed by the destructor.
class MemoryFile {
public:
    MemoryFile(SourceDrive& drive, const std::string& path, uint64_t limit = kSourceFileLimit);
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    const std::string& HostPath() const { return hostPath_; }

private:
    int fd_ = -1;
    std::string hostPath_;
};

}  // namespace hostwin_import

#endif
