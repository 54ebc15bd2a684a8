// The flow: command line, start-up paths, the order of the steps and the reboot decision.
#include "upgrade_flow.h"

#include "upgrade_fixture.h"

namespace {

using FlowTest = UpgradeTest;

TEST_F(FlowTest, CleanupIsTheFirstSevenCharactersAfterTheLastQuote) {
    const std::pair<const char*, bool> cases[] = {
        {"\"C:\\UPGRADE.EXE\" Cleanup", true},  {"\"C:\\UPGRADE.EXE\" cLeAnUp", true},
        {"\"C:\\UPGRADE.EXE\" Cleanupnow", true}, {"\"C:\\UPGRADE.EXE\" Clean", false},
        {"\"C:\\UPGRADE.EXE\"", false},           {"", false},
        {"\"C:\\UPGRADE.EXE\"  Cleanup", false},    // two blanks: one is kept
        {"\"C:\\UPGRADE.EXE\" \"Cleanup\"", false},  // nothing after the last quote
        {"C:\\UPGRADE.EXE Cleanup", false},  // unquoted: only the first character is dropped
        {"xCleanup", true},
    };
    ScratchMachine machine;
    for (const auto& c : cases) {
        CleanupMode = false;
        ::setenv("HOSTWIN_CMDLINE", c.first, 1);
        EXPECT_TRUE(PrepareUpgrade());
        EXPECT_EQ(c.second, CleanupMode) << c.first;
    }
}

TEST_F(FlowTest, FixedDriveRootIsTheFirstFixedDriveFromCToY) {
    struct Case {
        const char* drives;
        std::vector<const char*> folders;
        const char* root;
    } cases[] = {
        {"c=cdrom\nd=fixed", {"d"}, "d:\\"},
        {"c=removable\nd=cdrom", {"d", "e"}, "e:\\"},  // a drive folder without entry is fixed
        {"c=cdrom", {}, "z:\\"},                        // none fixed: z, never asked
    };
    for (const Case& c : cases) {
        ScratchMachine machine{{"machine.ini", std::string("[drives]\n") + c.drives + "\n"}};
        for (const char* folder : c.folders) machine.Write(std::string(folder) + "/x", "");
        PrepareUpgrade();
        EXPECT_STREQ(c.root, FixedDriveRoot) << c.drives;
    }
}

TEST_F(FlowTest, HandshakeFailuresDecideTheRebootMessage) {
    struct Case {
        bool coreMissing, setupMissing;
        const char* fails;
        LONG error;  // LastHandshakeError at the end
        bool box;
        std::vector<std::string> codes;  // "!" marks a code the device refused
    } cases[] = {
        {false, false, "", 0, false, {"0x1D2A68", "0x10002", "0x10001", "0x10004", "0x10003"}},
        {false, true, "", 1, true, {"0x1D2A68"}},
        {true, false, "", 2, false, {"0x10004", "0x10003"}},
        {true, true, "", 1, true, {}},
        {true, false, "br10setp.vxd.fail=0x10003", 7, true, {"0x10004", "0x10003!"}},
        {false, false, "br10core.vxd.fail=0x1D2A68", 3, true, {"0x1D2A68!"}},
        {false, false, "br10setp.vxd.fail=0x10002", 4, true, {"0x1D2A68", "0x10002!"}},
        {false, false, "br10setp.vxd.fail=0x10001", 5, true, {"0x1D2A68", "0x10002", "0x10001!"}},
        {false, false, "br10setp.vxd.fail=0x10004", 6, true,
         {"0x1D2A68", "0x10002", "0x10001", "0x10004!"}},
        {false, false, "br10setp.vxd.fail=0x10003", 7, true,
         {"0x1D2A68", "0x10002", "0x10001", "0x10004", "0x10003!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << c.error << " " << c.fails);
        ResetState();
        const std::string ini = std::string("[devices]\nbr10core.vxd=") +
                                (c.coreMissing ? "missing" : "installed") + "\nbr10setp.vxd=" +
                                (c.setupMissing ? "missing" : "installed") + "\n" + c.fails;
        ScratchMachine machine{{"machine.ini", ini}, {"c/PKG/readme.txt", "x"}};
        EnterFolder(machine, "c/PKG");
        ::setenv("HOSTWIN_ANSWERS", "ok", 1);

        EXPECT_TRUE(RunUpgrade());

        EXPECT_EQ(c.error, LastHandshakeError);
        std::vector<std::string> codes;
        for (const std::string& line : EventsOf(machine, "device-control"))
            codes.push_back(FieldOf(line, "code") +
                            (line.find("\"ok\":false") != std::string::npos ? "!" : ""));
        EXPECT_EQ(c.codes, codes);
        EXPECT_EQ(c.box ? 1u : 0u, EventsOf(machine, "msgbox").size());
        // Every device that opened was closed again.
        size_t opened = 0;
        for (const std::string& line : EventsOf(machine, "device-open"))
            opened += line.find("\"ok\":true") != std::string::npos;
        EXPECT_EQ(opened, EventsOf(machine, "device-close").size());
        EXPECT_EQ(INVALID_HANDLE_VALUE, DeviceHandle);
    }
}

TEST_F(FlowTest, CleanupRunsTheStepsInOrderAndStartsTheSelfRemovalAfterTheMessage) {
    ScratchMachine machine{{"machine.ini", "[devices]\nbr10core.vxd=installed\n"
                                           "br10setp.vxd=installed\nbr10setp.vxd.fail=0x10003\n"},
                           {"c/WINDOWS/br10setp.exe", "not a host program"},
                           {"c/TEMP/PKG/br10dos.ini", "new"},
                           {"c/TEMP/PKG/UPGRADE.EXE", "program"}};
    hostwin::SetProgram(machine.Path("c/TEMP/PKG/UPGRADE.EXE"), "Cleanup");
    EnterFolder(machine, "c/TEMP/PKG");
    ::setenv("HOSTWIN_ANSWERS", "ok", 1);
    RunUpgrade();
    std::vector<std::string> order;
    for (const std::string& line : machine.Journal()) {
        const std::string event = FieldOf(line, "event");
        if (event == "cursor" || event == "device-control" || event == "process-start" ||
            event == "file-move" || event == "msgbox" || event == "process-create")
            order.push_back(event + " " + FieldOf(line, "cursor") + FieldOf(line, "code") +
                            FieldOf(line, "parameters") + FieldOf(line, "to"));
    }
    const std::vector<std::string> expected = {
        "cursor wait", "device-control 0x1D2A68", "device-control 0x10002",
        "device-control 0x10001", "process-start 15", "file-move C:\\WINDOWS\\br10dos.ini",
        "device-control 0x10004", "device-control 0x10003", "msgbox ", "process-create ",
        "cursor arrow"};
    EXPECT_EQ(expected, order);
    EXPECT_TRUE(WaitUntil([&] { return !machine.Exists("c/PellamUpgradeDelUS.bat"); }));
    // The batch deleted the program, but not its folder: this process, the program here,
    // still has it as its current directory (the end-to-end runs see the folder go).
    EXPECT_FALSE(machine.Exists("c/TEMP/PKG/UPGRADE.EXE"));
    EXPECT_TRUE(machine.Exists("c/TEMP/PKG"));
}

}  // namespace
