#include "hive_reader.h"

#include <libcreg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "import_error.h"

namespace hostwin_import {

namespace {

// Deeper than any registry Windows 9x can build; a deeper tree is a corrupt (cyclic) hive.
constexpr int kMaxDepth = 512;

// libcreg's objects, freed on every path.
struct CregError {
    libcreg_error_t* error = nullptr;
    ~CregError() { libcreg_error_free(&error); }
    // The first line of libcreg's message, for the user.
    std::string Text() {
        if (!error) return "unknown error";
        char buffer[512] = {};
        libcreg_error_sprint(error, buffer, sizeof buffer);
        std::string text(buffer);
        const size_t end = text.find('\n');
        if (end != std::string::npos) text.resize(end);
        libcreg_error_free(&error);
        return text;
    }
};

struct KeyHandle {
    libcreg_key_t* key = nullptr;
    ~KeyHandle() { libcreg_key_free(&key, nullptr); }
};

struct ValueHandle {
    libcreg_value_t* value = nullptr;
    ~ValueHandle() { libcreg_value_free(&value, nullptr); }
};

struct FileHandle {
    libcreg_file_t* file = nullptr;
    bool open = false;
    ~FileHandle() {
        if (open) libcreg_file_close(file, nullptr);
        libcreg_file_free(&file, nullptr);
    }
};

class HiveWalk {
public:
    HiveWalk(const std::string& label, hostwin::RegistryStore& store)
        : label_(label), store_(store) {}

    void CopyKey(libcreg_key_t* source, hostwin::RegistryKey& target, const std::string& path,
                 int depth) {
        if (depth > kMaxDepth) Fail("keys nested deeper than " + std::to_string(kMaxDepth) +
                                    " levels at " + path + " (corrupt hive)");
        ++keys_;
        CopyValues(source, target, path);
        int count = 0;
        if (libcreg_key_get_number_of_sub_keys(source, &count, &error_.error) != 1)
            Corrupt(path);
        for (int i = 0; i < count; ++i) {
            KeyHandle sub;
            if (libcreg_key_get_sub_key_by_index(source, i, &sub.key, &error_.error) != 1) Corrupt(path);
            const std::string name = Name(sub.key, path);
            const std::string subPath = path.empty() ? name : path + "\\" + name;
            if (name.empty() || name.find_first_of(std::string("\\\r\n\0", 4)) != std::string::npos)
                Fail("key name not allowed below " + (path.empty() ? "the root" : path) + ": \"" +
                     Printable(name) + "\"");
            CopyKey(sub.key, store_.CreateSubkey(target, name), subPath, depth + 1);
        }
    }

    size_t Keys() const { return keys_; }

private:
    std::string Name(libcreg_key_t* key, const std::string& path) {
        size_t size = 0;
        if (libcreg_key_get_name_size(key, &size, &error_.error) != 1) Corrupt(path);
        std::string name(size, '\0');
        if (size > 0 && libcreg_key_get_name(key, reinterpret_cast<uint8_t*>(&name[0]), size,
                                             &error_.error) != 1)
            Corrupt(path);
        // The size counts the terminating zero byte.
        while (!name.empty() && name.back() == '\0') name.pop_back();
        return name;
    }

    void CopyValues(libcreg_key_t* source, hostwin::RegistryKey& target, const std::string& path) {
        int count = 0;
        if (libcreg_key_get_number_of_values(source, &count, &error_.error) != 1) Corrupt(path);
        for (int i = 0; i < count; ++i) {
            ValueHandle v;
            if (libcreg_key_get_value_by_index(source, i, &v.value, &error_.error) != 1) Corrupt(path);
            size_t nameSize = 0;
            if (libcreg_value_get_name_size(v.value, &nameSize, &error_.error) != 1)
                Corrupt(path);
            std::string name(nameSize, '\0');
            if (nameSize > 0 &&
                libcreg_value_get_name(v.value, reinterpret_cast<uint8_t*>(&name[0]), nameSize,
                                       &error_.error) != 1)
                Corrupt(path);
            while (!name.empty() && name.back() == '\0') name.pop_back();
            if (name.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
                Fail("value name not allowed in " + path + ": \"" + Printable(name) + "\"");
            uint32_t type = 0;
            if (libcreg_value_get_value_type(v.value, &type, &error_.error) != 1) Corrupt(path);
            size_t dataSize = 0;
            if (libcreg_value_get_value_data_size(v.value, &dataSize, &error_.error) != 1)
                Corrupt(path);
            std::string data(dataSize, '\0');
            if (dataSize > 0 &&
                libcreg_value_get_value_data(v.value, reinterpret_cast<uint8_t*>(&data[0]),
                                             dataSize, &error_.error) != 1)
                Corrupt(path);
            store_.SetValue(target, name, type, data);
        }
    }

    static std::string Printable(const std::string& text) {
        std::string out;
        for (unsigned char c : text) {
            if (c < 0x20 || c == 0x7F || c == '\\') {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
        return out;
    }

    [[noreturn]] void Corrupt(const std::string& path) {
        Fail("corrupt hive at " + (path.empty() ? std::string("its root key") : path) + ": " +
             error_.Text());
    }
    [[noreturn]] void Fail(const std::string& what) { throw ImportError(label_ + ": " + what); }

    const std::string& label_;
    hostwin::RegistryStore& store_;
    CregError error_;
    size_t keys_ = 0;
};

// The first bytes tell a Windows 9x hive from an NT hive and from anything else.
void CheckSignature(const std::string& hostFile, const std::string& label) {
    std::FILE* f = std::fopen(hostFile.c_str(), "rb");
    if (!f) throw ImportError(label + ": cannot be read: " + std::strerror(errno));
    char signature[4] = {};
    const size_t got = std::fread(signature, 1, sizeof signature, f);
    std::fclose(f);
    if (got == 4 && std::memcmp(signature, "CREG", 4) == 0) return;
    if (got == 4 && std::memcmp(signature, "regf", 4) == 0)
        throw ImportError(label +
                          ": is a Windows NT registry hive (REGF); only the hives of Windows 95, "
                          "98 and Me (CREG) can be imported");
    throw ImportError(label + ": is not a Windows 9x registry hive (no CREG signature)");
}

uint32_t Get32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

// The key tree of the navigation block (RGKN, right after the 32-byte file header): 28-byte
// entries linked by first-child (+16) and next-sibling (+20) offsets from the block's start.
// Every entry reachable from the root is visited once, so the check ends after at most one
// visit per entry of the block, whatever the links say; a second visit means a loop or a key
// with two parents, which libcreg would follow without end.
void CheckKeyTree(const std::string& hostFile, const std::string& label) {
    constexpr size_t kFileHeader = 0x20, kBlockHeader = 0x20, kEntry = 28;
    constexpr uint32_t kNone = 0xFFFFFFFFu;
    const int fd = ::open(hostFile.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        throw ImportError(label + ": cannot be read: " + std::strerror(errno));
    }
    auto fail = [&](const std::string& why) {
        ::close(fd);
        throw ImportError(label + ": corrupt or truncated hive: " + why);
    };
    if (static_cast<uint64_t>(st.st_size) > kHiveFileLimit)
        fail("larger than " + std::to_string(kHiveFileLimit) + " bytes");
    std::string header(kFileHeader + kBlockHeader, '\0');
    if (::pread(fd, &header[0], header.size(), 0) != static_cast<ssize_t>(header.size()) ||
        header.compare(kFileHeader, 4, "RGKN") != 0)
        fail("no key navigation block (truncated)");
    const uint64_t blockSize = Get32(header, kFileHeader + 4);
    if (blockSize < kBlockHeader || blockSize > static_cast<uint64_t>(st.st_size) - kFileHeader)
        fail("the key navigation block runs past the end of the file (truncated)");
    std::string block(static_cast<size_t>(blockSize), '\0');
    if (::pread(fd, &block[0], block.size(), kFileHeader) != static_cast<ssize_t>(block.size()))
        fail("the key navigation block cannot be read");
    ::close(fd);
    std::vector<bool> visited(block.size());
    struct Pending {
        uint32_t offset;
        int depth;
    };
    std::vector<Pending> pending{{Get32(block, 8), 0}};
    while (!pending.empty()) {
        const Pending p = pending.back();
        pending.pop_back();
        if (p.offset == kNone) continue;
        if (p.offset < kBlockHeader || p.offset > block.size() - kEntry)
            throw ImportError(label + ": corrupt hive: a key entry lies outside its block");
        if (visited[p.offset])
            throw ImportError(label + ": corrupt hive: the key tree loops back to the entry at " +
                              std::to_string(p.offset) + " (a key listed twice)");
        visited[p.offset] = true;
        if (p.depth > kMaxDepth)
            throw ImportError(label + ": corrupt hive: keys nested deeper than " +
                              std::to_string(kMaxDepth) + " levels");
        pending.push_back({Get32(block, p.offset + 20), p.depth});
        pending.push_back({Get32(block, p.offset + 16), p.depth + 1});
    }
}

}  // namespace

size_t ReadHive(const std::string& hostFile, const std::string& label,
                hostwin::RegistryStore& store, hostwin::RegistryKey& into) {
    CheckSignature(hostFile, label);
    CheckKeyTree(hostFile, label);
    CregError error;
    FileHandle file;
    if (libcreg_file_initialize(&file.file, &error.error) != 1)
        throw ImportError(label + ": " + error.Text());
    if (libcreg_file_open(file.file, hostFile.c_str(), LIBCREG_OPEN_READ, &error.error) != 1)
        throw ImportError(label + ": corrupt or truncated hive: " + error.Text());
    file.open = true;
    KeyHandle root;
    if (libcreg_file_get_root_key(file.file, &root.key, &error.error) != 1 || !root.key)
        throw ImportError(label + ": corrupt or truncated hive: no root key" +
                          (error.error ? ": " + error.Text() : std::string()));
    HiveWalk walk(label, store);
    walk.CopyKey(root.key, into, "", 0);
    return walk.Keys();
}

}  // namespace hostwin_import
