// The registry removal primitives against a machine's registry: what they delete, the lines they
// log, the restart of their walks, entries that can't be deleted, and bounded buffers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../../hostwin/src/machine.h"  // the count of open registry handles
#include "../../hostwin/src/registry_store.h"
#include "driver_cleaner.h"
#include "scratch_machine.h"

namespace {

using Lines = std::vector<std::string>;

Lines logged;
void Collect(const char* line) { logged.push_back(line); }

ScratchMachine MachineWith(const std::string& keys, const char* version = "win98") {
    return ScratchMachine({{"registry.reg", "REGEDIT4\n\n" + keys},
                           {"machine.ini", std::string("[system]\nversion=") + version + "\n"}});
}

size_t OpenKeys() { return hostwin::Machine::Current().Registry().OpenHandleCount(); }

bool KeyExists(const std::string& path) {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool ValueExists(const std::string& path, const char* name) {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) return false;
    const bool found = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == 0;
    RegCloseKey(key);
    return found;
}

// A machine for one test; when it ends, every key that a primitive opened is closed again.
struct Scene {
    explicit Scene(const std::string& keys, const char* version = "win98")
        : machine(MachineWith(keys, version)) {
        logged.clear();
    }
    ~Scene() { EXPECT_EQ(0u, OpenKeys()) << "registry keys left open"; }
    ScratchMachine machine;
};

const char kPciKeys[] =
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003\\BUS_00&DEV_0B&FUNC_00]\n\"x\"=\"1\"\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1234&DEV_5678]\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_8803]\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\ven_7a3c&dev_0003&subsys_1]\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_9999]\n";

TEST(RegistryRemoval, SubkeysNamedDeletesCaseSensitiveMatchesRestartingAfterEach) {
    Scene scene(kPciKeys);
    CDriverCleaner c;
    c.SetLogCallback(&Collect);
    c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, "Enum\\PCI", "VEN_7A3C");
    EXPECT_EQ((Lines{"--Removed key 'HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003'",
                     "--Removed key 'HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_8803'",
                     "--Removed key 'HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_9999'"}),
              logged);
    EXPECT_TRUE(KeyExists("Enum\\PCI\\VEN_1234&DEV_5678"));
    EXPECT_TRUE(KeyExists("Enum\\PCI\\ven_7a3c&dev_0003&subsys_1"));

    c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, "Enum\\NOWHERE", "");
    EXPECT_EQ(3u, logged.size());
    c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, "Enum\\PCI", "");  // the empty text: everything
    EXPECT_TRUE(KeyExists("Enum\\PCI"));
    EXPECT_FALSE(KeyExists("Enum\\PCI\\VEN_1234&DEV_5678"));
    EXPECT_FALSE(KeyExists("Enum\\PCI\\ven_7a3c&dev_0003&subsys_1"));
}

// A REG_SZ value of 512 letters 'A' without a terminating zero.
std::string Unterminated512() {
    std::string hex = "hex(1):";
    for (int i = 0; i < 512; ++i) hex += "41,";
    hex.pop_back();
    return hex;
}

TEST(RegistryRemoval, SubkeysWithValueMatchOnlyCompleteStringsWithinTheBuffer) {
    const std::string long511(511, 'A');
    struct Case {
        const char* what;
        std::string data;
        const char* text;
        int deleted;
    } cases[] = {
        {"REG_SZ holding the text", "\"PCI\\\\VEN_7A3C&SUBSYS_00047A3C\"", "SUBSYS_00047A3C", 1},
        {"REG_SZ, other letter case", "\"subsys_00047a3c\"", "SUBSYS_00047A3C", 0},
        {"REG_EXPAND_SZ", "hex(2):53,55,42,00", "SUB", 0},
        {"REG_MULTI_SZ", "hex(7):53,55,42,00,00", "SUB", 0},
        {"REG_BINARY", "hex:53,55,42,00", "SUB", 0},
        {"REG_DWORD, empty text", "dword:00000001", "", 0},
        {"empty REG_SZ, empty text", "\"\"", "", 1},
        {"empty REG_SZ", "\"\"", "SUB", 0},
        {"511 letters and the zero", "\"" + long511 + "\"", "AAAA", 1},
        {"512 letters, no zero", Unterminated512(), "AAAA", 0},
        {"512 letters and the zero", "\"" + long511 + "A\"", "AAAA", 0},
        {"REG_SZ without its zero", "hex(1):53,55,42", "SUB", 0},
    };
    for (const Case& k : cases) {
        Scene scene("[HKEY_LOCAL_MACHINE\\Enum\\DEV\\INST]\n\"HardwareID\"=" +
                                             k.data + "\n[HKEY_LOCAL_MACHINE\\Enum\\DEV\\NONE]\n");
        CDriverCleaner c;
        EXPECT_EQ(k.deleted, c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "Enum\\DEV", "HardwareID",
                                                      k.text))
            << k.what;
        EXPECT_EQ(k.deleted == 0, KeyExists("Enum\\DEV\\INST")) << k.what;
        EXPECT_TRUE(KeyExists("Enum\\DEV\\NONE")) << k.what;  // no such value: never matches
    }
}

TEST(RegistryRemoval, SubkeysWithValueCountsAndLogsEachDeletion) {
    Scene scene(
        "[HKEY_LOCAL_MACHINE\\Class\\Modem\\0000]\n\"Manufacturer\"=\"Askey Inc.\"\n"
        "[HKEY_LOCAL_MACHINE\\Class\\Modem\\0000\\Init]\n"
        "[HKEY_LOCAL_MACHINE\\Class\\Modem\\0001]\n\"Manufacturer\"=\"Zentrix\"\n"
        "[HKEY_LOCAL_MACHINE\\Class\\Modem\\0002]\n\"Manufacturer\"=\"Askey\"\n");
    CDriverCleaner c;
    c.SetLogCallback(&Collect);
    EXPECT_EQ(2, c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "Class\\Modem", "Manufacturer", "Askey"));
    EXPECT_EQ((Lines{"--Removed key 'HKEY_LOCAL_MACHINE\\Class\\Modem\\0000'",
                     "--Removed key 'HKEY_LOCAL_MACHINE\\Class\\Modem\\0002'"}),
              logged);
    EXPECT_TRUE(KeyExists("Class\\Modem\\0001"));
    EXPECT_EQ(0, c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "Class\\None", "Manufacturer", ""));
    EXPECT_EQ(2u, logged.size());
}

const char kModemWave[] =
    "[HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\SECTION\\ENTRY]\n\"Mfg\"=\"Brelox Inc.\"\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\SECTION\\OTHER]\n\"Mfg\"=\"Zentrix\"\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\QUIET\\ENTRY]\n\"Mfg\"=\"Zentrix\"\n";

TEST(RegistryRemoval, SectionsGoWithTheirMatchingEntriesOnlyWhenAskedTo) {
    for (bool deleteSection : {true, false}) {
        logged.clear();
        Scene scene(kModemWave);
        CDriverCleaner c;
        c.SetLogCallback(&Collect);
        c.DeleteSectionsWithValue(HKEY_LOCAL_MACHINE, "Enum\\MODEMWAVE", "Mfg", "Brelox",
                                  deleteSection);
        Lines expected{"--Removed key '\\SECTION\\ENTRY'"};
        if (deleteSection)
            expected.push_back("--Removed section 'HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\SECTION'");
        EXPECT_EQ(expected, logged);
        EXPECT_FALSE(KeyExists("Enum\\MODEMWAVE\\SECTION\\ENTRY"));
        EXPECT_EQ(!deleteSection, KeyExists("Enum\\MODEMWAVE\\SECTION\\OTHER"));
        EXPECT_TRUE(KeyExists("Enum\\MODEMWAVE\\QUIET\\ENTRY"));
    }
}

TEST(RegistryRemoval, ValuesNamedLooksOneLevelDownAndPassesOverMovedValues) {
    Scene scene(
        "[HKEY_LOCAL_MACHINE\\ASD\\Prob]\n\"VEN_7A3C own\"=dword:1\n"
        "[HKEY_LOCAL_MACHINE\\ASD\\Prob\\A]\n"
        "\"M1 VEN_7A3C\"=dword:1\n\"M2 VEN_7A3C\"=dword:1\n\"other\"=dword:1\n\"M3 VEN_7A3C\"=dword:1\n"
        "[HKEY_LOCAL_MACHINE\\ASD\\Prob\\A\\Deep]\n\"VEN_7A3C deep\"=dword:1\n"
        "[HKEY_LOCAL_MACHINE\\ASD\\Prob\\B]\n\"ven_7a3c\"=dword:1\n\"x VEN_7A3C\"=\"y\"\n");
    CDriverCleaner c;
    c.SetLogCallback(&Collect);
    c.DeleteValuesNamed(HKEY_LOCAL_MACHINE, "ASD\\Prob", "VEN_7A3C");
    // M2 moves into M1's place while the index goes on, so the next pass deletes it.
    EXPECT_EQ((Lines{"--Removed value 'HKEY_LOCAL_MACHINE\\ASD\\Prob\\A\\M1 VEN_7A3C'",
                     "--Removed value 'HKEY_LOCAL_MACHINE\\ASD\\Prob\\A\\M3 VEN_7A3C'",
                     "--Removed value 'HKEY_LOCAL_MACHINE\\ASD\\Prob\\A\\M2 VEN_7A3C'",
                     "--Removed value 'HKEY_LOCAL_MACHINE\\ASD\\Prob\\B\\x VEN_7A3C'"}),
              logged);
    EXPECT_TRUE(ValueExists("ASD\\Prob", "VEN_7A3C own"));
    EXPECT_TRUE(ValueExists("ASD\\Prob\\A", "other"));
    EXPECT_TRUE(ValueExists("ASD\\Prob\\A\\Deep", "VEN_7A3C deep"));
    EXPECT_TRUE(ValueExists("ASD\\Prob\\B", "ven_7a3c"));
}

TEST(RegistryRemoval, EmptinessCountsSubkeysNotValuesAndLogsNothing) {
    Scene scene(
        "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003\\INST]\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VALUESONLY]\n\"a\"=\"b\"\n");
    CDriverCleaner c;
    c.SetLogCallback(&Collect);
    EXPECT_TRUE(c.IsKeyEmpty(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VALUESONLY"));
    EXPECT_FALSE(c.IsKeyEmpty(HKEY_LOCAL_MACHINE, "Enum\\PCI"));
    EXPECT_FALSE(c.IsKeyEmpty(HKEY_LOCAL_MACHINE, "Enum\\MISSING"));
    c.DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, "Enum\\PCI", "VEN_7A3C&DEV_0003");
    EXPECT_TRUE(KeyExists("Enum\\PCI\\VEN_7A3C&DEV_0003"));
    c.DeleteSubkey(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_0003", "INST");
    c.DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, "Enum\\PCI", "VEN_7A3C&DEV_0003");
    EXPECT_FALSE(KeyExists("Enum\\PCI\\VEN_7A3C&DEV_0003"));
    c.DeleteValueAt(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VALUESONLY", "a");
    c.DeleteValueAt(HKEY_LOCAL_MACHINE, "Enum\\MISSING", "a");
    c.DeleteSubkey(HKEY_LOCAL_MACHINE, "Enum\\MISSING", "x");
    EXPECT_FALSE(ValueExists("Enum\\PCI\\VALUESONLY", "a"));
    EXPECT_TRUE(logged.empty());
}

// Windows NT refuses to delete keys that have subkeys: matching entries that can't go are
// passed over without a line, the walk ends, and the entries behind them still go.
TEST(RegistryRemoval, EntriesThatCannotBeDeletedArePassedOverWithoutALine) {
    const std::string keys =
        "[HKEY_LOCAL_MACHINE\\X\\M1\\Sub]\n[HKEY_LOCAL_MACHINE\\X\\M1]\n\"v\"=\"hit\"\n"
        "[HKEY_LOCAL_MACHINE\\X\\M2]\n\"v\"=\"hit\"\n[HKEY_LOCAL_MACHINE\\X\\N]\n"
        "[HKEY_LOCAL_MACHINE\\X\\M3\\Sub]\n[HKEY_LOCAL_MACHINE\\X\\M3]\n\"v\"=\"hit\"\n"
        "[HKEY_LOCAL_MACHINE\\X\\M4]\n\"v\"=\"hit\"\n";
    const Lines leafLines{"--Removed key 'HKEY_LOCAL_MACHINE\\X\\M2'",
                          "--Removed key 'HKEY_LOCAL_MACHINE\\X\\M4'"};
    for (int byValue = 0; byValue < 2; ++byValue) {
        logged.clear();
        Scene scene(keys, "nt4");
        CDriverCleaner c;
        c.SetLogCallback(&Collect);
        if (byValue)
            EXPECT_EQ(2, c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "X", "v", "hit"));
        else
            c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, "X", "M");
        EXPECT_EQ(leafLines, logged);
        EXPECT_TRUE(KeyExists("X\\M1"));
        EXPECT_TRUE(KeyExists("X\\M3"));
        EXPECT_FALSE(KeyExists("X\\M4"));
    }

    logged.clear();
    Scene scene(kModemWave + std::string(
        "[HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\ALONE\\ENTRY]\n\"Mfg\"=\"Brelox\"\n"), "nt4");
    CDriverCleaner c;
    c.SetLogCallback(&Collect);
    c.DeleteSectionsWithValue(HKEY_LOCAL_MACHINE, "Enum\\MODEMWAVE", "Mfg", "Brelox", true);
    EXPECT_EQ((Lines{"--Removed key '\\SECTION\\ENTRY'", "--Removed key '\\ALONE\\ENTRY'",
                     "--Removed section 'HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\ALONE'"}),
              logged);
    EXPECT_TRUE(KeyExists("Enum\\MODEMWAVE\\SECTION\\OTHER"));
}

// Cleaners whose key deletion does nothing, or takes the whole enumerated key away.
struct RefusingCleaner : CDriverCleaner {
    void DeleteSubkey(HKEY, const char*, const char*) override {}
};
struct VanishingCleaner : CDriverCleaner {
    void DeleteSubkey(HKEY root, const char* path, const char*) override {
        RegDeleteKeyA(root, path);
    }
};

TEST(RegistryRemoval, WalksEndWhenDeletionsDoNothingOrTheKeyVanishes) {
    const std::string keys = "[HKEY_LOCAL_MACHINE\\X\\M1]\n\"v\"=\"hit\"\n"
                             "[HKEY_LOCAL_MACHINE\\X\\M2]\n\"v\"=\"hit\"\n";
    {
        Scene scene(keys);
        RefusingCleaner c;
        c.SetLogCallback(&Collect);
        c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, "X", "M");
        EXPECT_EQ(0, c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "X", "v", "hit"));
        EXPECT_TRUE(logged.empty());
        EXPECT_TRUE(KeyExists("X\\M2"));
    }
    Scene scene(keys);
    VanishingCleaner c;
    c.SetLogCallback(&Collect);
    c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, "X", "M");
    EXPECT_EQ((Lines{"--Removed key 'HKEY_LOCAL_MACHINE\\X\\M1'"}), logged);
    EXPECT_FALSE(KeyExists("X"));
}

TEST(RegistryRemoval, KeyNamesAndLinesAreCutAndOpenRootsStayOpen) {
    const std::string level(120, 'L');
    const std::string path = "Deep\\" + level + "\\" + level + "\\" + level;
    const std::string subkey(250, 'S');
    Scene scene("[HKEY_LOCAL_MACHINE\\" + path + "\\" + subkey + "]\n[HKEY_LOCAL_MACHINE\\Y\\M1]\n");
    CDriverCleaner c;
    c.SetLogCallback(&Collect);
    c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, path.c_str(), "S");
    ASSERT_EQ(1u, logged.size());
    EXPECT_EQ(511u, logged[0].size());
    EXPECT_EQ(0u, logged[0].find("--Removed key 'HKEY_LOCAL_MACHINE\\Deep\\LLL"));
    EXPECT_FALSE(KeyExists(path + "\\" + subkey));

    // An open key as root: its name is empty, and the caller's handle is not closed.
    HKEY open;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "Y", &open));
    c.DeleteSubkeysNamed(open, nullptr, "M");
    EXPECT_EQ("--Removed key '\\M1'", logged.back());
    char name[MAX_PATH];
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(open, 0, name, MAX_PATH));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(open));
}

}  // namespace
