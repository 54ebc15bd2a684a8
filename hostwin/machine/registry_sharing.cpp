// A registry file shared by several processes (the machine's registry.reg): each process keeps
// its own copy in memory and records its changes; at a save it takes in what the others wrote
// since it last read or wrote the file and replays its changes on top (RegistryStore::Save).
#include <cstdint>
#include <utility>

#include "hostwin/registry_store.h"

namespace hostwin {

void RegistryStore::Record(Change::Kind kind, const RegistryKey& key, std::string_view name,
                           DWORD type, std::string_view data) {
    changes_.push_back(Change{kind, key.FullName(), std::string(name), type, std::string(data)});
}

RegistryKey* RegistryStore::KeyNamed(const std::string& fullName, bool create) {
    size_t end = fullName.find('\\');
    RegistryKey* key = RootNamed(std::string_view(fullName).substr(0, end));
    while (key && end != std::string::npos) {
        const size_t start = end + 1;
        end = fullName.find('\\', start);
        const std::string_view level = std::string_view(fullName).substr(
            start, end == std::string::npos ? std::string::npos : end - start);
        key = create ? &CreateSubkey(*key, level) : key->FindSubkey(level);
    }
    return key;
}

void RegistryStore::Replay(const Change& change) {
    // A key created here comes back with every level above it, as RegCreateKey makes them.
    if (change.kind == Change::kCreateKey) {
        KeyNamed(change.key, true);
        return;
    }
    // A change to a key that another process deleted meanwhile went with that key.
    RegistryKey* key = KeyNamed(change.key);
    if (!key) return;
    switch (change.kind) {
        case Change::kSetValue:
            SetValue(*key, change.name, change.type, change.data);
            break;
        case Change::kDeleteValue:
            DeleteValue(*key, change.name);
            break;
        case Change::kDeleteKey:
            DeleteKey(*key);
            break;
        case Change::kCreateKey:
            break;
    }
}

void RegistryStore::Reload() {
    // Where the open handles point: a key that is gone by then stays reachable, deleted.
    struct OpenKey {
        uintptr_t handle;
        std::string name;  // the full name, or a deleted key's own name
        bool deleted;
    };
    std::vector<OpenKey> open;
    open.reserve(handles_.Size());
    handles_.ForEach([&](uintptr_t handle, const RegistryKey* key) {
        open.push_back(OpenKey{handle,
                               key->IsDeleted() ? std::string(key->Name()) : key->FullName(),
                               key->IsDeleted()});
    });
    std::vector<Change> changes;
    changes.swap(changes_);

    // Let go of the old tree before reading the new one, so that memory stays that of one.
    handles_.Clear();
    FreeKeys();
    CreateRoots();
    ReadFile();

    // Replaying records again what still changes something, and sets dirty_ when it does.
    for (const Change& change : changes) Replay(change);

    for (const OpenKey& o : open) {
        RegistryKey* key = o.deleted ? nullptr : KeyNamed(o.name);
        if (!key) {
            const size_t slash = o.name.rfind('\\');
            key = NewKey(Keep(slash == std::string::npos ? o.name : o.name.substr(slash + 1)),
                         nullptr);
            key->deleted_ = true;
        }
        handles_.Insert(o.handle, key);
    }
}

}  // namespace hostwin
