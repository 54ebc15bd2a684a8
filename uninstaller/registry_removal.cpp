// Registry removal primitives: keys and values by path, by subkey name, by value name and by
// the contents of a string value.
//
// The four enumerating operations walk the subkeys of one key by index. A deletion moves the
// keys behind it to lower indexes, so after every deletion the walk starts again at index 0.
// It restarts only after a deletion that really took place: a matching entry that the platform
// refuses to delete (or that a derived cleaner leaves alone) is passed over, so such an entry
// can never keep a walk going forever, and it gets no "--Removed" line either, since that line
// would report a removal that did not happen.
#include <cstdio>
#include <cstring>

#include "common/bounded_text.h"
#include "driver_cleaner.h"
#include "value_text.h"

namespace {

// A key opened below a root for the length of one operation. Opening with a null or empty path
// gives back the root itself, which belongs to the caller and is never closed here.
class OpenedKey {
public:
    OpenedKey(HKEY root, const char* path) : root_(root), key_(nullptr) {
        if (RegOpenKeyA(root, path, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    ~OpenedKey() {
        if (key_ && key_ != root_) RegCloseKey(key_);
    }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;

    bool IsOpen() const { return key_ != nullptr; }
    HKEY Get() const { return key_; }

private:
    HKEY root_;
    HKEY key_;
};

typedef char NameBuffer[kPathBufferSize];

// The key name of the log lines: the root's name, then a backslash and the path when there is
// one. A name too long for the buffer is cut.
void BuildKeyName(CDriverCleaner& cleaner, HKEY root, const char* path, NameBuffer& name) {
    cleaner.GetRootKeyName(root, name, kPathBufferSize);
    name[kPathBufferSize - 1] = '\0';  // a root name that fills the buffer has no zero of its own
    if (path) {
        const size_t used = std::strlen(name);
        std::snprintf(name + used, sizeof name - used, "\\%s", path);
    }
}

// The name of the subkey at index; false when the platform does not report success for it
// (no more subkeys, a name that does not fit, or a key that is gone).
bool SubkeyAt(HKEY key, DWORD index, NameBuffer& name) {
    if (RegEnumKeyA(key, index, name, kPathBufferSize) != ERROR_SUCCESS) return false;
    name[kPathBufferSize - 1] = '\0';
    return true;
}

// After the deletion of the subkey that stood at index was asked for: whether it is gone. Only
// a deletion moves other keys, so a subkey that still stands at its index was not deleted.
bool SubkeyGone(HKEY key, DWORD index, const char* name) {
    NameBuffer now;
    return !SubkeyAt(key, index, now) || std::strcmp(now, name) != 0;
}

// Walks the subkeys of key by index. handle(name, index) returns true when it deleted the
// subkey standing at index, which sends the walk back to index 0.
template <class Handler>
void WalkSubkeysWithRestart(HKEY key, Handler handle) {
    NameBuffer subkey;
    for (DWORD index = 0; SubkeyAt(key, index, subkey);) index = handle(subkey, index) ? 0 : index + 1;
}

// Whether the string value valueName of key contains text. The data are read into the 512-byte
// buffer; only REG_SZ data that fit count. The text is searched within the value's text as the
// data returned hold it (ValueTextLength), so a value stored without its terminating zero is
// searched to its end and never past the buffer.
bool StringValueContains(HKEY key, const char* valueName, const char* text) {
    char data[kValueDataBufferSize];
    DWORD type = REG_NONE;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ || size > sizeof data || !text) return false;
    const size_t length = ValueTextLength(data, size);
    const size_t wanted = std::strlen(text);
    for (size_t at = 0; at + wanted <= length; ++at)
        if (std::memcmp(data + at, text, wanted) == 0) return true;
    return false;
}

}  // namespace

void CDriverCleaner::DeleteSubkey(HKEY root, const char* path, const char* name) {
    // Without a name there is no subkey to delete; the key itself is never the target.
    if (!name || !*name) return;
    OpenedKey key(root, path);
    if (key.IsOpen()) RegDeleteKeyA(key.Get(), name);
}

void CDriverCleaner::DeleteValue(HKEY key, const char* valueName) {
    RegDeleteValueA(key, valueName);
}

void CDriverCleaner::DeleteValueAt(HKEY root, const char* path, const char* valueName) {
    OpenedKey key(root, path);
    if (key.IsOpen()) DeleteValue(key.Get(), valueName);
}

bool CDriverCleaner::IsKeyEmpty(HKEY root, const char* path) {
    OpenedKey key(root, path);
    if (!key.IsOpen()) return false;
    NameBuffer name;
    return !SubkeyAt(key.Get(), 0, name);  // values don't count
}

void CDriverCleaner::DeleteKeyIfEmpty(HKEY root, const char* path, const char* name) {
    OpenedKey key(root, path);
    if (!key.IsOpen()) return;
    if (IsKeyEmpty(key.Get(), name)) DeleteSubkey(root, path, name);
}

int CDriverCleaner::DeleteSubkeysWithValue(HKEY root, const char* path, const char* valueName,
                                           const char* text) {
    NameBuffer keyName;
    BuildKeyName(*this, root, path, keyName);
    OpenedKey key(root, path);
    if (!key.IsOpen()) return 0;

    int count = 0;
    WalkSubkeysWithRestart(key.Get(), [&](const char* subkey, DWORD index) {
        bool matches = false;
        {
            OpenedKey entry(key.Get(), subkey);
            if (entry.IsOpen()) matches = StringValueContains(entry.Get(), valueName, text);
        }
        if (!matches) return false;
        DeleteSubkey(root, path, subkey);
        if (!SubkeyGone(key.Get(), index, subkey)) return false;
        LogFormatted("--Removed key '%s\\%s'", keyName, subkey);
        ++count;
        return true;
    });
    return count;
}

void CDriverCleaner::DeleteSectionsWithValue(HKEY root, const char* path, const char* valueName,
                                             const char* text, bool deleteSection) {
    NameBuffer keyName;
    BuildKeyName(*this, root, path, keyName);
    OpenedKey key(root, path);
    if (!key.IsOpen()) return;

    WalkSubkeysWithRestart(key.Get(), [&](const char* section, DWORD index) {
        // Deletions inside the section move no section, so they don't restart the walk.
        const int deleted = DeleteSubkeysWithValue(key.Get(), section, valueName, text);
        if (deleted == 0 || !deleteSection) return false;
        DeleteSubkey(root, path, section);
        if (!SubkeyGone(key.Get(), index, section)) return false;
        LogFormatted("--Removed section '%s\\%s'", keyName, section);
        return true;
    });
}

void CDriverCleaner::DeleteSubkeysNamed(HKEY root, const char* path, const char* text) {
    NameBuffer keyName;
    BuildKeyName(*this, root, path, keyName);
    OpenedKey key(root, path);
    if (!key.IsOpen()) return;

    WalkSubkeysWithRestart(key.Get(), [&](const char* subkey, DWORD index) {
        if (!common::Contains(subkey, text)) return false;
        DeleteSubkey(root, path, subkey);
        if (!SubkeyGone(key.Get(), index, subkey)) return false;
        LogFormatted("--Removed key '%s\\%s'", keyName, subkey);
        return true;
    });
}

void CDriverCleaner::DeleteValuesNamed(HKEY root, const char* path, const char* text) {
    NameBuffer keyName;
    BuildKeyName(*this, root, path, keyName);
    OpenedKey key(root, path);
    if (!key.IsOpen()) return;

    // Only the values of the subkeys are looked at, not those of root\path or of deeper keys.
    WalkSubkeysWithRestart(key.Get(), [&](const char* subkey, DWORD) {
        OpenedKey entry(key.Get(), subkey);
        if (!entry.IsOpen()) return false;
        bool deletedOne = false;
        NameBuffer value;
        // The value index goes up after every value, deleted or not: a value that moves into a
        // deleted one's place waits for the next pass, which the deletion causes.
        for (DWORD valueIndex = 0;; ++valueIndex) {
            DWORD size = kPathBufferSize;
            if (RegEnumValueA(entry.Get(), valueIndex, value, &size, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            value[kPathBufferSize - 1] = '\0';
            if (common::Contains(value, text) && RegDeleteValueA(entry.Get(), value) == ERROR_SUCCESS) {
                LogFormatted("--Removed value '%s\\%s\\%s'", keyName, subkey, value);
                deletedOne = true;
            }
        }
        return deletedOne;
    });
}
