// The kernel objects behind file handles and file mappings, shared by the file-handle,
// file-mapping and file-management families.
#ifndef HOSTWIN_FILE_OBJECT_H
#define HOSTWIN_FILE_OBJECT_H

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "handles.h"

namespace hostwin {

// What one open of a file changed. The file handle and every mapping made through it share
// the record; its journal line ("file-write") is written when the last of them is gone.
class FileChangeRecord {
public:
    explicit FileChangeRecord(std::string windowsPath) : windowsPath_(std::move(windowsPath)) {}
    ~FileChangeRecord();
    FileChangeRecord(const FileChangeRecord&) = delete;
    FileChangeRecord& operator=(const FileChangeRecord&) = delete;

    // The file's contents or length changed (or may have, through a writable view).
    void Changed() { changed_ = true; }
    // A change failed on the host (disk full, ...); the first error is journaled.
    void Failed(DWORD error) {
        if (!error_) error_ = error;
    }

private:
    std::string windowsPath_;
    bool changed_ = false;
    DWORD error_ = 0;
};

// A file opened by CreateFileA.
class FileObject : public KernelObject {
public:
    FileObject() = default;
    ~FileObject() override;
    FileObject(const FileObject&) = delete;
    FileObject& operator=(const FileObject&) = delete;

    // Drops the share registration and carries out FILE_FLAG_DELETE_ON_CLOSE, as the close
    // of the last handle of an open does on Windows; mappings keep the host file open.
    bool OnClose() override;

    int fd = -1;
    std::string windowsPath;
    std::string hostPath;
    bool canRead = false;
    bool canWrite = false;
    uint64_t position = 0;
    int openId = 0;
    std::shared_ptr<FileChangeRecord> change;
};

// The largest size of a mapping object or view still alive over the host file that fd has
// open (0 when the file is not mapped). Windows refuses to cut a file below it.
uint64_t MappedSizeOfFile(int fd);

// The same for a host path (0 when the file does not exist or is not mapped).
uint64_t MappedSizeOfPath(const std::string& hostPath);

}  // namespace hostwin

#endif
