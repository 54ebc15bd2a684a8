// The registry removal primitives against a machine's registry: what they delete, the lines they
// log, the restart of their walks, entries that can't be deleted, and bounded buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver_cleaner.h"
#include "hostwin.h"
#include "scratch_machine.h"

namespace {

using Lines = std::vector<std::string>;

Lines logged;
void Collect(const char* line) { logged.push_back(line); }

// Whether the key below HKEY_LOCAL_MACHINE, or the named value in it, exists.
bool Exists(const std::string& path, const char* value = nullptr) {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) return false;
    const bool found = !value || RegQueryValueExA(key, value, nullptr, nullptr, nullptr, nullptr) == 0;
    RegCloseKey(key);
    return found;
}

// A machine with the given keys and a cleaner that logs into `logged`; when the scene ends,
// every key that a primitive opened must be closed again.
template <class Cleaner = CDriverCleaner>
struct Scene {
    explicit Scene(const std::string& keys, const char* version = "win98")
        : machine({{"registry.reg", "REGEDIT4\n\n" + keys},
                   {"machine.ini", std::string("[system]\nversion=") + version + "\n"}}) {
        logged.clear();
        c.SetLogCallback(&Collect);
    }
    ~Scene() { EXPECT_EQ(0u, hostwin::OpenRegistryKeyCount()) << "keys left open"; }
    ScratchMachine machine;
    Cleaner c;
};

TEST(RegistryRemoval, SubkeysNamedDeletesCaseSensitiveMatchesRestartingAfterEach) {
    Scene<> s("[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003\\BUS_00&DEV_0B&FUNC_00]\n\"x\"=\"1\"\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1234&DEV_5678]\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_8803]\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\ven_7a3c&dev_0003&subsys_1]\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_9999]\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\VAL\\A]\n\"v\"=\"hit\"\n[HKEY_LOCAL_MACHINE\\Enum\\VAL\\B]\n\"v\"=\"hit\"\n"
              "[HKEY_LOCAL_MACHINE\\Enum\\VAL\\C]\n\"v\"=\"miss\"\n[HKEY_LOCAL_MACHINE\\Enum\\VAL\\D]\n\"v\"=\"hit\"\n");
    s.c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, "Enum\\PCI", "VEN_7A3C");
    EXPECT_EQ((Lines{"--Removed key 'HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003'",
                     "--Removed key 'HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_8803'",
                     "--Removed key 'HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_9999'"}),
              logged);
    EXPECT_TRUE(Exists("Enum\\PCI\\VEN_1234&DEV_5678"));
    EXPECT_TRUE(Exists("Enum\\PCI\\ven_7a3c&dev_0003&subsys_1"));

    // Two matches side by side: after each deletion the walk starts again, so the second,
    // which moved up to the first one's place, goes too.
    EXPECT_EQ(3, s.c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "Enum\\VAL", "v", "hit"));
    EXPECT_TRUE(Exists("Enum\\VAL\\C"));
    logged.resize(3);

    s.c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, "Enum\\NOWHERE", "");
    EXPECT_EQ(0, s.c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "Enum\\NOWHERE", "x", ""));
    EXPECT_EQ(3u, logged.size());
    s.c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, "Enum\\PCI", "");  // the empty text: everything
    EXPECT_TRUE(Exists("Enum\\PCI"));
    EXPECT_FALSE(Exists("Enum\\PCI\\VEN_1234&DEV_5678"));
    EXPECT_FALSE(Exists("Enum\\PCI\\ven_7a3c&dev_0003&subsys_1"));
}

// A string value's text is the data read, up to the first zero or their end: a REG_SZ stored
// without its zero is searched to its last byte, and never beyond.
TEST(RegistryRemoval, SubkeysWithValueMatchStringsThatFitTheBuffer) {
    const std::string long511(511, 'A');
    std::string unterminated512 = "hex(1):";  // a REG_SZ of 509 letters and SUB without its zero
    for (int i = 0; i < 509; ++i) unterminated512 += i ? ",41" : "41";
    unterminated512 += ",53,55,42";
    const struct { const char* what; std::string data; const char* text; int deleted; } cases[] = {
        {"REG_SZ holding the text", "\"PCI\\\\VEN_7A3C&SUBSYS_00047A3C\"", "SUBSYS_00047A3C", 1},
        {"REG_SZ, other letter case", "\"subsys_00047a3c\"", "SUBSYS_00047A3C", 0},
        {"REG_EXPAND_SZ", "hex(2):53,55,42,00", "SUB", 0},
        {"REG_MULTI_SZ", "hex(7):53,55,42,00,00", "SUB", 0},
        {"REG_BINARY", "hex:53,55,42,00", "SUB", 0},
        {"REG_DWORD, empty text", "dword:00000001", "", 0},
        {"empty REG_SZ, empty text", "\"\"", "", 1},
        {"empty REG_SZ", "\"\"", "SUB", 0},
        {"511 letters and the zero", "\"" + long511 + "\"", "AAAA", 1},
        {"512 bytes, no zero, text at the end", unterminated512, "ASUB", 1},
        {"512 letters and the zero", "\"" + long511 + "A\"", "AAAA", 0},
        {"REG_SZ without its zero", "hex(1):53,55,42", "SUB", 1},
        {"REG_SZ without its zero, text beyond it", "hex(1):53,55", "SUB", 0},
        {"text after the first zero", "hex(1):53,00,55,42", "UB", 0},
    };
    for (const auto& k : cases) {
        Scene<> s("[HKEY_LOCAL_MACHINE\\Enum\\DEV\\INST]\n\"HardwareID\"=" + k.data +
                  "\n[HKEY_LOCAL_MACHINE\\Enum\\DEV\\NONE]\n");
        EXPECT_EQ(k.deleted,
                  s.c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "Enum\\DEV", "HardwareID", k.text))
            << k.what;
        EXPECT_EQ(k.deleted == 0, Exists("Enum\\DEV\\INST")) << k.what;
        EXPECT_TRUE(Exists("Enum\\DEV\\NONE")) << k.what;  // no such value: never matches
    }
}

// A matching entry goes; its section goes too when asked and deletable. Windows NT refuses to
// delete a section that still has other entries: it is passed over without a line.
TEST(RegistryRemoval, SectionsGoWithTheirMatchingEntriesOnlyWhenAskedTo) {
    const std::string keys =
        "[HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\SECTION\\ENTRY]\n\"Mfg\"=\"Brelox Inc.\"\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\SECTION\\OTHER]\n\"Mfg\"=\"Zentrix\"\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\QUIET\\ENTRY]\n\"Mfg\"=\"Zentrix\"\n";
    const std::string alone = "[HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\ALONE\\ENTRY]\n\"Mfg\"=\"Brelox\"\n";
    const std::string section = "--Removed section 'HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\";
    const struct {
        const char* version;
        bool deleteSection, otherStays;
        std::string keys;
        Lines expected;
    } cases[] = {
        {"win98", true, false, keys, {"--Removed key '\\SECTION\\ENTRY'", section + "SECTION'"}},
        {"win98", false, true, keys, {"--Removed key '\\SECTION\\ENTRY'"}},
        {"nt4", true, true, keys + alone,
         {"--Removed key '\\SECTION\\ENTRY'", "--Removed key '\\ALONE\\ENTRY'", section + "ALONE'"}},
    };
    for (const auto& k : cases) {
        Scene<> s(k.keys, k.version);
        s.c.DeleteSectionsWithValue(HKEY_LOCAL_MACHINE, "Enum\\MODEMWAVE", "Mfg", "Brelox",
                                    k.deleteSection);
        EXPECT_EQ(k.expected, logged) << k.version << k.deleteSection;
        EXPECT_FALSE(Exists("Enum\\MODEMWAVE\\SECTION\\ENTRY"));
        EXPECT_EQ(k.otherStays, Exists("Enum\\MODEMWAVE\\SECTION\\OTHER"));
        EXPECT_TRUE(Exists("Enum\\MODEMWAVE\\QUIET\\ENTRY"));
    }
}

TEST(RegistryRemoval, ValuesNamedLooksOneLevelDownAndPassesOverMovedValues) {
    Scene<> s(
        "[HKEY_LOCAL_MACHINE\\ASD\\Prob]\n\"VEN_7A3C own\"=dword:1\n"
        "[HKEY_LOCAL_MACHINE\\ASD\\Prob\\A]\n"
        "\"M1 VEN_7A3C\"=dword:1\n\"M2 VEN_7A3C\"=dword:1\n\"other\"=dword:1\n\"M3 VEN_7A3C\"=dword:1\n"
        "[HKEY_LOCAL_MACHINE\\ASD\\Prob\\A\\Deep]\n\"VEN_7A3C deep\"=dword:1\n"
        "[HKEY_LOCAL_MACHINE\\ASD\\Prob\\B]\n\"ven_7a3c\"=dword:1\n\"x VEN_7A3C\"=\"y\"\n");
    s.c.DeleteValuesNamed(HKEY_LOCAL_MACHINE, "ASD\\Prob", "VEN_7A3C");
    // M2 moves into M1's place while the index goes on, so the next pass deletes it.
    EXPECT_EQ((Lines{"--Removed value 'HKEY_LOCAL_MACHINE\\ASD\\Prob\\A\\M1 VEN_7A3C'",
                     "--Removed value 'HKEY_LOCAL_MACHINE\\ASD\\Prob\\A\\M3 VEN_7A3C'",
                     "--Removed value 'HKEY_LOCAL_MACHINE\\ASD\\Prob\\A\\M2 VEN_7A3C'",
                     "--Removed value 'HKEY_LOCAL_MACHINE\\ASD\\Prob\\B\\x VEN_7A3C'"}),
              logged);
    EXPECT_TRUE(Exists("ASD\\Prob", "VEN_7A3C own"));
    EXPECT_TRUE(Exists("ASD\\Prob\\A", "other"));
    EXPECT_TRUE(Exists("ASD\\Prob\\A\\Deep", "VEN_7A3C deep"));
    EXPECT_TRUE(Exists("ASD\\Prob\\B", "ven_7a3c"));
}

TEST(RegistryRemoval, EmptinessCountsSubkeysNotValuesAndLogsNothing) {
    Scene<> s("[HKEY_LOCAL_MACHINE\\Enum\\PCI\\DEV\\INST]\n[HKEY_LOCAL_MACHINE\\Enum\\VALUES]\n\"a\"=\"b\"\n");
    EXPECT_TRUE(s.c.IsKeyEmpty(HKEY_LOCAL_MACHINE, "Enum\\VALUES"));
    EXPECT_FALSE(s.c.IsKeyEmpty(HKEY_LOCAL_MACHINE, "Enum\\MISSING"));
    s.c.DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, "Enum\\PCI", "DEV");
    EXPECT_TRUE(Exists("Enum\\PCI\\DEV"));
    s.c.DeleteSubkey(HKEY_LOCAL_MACHINE, "Enum\\PCI\\DEV", "INST");
    s.c.DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, "Enum\\PCI", "DEV");
    EXPECT_FALSE(Exists("Enum\\PCI\\DEV"));
    s.c.DeleteValueAt(HKEY_LOCAL_MACHINE, "Enum\\VALUES", "a");
    s.c.DeleteValueAt(HKEY_LOCAL_MACHINE, "Enum\\MISSING", "a");
    s.c.DeleteSubkey(HKEY_LOCAL_MACHINE, "Enum\\MISSING", "x");
    s.c.DeleteSubkey(HKEY_LOCAL_MACHINE, "Enum\\VALUES", "");  // no name: the key itself stays
    s.c.DeleteSubkey(HKEY_LOCAL_MACHINE, "Enum\\VALUES", nullptr);
    EXPECT_TRUE(Exists("Enum\\VALUES"));
    EXPECT_FALSE(Exists("Enum\\VALUES", "a"));
    EXPECT_TRUE(logged.empty());
}

// A cleaner whose key deletion does nothing ('r'), or takes the whole enumerated key away ('v').
struct OddCleaner : CDriverCleaner {
    char mode = ' ';
    void DeleteSubkey(HKEY root, const char* path, const char* name) override {
        if (mode == 'v') RegDeleteKeyA(root, path);
        if (mode == ' ') CDriverCleaner::DeleteSubkey(root, path, name);
    }
};

// Matching keys that can't go (Windows NT refuses keys that have subkeys; a deletion that does
// nothing) are passed over without a line and never make a walk endless; the keys behind them
// still go. A walk whose key vanishes ends.
TEST(RegistryRemoval, WalksEndWhenEntriesCannotGoOrTheKeyVanishes) {
    const std::string m2 = "--Removed key 'HKEY_LOCAL_MACHINE\\X\\M2'";
    const std::string m4 = "--Removed key 'HKEY_LOCAL_MACHINE\\X\\M4'";
    const struct { const char* version; char mode; bool byValue; int count; Lines lines; } cases[] = {
        {"nt4", ' ', false, 0, {m2, m4}}, {"nt4", ' ', true, 2, {m2, m4}},
        {"win98", 'r', false, 0, {}},      {"win98", 'r', true, 0, {}},
        {"win98", 'v', false, 0, {"--Removed key 'HKEY_LOCAL_MACHINE\\X\\M1'"}},
    };
    for (const auto& k : cases) {
        Scene<OddCleaner> s("[HKEY_LOCAL_MACHINE\\X\\M1\\Sub]\n[HKEY_LOCAL_MACHINE\\X\\M1]\n\"v\"=\"hit\"\n"
                            "[HKEY_LOCAL_MACHINE\\X\\M2]\n\"v\"=\"hit\"\n[HKEY_LOCAL_MACHINE\\X\\N]\n"
                            "[HKEY_LOCAL_MACHINE\\X\\M3\\Sub]\n[HKEY_LOCAL_MACHINE\\X\\M3]\n\"v\"=\"hit\"\n"
                            "[HKEY_LOCAL_MACHINE\\X\\M4]\n\"v\"=\"hit\"\n",
                            k.version);
        s.c.mode = k.mode;
        if (k.byValue)
            EXPECT_EQ(k.count, s.c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "X", "v", "hit"));
        else
            s.c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, "X", "M");
        EXPECT_EQ(k.lines, logged) << k.version << k.mode << k.byValue;
        EXPECT_EQ(k.mode != 'v', Exists("X"));
        EXPECT_EQ(k.mode != 'v', Exists("X\\M1"));
        EXPECT_EQ(k.mode != 'v', Exists("X\\M3"));
        EXPECT_EQ(k.mode == 'r', Exists("X\\M4"));
    }
}

struct FullRootName : CDriverCleaner {
    int GetRootKeyName(HKEY, char* buffer, int size) override { return std::memset(buffer, 'R', size), size; }
};

TEST(RegistryRemoval, KeyNamesAndLinesAreCutAndOpenRootsStayOpen) {
    const std::string level(120, 'L');
    const std::string path = "Deep\\" + level + "\\" + level + "\\" + level;
    const std::string subkey(250, 'S');
    Scene<> s("[HKEY_LOCAL_MACHINE\\" + path + "\\" + subkey + "]\n[HKEY_LOCAL_MACHINE\\Y\\M1]\n");
    s.c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, path.c_str(), "S");
    ASSERT_EQ(1u, logged.size());
    EXPECT_EQ(511u, logged[0].size());
    EXPECT_EQ(0u, logged[0].find("--Removed key 'HKEY_LOCAL_MACHINE\\Deep\\LLL"));
    EXPECT_FALSE(Exists(path + "\\" + subkey));

    // An open key as root: its name is empty, and the caller's handle is not closed.
    HKEY open;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "Y", &open));
    s.c.DeleteSubkeysNamed(open, nullptr, "M");
    EXPECT_EQ("--Removed key '\\M1'", logged.back());
    char name[MAX_PATH];
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(open, 0, name, MAX_PATH));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(open));
}

// A root name that fills the whole buffer, without a zero (as a bounded copy leaves it).
TEST(RegistryRemoval, ARootNameThatFillsItsBufferIsCutByOne) {
    Scene<FullRootName> full("[HKEY_LOCAL_MACHINE\\Y\\M2]\n");
    full.c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, "Y", "M");
    EXPECT_EQ(Lines{"--Removed key '" + std::string(MAX_PATH - 1, 'R') + "\\M2'"}, logged);
}

}  // namespace
