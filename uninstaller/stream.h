// CStream: a byte stream over a named file. Its operations are virtual and declared in their
// fixed table order; an implementation reaches its own operations through the table too, so a
// derived stream that replaces one changes what every other operation calls.
//
// Counts, offsets, positions, sizes and marks are unsigned 32-bit numbers of bytes.
#ifndef UNINSTALLER_STREAM_H
#define UNINSTALLER_STREAM_H

#include <windows.h>

class CStream {
public:
    virtual ~CStream() {}                                   // 0

    // Open a file: 1 when it is open, 0 when the open failed (the stream is closed then),
    // -1 when the name is null (the stream is left as it was).
    virtual int OpenRead(const char* name) = 0;             // 1: existing file, read only
    virtual int OpenAlways(const char* name) = 0;           // 2: read-write, created if missing
    virtual int Create(const char* name) = 0;               // 3: read-write, emptied or created
    virtual void Close() = 0;                               // 4
    // Reopens a read-only stream read-write at the same position: 1 on success, else 0.
    virtual int MakeWritable() = 0;                         // 5
    // Copy bytes out of / into the stream at the position and advance it; result: bytes moved.
    virtual DWORD Read(void* destination, DWORD count) = 0; // 6
    virtual DWORD Write(const void* source, DWORD count) = 0;  // 7
    // Writes a range of the content back to the file.
    virtual bool Flush(DWORD offset, DWORD length) = 0;     // 8
    // The content's address at the position; valid until the stream closes, reopens or grows.
    virtual char* CurrentPointer() = 0;                     // 9
    // Moves to newPosition when it lies within the content; returns the previous position.
    virtual DWORD Seek(DWORD newPosition) = 0;              // 10
    // The position while a file is held, else 0.
    virtual DWORD Tell() = 0;                               // 11
    // The position as stored, open or not.
    virtual DWORD Position() = 0;                           // 12
    // Ten saved positions; an index of 10 or more means the last one (9).
    virtual DWORD SetMark(DWORD index) = 0;                 // 13: returns the mark's old value
    virtual DWORD GoToMark(DWORD index) = 0;                // 14: returns the mark's value
    virtual DWORD Size() = 0;                               // 15
    virtual void SetSize(DWORD newSize) = 0;                // 16
    virtual const char* FileName() = 0;                     // 17
};

#endif
