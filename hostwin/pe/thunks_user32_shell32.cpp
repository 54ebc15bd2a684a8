// USER32 (message boxes, cursors, restart, wsprintfA) and SHELL32 (ShellExecuteExA).
#include <cctype>
#include <cstdio>
#include <cstring>

#include "thunks.h"

namespace hostwin_pe {

namespace {

uint32_t Bool(BOOL value) { return value ? 1u : 0u; }

uint32_t MessageBox(Call& c) {
    const char* text = c.OptionalString(1);
    const char* caption = c.OptionalString(2);
    return static_cast<uint32_t>(
        MessageBoxA(static_cast<HWND>(c.Handle(0)), text, caption, c.Arg(3)));
}

uint32_t LoadCursor(Call& c) {
    // A cursor is named by a resource number (below 0x10000) or a string.
    const uint32_t name = c.Arg(1);
    const char* text = name >= 0x10000 ? c.OptionalString(1)
                                       : reinterpret_cast<const char*>(static_cast<uintptr_t>(name));
    return c.p.GuestHandle(LoadCursorA(static_cast<HINSTANCE>(c.Handle(0)), text));
}

// wsprintfA (cdecl, variable arguments): each conversion is formatted by hostwin's own
// wsprintfA with the guest's 32-bit argument widened as the host's conversion wants it.
uint32_t Wsprintf(Call& c) {
    const uint32_t out = c.Arg(0);
    std::string format;
    if (!out || !c.String(1, format)) return 0;
    std::string result;
    unsigned next = 2;
    char piece[1024];
    for (size_t i = 0; i < format.size() && result.size() < 1023;) {
        if (format[i] != '%') {
            result += format[i++];
            continue;
        }
        size_t end = i + 1;
        while (end < format.size() && std::strchr("-#0 +", format[end])) ++end;
        while (end < format.size() && (std::isdigit(static_cast<unsigned char>(format[end])) || format[end] == '.')) ++end;
        bool isLong = false;
        while (end < format.size() && (format[end] == 'l' || format[end] == 'h')) isLong |= format[end++] == 'l';
        if (end >= format.size()) break;
        const char type = format[end];
        std::string conversion = format.substr(i, end + 1 - i);
        i = end + 1;
        if (type == '%') {
            result += '%';
            continue;
        }
        const uint32_t value = std::strchr("cdiuxXs", type) ? c.Arg(next++) : 0;
        if (type == 's') {
            std::string text;
            const bool present = value != 0;
            if (present) text = c.p.memory.ReadString(value);
            wsprintfA(piece, conversion.c_str(), present ? text.c_str() : "(null)");
        } else if (type == 'c' || (!isLong && std::strchr("di", type))) {
            wsprintfA(piece, conversion.c_str(), static_cast<int>(value));
        } else if (!isLong && std::strchr("uxX", type)) {
            wsprintfA(piece, conversion.c_str(), static_cast<unsigned>(value));
        } else if (std::strchr("di", type)) {
            wsprintfA(piece, conversion.c_str(), static_cast<long>(static_cast<int32_t>(value)));
        } else if (std::strchr("uxX", type)) {
            wsprintfA(piece, conversion.c_str(), static_cast<unsigned long>(value));
        } else {
            std::snprintf(piece, sizeof piece, "%s", conversion.c_str() + 1);  // no conversion: as text
        }
        result += piece;
    }
    if (result.size() > 1023) result.resize(1023);
    c.p.memory.Write(out, result.c_str(), result.size() + 1);
    return static_cast<uint32_t>(result.size());
}

// SHELLEXECUTEINFOA of the guest: fifteen dwords; cbSize 60.
uint32_t ShellExecuteEx(Call& c) {
    const uint32_t at = c.Arg(0);
    if (!at) return Bool(ShellExecuteExA(nullptr));
    uint32_t w[15];
    c.p.memory.Read(at, w, sizeof w);
    std::string verb, file, parameters, directory, kind;
    auto text = [&](uint32_t pointer, std::string& keep) -> const char* {
        if (!pointer) return nullptr;
        keep = c.p.memory.ReadString(pointer);
        return keep.c_str();
    };
    SHELLEXECUTEINFOA info{};
    info.cbSize = w[0] == sizeof w ? sizeof info : 0;
    info.fMask = w[1];
    info.hwnd = static_cast<HWND>(c.p.HostHandle(w[2]));
    info.lpVerb = text(w[3], verb);
    info.lpFile = text(w[4], file);
    info.lpParameters = text(w[5], parameters);
    info.lpDirectory = text(w[6], directory);
    info.nShow = static_cast<int>(w[7]);
    info.lpClass = text(w[10], kind);
    info.hkeyClass = static_cast<HKEY>(c.p.HostHandle(w[11]));
    info.dwHotKey = w[12];
    const BOOL ok = ShellExecuteExA(&info);
    c.p.memory.Write32(at + 32, c.p.GuestHandle(info.hInstApp));
    if (w[1] & SEE_MASK_NOCLOSEPROCESS) c.p.memory.Write32(at + 56, c.p.GuestHandle(info.hProcess));
    return Bool(ok);
}

}  // namespace

void AddUser32Thunks(std::vector<Thunk>& t) {
    const char* u = "USER32.dll";
    t.push_back({u, "MessageBoxA", 4, MessageBox});
    t.push_back({u, "LoadCursorA", 2, LoadCursor});
    t.push_back({u, "SetCursor", 1, [](Call& c) {
                     return c.p.GuestHandle(SetCursor(static_cast<HCURSOR>(c.Handle(0))));
                 }});
    t.push_back({u, "ExitWindowsEx", 2, [](Call& c) { return Bool(ExitWindowsEx(c.Arg(0), c.Arg(1))); }});
    t.push_back({u, "wsprintfA", 0, Wsprintf});
}

void AddShell32Thunks(std::vector<Thunk>& t) {
    t.push_back({"SHELL32.dll", "ShellExecuteExA", 1, ShellExecuteEx});
}

}  // namespace hostwin_pe
