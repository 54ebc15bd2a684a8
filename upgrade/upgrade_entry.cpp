// The upgrade program's entry: the whole run is RunUpgrade; the program always ends with 0.
#include <windows.h>

#include "upgrade_flow.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RunUpgrade();
    return 0;
}
