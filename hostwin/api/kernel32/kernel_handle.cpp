// CloseHandle (kernel32): closes any kernel object of the handle table.
#include <windows.h>

#include "handles.h"

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
    hostwin::KernelObject* object = hostwin::LookupHandle(hObject);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!object->OnClose()) return FALSE;
    hostwin::RemoveHandle(hObject);
    return TRUE;
}
