// The placement engine on a scratch machine: copies and moves, patterns, the pellapps
// directory and the ZX7Demos source, and failures that only fail their own row.
#include "file_placement.h"

#include "upgrade_fixture.h"

namespace {

class PlacementTest : public UpgradeTest {
protected:
    void SetUp() override {
        UpgradeTest::SetUp();
        strcpy(WindowsDir, "C:\\WINDOWS");
        EnterFolder(machine, "c/PKG");
    }
    ScratchMachine machine{
        {"c/WINDOWS/SYSTEM/zx7.vxd", "zx7 old"}, {"c/WINDOWS/SYSTEM/br10wt.vxd", "wt old"},
        {"c/WINDOWS/INF/br10codc.inf", "locked"}, {"c/PKG/zx7.vxd", "zx7 new"},
        {"c/PKG/br10wt.vxd", "wt new"},           {"c/PKG/br10core.inf", "core inf"},
        {"c/PKG/br10codc.inf", "codc inf"},       {"c/PKG/BR10COM.INF", "com inf"},
        {"c/PKG/br10mult.cat", "mult cat"},       {"c/PKG/Pel10App.exe", "app"},
        {"c/ZX7Demos/ZX7Demos.exe", "demos"}};
};

TEST_F(PlacementTest, TablesStopAtTheirEndRowAndMissingSourcesFailOnlyTheirRow) {
    const FileEntry table[] = {{"missing.vxd", LocSystem, 1},
                               {"zx7.vxd", 42, 1},  // an unknown code places like code 0
                               {"br10mult.cat", LocCatroot, 1},  // no CATROOT: not created
                               {"Empty,should never get here", LocTemp, 0},
                               {"br10wt.vxd", LocWindows, 1}};
    EXPECT_TRUE(PlaceTable(table));
    EXPECT_EQ("zx7 new", machine.Read("c/WINDOWS/zx7.vxd"));
    EXPECT_FALSE(machine.Exists("c/WINDOWS/CATROOT"));
    EXPECT_FALSE(machine.Exists("c/WINDOWS/temp"));  // nothing from the end row on is acted on
    EXPECT_FALSE(machine.Exists("c/WINDOWS/br10wt.vxd"));
    EXPECT_TRUE(PlaceAllTables());  // most rows fail here
}

TEST_F(PlacementTest, ReadOnlyDestinationsStayAndExistingOnesAreReplaced) {
    ASSERT_TRUE(SetFileAttributesA("zx7.vxd", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                   FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\SYSTEM\\br10wt.vxd", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\INF\\br10codc.inf", FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(PlaceFile("zx7.vxd", PlaceMode::Copy, "C:\\WINDOWS\\SYSTEM", ""));
    EXPECT_FALSE(PlaceFile("br10wt.vxd", PlaceMode::Copy, "C:\\WINDOWS\\SYSTEM", ""));
    EXPECT_EQ("zx7 new", machine.Read("c/WINDOWS/SYSTEM/zx7.vxd"));
    EXPECT_EQ("wt old", machine.Read("c/WINDOWS/SYSTEM/br10wt.vxd"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), GetFileAttributesA("zx7.vxd"));

    machine.Write("c/WINDOWS/SYSTEM/zx7.vxd", "zx7 old");
    EXPECT_TRUE(PlaceFile("zx7.vxd", PlaceMode::Move, "C:\\WINDOWS\\SYSTEM", ""));
    EXPECT_EQ("zx7 new", machine.Read("c/WINDOWS/SYSTEM/zx7.vxd"));
    EXPECT_FALSE(machine.Exists("c/PKG/zx7.vxd"));

    // A pattern places every match it can, each under its own name.
    EXPECT_FALSE(PlaceMatchingFiles("br10co*.inf", PlaceMode::Copy, "C:\\WINDOWS\\inf"));
    EXPECT_EQ("core inf", machine.Read("c/WINDOWS/INF/br10core.inf"));
    EXPECT_EQ("locked", machine.Read("c/WINDOWS/INF/br10codc.inf"));
    EXPECT_EQ("com inf", machine.Read("c/WINDOWS/INF/BR10COM.INF"));
    EXPECT_FALSE(PlaceMatchingFiles("br10po*.inf", PlaceMode::Copy, "C:\\WINDOWS\\inf"));
}

TEST_F(PlacementTest, AppsGoToPellappsOnTheFixedDriveAndDemosComeFromBesideThePackage) {
    machine.Write("c/pellapps/readme.txt", "already there");
    const FileEntry table[] = {{"Pel10App.exe", LocApps, 1},
                               {"ZX7Demos.exe", LocAppsFromDemos, 1},
                               {"", LocTemp, 0}};
    CleanupMode = true;
    EXPECT_TRUE(PlaceTable(table));
    EXPECT_EQ("app", machine.Read("c/pellapps/Pel10App.exe"));
    EXPECT_EQ("demos", machine.Read("c/pellapps/ZX7Demos.exe"));
    EXPECT_EQ("already there", machine.Read("c/pellapps/readme.txt"));
    EXPECT_FALSE(machine.Exists("c/ZX7Demos/ZX7Demos.exe"));

    strcpy(FixedDriveRoot, "z:\\");  // no fixed drive: nothing to create, the rows just fail
    machine.Write("c/PKG/Pel10App.exe", "app 2");
    EXPECT_TRUE(PlaceTable(table));
    EXPECT_FALSE(machine.Exists("z"));
    EXPECT_TRUE(machine.Exists("c/PKG/Pel10App.exe"));
}

// From a CD the sources keep their read-only attribute, yet every file is placed in both
// modes and its copy is left writable, so that the next upgrade can replace it.
TEST_F(UpgradeTest, FilesFromACdArePlacedWritableInBothModes) {
    ScratchMachine machine{{"machine.ini", "[drives]\nc=fixed\nd=cdrom\n"},
                           {"c/WINDOWS/SYSTEM/zx7.vxd", "zx7 old"},
                           {"d/PKG/zx7.vxd", "zx7 new"},
                           {"d/PKG/br10core.inf", "core inf"}};
    strcpy(WindowsDir, "C:\\WINDOWS");
    EnterFolder(machine, "d/PKG");
    for (PlaceMode mode : {PlaceMode::Copy, PlaceMode::Move}) {
        SCOPED_TRACE(mode == PlaceMode::Copy ? "copy" : "move");
        machine.Write("c/WINDOWS/SYSTEM/zx7.vxd", "zx7 old");
        // A move copies and then cannot delete the source: the row fails, the copy stays.
        EXPECT_EQ(mode == PlaceMode::Copy, PlaceFile("zx7.vxd", mode, "C:\\WINDOWS\\SYSTEM", ""));
        EXPECT_EQ(mode == PlaceMode::Copy, PlaceMatchingFiles("br10*.inf", mode, "C:\\WINDOWS"));
        EXPECT_EQ("zx7 new", machine.Read("c/WINDOWS/SYSTEM/zx7.vxd"));
        EXPECT_EQ("core inf", machine.Read("c/WINDOWS/br10core.inf"));
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL),
                  GetFileAttributesA("C:\\WINDOWS\\SYSTEM\\zx7.vxd"));
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), GetFileAttributesA("C:\\WINDOWS\\br10core.inf"));
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesA("zx7.vxd"));
    }
    EXPECT_FALSE(PlaceFile("missing.vxd", PlaceMode::Copy, "C:\\WINDOWS", ""));
    EXPECT_FALSE(machine.Exists("c/WINDOWS/missing.vxd"));
}

// Both tables as the package ships them: every row's name and location code in placement
// order, then the row that ends the table.
TEST(FileTables, HoldEveryRowInPlacementOrder) {
    using Rows = std::vector<std::pair<std::string, int>>;
    const Rows driver = {
        {"br10dos.ini", 0},  {"br10dos.com", 0},  {"hxlnk.vxd", 1},    {"br10appy.vxd", 1},
        {"br10core.vxd", 1}, {"br10init.vxd", 1}, {"br10joys.vxd", 1}, {"br10midi.vxd", 1},
        {"br10mix.vxd", 1},  {"br10port.vxd", 1}, {"br10sbfm.vxd", 1}, {"br10wave.vxd", 1},
        {"br10wt.vxd", 1},   {"br10setp.vxd", 1}, {"zx7.vxd", 1},      {"zx7.dll", 1},
        {"zx7api.dll", 1},   {"zx7splsh.exe", 0}, {"br10midi.drv", 1}, {"br10mix.drv", 1},
        {"br10wave.drv", 1}, {"br10wt.drv", 1},   {"br10thru.dll", 1}, {"br10gm.arl", 1},
        {"br10co*.inf", 7},  {"br10mm*.inf", 7},  {"br10po*.inf", 7},  {"br10mult.inf", 2},
        {"br10co*.cat", 6},  {"br10mm*.cat", 6},  {"br10po*.cat", 6},  {"br10mult.cat", 5},
        {"br10aud.vxd", 1},  {"br4410.reg", 0}};
    const Rows support = {
        {"Pel10App.exe", 8}, {"ZX7Demos.exe", 9}, {"br10setp.exe", 0}, {"motvcd.vxd", 1},
        {"kmq4dfv1.vxd", 1}, {"kmq4_ctl.vxd", 1}, {"br10ser.inf", 2},  {"Sm56.reg", 2},
        {"tqa.hlp", 1},      {"tqa.gid", 1},      {"tqa.cpl", 1},      {"unpellam.exe", 0}};
    for (const auto& table :
         {std::make_pair(DriverFileTable, &driver), std::make_pair(SupportFileTable, &support)}) {
        Rows rows;
        for (size_t i = 0; i < table.second->size(); ++i) {
            EXPECT_EQ(1, table.first[i].valid) << table.first[i].name;
            rows.emplace_back(table.first[i].name, table.first[i].location);
        }
        EXPECT_EQ(*table.second, rows);
        const FileEntry& end = table.first[table.second->size()];
        EXPECT_EQ(0, end.valid);
        EXPECT_STREQ("Empty,should never get here", end.name);
        EXPECT_EQ(LocTemp, end.location);
    }
}

}  // namespace
