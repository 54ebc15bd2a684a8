// The placement engine on a scratch machine: copies and moves, patterns, the pellapps
// directory and the ZX7Demos source, and the failures that only fail their own row.
#include "file_placement.h"

#include "upgrade_fixture.h"

namespace {

class PlacementTest : public UpgradeTest {
protected:
    void SetUp() override {
        UpgradeTest::SetUp();
        strcpy(WindowsDir, "C:\\WINDOWS");
    }
    ScratchMachine machine{{"c/WINDOWS/SYSTEM/old.vxd", "old"},
                           {"c/WINDOWS/INF/old.inf", "old"},
                           {"c/PKG/zx7.vxd", "zx7 new"},
                           {"c/PKG/br10wt.vxd", "wt new"},
                           {"c/PKG/br10core.inf", "core inf"},
                           {"c/PKG/br10codc.inf", "codc inf"},
                           {"c/PKG/BR10COM.INF", "com inf"},
                           {"c/PKG/br10mult.cat", "mult cat"},
                           {"c/PKG/Pel10App.exe", "app"},
                           {"c/ZX7Demos/ZX7Demos.exe", "demos"}};
    void Enter() { EnterFolder(machine, "c/PKG"); }
};

TEST_F(PlacementTest, ATableThatStartsWithItsEndPlacesNothing) {
    Enter();
    const FileEntry empty[] = {{"zx7.vxd", LocSystem, 0}, {"br10wt.vxd", LocSystem, 1}};
    const auto before = machine.Snapshot();
    EXPECT_TRUE(PlaceTable(empty));
    EXPECT_EQ(before, machine.Snapshot());
}

TEST_F(PlacementTest, AMissingSourceFailsOnlyItsOwnRow) {
    Enter();
    machine.Write("c/WINDOWS/SYSTEM/missing.vxd", "installed");
    const FileEntry table[] = {{"missing.vxd", LocSystem, 1},
                               {"zx7.vxd", LocSystem, 1},
                               {"Empty,should never get here", LocTemp, 0}};
    EXPECT_TRUE(PlaceTable(table));
    EXPECT_EQ("installed", machine.Read("c/WINDOWS/SYSTEM/missing.vxd"));
    EXPECT_EQ("zx7 new", machine.Read("c/WINDOWS/SYSTEM/zx7.vxd"));
    EXPECT_FALSE(machine.Exists("c/WINDOWS/temp"));  // the end row's code is never acted on
}

TEST_F(PlacementTest, CopyOverwritesWritableDestinationsButNotReadOnlyOnes) {
    Enter();
    machine.Write("c/WINDOWS/SYSTEM/zx7.vxd", "zx7 old");
    machine.Write("c/WINDOWS/SYSTEM/br10wt.vxd", "wt old");
    ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\SYSTEM\\br10wt.vxd", FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(PlaceFile("zx7.vxd", PlaceMode::Copy, "C:\\WINDOWS\\SYSTEM", ""));
    EXPECT_FALSE(PlaceFile("br10wt.vxd", PlaceMode::Copy, "C:\\WINDOWS\\SYSTEM", ""));
    EXPECT_EQ("zx7 new", machine.Read("c/WINDOWS/SYSTEM/zx7.vxd"));
    EXPECT_EQ("wt old", machine.Read("c/WINDOWS/SYSTEM/br10wt.vxd"));
    EXPECT_TRUE(machine.Exists("c/PKG/zx7.vxd"));  // copies leave the source in place
}

TEST_F(PlacementTest, CopyClearsEveryAttributeOfTheSource) {
    Enter();
    const DWORD all = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                      FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(SetFileAttributesA("zx7.vxd", all));
    EXPECT_TRUE(PlaceFile("zx7.vxd", PlaceMode::Copy, "C:\\WINDOWS\\SYSTEM", ""));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), GetFileAttributesA("zx7.vxd"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL),
              GetFileAttributesA("C:\\WINDOWS\\SYSTEM\\zx7.vxd"));
}

TEST_F(PlacementTest, MoveReplacesAnExistingDestinationAndTakesTheSourceAway) {
    Enter();
    machine.Write("c/WINDOWS/SYSTEM/zx7.vxd", "zx7 old");
    EXPECT_TRUE(PlaceFile("zx7.vxd", PlaceMode::Move, "C:\\WINDOWS\\SYSTEM", ""));
    EXPECT_TRUE(PlaceFile("br10wt.vxd", PlaceMode::Move, "C:\\WINDOWS\\SYSTEM", ""));
    EXPECT_EQ("zx7 new", machine.Read("c/WINDOWS/SYSTEM/zx7.vxd"));
    EXPECT_EQ("wt new", machine.Read("c/WINDOWS/SYSTEM/br10wt.vxd"));
    EXPECT_FALSE(machine.Exists("c/PKG/zx7.vxd"));
    EXPECT_FALSE(machine.Exists("c/PKG/br10wt.vxd"));
}

TEST_F(PlacementTest, MoveFromACdLeavesTheCopyAndReportsTheFailedDelete) {
    ScratchMachine cd{{"machine.ini", "[drives]\nc=fixed\nd=cdrom\n"},
                      {"d/PELLAM/zx7.vxd", "zx7 new"},
                      {"c/WINDOWS/SYSTEM/keep.txt", ""}};
    strcpy(WindowsDir, "C:\\WINDOWS");
    EnterFolder(cd, "d/PELLAM");
    EXPECT_FALSE(PlaceFile("zx7.vxd", PlaceMode::Move, "C:\\WINDOWS\\SYSTEM", ""));
    EXPECT_EQ("zx7 new", cd.Read("c/WINDOWS/SYSTEM/zx7.vxd"));
    EXPECT_TRUE(cd.Exists("d/PELLAM/zx7.vxd"));
}

TEST_F(PlacementTest, PatternsPlaceEveryMatchUnderItsOwnName) {
    Enter();
    EXPECT_TRUE(PlaceMatchingFiles("br10co*.inf", PlaceMode::Copy, "C:\\WINDOWS\\INF"));
    EXPECT_EQ("core inf", machine.Read("c/WINDOWS/INF/br10core.inf"));
    EXPECT_EQ("codc inf", machine.Read("c/WINDOWS/INF/br10codc.inf"));
    EXPECT_EQ("com inf", machine.Read("c/WINDOWS/INF/BR10COM.INF"));
    const auto before = machine.Snapshot();
    EXPECT_FALSE(PlaceMatchingFiles("br10po*.inf", PlaceMode::Copy, "C:\\WINDOWS\\INF"));
    EXPECT_EQ(before, machine.Snapshot());
}

TEST_F(PlacementTest, APatternWithOneUnplaceableMatchPlacesTheOthers) {
    Enter();
    machine.Write("c/WINDOWS/INF/br10codc.inf", "locked");
    ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\INF\\br10codc.inf", FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(PlaceMatchingFiles("br10co*.inf", PlaceMode::Copy, "C:\\WINDOWS\\INF"));
    EXPECT_EQ("core inf", machine.Read("c/WINDOWS/INF/br10core.inf"));
    EXPECT_EQ("locked", machine.Read("c/WINDOWS/INF/br10codc.inf"));
    EXPECT_EQ("com inf", machine.Read("c/WINDOWS/INF/BR10COM.INF"));
}

TEST_F(PlacementTest, AMissingDestinationSubdirectoryIsNotCreated) {
    Enter();
    const FileEntry table[] = {{"br10mult.cat", LocCatroot, 1},
                               {"br10co*.inf", LocInfPattern, 1},
                               {"", LocTemp, 0}};
    EXPECT_TRUE(PlaceTable(table));
    EXPECT_FALSE(machine.Exists("c/WINDOWS/CATROOT"));
    EXPECT_TRUE(machine.Exists("c/WINDOWS/INF/br10core.inf"));  // inf matches INF
}

TEST_F(PlacementTest, AppsGoToPellappsOnTheFixedDriveAndDemosComeFromBesideThePackage) {
    Enter();
    machine.Write("c/pellapps/readme.txt", "already there");
    const FileEntry table[] = {{"Pel10App.exe", LocApps, 1},
                               {"ZX7Demos.exe", LocAppsFromDemos, 1},
                               {"", LocTemp, 0}};
    CleanupMode = true;
    EXPECT_TRUE(PlaceTable(table));
    EXPECT_EQ("app", machine.Read("c/pellapps/Pel10App.exe"));
    EXPECT_EQ("demos", machine.Read("c/pellapps/ZX7Demos.exe"));
    EXPECT_EQ("already there", machine.Read("c/pellapps/readme.txt"));
    EXPECT_FALSE(machine.Exists("c/ZX7Demos/ZX7Demos.exe"));  // moved in cleanup mode
    EXPECT_FALSE(machine.Exists("c/PKG/Pel10App.exe"));
}

TEST_F(PlacementTest, WithoutAFixedDriveTheAppsRowsFailQuietly) {
    Enter();
    strcpy(FixedDriveRoot, "z:\\");
    const FileEntry table[] = {{"Pel10App.exe", LocApps, 1}, {"zx7.vxd", 42, 1}, {"", 3, 0}};
    EXPECT_TRUE(PlaceTable(table));
    EXPECT_FALSE(machine.Exists("z"));
    EXPECT_EQ("zx7 new", machine.Read("c/WINDOWS/zx7.vxd"));  // an unknown code is code 0
}

TEST_F(PlacementTest, BothTablesInCleanupModeEmptyThePackageFolder) {
    // Every file of both tables, by its table name or a name its pattern matches.
    const char* names[] = {
        "br10dos.ini", "br10dos.com", "hxlnk.vxd", "br10appy.vxd", "br10core.vxd",
        "br10init.vxd", "br10joys.vxd", "br10midi.vxd", "br10mix.vxd", "br10port.vxd",
        "br10sbfm.vxd", "br10wave.vxd", "br10setp.vxd", "zx7.dll", "zx7api.dll",
        "zx7splsh.exe", "br10midi.drv", "br10mix.drv", "br10wave.drv", "br10wt.drv",
        "br10thru.dll", "br10gm.arl", "br10mm.inf", "br10port.inf", "br10mult.inf",
        "br10core.cat", "br10mmx.cat", "br10po.cat", "br10aud.vxd", "br4410.reg",
        "br10setp.exe", "motvcd.vxd", "kmq4dfv1.vxd", "kmq4_ctl.vxd", "br10ser.inf",
        "Sm56.reg", "tqa.hlp", "tqa.gid", "tqa.cpl", "unpellam.exe"};
    for (const char* name : names) machine.Write(std::string("c/PKG/") + name, name);
    machine.Write("c/WINDOWS/CATROOT/keep", "");
    Enter();
    CleanupMode = true;
    EXPECT_TRUE(PlaceAllTables());
    EXPECT_EQ(std::vector<std::string>{}, [&] {
        std::vector<std::string> left;
        for (const auto& entry : machine.Snapshot())
            if (entry.first.rfind("c/PKG/", 0) == 0) left.push_back(entry.first);
        return left;
    }());
    EXPECT_EQ("unpellam.exe", machine.Read("c/WINDOWS/unpellam.exe"));
    EXPECT_EQ("br10mmx.cat", machine.Read("c/WINDOWS/CATROOT/br10mmx.cat"));
    EXPECT_EQ("Sm56.reg", machine.Read("c/WINDOWS/INF/Sm56.reg"));
}

}  // namespace
