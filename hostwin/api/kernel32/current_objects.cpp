// The pseudo handles of the current process and thread (kernel32).
#include <windows.h>

extern "C" HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(-1); }

extern "C" HANDLE WINAPI GetCurrentThread(void) { return reinterpret_cast<HANDLE>(-2); }
