// Test-only writer of Windows 9x registry hives (SYSTEM.DAT, USER.DAT: the "CREG" format), so
// the importer can be tested on hives of any shape without a real Windows machine. It writes
// what Windows 9x writes: a 32-byte file header, the key navigation block (RGKN) of 28-byte
// tree entries linked by parent, first-child and next-sibling offsets, then data blocks (RGDB)
// holding each key's name and values.
#ifndef TESTS_SUPPORT_CREG_WRITER_H
#define TESTS_SUPPORT_CREG_WRITER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace test_support {

struct CregValue {
    uint32_t type;
    std::string name;  // "" is the default value
    std::string data;  // raw bytes
};

struct CregKey {
    std::string name;  // 8-bit bytes as stored
    std::vector<CregValue> values;
    std::vector<std::unique_ptr<CregKey>> subkeys;

    CregKey& Add(const std::string& subkeyName);
    CregKey& Set(uint32_t type, const std::string& valueName, const std::string& data);
    // REG_SZ with the terminating zero byte, as Windows stores texts.
    CregKey& Text(const std::string& valueName, const std::string& text);
    CregKey& Dword(const std::string& valueName, uint32_t number);
};

// The hive's bytes. root is the hive's root key (its name is stored but has no meaning);
// keysPerBlock limits how many keys one data block holds, so large hives span many blocks.
std::string WriteCreg(const CregKey& root, size_t keysPerBlock = 256);

// Writes bytes to a host file; false when that fails.
bool WriteHostFile(const std::string& path, const std::string& bytes);

}  // namespace test_support

#endif
