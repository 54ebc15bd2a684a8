// The registry store: keys and values, the name indexes, the handle table. Reading the text
// is in registry_parse.cpp, writing it in registry_write.cpp.
#include "hostwin/registry_store.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "hostwin/host_file.h"
#include "hostwin/machine_error.h"
#include "hostwin/text_util.h"

namespace hostwin {

namespace {

// Stored roots in file order; slot 4 (HKEY_PERFORMANCE_DATA) holds no tree.
const char* const kRootNames[] = {
    "HKEY_CLASSES_ROOT",   "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS", nullptr,
    "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};

// Registry handles are numbered apart from kernel handles and from the predefined roots, and
// never repeat within a process (so a handle of a closed machine can't reach a new one's key).
constexpr uintptr_t kFirstHandle = 0x20000000u;
constexpr uintptr_t kLastHandle = 0x7FFFFFF0u;
uintptr_t nextHandle = kFirstHandle;

// Lists up to this long are searched name by name; longer ones get a NameIndex.
constexpr size_t kIndexFrom = 8;

constexpr size_t kHugePage = 2u << 20;

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

}  // namespace

// ---- NameIndex -----------------------------------------------------------------------------

namespace {

// Eight bytes with the ASCII letters a to z made upper case, all in one step.
uint64_t FoldCase8(uint64_t x) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    const uint64_t low7 = x & (0x7F * kOnes);
    const uint64_t atLeastA = low7 + (0x80 - 'a') * kOnes;   // high bit: low7 >= 'a'
    const uint64_t aboveZ = low7 + (0x80 - 'z' - 1) * kOnes;  // high bit: low7 > 'z'
    const uint64_t lower = atLeastA & ~aboveZ & ~x & (0x80 * kOnes);
    return x ^ (lower >> 2);  // 0x80 >> 2 is the case bit 0x20
}

}  // namespace

uint32_t NameIndex::Hash(std::string_view name) {
    // Eight upper-cased bytes at a time, one multiplication each, then a final mix so that
    // the low bits (the slot) depend on every byte.
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    uint64_t h = name.size() * kMultiplier;
    size_t i = 0;
    for (; i + 8 <= name.size(); i += 8) {
        uint64_t chunk;
        std::memcpy(&chunk, name.data() + i, 8);
        h = (h ^ FoldCase8(chunk)) * kMultiplier;
    }
    if (i < name.size()) {
        uint64_t chunk = 0;
        std::memcpy(&chunk, name.data() + i, name.size() - i);
        h = (h ^ FoldCase8(chunk)) * kMultiplier;
    }
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return static_cast<uint32_t>(h);
}

template <class NameAt>
long NameIndex::Find(std::string_view name, uint32_t hash, NameAt nameAt) const {
    if (!capacity_) return -1;
    const size_t mask = capacity_ - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.position == kEmpty) return -1;
        if (s.hash != hash) continue;
        const uint32_t position = Position(s.position);
        if (SameName(nameAt(position), name)) return position;
    }
}

uint32_t NameIndex::Stored(uint32_t position) const {
    uint32_t stored = position;
    for (uint32_t e : erased_) {
        if (e > stored) break;
        ++stored;
    }
    return stored;
}

uint32_t NameIndex::Position(uint32_t stored) const {
    if (erased_.empty()) return stored;
    return stored - static_cast<uint32_t>(std::lower_bound(erased_.begin(), erased_.end(), stored) -
                                          erased_.begin());
}

void NameIndex::FreeSlots::operator()(Slot* slots) const { std::free(slots); }

void NameIndex::Grow() {
    const size_t oldCapacity = capacity_;
    std::unique_ptr<Slot[], FreeSlots> old = std::move(slots_);
    capacity_ = oldCapacity ? oldCapacity * 2 : 32;
    // A large table is probed at random, one miss a lookup: on huge pages those misses cost
    // no page walk as well.
    const size_t bytes = capacity_ * sizeof(Slot);
    void* memory = bytes >= kHugePage ? std::aligned_alloc(kHugePage, bytes) : std::malloc(bytes);
    if (!memory) throw std::bad_alloc();
    if (bytes >= kHugePage) ::madvise(memory, bytes, MADV_HUGEPAGE);
    slots_.reset(static_cast<Slot*>(memory));
    for (size_t i = 0; i < capacity_; ++i) slots_[i] = Slot{0, kEmpty};
    const size_t mask = capacity_ - 1;
    for (size_t j = 0; j < oldCapacity; ++j) {
        const Slot& s = old[j];
        if (s.position == kEmpty) continue;
        size_t i = s.hash & mask;
        while (slots_[i].position != kEmpty) i = (i + 1) & mask;
        slots_[i] = s;
    }
}

void NameIndex::Insert(uint32_t hash, uint32_t position) {
    if ((count_ + 1) * 2 > capacity_) Grow();
    const size_t mask = capacity_ - 1;
    size_t i = hash & mask;
    while (slots_[i].position != kEmpty) i = (i + 1) & mask;
    slots_[i] = Slot{hash, Stored(position)};
    ++count_;
}

void NameIndex::Erase(uint32_t hash, uint32_t position) {
    if (!capacity_) return;
    const uint32_t stored = Stored(position);
    const size_t mask = capacity_ - 1;
    size_t i = hash & mask;
    while (slots_[i].position != stored) {
        if (slots_[i].position == kEmpty) return;
        i = (i + 1) & mask;
    }
    // Backward-shift deletion keeps every probe sequence unbroken without tombstones.
    for (size_t j = (i + 1) & mask; slots_[j].position != kEmpty; j = (j + 1) & mask) {
        const size_t home = slots_[j].hash & mask;
        const bool movable = i <= j ? (home <= i || home > j) : (home <= i && home > j);
        if (movable) {
            slots_[i] = slots_[j];
            i = j;
        }
    }
    slots_[i].position = kEmpty;
    --count_;
    erased_.insert(std::upper_bound(erased_.begin(), erased_.end(), stored), stored);
    if (erased_.size() < kErasedLimit) return;
    for (size_t k = 0; k < capacity_; ++k)
        if (slots_[k].position != kEmpty) slots_[k].position = Position(slots_[k].position);
    erased_.clear();
}

// ---- ValueList -----------------------------------------------------------------------------

ValueList::~ValueList() {
    if (capacity_) std::free(data_);
}

void ValueList::push_back(const RegistryValue& value) {
    if (size_ >= capacity_) {
        const uint32_t capacity = size_ < 2 ? 4 : size_ * 2;
        auto* grown = static_cast<RegistryValue*>(
            capacity_ ? std::realloc(data_, capacity * sizeof(RegistryValue))
                      : std::malloc(capacity * sizeof(RegistryValue)));
        if (!grown) throw std::bad_alloc();
        if (!capacity_ && size_) std::memcpy(grown, data_, size_ * sizeof(RegistryValue));
        data_ = grown;
        capacity_ = capacity;
    }
    data_[size_++] = value;
}

RegistryValue* ValueList::erase(RegistryValue* at) {
    std::memmove(at, at + 1, static_cast<size_t>(end() - at - 1) * sizeof(RegistryValue));
    --size_;
    return at;
}

void ValueList::swap(ValueList& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
}

void ValueList::Adopt(RegistryValue* storage, const RegistryValue* first,
                      const RegistryValue* last) {
    ValueList().swap(*this);
    size_ = static_cast<uint32_t>(last - first);
    if (size_) std::memcpy(storage, first, size_ * sizeof(RegistryValue));
    data_ = storage;
}

// ---- RegistryKey ---------------------------------------------------------------------------

std::string RegistryKey::FullName() const {
    size_t size = 0;
    for (const RegistryKey* k = this; k; k = k->parent_) size += k->name_.size() + 1;
    std::string name(size - 1, '\\');
    size_t end = name.size();
    for (const RegistryKey* k = this; k; k = k->parent_) {
        end -= k->name_.size();
        name.replace(end, k->name_.size(), k->name_.data(), k->name_.size());
        if (end) --end;
    }
    return name;
}

long RegistryKey::SubkeyPosition(std::string_view name, uint32_t hash) const {
    if (subkeys_.size() > kIndexFrom) {
        if (!subkeyIndex_) {
            subkeyIndex_ = std::make_unique<NameIndex>();
            for (size_t i = 0; i < subkeys_.size(); ++i)
                subkeyIndex_->Insert(NameIndex::Hash(subkeys_[i].name), static_cast<uint32_t>(i));
        }
        return subkeyIndex_->Find(name, hash, [this](uint32_t i) { return subkeys_[i].name; });
    }
    for (size_t i = 0; i < subkeys_.size(); ++i)
        if (SameName(subkeys_[i].name, name)) return static_cast<long>(i);
    return -1;
}

long RegistryKey::ValuePosition(std::string_view name, uint32_t hash) const {
    if (values_.size() > kIndexFrom) {
        if (!valueIndex_) {
            valueIndex_ = std::make_unique<NameIndex>();
            for (size_t i = 0; i < values_.size(); ++i)
                valueIndex_->Insert(NameIndex::Hash(values_[i].name), static_cast<uint32_t>(i));
        }
        return valueIndex_->Find(name, hash, [this](uint32_t i) { return values_[i].name; });
    }
    for (size_t i = 0; i < values_.size(); ++i)
        if (SameName(values_[i].name, name)) return static_cast<long>(i);
    return -1;
}

void RegistryKey::AddSubkey(RegistryKey* key, uint32_t hash) {
    subkeys_.push_back(Subkey{key, key->name_});
    if (subkeyIndex_) subkeyIndex_->Insert(hash, static_cast<uint32_t>(subkeys_.size() - 1));
}

void RegistryKey::AddValue(const RegistryValue& value, uint32_t hash) {
    values_.push_back(value);
    if (valueIndex_) valueIndex_->Insert(hash, static_cast<uint32_t>(values_.size() - 1));
}

RegistryKey* RegistryKey::FindSubkey(std::string_view name) const {
    const long i = SubkeyPosition(name, subkeys_.size() > kIndexFrom ? NameIndex::Hash(name) : 0);
    return i < 0 ? nullptr : subkeys_[static_cast<size_t>(i)].key;
}

const RegistryValue* RegistryKey::FindValue(std::string_view name) const {
    const long i = ValuePosition(name, values_.size() > kIndexFrom ? NameIndex::Hash(name) : 0);
    return i < 0 ? nullptr : &values_[static_cast<size_t>(i)];
}

// ---- RegistryStore -------------------------------------------------------------------------

RegistryStore::RegistryStore() { CreateRoots(); }

void RegistryStore::CreateRoots() {
    for (int i = 0; i < kRootSlots; ++i)
        if (kRootNames[i]) {
            roots_[i] = NewKey(kRootNames[i], nullptr);
            roots_[i]->isRoot_ = true;
        }
}

RegistryStore::~RegistryStore() { FreeKeys(); }

void RegistryStore::FreeKeys() {
    keys_.ForEachBlock([](char* begin, size_t used) {
        RegistryKey* keys = reinterpret_cast<RegistryKey*>(begin);
        for (size_t i = 0; i < used / sizeof(RegistryKey); ++i) keys[i].~RegistryKey();
    });
    keys_ = Arena();
    valueLists_ = Arena();
    keyNames_ = Arena();
    bytes_ = Arena();
    for (RegistryKey*& root : roots_) root = nullptr;
}

RegistryKey* RegistryStore::NewKey(std::string_view name, RegistryKey* parent) {
    RegistryKey* key = new (keys_.Allocate(sizeof(RegistryKey), alignof(RegistryKey))) RegistryKey();
    key->name_ = name;
    key->parent_ = parent;
    return key;
}

RegistryValue* RegistryStore::NewValues(size_t count) {
    return static_cast<RegistryValue*>(
        valueLists_.Allocate(count * sizeof(RegistryValue), alignof(RegistryValue)));
}

char* RegistryStore::NewBytes(size_t size) { return static_cast<char*>(bytes_.Allocate(size, 1)); }

std::string_view RegistryStore::KeepKeyName(std::string_view name) {
    char* own = static_cast<char*>(keyNames_.Allocate(name.size(), 1));
    std::memcpy(own, name.data(), name.size());
    return std::string_view(own, name.size());
}

std::string_view RegistryStore::Keep(std::string_view bytes) {
    if (bytes.empty()) return std::string_view();
    char* own = NewBytes(bytes.size());
    std::memcpy(own, bytes.data(), bytes.size());
    return std::string_view(own, bytes.size());
}

std::unique_ptr<RegistryStore> RegistryStore::Load(const std::string& hostFile) {
    auto store = std::make_unique<RegistryStore>();
    store->file_ = hostFile;
    store->ReadFile();
    return store;
}

std::unique_ptr<RegistryStore> RegistryStore::LoadShared(const std::string& hostFile) {
    auto store = Load(hostFile);
    store->shared_ = true;
    return store;
}

void RegistryStore::ReadFile() {
    MachineFileReader file(file_, kRegistryFileLimit);
    fileStamp_ = file.Stamp();
    if (file.Exists()) ParseFile(file, false);
    dirty_ = false;
}

std::unique_ptr<RegistryStore> RegistryStore::Parse(const std::string& text,
                                                    const std::string& fileName) {
    auto store = std::make_unique<RegistryStore>();
    store->ParseText(text.data(), text.size(), fileName, false);
    store->dirty_ = false;
    return store;
}

void RegistryStore::Merge(const std::string& text, const std::string& fileName) {
    ParseText(text.data(), text.size(), fileName, true);
}

RegistryKey* RegistryStore::Root(HKEY predefined) const {
    // The predefined roots are numbered from HKEY_CLASSES_ROOT on, in slot order.
    const uintptr_t slot = reinterpret_cast<uintptr_t>(predefined) -
                           reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT);
    return slot < kRootSlots ? roots_[slot] : nullptr;
}

RegistryKey* RegistryStore::RootNamed(std::string_view name) const {
    for (int i = 0; i < kRootSlots; ++i)
        if (kRootNames[i] && SameName(name, kRootNames[i])) return roots_[i];
    return nullptr;
}

RegistryKey& RegistryStore::CreateSubkey(RegistryKey& parent, std::string_view name,
                                         bool* created) {
    const uint32_t hash = NameIndex::Hash(name);
    const long i = parent.SubkeyPosition(name, hash);
    if (created) *created = i < 0;
    if (i >= 0) return *parent.subkeys_[static_cast<size_t>(i)].key;
    RegistryKey* key = NewKey(Keep(name), &parent);
    parent.AddSubkey(key, hash);
    dirty_ = true;
    if (shared_) Record(Change::kCreateKey, *key);
    return *key;
}

void RegistryStore::SetValue(RegistryKey& key, std::string_view name, DWORD type,
                             std::string_view data) {
    const uint32_t hash = NameIndex::Hash(name);
    const long i = key.ValuePosition(name, hash);
    if (i >= 0) {
        RegistryValue& v = key.values_[static_cast<size_t>(i)];
        if (v.type == type && v.data == data) return;
        v.type = type;
        v.data = Keep(data);
    } else {
        key.AddValue(RegistryValue{Keep(name), Keep(data), type}, hash);
    }
    dirty_ = true;
    if (shared_) Record(Change::kSetValue, key, name, type, data);
}

bool RegistryStore::DeleteValue(RegistryKey& key, std::string_view name) {
    const uint32_t hash = NameIndex::Hash(name);
    const long i = key.ValuePosition(name, hash);
    if (i < 0) return false;
    if (key.valueIndex_) key.valueIndex_->Erase(hash, static_cast<uint32_t>(i));
    key.values_.erase(key.values_.begin() + i);
    dirty_ = true;
    if (shared_) Record(Change::kDeleteValue, key, name);
    return true;
}

void RegistryStore::DeleteKey(RegistryKey& key) {
    RegistryKey* parent = key.parent_;
    if (key.isRoot_ || !parent) return;
    if (shared_) Record(Change::kDeleteKey, key);
    const uint32_t hash = NameIndex::Hash(key.name_);
    const long i = parent->SubkeyPosition(key.name_, hash);
    if (i >= 0) {
        if (parent->subkeyIndex_) parent->subkeyIndex_->Erase(hash, static_cast<uint32_t>(i));
        parent->subkeys_.erase(parent->subkeys_.begin() + i);
    }
    // Mark the whole subtree deleted and let go of its lists; handles keep reaching the keys.
    std::vector<RegistryKey*> pending{&key};
    while (!pending.empty()) {
        RegistryKey* k = pending.back();
        pending.pop_back();
        k->deleted_ = true;
        k->parent_ = nullptr;
        for (const RegistryKey::Subkey& s : k->subkeys_) pending.push_back(s.key);
        RegistryKey::SubkeyList().swap(k->subkeys_);
        ValueList().swap(k->values_);
        k->subkeyIndex_.reset();
        k->valueIndex_.reset();
    }
    dirty_ = true;
}

HKEY RegistryStore::OpenHandle(RegistryKey& key) {
    uintptr_t value;
    do {
        value = nextHandle;
        nextHandle = nextHandle >= kLastHandle ? kFirstHandle : nextHandle + 4;
    } while (handles_.Contains(value));
    handles_.Insert(value, &key);
    return reinterpret_cast<HKEY>(value);
}

RegistryKey* RegistryStore::KeyOfHandle(HKEY handle) const {
    if (RegistryKey* root = Root(handle)) return root;
    return handles_.Find(reinterpret_cast<uintptr_t>(handle));
}

bool RegistryStore::CloseHandle(HKEY handle) {
    return handles_.Erase(reinterpret_cast<uintptr_t>(handle));
}

}  // namespace hostwin
