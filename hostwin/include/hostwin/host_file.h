// The machine folder's own files (registry.reg, machine.ini, attributes.txt, journal.jsonl)
// come from wherever the folder came from, so they are opened defensively: only regular files,
// never through a symbolic link, never blocking on a FIFO or device, and read up to a limit.
#ifndef HOSTWIN_HOST_FILE_H
#define HOSTWIN_HOST_FILE_H

#include <cstddef>
#include <string>

namespace hostwin {

// Size limits of the machine files: far above any real machine, far below what would exhaust
// memory.
constexpr size_t kSettingsFileLimit = size_t{1} << 20;     // machine.ini
constexpr size_t kAttributesFileLimit = size_t{64} << 20;  // attributes.txt
constexpr size_t kRegistryFileLimit = size_t{512} << 20;   // registry.reg
constexpr size_t kShortNamesFileLimit = size_t{64} << 20;  // shortnames.txt

// Reads a machine file whole. False when it does not exist; throws MachineError naming it when
// it is a symbolic link, a directory, FIFO or device, cannot be read, or holds more than limit
// bytes. stamp, when given, receives the FileStamp of the very file read (0 when missing).
bool ReadMachineFile(const std::string& path, size_t limit, std::string& contents,
                     long long* stamp = nullptr);

// A machine file read piece by piece with the same checks, for a file too large to hold whole
// (registry.reg): the constructor opens it and throws MachineError as ReadMachineFile does.
class MachineFileReader {
public:
    MachineFileReader(const std::string& path, size_t limit);
    ~MachineFileReader();
    MachineFileReader(const MachineFileReader&) = delete;
    MachineFileReader& operator=(const MachineFileReader&) = delete;

    // False when the file does not exist; it then reads as empty.
    bool Exists() const { return fd_ >= 0; }
    size_t SizeAtOpen() const { return size_; }
    // The FileStamp of the very file opened; 0 when it does not exist.
    long long Stamp() const { return stamp_; }
    // Reads up to size bytes into data; 0 at the end. Throws MachineError naming the file when
    // it cannot be read or, having grown, holds more than limit bytes.
    size_t Read(char* data, size_t size);
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    size_t limit_;
    int fd_ = -1;
    size_t size_ = 0;
    size_t read_ = 0;
    long long stamp_ = 0;
};

// A stamp of the file's identity and last change (device, inode, size, change times), 0 when
// it does not exist: a file whose stamp is unchanged need not be read again. Every write-back
// renames a new file into place, so a file replaced by another process never keeps its stamp.
long long FileStamp(const std::string& path);

// Throws MachineError when path exists but is not a regular file (a link, FIFO, directory ...).
void RequireRegularOrMissing(const std::string& path);

// Opens journal.jsonl for appending, creating it when missing; -1 when it cannot be opened or is
// not a regular file (a link, FIFO or device is never written through).
int OpenForAppend(const std::string& path);

// Creates a new, empty temporary file beside path (same folder) for an atomic replacement:
// "<name>.tmp.<pid>.<random>", created exclusively and never through a link. Returns the open
// descriptor and its name; throws MachineError when it cannot be created.
int CreateTemporaryBeside(const std::string& path, std::string& temporaryPath);

// Removes the temporary files that runs killed in the middle of a write-back left in folder:
// those of processes that no longer run. Those of live processes are theirs to rename.
void RemoveStaleTemporaries(const std::string& folder);

// Opens a file of a drive folder whose path was checked to lie inside realFolder: never through
// a link in the final component that leads elsewhere by now (O_NOFOLLOW; a link there is
// followed only to a target that is still inside). -1 with errno set (EACCES for a target
// outside) when it cannot.
int OpenInsideFolder(const std::string& hostPath, const std::string& realFolder, int flags);

// True when hostPath, with every symbolic link resolved, lies inside realFolder (a path without
// links, as realpath gives it). A path that does not exist yet is judged by its deepest
// existing part; a dangling link or a link loop counts as outside. resolved receives the real
// path of that part when there is one.
bool LiesInsideFolder(const std::string& hostPath, const std::string& realFolder,
                      std::string& resolved);

}  // namespace hostwin

#endif
