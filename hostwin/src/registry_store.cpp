// The registry store: keys and values, the name indexes, the handle table. Reading the text
// is in registry_parse.cpp, writing it in registry_write.cpp.
#include "registry_store.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "host_file.h"
#include "hostwin.h"
#include "text_util.h"

namespace hostwin {

namespace {

// Stored roots in file order; slot 4 (HKEY_PERFORMANCE_DATA) holds no tree.
const char* const kRootNames[] = {
    "HKEY_CLASSES_ROOT",   "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS", nullptr,
    "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
constexpr uintptr_t kPredefinedBase = 0x80000000u;

// Registry handles are numbered apart from kernel handles and from the predefined roots, and
// never repeat within a process (so a handle of a closed machine can't reach a new one's key).
constexpr uintptr_t kFirstHandle = 0x20000000u;
constexpr uintptr_t kLastHandle = 0x7FFFFFF0u;
uintptr_t nextHandle = kFirstHandle;

// Lists up to this long are searched name by name; longer ones get a NameIndex.
constexpr size_t kIndexFrom = 8;

constexpr size_t kHugePage = 2u << 20;

// Bytes kept by Keep() come from blocks of this size (larger ones get a block of their own).
constexpr size_t kBlockSize = 64 * 1024;

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

}  // namespace

// ---- NameIndex -----------------------------------------------------------------------------

uint32_t NameIndex::Hash(std::string_view name) {
    uint32_t h = 2166136261u;  // FNV-1a over the upper-cased bytes
    for (char c : name) h = (h ^ static_cast<unsigned char>(FoldCase(c))) * 16777619u;
    return h;
}

template <class NameAt>
long NameIndex::Find(std::string_view name, uint32_t hash, NameAt nameAt) const {
    if (!capacity_) return -1;
    const size_t mask = capacity_ - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.position == kEmpty) return -1;
        if (s.hash == hash && SameName(nameAt(s.position), name)) return s.position;
    }
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
    slots_[i] = Slot{hash, position};
    ++count_;
}

void NameIndex::Erase(uint32_t hash, uint32_t position) {
    if (!capacity_) return;
    const size_t mask = capacity_ - 1;
    size_t i = hash & mask;
    while (slots_[i].position != position) {
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
    for (size_t k = 0; k < capacity_; ++k)
        if (slots_[k].position != kEmpty && slots_[k].position > position) --slots_[k].position;
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
                subkeyIndex_->Insert(NameIndex::Hash(subkeys_[i]->name_), static_cast<uint32_t>(i));
        }
        return subkeyIndex_->Find(name, hash, [this](uint32_t i) { return subkeys_[i]->name_; });
    }
    for (size_t i = 0; i < subkeys_.size(); ++i)
        if (SameName(subkeys_[i]->name_, name)) return static_cast<long>(i);
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
    subkeys_.push_back(key);
    if (subkeyIndex_) subkeyIndex_->Insert(hash, static_cast<uint32_t>(subkeys_.size() - 1));
}

void RegistryKey::AddValue(const RegistryValue& value, uint32_t hash) {
    values_.push_back(value);
    if (valueIndex_) valueIndex_->Insert(hash, static_cast<uint32_t>(values_.size() - 1));
}

RegistryKey* RegistryKey::FindSubkey(std::string_view name) const {
    const long i = SubkeyPosition(name, subkeys_.size() > kIndexFrom ? NameIndex::Hash(name) : 0);
    return i < 0 ? nullptr : subkeys_[static_cast<size_t>(i)];
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

RegistryStore::~RegistryStore() = default;

RegistryKey* RegistryStore::NewKey(std::string_view name, RegistryKey* parent) {
    if (keysInLastBlock_ == kKeysPerBlock) {
        keyBlocks_.push_back(std::unique_ptr<RegistryKey[]>(new RegistryKey[kKeysPerBlock]));
        keysInLastBlock_ = 0;
    }
    RegistryKey* key = &keyBlocks_.back()[keysInLastBlock_++];
    key->name_ = name;
    key->parent_ = parent;
    return key;
}

char* RegistryStore::NewBuffer(size_t size) {
    buffers_.push_back(std::unique_ptr<char[]>(new char[size + 1]));
    char* buffer = buffers_.back().get();
    buffer[size] = '\0';
    return buffer;
}

std::string_view RegistryStore::Keep(std::string_view bytes) {
    if (bytes.empty()) return std::string_view();
    if (bytes.size() > kBlockSize / 4) {
        char* own = NewBuffer(bytes.size());
        std::memcpy(own, bytes.data(), bytes.size());
        return std::string_view(own, bytes.size());
    }
    if (bytes.size() > blockLeft_) {
        blockNext_ = NewBuffer(kBlockSize);
        blockLeft_ = kBlockSize;
    }
    char* at = blockNext_;
    std::memcpy(at, bytes.data(), bytes.size());
    blockNext_ += bytes.size();
    blockLeft_ -= bytes.size();
    return std::string_view(at, bytes.size());
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
    // The text is parsed in place and the values point into it, so the store keeps it.
    auto text = std::make_unique<std::string>();
    if (ReadMachineFile(file_, kRegistryFileLimit, *text, &fileStamp_)) {
        char* data = &(*text)[0];
        const size_t size = text->size();
        texts_.push_back(std::move(text));
        ParseText(data, size, file_, false);
    }
    dirty_ = false;
}

std::unique_ptr<RegistryStore> RegistryStore::Parse(const std::string& text,
                                                    const std::string& fileName) {
    auto store = std::make_unique<RegistryStore>();
    char* own = store->NewBuffer(text.size());
    std::memcpy(own, text.data(), text.size());
    store->ParseText(own, text.size(), fileName, false);
    store->dirty_ = false;
    return store;
}

void RegistryStore::Merge(const std::string& text, const std::string& fileName) {
    char* own = NewBuffer(text.size());
    std::memcpy(own, text.data(), text.size());
    ParseText(own, text.size(), fileName, true);
}

RegistryKey* RegistryStore::Root(HKEY predefined) const {
    const uintptr_t value = reinterpret_cast<uintptr_t>(predefined);
    for (int i = 0; i < kRootSlots; ++i)
        if (value == static_cast<uintptr_t>(static_cast<intptr_t>(
                         static_cast<int32_t>(static_cast<uint32_t>(kPredefinedBase + i)))))
            return roots_[i];
    return nullptr;
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
    if (i >= 0) return *parent.subkeys_[static_cast<size_t>(i)];
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
        pending.insert(pending.end(), k->subkeys_.begin(), k->subkeys_.end());
        std::vector<RegistryKey*>().swap(k->subkeys_);
        std::vector<RegistryValue>().swap(k->values_);
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
    } while (handles_.count(value));
    handles_.emplace(value, &key);
    return reinterpret_cast<HKEY>(value);
}

RegistryKey* RegistryStore::KeyOfHandle(HKEY handle) const {
    if (RegistryKey* root = Root(handle)) return root;
    auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    return it == handles_.end() ? nullptr : it->second;
}

bool RegistryStore::CloseHandle(HKEY handle) {
    return handles_.erase(reinterpret_cast<uintptr_t>(handle)) > 0;
}

}  // namespace hostwin
