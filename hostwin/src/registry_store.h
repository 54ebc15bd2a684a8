// The machine's registry, loaded from and saved to registry.reg in the REGEDIT4 text format:
// six independent trees (one per predefined root), the handle table of the open keys, and the
// changes that the registry functions make. The text format is described in registry_store.cpp.
#ifndef HOSTWIN_REGISTRY_STORE_H
#define HOSTWIN_REGISTRY_STORE_H

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace hostwin {

struct RegistryValue {
    std::string name;  // "" is the key's default value (@ in the file)
    DWORD type = REG_NONE;
    std::string data;  // the bytes exactly as stored
};

// The value as one line of registry text without line end: "name"="text", @=dword:00000001,
// "name"=hex:01,02 (byte lists unwrapped).
std::string ValueLine(const RegistryValue& value);

// One key. Subkeys and values keep their order (file order, new ones last) and the case of
// their names; lookups by name ignore ASCII case. A key lives as long as its parent or an open
// handle holds it: a deleted key that is still open survives, detached and marked deleted.
class RegistryKey : public std::enable_shared_from_this<RegistryKey> {
public:
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    const std::string& Name() const { return name_; }
    // The key above; null for a root and for a deleted key.
    RegistryKey* Parent() const { return parent_; }
    bool IsRoot() const { return isRoot_; }
    bool IsDeleted() const { return deleted_; }
    // HKEY_LOCAL_MACHINE\Enum\PCI; a deleted key knows only its own name.
    std::string FullName() const;

    size_t SubkeyCount() const { return subkeys_.size(); }
    RegistryKey& SubkeyAt(size_t index) const { return *subkeys_[index]; }
    RegistryKey* FindSubkey(const std::string& name) const;

    size_t ValueCount() const { return values_.size(); }
    const RegistryValue& ValueAt(size_t index) const { return *values_[index]; }
    const RegistryValue* FindValue(const std::string& name) const;

private:
    friend class RegistryStore;
    RegistryKey(std::string name, RegistryKey* parent, bool isRoot);

    std::string name_;
    RegistryKey* parent_;
    bool isRoot_;
    bool deleted_ = false;
    std::vector<std::shared_ptr<RegistryKey>> subkeys_;
    std::unordered_map<std::string, RegistryKey*> subkeyIndex_;  // by case-folded name
    std::vector<std::unique_ptr<RegistryValue>> values_;
    std::unordered_map<std::string, RegistryValue*> valueIndex_;  // by case-folded name
};

class RegistryStore {
public:
    // Reads the file (a missing file is an empty registry). Throws MachineError naming the
    // file and line for malformed text.
    static std::unique_ptr<RegistryStore> Load(const std::string& hostFile);
    // Parses registry text; fileName names it in error messages. The store has no file, so
    // Save() writes nothing. Throws MachineError naming the file and line for malformed text.
    static std::unique_ptr<RegistryStore> Parse(const std::string& text,
                                                const std::string& fileName);
    RegistryStore();
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // Writes the registry back atomically when it changed since the last save.
    void Save();
    // Applies registry text to the registry as regedit imports a file: keys and values are
    // created or replaced, [-ROOT\key] deletes a key with everything below it and "name"=-
    // deletes a value (a missing one is no error). Throws MachineError naming the file and
    // line for malformed text; the lines before it have been applied then.
    void Merge(const std::string& text, const std::string& fileName);
    // The registry as REGEDIT4 text, the way Save() writes it.
    std::string Serialize() const;
    // One key and everything below it as REGEDIT4 text (the key's line even when it has no
    // values).
    std::string SerializeKey(const RegistryKey& key) const;
    bool HasChanges() const { return dirty_; }

    // The stored tree of a predefined root (HKEY_CLASSES_ROOT ... HKEY_DYN_DATA); null for
    // HKEY_PERFORMANCE_DATA and anything else.
    RegistryKey* Root(HKEY predefined) const;
    // The root named HKEY_LOCAL_MACHINE etc. (ASCII case ignored); null when none is.
    RegistryKey* RootNamed(const std::string& name) const;

    // The subkey name of parent (one level: not empty, no backslash), created last when
    // missing; *created tells which.
    RegistryKey& CreateSubkey(RegistryKey& parent, const std::string& name,
                              bool* created = nullptr);
    // Creates the value last, or replaces type and data of the value with that name (which
    // keeps its place and the case of its name).
    void SetValue(RegistryKey& key, const std::string& name, DWORD type, const std::string& data);
    // False when the key has no value of that name.
    bool DeleteValue(RegistryKey& key, const std::string& name);
    // Removes a key that is not a root, with every key and value below it. Keys below it that
    // are open stay reachable through their handles, marked deleted.
    void DeleteKey(RegistryKey& key);

    // A new handle on the key: never null, never a predefined root, unique while open.
    HKEY OpenHandle(RegistryKey& key);
    // The key of a predefined root or an open handle (deleted or not); null for anything else.
    RegistryKey* KeyOfHandle(HKEY handle) const;
    // Closes an open handle; false when the handle is not one.
    bool CloseHandle(HKEY handle);
    size_t OpenHandleCount() const { return handles_.size(); }

private:
    static constexpr int kRootSlots = 7;  // HKEY value - 0x80000000; slot 4 holds no tree

    std::string file_;
    bool dirty_ = false;
    std::shared_ptr<RegistryKey> roots_[kRootSlots];
    std::unordered_map<uintptr_t, std::shared_ptr<RegistryKey>> handles_;
};

}  // namespace hostwin

#endif
