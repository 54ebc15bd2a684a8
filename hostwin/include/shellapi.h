// Shell execution (shell32), for POSIX hosts. Included by <windows.h> as on Windows.
#ifndef HOSTWIN_SHELLAPI_H
#define HOSTWIN_SHELLAPI_H

#include <windef.h>

#define SEE_MASK_NOCLOSEPROCESS 0x00000040
#define SEE_MASK_FLAG_NO_UI 0x00000400

typedef struct _SHELLEXECUTEINFOA {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCSTR lpVerb;
    LPCSTR lpFile;
    LPCSTR lpParameters;
    LPCSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    union {
        HANDLE hIcon;
        HANDLE hMonitor;
    } DUMMYUNIONNAME;
    HANDLE hProcess;
} SHELLEXECUTEINFOA, *LPSHELLEXECUTEINFOA;

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI ShellExecuteExA(LPSHELLEXECUTEINFOA lpExecInfo);

#ifdef __cplusplus
}
#endif

#endif
