// The registry functions (advapi32) over the open machine's registry store. They return their
// Win32 error code and leave the last error alone.
//
// Where Win32 leaves room:
// - HKEY_PERFORMANCE_DATA is no stored tree: every function but RegCloseKey treats it as an
//   invalid handle.
// - Subkey paths: levels are separated by backslashes, runs of backslashes count as one and a
//   trailing one is ignored; a path starting with a backslash fails with ERROR_BAD_PATHNAME
//   (as on NT). A NULL or empty path gives back the handle passed in, for RegCreateKeyA too.
// - Key and value names holding a line feed can't be stored in registry.reg; creating or
//   setting them fails with ERROR_INVALID_PARAMETER.
// - When RegEnumValueA reports ERROR_MORE_DATA it writes neither name nor data and leaves the
//   name size alone; it sets the type and the needed data size (as NT does).
// - A key handle whose key was deleted stays open; every function but RegCloseKey fails on it
//   with ERROR_KEY_DELETED.
#include <cstring>
#include <string>
#include <vector>

#include "hostwin.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "hostwin/registry_store.h"

using namespace hostwin;

size_t hostwin::OpenRegistryKeyCount() { return Machine::Current().Registry().OpenHandleCount(); }

namespace {

RegistryStore& Store() { return Machine::Current().Registry(); }

LONG ResolveKey(HKEY hKey, RegistryKey*& key) {
    key = Store().KeyOfHandle(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->IsDeleted()) return ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

// The levels of a subkey path; none for NULL or "".
LONG SplitPath(LPCSTR path, std::vector<std::string>& levels) {
    levels.clear();
    if (!path || !*path) return ERROR_SUCCESS;
    if (*path == '\\') return ERROR_BAD_PATHNAME;
    for (const char* p = path; *p;) {
        const char* end = p;
        while (*end && *end != '\\') ++end;
        if (end > p) levels.emplace_back(p, end);
        p = *end ? end + 1 : end;
    }
    return ERROR_SUCCESS;
}

LONG Walk(RegistryKey* from, const std::vector<std::string>& levels, RegistryKey*& key) {
    key = from;
    for (const std::string& level : levels) {
        key = key->FindSubkey(level);
        if (!key) return ERROR_FILE_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

bool HasLineFeed(const std::string& name) { return name.find('\n') != std::string::npos; }

}  // namespace

extern "C" LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    RegistryKey* base = nullptr;
    std::vector<std::string> levels;
    LONG error = ResolveKey(hKey, base);
    if (error == ERROR_SUCCESS) error = SplitPath(lpSubKey, levels);
    if (error != ERROR_SUCCESS) return error;
    if (levels.empty()) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    RegistryKey* key = nullptr;
    error = Walk(base, levels, key);
    if (error == ERROR_SUCCESS) *phkResult = Store().OpenHandle(*key);
    return error;
}

extern "C" LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    RegistryKey* key = nullptr;
    std::vector<std::string> levels;
    LONG error = ResolveKey(hKey, key);
    if (error == ERROR_SUCCESS) error = SplitPath(lpSubKey, levels);
    for (const std::string& level : levels)
        if (error == ERROR_SUCCESS && HasLineFeed(level)) error = ERROR_INVALID_PARAMETER;
    if (error != ERROR_SUCCESS) return error;
    if (levels.empty()) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    // Windows builds no key deeper than kRegistryDepthLimit levels below its root.
    size_t depth = levels.size();
    for (const RegistryKey* up = key; up && !up->IsRoot(); up = up->Parent()) ++depth;
    if (depth > kRegistryDepthLimit) return ERROR_INVALID_PARAMETER;
    RegistryStore& store = Store();
    for (const std::string& level : levels) {
        bool created = false;
        key = &store.CreateSubkey(*key, level, &created);
        if (created)
            JournalEvent("reg-create-key").Text("key", key->FullName()).Result(true, 0).Write();
    }
    *phkResult = store.OpenHandle(*key);
    return ERROR_SUCCESS;
}

extern "C" LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
    RegistryKey* key = nullptr;
    LONG error = ResolveKey(hKey, key);
    if (error != ERROR_SUCCESS) return error;
    if (!lpName) return ERROR_INVALID_PARAMETER;
    if (dwIndex >= key->SubkeyCount()) return ERROR_NO_MORE_ITEMS;
    const std::string_view name = key->SubkeyNameAt(dwIndex);
    if (name.size() >= cchName) return ERROR_MORE_DATA;
    if (!name.empty()) std::memcpy(lpName, name.data(), name.size());
    lpName[name.size()] = '\0';
    return ERROR_SUCCESS;
}

extern "C" LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                     LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                     LPBYTE lpData, LPDWORD lpcbData) {
    RegistryKey* key = nullptr;
    LONG error = ResolveKey(hKey, key);
    if (error != ERROR_SUCCESS) return error;
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    if (dwIndex >= key->ValueCount()) return ERROR_NO_MORE_ITEMS;
    const RegistryValue& v = key->ValueAt(dwIndex);
    const DWORD size = static_cast<DWORD>(v.data.size());
    const bool nameFits = v.name.size() < *lpcchValueName;
    const bool dataFits = !lpData || size <= *lpcbData;
    if (lpType) *lpType = v.type;
    if (lpcbData) *lpcbData = size;
    if (!nameFits || !dataFits) return ERROR_MORE_DATA;
    if (!v.name.empty()) std::memcpy(lpValueName, v.name.data(), v.name.size());
    lpValueName[v.name.size()] = '\0';
    *lpcchValueName = static_cast<DWORD>(v.name.size());
    if (lpData && size) std::memcpy(lpData, v.data.data(), size);
    return ERROR_SUCCESS;
}

extern "C" LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                        LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    RegistryKey* key = nullptr;
    LONG error = ResolveKey(hKey, key);
    if (error != ERROR_SUCCESS) return error;
    if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    const RegistryValue* v = key->FindValue(lpValueName ? lpValueName : "");
    if (!v) return ERROR_FILE_NOT_FOUND;
    const DWORD size = static_cast<DWORD>(v->data.size());
    if (lpType) *lpType = v->type;
    if (lpData) {
        if (size > *lpcbData) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        if (size) std::memcpy(lpData, v->data.data(), size);
    }
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
}

extern "C" LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                      const BYTE* lpData, DWORD cbData) {
    (void)Reserved;
    RegistryKey* key = nullptr;
    const std::string name = lpValueName ? lpValueName : "";
    LONG error = ResolveKey(hKey, key);
    if (error == ERROR_SUCCESS && (HasLineFeed(name) || (!lpData && cbData)))
        error = ERROR_INVALID_PARAMETER;
    if (error == ERROR_SUCCESS)
        Store().SetValue(*key, name, dwType,
                         std::string(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0));
    JournalEvent("reg-set-value")
        .Text("key", key && error != ERROR_KEY_DELETED ? key->FullName() : std::string())
        .Text("value", name)
        .Number("type", dwType)
        .Result(error == ERROR_SUCCESS, static_cast<unsigned long>(error))
        .Write();
    return error;
}

extern "C" LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    RegistryKey* base = nullptr;
    RegistryKey* key = nullptr;
    std::vector<std::string> levels;
    LONG error = ResolveKey(hKey, base);
    if (error == ERROR_SUCCESS) error = SplitPath(lpSubKey, levels);
    if (error == ERROR_SUCCESS && levels.empty()) error = ERROR_BADKEY;
    if (error == ERROR_SUCCESS) error = Walk(base, levels, key);
    // The NT versions delete only keys without subkeys; the 9x versions whole trees.
    if (error == ERROR_SUCCESS && key->SubkeyCount() > 0 && !Machine::Current().IsWin9x())
        error = ERROR_ACCESS_DENIED;

    // The journal names the key as stored, or else as asked for.
    std::string name = lpSubKey ? lpSubKey : "";
    if (key)
        name = key->FullName();
    else if (error != ERROR_INVALID_HANDLE && error != ERROR_KEY_DELETED)
        name = base->FullName() + "\\" + name;
    if (error == ERROR_SUCCESS) Store().DeleteKey(*key);
    JournalEvent("reg-delete-key")
        .Text("key", name)
        .Result(error == ERROR_SUCCESS, static_cast<unsigned long>(error))
        .Write();
    return error;
}

extern "C" LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    RegistryKey* key = nullptr;
    const std::string name = lpValueName ? lpValueName : "";
    LONG error = ResolveKey(hKey, key);
    const std::string keyName = error == ERROR_SUCCESS ? key->FullName() : std::string();
    if (error == ERROR_SUCCESS && !Store().DeleteValue(*key, name)) error = ERROR_FILE_NOT_FOUND;
    JournalEvent("reg-delete-value")
        .Text("key", keyName)
        .Text("value", name)
        .Result(error == ERROR_SUCCESS, static_cast<unsigned long>(error))
        .Write();
    return error;
}

extern "C" LONG WINAPI RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_PERFORMANCE_DATA) return ERROR_SUCCESS;
    RegistryStore& store = Store();
    if (store.Root(hKey)) return ERROR_SUCCESS;
    return store.CloseHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
