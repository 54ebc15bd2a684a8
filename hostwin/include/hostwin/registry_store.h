// The machine's registry, loaded from and saved to registry.reg in the REGEDIT4 text format:
// six independent trees (one per predefined root), the handle table of the open keys, and the
// changes that the registry functions make. The text format is described in registry_parse.cpp
// (reading) and docs/hostwin.md; registry_write.cpp writes it in regedit's layout.
//
// Built for registries of millions of keys: the file is read a piece at a time and what is
// kept (names and data) is copied into blocks the store owns, value names that recur once for
// all; keys and loaded value lists lie in pooled blocks too, huge-page backed when large; a
// key finds its subkeys and values through a hash index once it has more than a few.
#ifndef HOSTWIN_REGISTRY_STORE_H
#define HOSTWIN_REGISTRY_STORE_H

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hostwin/handle_map.h"
#include "hostwin/large_memory.h"

namespace hostwin {

class MachineFileReader;

struct RegistryValue {
    std::string_view name;  // "" is the key's default value (@ in the file)
    std::string_view data;  // the bytes exactly as stored
    DWORD type = REG_NONE;
};

// A key's values in order, with the little of std::vector that the store uses. A loaded key's
// list lies in storage the store owns, carved from a pool at its exact size (no allocation of
// its own per key); a list that grows moves to a heap block of its own.
class ValueList {
public:
    ValueList() = default;
    ~ValueList();
    ValueList(const ValueList&) = delete;
    ValueList& operator=(const ValueList&) = delete;

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    RegistryValue& operator[](size_t i) { return data_[i]; }
    const RegistryValue& operator[](size_t i) const { return data_[i]; }
    RegistryValue* begin() { return data_; }
    RegistryValue* end() { return data_ + size_; }
    void push_back(const RegistryValue& value);
    RegistryValue* erase(RegistryValue* at);
    void swap(ValueList& other) noexcept;
    // The list becomes a copy of [first, last) in storage (room for that many) that the store
    // owns and this list never frees.
    void Adopt(RegistryValue* storage, const RegistryValue* first, const RegistryValue* last);

private:
    RegistryValue* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;  // of a heap block of the list's own; 0 for the store's storage
};

// The value as one line of registry text without line end: "name"="text", @=dword:00000001,
// "name"=hex:01,02 (byte lists unwrapped).
std::string ValueLine(const RegistryValue& value);

// Positions of names in a list (subkeys or values), found by ASCII-case-folded name: open
// addressing over (hash, position) pairs.
class NameIndex {
public:
    static uint32_t Hash(std::string_view name);
    // The position whose name (by nameAt) equals name without regard to case, or -1.
    template <class NameAt>
    long Find(std::string_view name, uint32_t hash, NameAt nameAt) const;
    void Insert(uint32_t hash, uint32_t position);
    // Asks the processor to fetch the slot where a lookup of hash starts, ahead of the lookup.
    void Prefetch(uint32_t hash) const {
        if (capacity_) __builtin_prefetch(&slots_[hash & (capacity_ - 1)]);
    }
    // Removes position (whose name hashes to hash); positions above it move down by one.
    void Erase(uint32_t hash, uint32_t position);

private:
    struct Slot {
        uint32_t hash;
        uint32_t position;  // kEmpty when free
    };
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    // Slots hold stored numbers: a position plus the erased numbers below it, so that an
    // erasure needs no pass over the table; the numbers are made positions again only once
    // kErasedLimit erasures have gathered.
    static constexpr size_t kErasedLimit = 64;
    uint32_t Stored(uint32_t position) const;
    uint32_t Position(uint32_t stored) const;
    void Grow();
    struct FreeSlots {
        void operator()(Slot* slots) const;
    };
    std::unique_ptr<Slot[], FreeSlots> slots_;
    size_t capacity_ = 0;  // a power of two
    size_t count_ = 0;
    std::vector<uint32_t> erased_;  // stored numbers of erased positions, ascending
};

// The deepest key below its root that Windows builds (512 levels). registry.reg and regedit
// files with a deeper key are refused: every key line repeats its full path, so one deep chain
// would make the file grow with the square of its depth.
constexpr size_t kRegistryDepthLimit = 512;

// One key. Subkeys and values keep their order (file order, new ones last) and the case of
// their names; lookups by name ignore ASCII case. Keys live as long as the store: a deleted
// key that is still open stays reachable through its handle, detached and marked deleted.
class RegistryKey {
public:
    RegistryKey(std::string_view name, RegistryKey* parent, bool isRoot)
        : name_(name), parent_(parent), isRoot_(isRoot) {}
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    std::string_view Name() const { return name_; }
    // The key above; null for a root and for a deleted key.
    RegistryKey* Parent() const { return parent_; }
    bool IsRoot() const { return isRoot_; }
    bool IsDeleted() const { return deleted_; }
    // HKEY_LOCAL_MACHINE\Enum\PCI; a deleted key knows only its own name.
    std::string FullName() const;

    size_t SubkeyCount() const { return subkeys_.size(); }
    RegistryKey& SubkeyAt(size_t index) const { return *subkeys_[index].key; }
    std::string_view SubkeyNameAt(size_t index) const { return subkeys_[index].name; }
    RegistryKey* FindSubkey(std::string_view name) const;

    size_t ValueCount() const { return values_.size(); }
    const RegistryValue& ValueAt(size_t index) const { return values_[index]; }
    const RegistryValue* FindValue(std::string_view name) const;

private:
    friend class RegistryStore;
    friend class RegistryParser;
    RegistryKey() = default;  // for the store's pool blocks
    long SubkeyPosition(std::string_view name, uint32_t hash) const;
    long ValuePosition(std::string_view name, uint32_t hash) const;
    void AddSubkey(RegistryKey* key, uint32_t hash);
    void AddValue(const RegistryValue& value, uint32_t hash);

    std::string_view name_;
    RegistryKey* parent_ = nullptr;
    bool isRoot_ = false;
    bool deleted_ = false;
    // Each subkey with its name beside it, so that enumerating names by index reads only this
    // list and the names, not the keys.
    struct Subkey {
        RegistryKey* key;
        std::string_view name;
    };
    using SubkeyList = std::vector<Subkey, LargeAllocator<Subkey>>;
    SubkeyList subkeys_;
    ValueList values_;
    // Built once a list is longer than kIndexFrom; kept up to date from then on.
    mutable std::unique_ptr<NameIndex> subkeyIndex_;
    mutable std::unique_ptr<NameIndex> valueIndex_;
};

class RegistryStore {
public:
    // Reads the file (a missing file is an empty registry). Throws MachineError naming the
    // file and line for malformed text.
    static std::unique_ptr<RegistryStore> Load(const std::string& hostFile);
    // Loads a registry file that other processes change as well (a machine's registry.reg):
    // the store records its own changes, and Save() writes them on top of whatever the others
    // wrote meanwhile (see Save).
    static std::unique_ptr<RegistryStore> LoadShared(const std::string& hostFile);
    // Parses registry text; fileName names it in error messages. The store has no file, so
    // Save() writes nothing. Throws MachineError naming the file and line for malformed text.
    static std::unique_ptr<RegistryStore> Parse(const std::string& text,
                                                const std::string& fileName);
    RegistryStore();
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // Writes the registry back atomically when it changed since the last save. A shared store
    // does so under the lock of the file's folder: when another process replaced the file
    // since this store last read or wrote it, the store first reads it again and replays its
    // own changes since then on top (keys it deleted stay deleted, values it set are set again,
    // changes to keys that another process deleted meanwhile are dropped), so that no process's
    // change is lost; open handles follow their keys by path. It then writes only when the
    // result differs from the file. So at every save a shared store also takes in the changes
    // of the others.
    void Save();
    // Applies registry text to the registry as regedit imports a file: keys and values are
    // created or replaced, [-ROOT\key] deletes a key with everything below it and "name"=-
    // deletes a value (a missing one is no error). Throws MachineError naming the file and
    // line for malformed text; the lines before it have been applied then. Not for a shared
    // store (its changes here are not recorded).
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
    RegistryKey* RootNamed(std::string_view name) const;

    // The subkey name of parent (one level: not empty, no backslash), created last when
    // missing; *created tells which.
    RegistryKey& CreateSubkey(RegistryKey& parent, std::string_view name,
                              bool* created = nullptr);
    // Creates the value last, or replaces type and data of the value with that name (which
    // keeps its place and the case of its name).
    void SetValue(RegistryKey& key, std::string_view name, DWORD type, std::string_view data);
    // False when the key has no value of that name.
    bool DeleteValue(RegistryKey& key, std::string_view name);
    // Removes a key that is not a root, with every key and value below it. Keys below it that
    // are open stay reachable through their handles, marked deleted.
    void DeleteKey(RegistryKey& key);

    // A new handle on the key: never null, never a predefined root, unique while open.
    HKEY OpenHandle(RegistryKey& key);
    // The key of a predefined root or an open handle (deleted or not); null for anything else.
    RegistryKey* KeyOfHandle(HKEY handle) const;
    // Closes an open handle; false when the handle is not one.
    bool CloseHandle(HKEY handle);
    size_t OpenHandleCount() const { return handles_.Size(); }

private:
    friend class RegistryParser;
    static constexpr int kRootSlots = 7;  // HKEY value - 0x80000000; slot 4 holds no tree

    // A change made through the public functions, by full key name, kept by a shared store
    // until it is saved.
    struct Change {
        enum Kind : unsigned char { kCreateKey, kSetValue, kDeleteValue, kDeleteKey };
        Kind kind;
        std::string key;
        std::string name;
        DWORD type;
        std::string data;
    };

    RegistryKey* NewKey(std::string_view name, RegistryKey* parent);
    // Room for count values that lives as long as the store.
    RegistryValue* NewValues(size_t count);
    // Copies bytes into the store's own blocks; the view stays valid as long as the store.
    std::string_view Keep(std::string_view bytes);
    // Room for size bytes that lives as long as the store.
    char* NewBytes(size_t size);
    // A loaded key's name, copied beside the other loaded keys' names.
    std::string_view KeepKeyName(std::string_view name);
    void ParseText(const char* text, size_t size, const std::string& fileName, bool merge);
    void ParseFile(MachineFileReader& file, bool merge);
    void ReadFile();
    void CreateRoots();
    // Destroys every key and lets go of every name and value kept.
    void FreeKeys();
    void WriteFile();
    // Shared stores: records a change; rereads the file and replays the changes over it.
    void Record(Change::Kind kind, const RegistryKey& key, std::string_view name = {},
                DWORD type = REG_NONE, std::string_view data = {});
    void Reload();
    void Replay(const Change& change);
    // The key of a full name (HKEY_LOCAL_MACHINE\\a\\b); with create, made with every level
    // above it when missing; null when there is none.
    RegistryKey* KeyNamed(const std::string& fullName, bool create = false);

    std::string file_;
    bool dirty_ = false;
    bool shared_ = false;
    long long fileStamp_ = 0;       // the file as last read or written (FileStamp)
    std::vector<Change> changes_;   // shared stores: the changes since the last save
    RegistryKey* roots_[kRootSlots] = {};
    // Every key, in blocks that never move: keys made one after another (as loading makes
    // them, in file order) lie one after another in memory, so walking them streams.
    Arena keys_;
    // The value lists of loaded keys, each at its exact size.
    Arena valueLists_;
    // Names of loaded keys, apart from everything else, so that enumerating a key's subkeys
    // reads nothing but their names.
    Arena keyNames_;
    // Names and data of values, names of keys made later.
    Arena bytes_;
    HandleMap<RegistryKey> handles_;
};

}  // namespace hostwin

#endif
