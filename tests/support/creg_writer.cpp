#include "creg_writer.h"

#include <cstdio>

namespace test_support {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr size_t kHeaderSize = 0x20;
constexpr size_t kBlockHeaderSize = 0x20;
constexpr size_t kTreeEntrySize = 0x1C;
constexpr size_t kAlign = 0x1000;  // blocks are whole 4 KiB pages

void Put16(std::string& out, size_t at, uint32_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Append16(std::string& out, uint32_t v) {
    out.append(2, '\0');
    Put16(out, out.size() - 2, v);
}

void Append32(std::string& out, uint32_t v) {
    out.append(4, '\0');
    Put32(out, out.size() - 4, v);
}

size_t RoundUp(size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

// The navigation hash of one name: the sum of its upper-cased ASCII bytes.
uint32_t NameHash(const std::string& name) {
    uint32_t sum = 0;
    for (unsigned char c : name) {
        if (c >= 0x80) continue;
        sum += (c >= 'a' && c <= 'z') ? c - 0x20 : c;
    }
    return sum;
}

struct Flat {
    const CregKey* key;
    uint32_t parent;      // index, kNone for the root
    uint32_t firstChild;  // index or kNone
    uint32_t next;        // index or kNone
    uint16_t entry = 0;   // number within its data block
    uint16_t block = 0;
};

void Flatten(const CregKey& key, uint32_t parent, std::vector<Flat>& out) {
    const uint32_t self = static_cast<uint32_t>(out.size());
    out.push_back({&key, parent, kNone, kNone});
    uint32_t previous = kNone;
    for (const auto& sub : key.subkeys) {
        const uint32_t child = static_cast<uint32_t>(out.size());
        if (previous == kNone) out[self].firstChild = child;
        else out[previous].next = child;
        previous = child;
        Flatten(*sub, self, out);
    }
}

std::string KeyEntry(const Flat& f) {
    std::string e;
    Append32(e, 0);  // entry size, filled below
    Append16(e, f.entry);
    Append16(e, f.block);
    Append32(e, 0);  // bytes used, filled below
    Append16(e, static_cast<uint32_t>(f.key->name.size()));
    Append16(e, static_cast<uint32_t>(f.key->values.size()));
    Append32(e, 0);
    e += f.key->name;
    for (const CregValue& v : f.key->values) {
        Append32(e, v.type);
        Append32(e, 0);
        Append16(e, static_cast<uint32_t>(v.name.size()));
        Append16(e, static_cast<uint32_t>(v.data.size()));
        e += v.name;
        e += v.data;
    }
    Put32(e, 0, static_cast<uint32_t>(e.size()));
    Put32(e, 8, static_cast<uint32_t>(e.size()));
    return e;
}

}  // namespace

CregKey& CregKey::Add(const std::string& subkeyName) {
    subkeys.push_back(std::make_unique<CregKey>());
    subkeys.back()->name = subkeyName;
    return *subkeys.back();
}

CregKey& CregKey::Set(uint32_t type, const std::string& valueName, const std::string& data) {
    values.push_back({type, valueName, data});
    return *this;
}

CregKey& CregKey::Text(const std::string& valueName, const std::string& text) {
    return Set(1, valueName, text + std::string(1, '\0'));
}

CregKey& CregKey::Dword(const std::string& valueName, uint32_t number) {
    std::string bytes(4, '\0');
    Put32(bytes, 0, number);
    return Set(4, valueName, bytes);
}

std::string WriteCreg(const CregKey& root, size_t keysPerBlock) {
    std::vector<Flat> keys;
    Flatten(root, kNone, keys);
    if (keysPerBlock == 0) keysPerBlock = 1;
    for (size_t i = 0; i < keys.size(); ++i) {
        keys[i].block = static_cast<uint16_t>(i / keysPerBlock);
        keys[i].entry = static_cast<uint16_t>(i % keysPerBlock);
    }

    // Navigation block: header, one tree entry per key, free space to the page boundary.
    const size_t used = kBlockHeaderSize + keys.size() * kTreeEntrySize;
    std::string nav(RoundUp(used + kTreeEntrySize), '\0');
    nav.replace(0, 4, "RGKN");
    Put32(nav, 4, static_cast<uint32_t>(nav.size()));
    Put32(nav, 8, static_cast<uint32_t>(kBlockHeaderSize));  // the root's tree entry
    Put32(nav, 12, static_cast<uint32_t>(used));
    auto offsetOf = [](uint32_t index) {
        return index == kNone ? kNone
                              : static_cast<uint32_t>(kBlockHeaderSize + index * kTreeEntrySize);
    };
    for (size_t i = 0; i < keys.size(); ++i) {
        const size_t at = kBlockHeaderSize + i * kTreeEntrySize;
        Put32(nav, at, 0);
        Put32(nav, at + 4, NameHash(keys[i].key->name));
        Put32(nav, at + 8, kNone);
        Put32(nav, at + 12, offsetOf(keys[i].parent));
        Put32(nav, at + 16, offsetOf(keys[i].firstChild));
        Put32(nav, at + 20, offsetOf(keys[i].next));
        Put16(nav, at + 24, keys[i].entry);
        Put16(nav, at + 26, keys[i].block);
    }

    // Data blocks: header, then the key entries; the last entry takes the free space to the
    // page boundary (its size covers it, its used size does not).
    std::string blocks;
    size_t blockCount = 0;
    for (size_t first = 0; first < keys.size(); first += keysPerBlock) {
        std::string block(kBlockHeaderSize, '\0');
        size_t lastEntry = 0;
        for (size_t i = first; i < keys.size() && i < first + keysPerBlock; ++i) {
            lastEntry = block.size();
            block += KeyEntry(keys[i]);
        }
        const size_t padded = RoundUp(block.size());
        Put32(block, lastEntry, static_cast<uint32_t>(padded - lastEntry));
        block.resize(padded, '\0');
        block.replace(0, 4, "RGDB");
        Put32(block, 4, static_cast<uint32_t>(block.size()));
        blocks += block;
        ++blockCount;
    }

    std::string header(kHeaderSize, '\0');
    header.replace(0, 4, "CREG");
    Put16(header, 4, 0);  // minor version
    Put16(header, 6, 1);  // major version
    Put32(header, 8, static_cast<uint32_t>(kHeaderSize + nav.size()));  // first data block
    Put32(header, 16, static_cast<uint32_t>(blockCount));
    return header + nav + blocks;
}

bool WriteHostFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace test_support
