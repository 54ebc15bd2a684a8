// The registry functions as Win32 states them, on a scratch machine.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "hostwin.h"
#include "scratch_machine.h"

namespace {

const char kRegistry[] =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003\\Inst1]\r\n"
    "\"Mfg\"=\"Pellam\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003\\Inst1\\Deeper]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\Leaf]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Pellam]\r\n"
    "@=\"default\"\r\n"
    "\"WarningTitle\"=\"Remove\"\r\n"
    "\"Bin\"=hex:01,02,03\r\n"
    "\"NoZero\"=hex(1):41,42\r\n\r\n";

std::map<std::string, std::string> Files(const char* version = "win98") {
    return {{"registry.reg", kRegistry},
            {"machine.ini", std::string("[system]\nversion=") + version + "\n"}};
}

HKEY Open(HKEY root, const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyA(root, path, &key), ERROR_SUCCESS) << path;
    return key;
}

}  // namespace

// Paths resolve by any letter case; subkeys enumerate in file order, and a name that does not
// fit the buffer is not written at all.
TEST(RegistryApiTest, OpenAndEnumerateKeys) {
    ScratchMachine m(Files());
    HKEY same = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, nullptr, &same), ERROR_SUCCESS);
    EXPECT_EQ(same, HKEY_LOCAL_MACHINE);
    HKEY pci = Open(HKEY_LOCAL_MACHINE, "enum\\pci");
    const struct { HKEY root; const char* path; LONG expected; } cases[] = {
        {HKEY_LOCAL_MACHINE, "ENUM\\Pci\\ven_7a3c&dev_0003\\INST1", ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, "Enum\\\\PCI\\", ERROR_SUCCESS},
        {pci, "Leaf", ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, "Enum\\Missing", ERROR_FILE_NOT_FOUND},
        {HKEY_CURRENT_USER, "Enum", ERROR_FILE_NOT_FOUND},
        {HKEY_LOCAL_MACHINE, "\\Enum", ERROR_BAD_PATHNAME},
        {HKEY_PERFORMANCE_DATA, "Enum", ERROR_INVALID_HANDLE},
        {reinterpret_cast<HKEY>(0x1234), "Enum", ERROR_INVALID_HANDLE},
        {nullptr, nullptr, ERROR_INVALID_HANDLE},
    };
    std::set<HKEY> handles{pci};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path ? c.path : "(null)");
        HKEY key = reinterpret_cast<HKEY>(1);
        EXPECT_EQ(RegOpenKeyA(c.root, c.path, &key), c.expected);
        if (c.expected != ERROR_SUCCESS) {
            EXPECT_EQ(key, nullptr);
            continue;
        }
        // A handle is never reused while open and never takes a predefined root's value.
        EXPECT_TRUE(handles.insert(key).second);
        const uintptr_t value = reinterpret_cast<uintptr_t>(key);
        EXPECT_TRUE(value > 0 && (value < reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) ||
                                  value > reinterpret_cast<uintptr_t>(HKEY_DYN_DATA)));
    }
    char name[32];
    EXPECT_EQ(RegEnumKeyA(pci, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "VEN_7A3C&DEV_0003");
    EXPECT_EQ(RegEnumKeyA(pci, 2, name, sizeof name), ERROR_NO_MORE_ITEMS);
    std::memset(name, '#', sizeof name);
    EXPECT_EQ(RegEnumKeyA(pci, 1, name, 4), ERROR_MORE_DATA);  // "Leaf" needs 5 with its zero
    EXPECT_EQ(std::string(name, 8), "########");
    EXPECT_EQ(RegEnumKeyA(pci, 1, name, 5), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, 6), std::string("Leaf\0#", 6));
    for (HKEY h : handles) EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(pci), ERROR_INVALID_HANDLE);
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_DYN_DATA, HKEY_PERFORMANCE_DATA})
        EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
}

TEST(RegistryApiTest, QueryValueBuffersAndDefaults) {
    ScratchMachine m(Files());
    HKEY key = Open(HKEY_LOCAL_MACHINE, "Software\\Pellam");
    const DWORD kSizeOnly = ~0u;  // no buffer: the size alone
    const struct { const char* name; DWORD bufferSize; LONG expected; DWORD type; std::string data; }
        cases[] = {
            {nullptr, 64, ERROR_SUCCESS, REG_SZ, std::string("default\0", 8)},
            {"", 64, ERROR_SUCCESS, REG_SZ, std::string("default\0", 8)},
            {"warningtitle", 7, ERROR_SUCCESS, REG_SZ, std::string("Remove\0", 7)},
            {"WarningTitle", 6, ERROR_MORE_DATA, REG_SZ, std::string("Remove\0", 7)},
            {"WarningTitle", kSizeOnly, ERROR_SUCCESS, REG_SZ, std::string("Remove\0", 7)},
            {"Bin", 3, ERROR_SUCCESS, REG_BINARY, "\1\2\3"},
            {"NoZero", 2, ERROR_SUCCESS, REG_SZ, "AB"},
            {"Missing", 64, ERROR_FILE_NOT_FOUND, 0, ""},
        };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        BYTE buffer[80];
        std::memset(buffer, '#', sizeof buffer);
        DWORD type = 99, size = c.bufferSize == kSizeOnly ? 0 : c.bufferSize;
        const LONG r = RegQueryValueExA(key, c.name, nullptr, &type,
                                        c.bufferSize == kSizeOnly ? nullptr : buffer, &size);
        EXPECT_EQ(r, c.expected);
        if (r == ERROR_FILE_NOT_FOUND) continue;
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(size, c.data.size());
        const size_t written = r == ERROR_SUCCESS && c.bufferSize != kSizeOnly ? c.data.size() : 0;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), sizeof buffer),
                  c.data.substr(0, written) + std::string(sizeof buffer - written, '#'));
    }
    RegCloseKey(key);
}

TEST(RegistryApiTest, EnumValueNameAndDataBuffers) {
    ScratchMachine m(Files());
    HKEY key = Open(HKEY_LOCAL_MACHINE, "Software\\Pellam");
    const struct { DWORD index, nameSize, dataSize; bool withData; LONG expected; DWORD nameOut, dataOut; }
        cases[] = {
            {0, 260, 64, true, ERROR_SUCCESS, 0, 8},     // @ comes first, as an empty name
            {1, 13, 64, true, ERROR_SUCCESS, 12, 7},     // "WarningTitle" fits exactly
            {1, 12, 64, true, ERROR_MORE_DATA, 12, 7},   // no room for the zero
            {1, 260, 6, true, ERROR_MORE_DATA, 260, 7},  // data one byte short
            {2, 260, 0, false, ERROR_SUCCESS, 3, 0},     // names only, as the uninstaller asks
            {4, 260, 64, true, ERROR_NO_MORE_ITEMS, 260, 64},
        };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        char name[300];
        BYTE data[80];
        std::memset(name, '#', sizeof name);
        std::memset(data, '#', sizeof data);
        DWORD nameSize = c.nameSize, dataSize = c.dataSize, type = 99;
        const LONG r = RegEnumValueA(key, c.index, name, &nameSize, nullptr,
                                     c.withData ? &type : nullptr, c.withData ? data : nullptr,
                                     c.withData ? &dataSize : nullptr);
        EXPECT_EQ(r, c.expected);
        EXPECT_EQ(nameSize, c.nameOut);
        EXPECT_EQ(dataSize, c.dataOut);
        const size_t nameWritten = r == ERROR_SUCCESS ? nameSize + 1 : 0;
        EXPECT_EQ(std::string(name + nameWritten, 8), std::string(8, '#'));
        const size_t dataWritten = r == ERROR_SUCCESS && c.withData ? dataSize : 0;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + dataWritten, 8), std::string(8, '#'));
        if (r == ERROR_SUCCESS && c.index == 2) {
            EXPECT_STREQ(name, "Bin");
        }
    }
    RegCloseKey(key);
}

// Windows 9x deletes a key with its whole tree, and handles still open below it report the
// key as deleted; NT refuses a key that still has subkeys.
TEST(RegistryApiTest, DeleteKeyRemovesTreesOnWin9xAndRefusesThemOnNt) {
    ScratchMachine m(Files());
    HKEY pci = Open(HKEY_LOCAL_MACHINE, "Enum\\PCI");
    HKEY inst = Open(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_0003\\Inst1");
    HKEY deeper = Open(inst, "Deeper");
    EXPECT_EQ(RegDeleteKeyA(pci, "ven_7a3c&dev_0003"), ERROR_SUCCESS);
    char name[64];
    DWORD size = 0;
    for (HKEY gone : {inst, deeper}) {
        EXPECT_EQ(RegEnumKeyA(gone, 0, name, sizeof name), ERROR_KEY_DELETED);
        EXPECT_EQ(RegQueryValueExA(gone, "Mfg", nullptr, nullptr, nullptr, &size),
                  ERROR_KEY_DELETED);
        EXPECT_EQ(RegCloseKey(gone), ERROR_SUCCESS);
    }
    EXPECT_EQ(RegEnumKeyA(pci, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Leaf");
    EXPECT_EQ(RegDeleteKeyA(pci, "VEN_7A3C&DEV_0003"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(pci);
    const std::string key = "\"key\":\"HKEY_LOCAL_MACHINE\\\\Enum\\\\PCI\\\\VEN_7A3C&DEV_0003\",";
    EXPECT_EQ(m.Journal(), (std::vector<std::string>{
                               "{\"event\":\"reg-delete-key\"," + key + "\"ok\":true}",
                               "{\"event\":\"reg-delete-key\"," + key + "\"ok\":false,\"error\":2}"}));
    EXPECT_EQ(m.RegistryText().find("VEN_7A3C"), std::string::npos);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_BADKEY);

    ScratchMachine nt(Files("nt4"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_0003\\Inst1"),
              ERROR_ACCESS_DENIED);
    EXPECT_NE(nt.Journal().back().find("\"ok\":false,\"error\":5}"), std::string::npos);
}

// Changed values and a new key reach registry.reg, in regedit's layout, when the machine closes.
TEST(RegistryApiTest, ValuesAndKeysChangeAndPersist) {
    ScratchMachine m(Files());
    HKEY key = Open(HKEY_LOCAL_MACHINE, "Software\\Pellam");
    const BYTE dword[] = {0x2a, 0, 0, 0};
    EXPECT_EQ(RegSetValueExA(key, "BIN", 0, REG_DWORD, dword, 4), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "warningTITLE"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "WarningTitle"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueExA(key, "a\nb", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_INVALID_PARAMETER);
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyA(key, "New", &created), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(created), ERROR_SUCCESS);
    // Software\Pellam is 2 levels deep: 511 more pass the 512 levels Windows builds.
    std::string deep = "d";
    for (int i = 0; i < 510; ++i) deep += "\\d";
    EXPECT_EQ(RegCreateKeyA(key, deep.c_str(), &created), ERROR_INVALID_PARAMETER);
    const std::string pellam = "{\"event\":\"reg-delete-value\",\"key\":\"HKEY_LOCAL_MACHINE\\\\"
                               "Software\\\\Pellam\",\"value\":";
    const std::vector<std::string> journal = m.Journal();
    ASSERT_EQ(journal.size(), 6u);  // two values set, two deletions, a refused name, a new key
    EXPECT_EQ(journal[2], pellam + "\"warningTITLE\",\"ok\":true}");
    EXPECT_EQ(journal[3], pellam + "\"WarningTitle\",\"ok\":false,\"error\":2}");
    RegCloseKey(key);

    hostwin::CloseMachine();
    EXPECT_EQ(m.Read("registry.reg"),
              "REGEDIT4\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Enum]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\PCI]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003\\Inst1]\r\n"
              "\"Mfg\"=\"Pellam\"\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003\\Inst1\\Deeper]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\Leaf]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Pellam]\r\n"
              "@=hex(1):\r\n"
              "\"Bin\"=dword:0000002a\r\n"
              "\"NoZero\"=hex(1):41,42\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Pellam\\New]\r\n\r\n");
}
