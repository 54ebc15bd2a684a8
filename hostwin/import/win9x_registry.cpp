#include "win9x_registry.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "import_error.h"

namespace hostwin_import {

namespace {

using hostwin::RegistryKey;
using hostwin::RegistryStore;

const char kClassesPath[] = "Software\\Classes";
const char kDefaultUser[] = ".DEFAULT";
const char kVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

RegistryKey* Find(const RegistryStore& store, HKEY root, const std::string& path) {
    RegistryKey* key = store.Root(root);
    size_t start = 0;
    while (key && start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        key = key->FindSubkey(path.substr(start, end - start));
        start = end + 1;
    }
    return key;
}

RegistryKey& Create(RegistryStore& store, HKEY root, const std::string& path) {
    RegistryKey* key = store.Root(root);
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        key = &store.CreateSubkey(*key, path.substr(start, end - start));
        start = end + 1;
    }
    return *key;
}

void Clear(RegistryStore& store, RegistryKey& key) {
    while (key.SubkeyCount() > 0) store.DeleteKey(key.SubkeyAt(key.SubkeyCount() - 1));
    while (key.ValueCount() > 0)
        store.DeleteValue(key, std::string(key.ValueAt(key.ValueCount() - 1).name));
}

std::string ConfigPath(const RegistryStore& store) {
    const std::string name = CurrentConfigName(store);
    return name.empty() ? std::string() : "Config\\" + name;
}

// The three roots that Windows 9x shows as links into the stored trees, and where each leads;
// an empty path when the machine has no current hardware profile.
struct RootLink {
    HKEY link;
    HKEY targetRoot;
    std::string targetPath;
};

std::vector<RootLink> RootLinks(const RegistryStore& store) {
    return {{HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, kClassesPath},
            {HKEY_CURRENT_USER, HKEY_USERS, kDefaultUser},
            {HKEY_CURRENT_CONFIG, HKEY_LOCAL_MACHINE, ConfigPath(store)}};
}

}  // namespace

void CopyTree(RegistryStore& store, const RegistryKey& from, RegistryKey& to) {
    for (size_t i = 0; i < from.ValueCount(); ++i) {
        const hostwin::RegistryValue& v = from.ValueAt(i);
        store.SetValue(to, std::string(v.name), v.type, std::string(v.data));
    }
    for (size_t i = 0; i < from.SubkeyCount(); ++i) {
        const RegistryKey& sub = from.SubkeyAt(i);
        CopyTree(store, sub, store.CreateSubkey(to, std::string(sub.Name())));
    }
}

void PlaceUserHive(const RegistryKey& userHive, RegistryStore& store) {
    RegistryKey& users = *store.Root(HKEY_USERS);
    if (userHive.FindSubkey(kDefaultUser))
        CopyTree(store, userHive, users);
    else
        CopyTree(store, userHive, store.CreateSubkey(users, kDefaultUser));
}

void FoldLinkedRoots(RegistryStore& store) {
    const std::vector<RootLink> links = RootLinks(store);
    for (const RootLink& l : links) {
        RegistryKey& from = *store.Root(l.link);
        if (from.SubkeyCount() == 0 && from.ValueCount() == 0) continue;
        if (l.targetPath.empty()) continue;  // no current profile: LinkRoots empties it
        CopyTree(store, from, Create(store, l.targetRoot, l.targetPath));
    }
    Clear(store, *store.Root(HKEY_DYN_DATA));
}

void LinkRoots(RegistryStore& store) {
    const std::vector<RootLink> links = RootLinks(store);
    for (const RootLink& l : links) {
        RegistryKey& to = *store.Root(l.link);
        Clear(store, to);
        const RegistryKey* from =
            l.targetPath.empty() ? nullptr : Find(store, l.targetRoot, l.targetPath);
        if (from) CopyTree(store, *from, to);
    }
    Clear(store, *store.Root(HKEY_DYN_DATA));
}

std::string MachineText(const RegistryStore& store, const std::string& keyPath,
                        const std::string& valueName) {
    const RegistryKey* key = Find(store, HKEY_LOCAL_MACHINE, keyPath);
    const hostwin::RegistryValue* value = key ? key->FindValue(valueName) : nullptr;
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return "";
    std::string text(value->data);
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

std::string CurrentConfigName(const RegistryStore& store) {
    const RegistryKey* configs = Find(store, HKEY_LOCAL_MACHINE, "Config");
    if (!configs) return "";
    const RegistryKey* idConfig =
        Find(store, HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\IDConfigDB");
    const hostwin::RegistryValue* current =
        idConfig ? idConfig->FindValue("CurrentConfig") : nullptr;
    std::string name;
    if (current && current->type == REG_DWORD && current->data.size() == 4) {
        unsigned n = 0;
        for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(current->data[i]);
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%04u", n);
        name = buffer;
    } else if (current && (current->type == REG_SZ || current->type == REG_BINARY)) {
        name = std::string(current->data);
        const size_t zero = name.find('\0');
        if (zero != std::string::npos) name.resize(zero);
    }
    if (!name.empty() && name.find('\\') == std::string::npos) {
        if (const RegistryKey* found = configs->FindSubkey(name)) return std::string(found->Name());
    }
    if (configs->SubkeyCount() == 1) return std::string(configs->SubkeyAt(0).Name());
    return "";
}

std::string VersionWord(const RegistryStore& store, const std::string& source) {
    const std::string number = MachineText(store, kVersionKey, "VersionNumber");
    if (number.empty())
        throw ImportError(source +
                          ": the registry has no HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows"
                          "\\CurrentVersion VersionNumber, so it is not that of Windows 95, 98 or "
                          "Me");
    // major.minor.build: 4.00 and 4.03 are the Windows 95 releases, 4.10 Windows 98, 4.90 Me.
    char* end = nullptr;
    const long major = std::strtol(number.c_str(), &end, 10);
    long minor = -1;
    if (end && *end == '.') minor = std::strtol(end + 1, &end, 10);
    if (major == 4 && (minor == 0 || minor == 3)) return "win95";
    if (major == 4 && minor == 10) return "win98";
    if (major == 4 && minor == 90) return "winme";
    throw ImportError(source + ": VersionNumber \"" + number +
                      "\" is not that of Windows 95, 98 or Me");
}

}  // namespace hostwin_import
