// CMappedFile: opening, growing and releasing the mapping, and the stream operations over it.
#include "mapped_file.h"

#include <cstring>

namespace {

// The mapping size for a writable file of `required` bytes: the smallest multiple of the
// capacity step strictly above it (so an empty file gets one step). False when that size
// would not fit in 32 bits.
bool CapacityFor(DWORD required, DWORD* capacity) {
    const DWORD steps = required / CMappedFile::kCapacityStep + 1;
    if (steps > 0xFFFFFFFFu / CMappedFile::kCapacityStep) return false;
    *capacity = steps * CMappedFile::kCapacityStep;
    return true;
}

// Moves the file pointer to `length` and ends the file there.
void SetFileLength(HANDLE file, DWORD length) {
    LONG high = 0;  // with a high part the low part counts as unsigned: lengths up to 4 GiB
    SetFilePointer(file, static_cast<LONG>(length), &high, FILE_BEGIN);
    SetEndOfFile(file);
}

}  // namespace

CMappedFile::CMappedFile()
    : marks(),
      size(0),
      position(0),
      isOpen(false),
      writeMode(false),
      fileName(),
      fileHandle(INVALID_HANDLE_VALUE),
      mappingHandle(nullptr),
      view(nullptr),
      capacity(0),
      truncateOnRelease(false) {}

CMappedFile::~CMappedFile() { Close(); }

int CMappedFile::OpenRead(const char* name) { return OpenWithMode(name, ModeRead); }

int CMappedFile::OpenAlways(const char* name) { return OpenWithMode(name, ModeOpenAlways); }

int CMappedFile::Create(const char* name) { return OpenWithMode(name, ModeCreate); }

int CMappedFile::OpenWithMode(const char* name, DWORD mode) {
    if (!name) return -1;

    // A name that doesn't fit the name buffer is refused rather than cut: a cut name names
    // another file, which the release would then truncate. The stored name is cleared so
    // that MakeWritable can't reopen the previous file under the refused name.
    size_t length = 0;
    while (length < MAX_PATH && name[length]) ++length;
    const bool nameFits = length < MAX_PATH;
    if (!nameFits)
        fileName[0] = '\0';
    else if (name != fileName)
        std::memmove(fileName, name, length + 1);  // MakeWritable passes fileName itself

    Close();
    truncateOnRelease = mode != ModeRead;
    if (!nameFits) return 0;  // closed already

    const bool writable = mode != ModeRead;
    const DWORD access = writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    const DWORD creation =
        mode == ModeCreate ? CREATE_ALWAYS : mode == ModeOpenAlways ? OPEN_ALWAYS : OPEN_EXISTING;
    fileHandle = CreateFileA(name, access, FILE_SHARE_READ, nullptr, creation,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (fileHandle == INVALID_HANDLE_VALUE) {
        Close();
        return 0;
    }

    // A file this stream can't describe in 32 bits must not be cut to a wrong length on
    // release, so it isn't truncated at all.
    DWORD sizeHigh = 0;
    const DWORD sizeLow = GetFileSize(fileHandle, &sizeHigh);
    DWORD newCapacity = sizeLow;
    if (sizeLow == INVALID_FILE_SIZE || sizeHigh != 0 ||
        (writable && !CapacityFor(sizeLow, &newCapacity))) {
        truncateOnRelease = false;
        Close();
        return 0;
    }
    size = sizeLow;
    capacity = newCapacity;

    mappingHandle = CreateFileMappingA(fileHandle, nullptr, writable ? PAGE_READWRITE : PAGE_READONLY,
                                       0, capacity, nullptr);
    if (!mappingHandle) {
        Close();
        return 0;
    }
    view = static_cast<char*>(
        MapViewOfFile(mappingHandle, writable ? FILE_MAP_ALL_ACCESS : FILE_MAP_READ, 0, 0, capacity));
    if (!view) {
        Close();
        return 0;
    }

    position = 0;
    isOpen = true;
    writeMode = writable;
    return 1;
}

void CMappedFile::ReleaseFile() {
    if (view) {
        UnmapViewOfFile(view);
        view = nullptr;
    }
    if (mappingHandle) {
        CloseHandle(mappingHandle);
        mappingHandle = nullptr;
    }
    if (fileHandle != INVALID_HANDLE_VALUE) {
        if (truncateOnRelease) SetFileLength(fileHandle, size);
        CloseHandle(fileHandle);
        fileHandle = INVALID_HANDLE_VALUE;
    }
}

int CMappedFile::Grow(DWORD requiredSize) {
    if (!isOpen) return 0;
    truncateOnRelease = true;
    // Releasing writes the view back and gives the file the raised size.
    Close();

    fileHandle = CreateFileA(fileName, GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (fileHandle == INVALID_HANDLE_VALUE || !CapacityFor(requiredSize, &capacity)) {
        Close();
        return 0;
    }
    mappingHandle = CreateFileMappingA(fileHandle, nullptr, PAGE_READWRITE, 0, capacity, nullptr);
    SetFileLength(fileHandle, size);
    if (!mappingHandle) {
        Close();
        return 0;
    }
    view = static_cast<char*>(MapViewOfFile(mappingHandle, FILE_MAP_ALL_ACCESS, 0, 0, capacity));
    if (!view) {
        Close();
        return 0;
    }
    isOpen = true;
    writeMode = true;
    return 1;
}

void CMappedFile::Close() {
    if (fileHandle == INVALID_HANDLE_VALUE) return;
    ReleaseFile();
    isOpen = false;
    writeMode = false;
}

int CMappedFile::MakeWritable() {
    if (writeMode) return 1;
    const DWORD at = Tell();
    const int result = OpenAlways(fileName);
    Seek(at);
    return result;
}

DWORD CMappedFile::Read(void* destination, DWORD count) {
    if (!isOpen || !destination) return 0;
    // A position behind the content (after SetSize shortened it) has nothing to read.
    const DWORD available = position < size ? size - position : 0;
    const DWORD moved = count < available ? count : available;
    std::memcpy(destination, view + position, moved);
    position += moved;
    return moved;
}

DWORD CMappedFile::Write(const void* source, DWORD count) {
    if (!isOpen || !source) return 0;
    // The view of a stream opened read only can't be written; callers make it writable first.
    if (!writeMode) return 0;
    // An end that 32 bits can't hold, or that no mapping could cover, is refused before
    // anything changes.
    if (count > 0xFFFFFFFFu - position) return 0;
    const DWORD end = position + count;
    DWORD needed = capacity;
    if (end > capacity && !CapacityFor(end, &needed)) return 0;

    if (end > size) size = end;
    // A failed growth has closed the stream.
    if (size > capacity && !Grow(size)) return 0;
    std::memmove(view + position, source, count);  // the source may lie in the view itself
    position += count;
    return count;
}

bool CMappedFile::Flush(DWORD offset, DWORD length) {
    if (!view || offset > size) return false;
    if (length > size - offset) length = size - offset;
    return FlushViewOfFile(view + offset, length) != FALSE;
}

char* CMappedFile::CurrentPointer() { return view ? view + position : nullptr; }

DWORD CMappedFile::Seek(DWORD newPosition) {
    const DWORD previous = position;
    if (isOpen && newPosition <= size) position = newPosition;
    return previous;
}

DWORD CMappedFile::Tell() { return fileHandle != INVALID_HANDLE_VALUE ? position : 0; }

DWORD CMappedFile::Position() { return position; }

DWORD CMappedFile::SetMark(DWORD index) {
    if (index >= kMarkCount) index = kMarkCount - 1;
    const DWORD previous = marks[index];
    marks[index] = position;
    return previous;
}

DWORD CMappedFile::GoToMark(DWORD index) {
    if (index >= kMarkCount) index = kMarkCount - 1;
    Seek(marks[index]);
    return marks[index];
}

DWORD CMappedFile::Size() { return size; }

// A size above the mapping is ignored: Read, Flush and the release would otherwise reach
// past the view or give the file bytes it never had.
void CMappedFile::SetSize(DWORD newSize) {
    if (newSize <= capacity) size = newSize;
}

const char* CMappedFile::FileName() { return fileName; }
