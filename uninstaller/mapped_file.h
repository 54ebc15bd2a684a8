// CMappedFile: a CStream over a memory mapping of the whole file.
//
// A writable mapping is sized in whole steps of 98304 bytes, always strictly larger than the
// content, so the file on disk is that long while it is open and the bytes behind the content
// read as zero. The logical size becomes the file's length again when the file is released.
// A read-only mapping is exactly as long as the file (so an empty file can't be opened read only).
#ifndef UNINSTALLER_MAPPED_FILE_H
#define UNINSTALLER_MAPPED_FILE_H

#include <windows.h>

#include "stream.h"

class CMappedFile : public CStream {
public:
    // How OpenWithMode opens a file.
    enum Mode : DWORD {
        ModeRead = 0x80,        // existing file, read-only mapping
        ModeOpenAlways = 0x100, // read-write, created empty when missing
        ModeCreate = 0x200      // read-write, always created empty
    };
    enum : DWORD {
        kMarkCount = 10,
        kCapacityStep = 0x18000  // 98304 bytes
    };

    CMappedFile();
    ~CMappedFile() override;
    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;

    int OpenRead(const char* name) override;
    int OpenAlways(const char* name) override;
    int Create(const char* name) override;
    void Close() override;
    int MakeWritable() override;
    DWORD Read(void* destination, DWORD count) override;
    DWORD Write(const void* source, DWORD count) override;
    bool Flush(DWORD offset, DWORD length) override;
    char* CurrentPointer() override;
    DWORD Seek(DWORD newPosition) override;
    DWORD Tell() override;
    DWORD Position() override;
    DWORD SetMark(DWORD index) override;
    DWORD GoToMark(DWORD index) override;
    DWORD Size() override;
    void SetSize(DWORD newSize) override;
    const char* FileName() override;

    // The mapping's size in bytes (0 before the first open).
    DWORD Capacity() const { return capacity; }

private:
    int OpenWithMode(const char* name, DWORD mode);
    int Grow(DWORD requiredSize);
    void ReleaseFile();

    DWORD marks[kMarkCount];
    DWORD size;               // logical size; the file's length once released
    DWORD position;
    bool isOpen;
    bool writeMode;           // opened by OpenAlways, Create or a growth
    char fileName[MAX_PATH];  // the name of the last open
    HANDLE fileHandle;
    HANDLE mappingHandle;
    char* view;
    DWORD capacity;           // size of the mapping and the view
    bool truncateOnRelease;   // releasing the file sets its length to size
};

#endif
