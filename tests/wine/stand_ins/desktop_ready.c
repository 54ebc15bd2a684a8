/* Waits until Wine's desktop can show windows: creates and destroys a hidden window of its
   own, trying for up to 30 seconds. A program started afterwards finds the desktop running;
   without one, a message box returns at once instead of waiting for its answer. */
#include <windows.h>
#include <stdio.h>

int main(void) {
    int attempt;
    for (attempt = 0; attempt < 300; ++attempt) {
        HWND window = CreateWindowExA(0, "STATIC", "desktop check", WS_POPUP, 0, 0, 10, 10,
                                      NULL, NULL, GetModuleHandleA(NULL), NULL);
        if (window && GetDesktopWindow()) {
            DestroyWindow(window);
            return 0;
        }
        if (window) DestroyWindow(window);
        Sleep(100);
    }
    fprintf(stderr, "desktop_ready: no desktop after 30 s (%lu)\n", GetLastError());
    return 1;
}
