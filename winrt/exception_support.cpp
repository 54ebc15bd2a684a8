// What the compiler's C++ exception support (libsupc++ and libgcc's DWARF-2 unwinder) needs from
// the C runtime it normally sits on, written over Win32 functions that Windows 95 exports.
// Linked into programs that throw and catch; see also eh_frame.ld.
#include <windows.h>

#include <stdlib.h>

// The unwinder's record of one module's unwind tables.
struct UnwindObject {
    void* words[8];
};

extern "C" {

// Start of the unwind tables (.eh_frame), placed by eh_frame.ld, which also ends them with the
// zero word the unwinder stops at.
extern const char __EH_FRAME_BEGIN__[];

void __register_frame_info(const void* begin, UnwindObject* object);

// Non-zero tells libgcc and libsupc++ that threads may exist, so they guard their shared state
// with the locks of gthr-win32 (semaphores) and keep per-thread state in TLS slots (TlsAlloc).
int _CRT_MT = 1;

// libgcc registers a destructor for its thread-local records here; the C runtime would run it
// when a thread ends. The programs end all threads with the process, which frees the records.
int __mingwthr_key_dtor(unsigned long, void (*)(void*)) { return 0; }

}  // extern "C"

namespace {

UnwindObject ProgramUnwindObject;

// Registers the program's unwind tables before any other static constructor runs, so that a
// throw from anywhere finds its handler.
__attribute__((constructor(101))) void RegisterUnwindTables() {
    __register_frame_info(__EH_FRAME_BEGIN__, &ProgramUnwindObject);
}

// libgcc's locks create their semaphores with CreateSemaphoreW, which Windows 9x exports only as
// a stub that fails. It calls the function through its import pointer and never passes a name,
// so the pointer is given this forwarder to CreateSemaphoreA instead of a W import.
HANDLE WINAPI CreateUnnamedSemaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                     LPCWSTR name) {
    if (name) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    return CreateSemaphoreA(attributes, initial, maximum, nullptr);
}

}  // namespace

extern "C" {
extern decltype(&CreateUnnamedSemaphore) const CreateSemaphoreWPointer
    __asm__("__imp__CreateSemaphoreW@16");
decltype(&CreateUnnamedSemaphore) const CreateSemaphoreWPointer = &CreateUnnamedSemaphore;
}

// An exception that no handler catches, or a fault inside the exception support, ends the
// process as abort does (exit code 3). This replaces libsupc++'s default handler, which would
// print through the C runtime's stderr.
namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx
