// ADVAPI32: the registry and the security functions of the restart path.
#include "thunks.h"

namespace hostwin_pe {

namespace {

uint32_t Bool(BOOL value) { return value ? 1u : 0u; }

HKEY Key(Call& c, unsigned i) { return static_cast<HKEY>(c.Handle(i)); }

uint32_t RegOpenKey(Call& c) {
    const char* subKey = c.OptionalString(1);
    HKEY result = nullptr;
    const uint32_t out = c.Arg(2);
    const LONG error = RegOpenKeyA(Key(c, 0), subKey, out ? &result : nullptr);
    if (out && error == ERROR_SUCCESS) c.p.memory.Write32(out, c.p.GuestHandle(result));
    return static_cast<uint32_t>(error);
}

uint32_t RegEnumKey(Call& c) {
    GuestBuffer name(c, c.Arg(2), c.Arg(3));
    const LONG error = RegEnumKeyA(Key(c, 0), c.Arg(1), name.Get(), c.Arg(3));
    name.WriteBack();
    return static_cast<uint32_t>(error);
}

uint32_t RegEnumValue(Call& c) {
    GuestDword nameSize(c, c.Arg(3));
    GuestBuffer name(c, c.Arg(2), nameSize.Get() ? *nameSize.Get() : 0);
    GuestDword reserved(c, c.Arg(4));
    GuestDword type(c, c.Arg(5));
    GuestDword dataSize(c, c.Arg(7));
    GuestBuffer data(c, c.Arg(6), dataSize.Get() ? *dataSize.Get() : 0);
    const LONG error = RegEnumValueA(Key(c, 0), c.Arg(1), name.Get(), nameSize.Get(),
                                     reserved.Get(), type.Get(), reinterpret_cast<LPBYTE>(data.Get()),
                                     dataSize.Get());
    name.WriteBack();
    nameSize.WriteBack();
    type.WriteBack();
    data.WriteBack();
    dataSize.WriteBack();
    return static_cast<uint32_t>(error);
}

uint32_t RegQueryValueEx(Call& c) {
    const char* value = c.OptionalString(1);
    GuestDword reserved(c, c.Arg(2));
    GuestDword type(c, c.Arg(3));
    GuestDword dataSize(c, c.Arg(5));
    GuestBuffer data(c, c.Arg(4), dataSize.Get() ? *dataSize.Get() : 0);
    const LONG error = RegQueryValueExA(Key(c, 0), value, reserved.Get(), type.Get(),
                                        reinterpret_cast<LPBYTE>(data.Get()), dataSize.Get());
    type.WriteBack();
    data.WriteBack();
    dataSize.WriteBack();
    return static_cast<uint32_t>(error);
}

uint32_t OpenThreadTokenThunk(Call& c) {
    HANDLE token = nullptr;
    const uint32_t out = c.Arg(3);
    const BOOL ok = OpenThreadToken(c.Handle(0), c.Arg(1), c.Arg(2), out ? &token : nullptr);
    if (out) c.p.memory.Write32(out, c.p.GuestHandle(token));
    return Bool(ok);
}

uint32_t LookupPrivilegeValue(Call& c) {
    const char* system = c.OptionalString(0);
    const char* name = c.OptionalString(1);
    LUID luid{};
    const uint32_t out = c.Arg(2);
    const BOOL ok = LookupPrivilegeValueA(system, name, out ? &luid : nullptr);
    if (ok && out) c.p.memory.Write(out, &luid, sizeof luid);
    return Bool(ok);
}

// TOKEN_PRIVILEGES has no pointers: the same bytes on both sides.
uint32_t AdjustTokenPrivilegesThunk(Call& c) {
    GuestBuffer next(c, c.Arg(2), c.Arg(2) ? 4 + 12 * c.p.memory.Read32(c.Arg(2)) : 0);
    GuestBuffer previous(c, c.Arg(4), c.Arg(3));
    GuestDword length(c, c.Arg(5));
    const BOOL ok = AdjustTokenPrivileges(c.Handle(0), c.Arg(1),
                                          reinterpret_cast<PTOKEN_PRIVILEGES>(next.Get()),
                                          c.Arg(3),
                                          reinterpret_cast<PTOKEN_PRIVILEGES>(previous.Get()),
                                          length.Get());
    previous.WriteBack();
    length.WriteBack();
    return Bool(ok);
}

}  // namespace

void AddAdvapi32Thunks(std::vector<Thunk>& t) {
    const char* a = "ADVAPI32.dll";
    t.push_back({a, "RegOpenKeyA", 3, RegOpenKey});
    t.push_back({a, "RegEnumKeyA", 4, RegEnumKey});
    t.push_back({a, "RegEnumValueA", 8, RegEnumValue});
    t.push_back({a, "RegQueryValueExA", 6, RegQueryValueEx});
    t.push_back({a, "RegDeleteKeyA", 2, [](Call& c) {
                     return static_cast<uint32_t>(RegDeleteKeyA(Key(c, 0), c.OptionalString(1)));
                 }});
    t.push_back({a, "RegDeleteValueA", 2, [](Call& c) {
                     return static_cast<uint32_t>(RegDeleteValueA(Key(c, 0), c.OptionalString(1)));
                 }});
    t.push_back({a, "RegCloseKey", 1,
                 [](Call& c) { return static_cast<uint32_t>(RegCloseKey(Key(c, 0))); }});
    t.push_back({a, "OpenThreadToken", 4, OpenThreadTokenThunk});
    t.push_back({a, "LookupPrivilegeValueA", 3, LookupPrivilegeValue});
    t.push_back({a, "AdjustTokenPrivileges", 6, AdjustTokenPrivilegesThunk});
}

}  // namespace hostwin_pe
