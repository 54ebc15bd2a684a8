// LoadCursorA, SetCursor (user32): the system cursors as handles; the current cursor is
// recorded in the journal.
#include <windows.h>

#include <string>

#include "hostwin/journal.h"

namespace {

struct SystemCursor {
    WORD id;
    const char* name;
};
const SystemCursor kCursors[] = {{32512, "arrow"}, {32513, "ibeam"}, {32514, "wait"},
                                 {32515, "cross"}, {32516, "uparrow"}, {32648, "no"},
                                 {32649, "hand"},  {32650, "appstarting"}};

HCURSOR HandleOf(WORD id) { return reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x10000 + id)); }

const char* NameOf(HCURSOR cursor) {
    for (const SystemCursor& c : kCursors)
        if (HandleOf(c.id) == cursor) return c.name;
    return cursor ? "other" : "none";
}

HCURSOR current = HandleOf(32512);

}  // namespace

extern "C" HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    const uintptr_t id = reinterpret_cast<uintptr_t>(lpCursorName);
    if (!hInstance && id <= 0xFFFF)
        for (const SystemCursor& c : kCursors)
            if (c.id == id) return HandleOf(c.id);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

extern "C" HCURSOR WINAPI SetCursor(HCURSOR hCursor) {
    HCURSOR previous = current;
    current = hCursor;
    hostwin::JournalEvent("cursor").Text("cursor", NameOf(hCursor)).Write();
    return previous;
}
