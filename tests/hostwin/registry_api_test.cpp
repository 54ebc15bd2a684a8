// The registry functions as Win32 states them, on a scratch machine.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

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

std::map<std::string, std::string> Files(const char* version) {
    return {{"registry.reg", kRegistry},
            {"machine.ini", std::string("[system]\nversion=") + version + "\n"}};
}

HKEY Open(HKEY root, const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyA(root, path, &key), ERROR_SUCCESS) << path;
    return key;
}

bool JournalHas(const ScratchMachine& m, const std::string& fragment) {
    for (const std::string& line : m.Journal())
        if (line.find(fragment) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(RegistryApiTest, OpenResolvesPathsAndHandles) {
    ScratchMachine m(Files("win98"));
    HKEY same = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, nullptr, &same), ERROR_SUCCESS);
    EXPECT_EQ(same, HKEY_LOCAL_MACHINE);
    HKEY pci = Open(HKEY_LOCAL_MACHINE, "enum\\pci");
    EXPECT_EQ(RegOpenKeyA(pci, "", &same), ERROR_SUCCESS);
    EXPECT_EQ(same, pci);

    const struct {
        HKEY root;
        const char* path;
        LONG expected;
    } cases[] = {
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
        EXPECT_TRUE(handles.insert(key).second) << "handle reused while open";
        EXPECT_GT(reinterpret_cast<uintptr_t>(key), 0u);
        EXPECT_TRUE(reinterpret_cast<uintptr_t>(key) <
                        reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) ||
                    reinterpret_cast<uintptr_t>(key) > reinterpret_cast<uintptr_t>(HKEY_DYN_DATA));
    }
    for (HKEY h : handles) EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(pci), ERROR_INVALID_HANDLE);
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_DYN_DATA, HKEY_PERFORMANCE_DATA})
        EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
}

TEST(RegistryApiTest, CreateKeepsCaseOrderAndJournalsNewKeys) {
    ScratchMachine m(Files("win98"));
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "ENUM\\pci\\New\\Child", &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "bad\nname", &key), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(
        JournalHas(m, "\"reg-create-key\",\"key\":\"HKEY_LOCAL_MACHINE\\\\Enum\\\\PCI\\\\New\""));
    EXPECT_TRUE(JournalHas(m, "\"key\":\"HKEY_LOCAL_MACHINE\\\\Enum\\\\PCI\\\\New\\\\Child\""));
    EXPECT_EQ(m.Journal().size(), 3u);  // two keys created, one value set

    HKEY pci = Open(HKEY_LOCAL_MACHINE, "Enum\\PCI");
    const char* expected[] = {"VEN_7A3C&DEV_0003", "Leaf", "New"};
    char name[32];
    for (DWORD i = 0; i < 3; ++i) {
        EXPECT_EQ(RegEnumKeyA(pci, i, name, sizeof name), ERROR_SUCCESS);
        EXPECT_STREQ(name, expected[i]);
    }
    EXPECT_EQ(RegEnumKeyA(pci, 3, name, sizeof name), ERROR_NO_MORE_ITEMS);
    // "Leaf" needs 5 characters with its zero; 4 must not be written past.
    std::memset(name, '#', sizeof name);
    EXPECT_EQ(RegEnumKeyA(pci, 1, name, 4), ERROR_MORE_DATA);
    EXPECT_EQ(std::string(name, 8), "########");
    EXPECT_EQ(RegEnumKeyA(pci, 1, name, 5), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, 6), std::string("Leaf\0#", 6));
    RegCloseKey(pci);

    const std::string saved = m.RegistryText();
    EXPECT_NE(saved.find("[HKEY_LOCAL_MACHINE\\Enum\\PCI\\New\\Child]\r\n\"v\"=\"x\"\r\n"),
              std::string::npos);
}

TEST(RegistryApiTest, QueryValueBuffersAndDefaults) {
    ScratchMachine m(Files("win98"));
    HKEY key = Open(HKEY_LOCAL_MACHINE, "Software\\Pellam");
    const struct {
        const char* name;
        DWORD bufferSize;  // ~0u: no buffer, size only
        LONG expected;
        DWORD type;
        std::string data;
    } cases[] = {
        {nullptr, 64, ERROR_SUCCESS, REG_SZ, std::string("default\0", 8)},
        {"", 64, ERROR_SUCCESS, REG_SZ, std::string("default\0", 8)},
        {"warningtitle", 7, ERROR_SUCCESS, REG_SZ, std::string("Remove\0", 7)},
        {"WarningTitle", 6, ERROR_MORE_DATA, REG_SZ, std::string("Remove\0", 7)},
        {"WarningTitle", ~0u, ERROR_SUCCESS, REG_SZ, std::string("Remove\0", 7)},
        {"Bin", 3, ERROR_SUCCESS, REG_BINARY, "\1\2\3"},
        {"NoZero", 2, ERROR_SUCCESS, REG_SZ, "AB"},
        {"Missing", 64, ERROR_FILE_NOT_FOUND, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        BYTE buffer[80];
        std::memset(buffer, '#', sizeof buffer);
        DWORD type = 99, size = c.bufferSize == ~0u ? 0 : c.bufferSize;
        LONG r = RegQueryValueExA(key, c.name, nullptr, &type,
                                  c.bufferSize == ~0u ? nullptr : buffer, &size);
        EXPECT_EQ(r, c.expected);
        if (r == ERROR_FILE_NOT_FOUND) continue;
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(size, c.data.size());
        const size_t written = r == ERROR_SUCCESS && c.bufferSize != ~0u ? c.data.size() : 0;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), written), c.data.substr(0, written));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + written, sizeof buffer - written),
                  std::string(sizeof buffer - written, '#'));
    }
    RegCloseKey(key);
}

TEST(RegistryApiTest, EnumValueNameAndDataBuffers) {
    ScratchMachine m(Files("win98"));
    HKEY key = Open(HKEY_LOCAL_MACHINE, "Software\\Pellam");
    const struct {
        DWORD index, nameSize, dataSize;
        bool withData;
        LONG expected;
        DWORD nameOut, dataOut;
    } cases[] = {
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
        LONG r =
            c.withData
                ? RegEnumValueA(key, c.index, name, &nameSize, nullptr, &type, data, &dataSize)
                : RegEnumValueA(key, c.index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(r, c.expected);
        EXPECT_EQ(nameSize, c.nameOut);
        if (c.withData) {
            EXPECT_EQ(dataSize, c.dataOut);
        }
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

TEST(RegistryApiTest, DeleteKeyRemovesTreesOnWin9x) {
    ScratchMachine m(Files("win98"));
    HKEY pci = Open(HKEY_LOCAL_MACHINE, "Enum\\PCI");
    HKEY inst = Open(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_0003\\Inst1");
    HKEY deeper = Open(inst, "Deeper");
    EXPECT_EQ(RegDeleteKeyA(pci, "ven_7a3c&dev_0003"), ERROR_SUCCESS);
    EXPECT_TRUE(JournalHas(m,
                           "{\"event\":\"reg-delete-key\",\"key\":\"HKEY_LOCAL_"
                           "MACHINE\\\\Enum\\\\PCI\\\\VEN_7A3C&DEV_0003\",\"ok\":true}"));

    char name[64];
    DWORD size = 0;
    HKEY sub = nullptr;
    for (HKEY gone : {inst, deeper}) {
        EXPECT_EQ(RegEnumKeyA(gone, 0, name, sizeof name), ERROR_KEY_DELETED);
        EXPECT_EQ(RegQueryValueExA(gone, "Mfg", nullptr, nullptr, nullptr, &size),
                  ERROR_KEY_DELETED);
        EXPECT_EQ(RegOpenKeyA(gone, nullptr, &sub), ERROR_KEY_DELETED);
        EXPECT_EQ(RegCreateKeyA(gone, "x", &sub), ERROR_KEY_DELETED);
        EXPECT_EQ(RegCloseKey(gone), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(gone), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(RegEnumKeyA(pci, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Leaf");
    EXPECT_EQ(RegOpenKeyA(pci, "VEN_7A3C&DEV_0003", &sub), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(RegDeleteKeyA(pci, "VEN_7A3C&DEV_0003"), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(JournalHas(m,
                           "\"key\":\"HKEY_LOCAL_MACHINE\\\\Enum\\\\PCI\\\\VEN_7A3C&DEV_0003\","
                           "\"ok\":false,\"error\":2}"));
    for (const char* none : {static_cast<const char*>(nullptr), ""})
        EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, none), ERROR_BADKEY);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\Leaf", &sub), ERROR_SUCCESS);
    RegCloseKey(sub);
    RegCloseKey(pci);
    EXPECT_EQ(m.RegistryText().find("VEN_7A3C"), std::string::npos);
}

TEST(RegistryApiTest, DeleteKeyRefusesKeysWithSubkeysOnNt) {
    ScratchMachine m(Files("nt4"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_0003"),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_0003\\Inst1\\Deeper"),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_0003\\Inst1"),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_0003"), ERROR_SUCCESS);
    EXPECT_TRUE(JournalHas(m, "\"ok\":false,\"error\":5}"));
}

TEST(RegistryApiTest, RestartAfterDeleteLoopEmptiesAKey) {
    ScratchMachine m(Files("win98"));
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Many", &key), ERROR_SUCCESS);
    for (int i = 0; i < 2000; ++i) {
        HKEY sub = nullptr;
        ASSERT_EQ(RegCreateKeyA(key, ("K" + std::to_string(i)).c_str(), &sub), ERROR_SUCCESS);
        RegCloseKey(sub);
    }
    char name[260];
    int deleted = 0;
    for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS;) {
        if (name[1] != '1') {
            ++i;
            continue;
        }
        EXPECT_EQ(RegDeleteKeyA(key, name), ERROR_SUCCESS);
        ++deleted;
        i = 0;
    }
    EXPECT_EQ(deleted, 1111);  // K1, K10-K19, K100-K199, K1000-K1999
    RegCloseKey(key);
}

TEST(RegistryApiTest, ValuesSetReplaceDeleteAndPersist) {
    ScratchMachine m(Files("win98"));
    const std::string before = m.Read("registry.reg");
    HKEY key = Open(HKEY_LOCAL_MACHINE, "Software\\Pellam");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Bin", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    hostwin::SyncMachine();
    EXPECT_EQ(m.Read("registry.reg"), before);  // reading changes nothing

    EXPECT_EQ(
        RegSetValueExA(key, "BIN", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\x2a\0\0\0"), 4),
        ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "warningTITLE"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "WarningTitle"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueExA(key, "a\nb", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(
        JournalHas(m,
                   "{\"event\":\"reg-delete-value\",\"key\":\"HKEY_LOCAL_"
                   "MACHINE\\\\Software\\\\Pellam\",\"value\":\"warningTITLE\",\"ok\":true}"));
    EXPECT_TRUE(JournalHas(m, "\"value\":\"WarningTitle\",\"ok\":false,\"error\":2}"));
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
              "\"NoZero\"=hex(1):41,42\r\n\r\n");
}

TEST(RegistryApiTest, MalformedRegistryStopsTheMachineAndWritesNothing) {
    const std::string bad = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\a]\r\n\"v\"=dword:xyz\r\n";
    ScratchMachine m(std::map<std::string, std::string>{{"registry.reg", bad}}, false);
    try {
        hostwin::OpenMachine(m.Root());
        ADD_FAILURE() << "opened";
    } catch (const hostwin::MachineError& e) {
        EXPECT_NE(std::string(e.what()).find(m.Path("registry.reg") + " line 3:"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(m.Read("registry.reg"), bad);
}
