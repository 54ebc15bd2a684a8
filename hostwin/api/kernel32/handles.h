// The kernel-object handle table: files, mappings, find searches, devices, processes and
// threads are objects owned by the table and reached through their HANDLE.
#ifndef HOSTWIN_HANDLES_H
#define HOSTWIN_HANDLES_H

#include <windows.h>

#include <memory>

namespace hostwin {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Called by CloseHandle before the object is destroyed; false refuses the close.
    virtual bool OnClose() { return true; }
};

// Stores the object and returns its new handle (never null, INVALID_HANDLE_VALUE or a
// pseudo handle).
HANDLE InsertHandle(std::unique_ptr<KernelObject> object);

// The object of a handle, or null when the handle is not open.
KernelObject* LookupHandle(HANDLE handle);

template <class T>
T* LookupHandleAs(HANDLE handle) {
    return dynamic_cast<T*>(LookupHandle(handle));
}

// Removes and destroys the object; false when the handle is not open.
bool RemoveHandle(HANDLE handle);

}  // namespace hostwin

#endif
