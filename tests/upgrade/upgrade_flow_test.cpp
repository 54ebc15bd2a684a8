// The flow: command line, start-up paths, the order of the steps and the reboot decision.
#include "upgrade_flow.h"

#include "driver_handshake.h"
#include "upgrade_fixture.h"

namespace {

using FlowTest = UpgradeTest;

TEST_F(FlowTest, CleanupIsTheFirstSevenCharactersAfterTheLastQuote) {
    struct Case {
        const char* commandLine;
        bool cleanup;
    } cases[] = {
        {"\"C:\\TEMP\\PELLAM\\UPGRADE.EXE\" Cleanup", true},
        {"\"C:\\TEMP\\PELLAM\\UPGRADE.EXE\" CLEANUP", true},
        {"\"C:\\TEMP\\PELLAM\\UPGRADE.EXE\" cLeAnUp", true},
        {"\"C:\\TEMP\\PELLAM\\UPGRADE.EXE\" Cleanupnow", true},
        {"\"C:\\TEMP\\PELLAM\\UPGRADE.EXE\" Clean", false},
        {"\"C:\\TEMP\\PELLAM\\UPGRADE.EXE\"", false},
        {"\"C:\\TEMP\\PELLAM\\UPGRADE.EXE\"  Cleanup", false},   // two blanks: one is kept
        {"\"C:\\TEMP\\PELLAM\\UPGRADE.EXE\" \"Cleanup\"", false},  // nothing after the last quote
        {"C:\\TEMP\\PELLAM\\UPGRADE.EXE Cleanup", false},          // unquoted program path
        {"Cleanup", false},                                        // first character dropped
        {"xCleanup", true},
        {"", false},
    };
    ScratchMachine machine;
    for (const Case& c : cases) {
        CleanupMode = false;
        ::setenv("HOSTWIN_CMDLINE", c.commandLine, 1);
        EXPECT_TRUE(PrepareUpgrade());
        EXPECT_EQ(c.cleanup, CleanupMode) << c.commandLine;
    }
}

TEST_F(FlowTest, FixedDriveRootIsTheFirstFixedDriveFromCToY) {
    struct Case {
        const char* drives;
        std::vector<const char*> folders;
        const char* root;
    } cases[] = {
        {"c=fixed", {}, "c:\\"},
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

TEST_F(FlowTest, TooLongAWindowsDirectoryLeavesNoSetupProgramToRun) {
    const std::string windir = "C:\\" + std::string(250, 'W');
    ScratchMachine machine{{"machine.ini", "[system]\nwindir=" + windir + "\n"}};
    PrepareUpgrade();
    EXPECT_EQ(windir, WindowsDir);
    EXPECT_STREQ("", SetupProgramPath);
    EXPECT_FALSE(RunSetupProgram());
}

// The codes that reached the devices, in order, each with "!" when the device refused it.
std::vector<std::string> ControlCodes(const ScratchMachine& machine) {
    std::vector<std::string> codes;
    for (const std::string& line : EventsOf(machine, "device-control"))
        codes.push_back(FieldOf(line, "code") +
                        (line.find("\"ok\":false") != std::string::npos ? "!" : ""));
    return codes;
}

TEST_F(FlowTest, HandshakeFailuresDecideTheRebootMessage) {
    struct Case {
        const char* name;
        const char* devices;
        LONG error;  // LastHandshakeError at the end
        bool box;
        std::vector<std::string> codes;
    } cases[] = {
        {"both succeed", "", 0, false, {"0x1D2A68", "0x10002", "0x10001", "0x10004", "0x10003"}},
        {"1: setup device missing", "br10setp.vxd=missing\n", 1, true, {"0x1D2A68"}},
        {"2: core device missing, second succeeds", "br10core.vxd=missing\n", 2, false,
         {"0x10004", "0x10003"}},
        {"2, then 1", "br10core.vxd=missing\nbr10setp.vxd=missing\n", 1, true, {}},
        {"2, then 6", "br10core.vxd=missing\nbr10setp.vxd.fail=0x10004\n", 6, true,
         {"0x10004!"}},
        {"2, then 7", "br10core.vxd=missing\nbr10setp.vxd.fail=0x10003\n", 7, true,
         {"0x10004", "0x10003!"}},
        {"3", "br10core.vxd.fail=0x1D2A68\n", 3, true, {"0x1D2A68!"}},
        {"4", "br10setp.vxd.fail=0x10002\n", 4, true, {"0x1D2A68", "0x10002!"}},
        {"5", "br10setp.vxd.fail=0x10001\n", 5, true, {"0x1D2A68", "0x10002", "0x10001!"}},
        {"6", "br10setp.vxd.fail=0x10004\n", 6, true,
         {"0x1D2A68", "0x10002", "0x10001", "0x10004!"}},
        {"7", "br10setp.vxd.fail=0x10003\n", 7, true,
         {"0x1D2A68", "0x10002", "0x10001", "0x10004", "0x10003!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetState();
        // Devices declared first; the case's lines override them (later keys are checked).
        std::string ini = "[devices]\n";
        if (std::string(c.devices).find("br10core.vxd=") == std::string::npos)
            ini += "br10core.vxd=installed\n";
        if (std::string(c.devices).find("br10setp.vxd=") == std::string::npos)
            ini += "br10setp.vxd=installed\n";
        ScratchMachine machine{{"machine.ini", ini + c.devices}, {"c/PKG/readme.txt", "x"}};
        EnterFolder(machine, "c/PKG");
        ::setenv("HOSTWIN_ANSWERS", "ok", 1);

        EXPECT_TRUE(RunUpgrade());

        EXPECT_EQ(c.error, LastHandshakeError);
        EXPECT_EQ(c.codes, ControlCodes(machine));
        const std::vector<std::string> boxes = EventsOf(machine, "msgbox");
        ASSERT_EQ(c.box ? 1u : 0u, boxes.size());
        if (c.box) {
            EXPECT_EQ("Pellam Upgrade", FieldOf(boxes[0], "caption"));
            EXPECT_EQ("You will need to re-boot to continue..", FieldOf(boxes[0], "text"));
            EXPECT_NE(std::string::npos, boxes[0].find("\"style\":48"));
        }
        // No device stays open: every open that succeeded was closed again.
        size_t opened = 0;
        for (const std::string& line : EventsOf(machine, "device-open"))
            if (line.find("\"ok\":true") != std::string::npos) ++opened;
        EXPECT_EQ(opened, EventsOf(machine, "device-close").size());
        EXPECT_EQ(INVALID_HANDLE_VALUE, DeviceHandle);
    }
}

TEST_F(FlowTest, AFailedPrepareCodeLeavesTheExchangedWord) {
    ScratchMachine machine{{"machine.ini",
                            "[devices]\nbr10core.vxd=installed\nbr10setp.vxd=installed\n"
                            "br10setp.vxd.answer.0x10002=0x5150\nbr10setp.vxd.fail=0x10001\n"}};
    EXPECT_FALSE(HandshakeBefore());
    EXPECT_EQ(5, LastHandshakeError);
    EXPECT_EQ(0x5150u, DriverWord);
    EXPECT_EQ(INVALID_HANDLE_VALUE, DeviceHandle);
}

TEST_F(FlowTest, StepsRunInTheirFixedOrderWithTheWaitCursor) {
    ScratchMachine machine{{"machine.ini", "[devices]\nbr10core.vxd=installed\n"
                                           "br10setp.vxd=installed\nbr10setp.vxd.fail=0x10003\n"},
                           {"c/WINDOWS/br10setp.exe", "not a host program"},
                           {"c/PKG/br10dos.ini", "new"}};
    EnterFolder(machine, "c/PKG");
    ::setenv("HOSTWIN_ANSWERS", "ok", 1);
    RunUpgrade();
    std::vector<std::string> order;
    for (const std::string& line : machine.Journal()) {
        const std::string event = FieldOf(line, "event");
        if (event == "cursor") order.push_back("cursor " + FieldOf(line, "cursor"));
        if (event == "device-control") order.push_back(FieldOf(line, "code"));
        if (event == "process-start") order.push_back("setup " + FieldOf(line, "parameters"));
        if (event == "file-copy") order.push_back("copy " + FieldOf(line, "to"));
        if (event == "msgbox") order.push_back("box");
    }
    const std::vector<std::string> expected = {
        "cursor wait", "0x1D2A68", "0x10002", "0x10001", "setup 15",
        "copy C:\\WINDOWS\\br10dos.ini", "0x10004", "0x10003", "box", "cursor arrow"};
    EXPECT_EQ(expected, order);
}

TEST_F(FlowTest, CleanupShowsTheMessageBeforeTheSelfRemovalStarts) {
    ScratchMachine machine{{"machine.ini", "[devices]\nbr10setp.vxd=missing\n"},
                           {"c/TEMP/PKG/UPGRADE.EXE", "program"}};
    hostwin::SetProgram(machine.Path("c/TEMP/PKG/UPGRADE.EXE"), "Cleanup");
    EnterFolder(machine, "c/TEMP/PKG");
    ::setenv("HOSTWIN_ANSWERS", "ok", 1);
    RunUpgrade();
    EXPECT_TRUE(CleanupMode);
    std::vector<std::string> order;
    for (const std::string& line : machine.Journal()) {
        const std::string event = FieldOf(line, "event");
        if (event == "msgbox" || event == "process-create" || event == "thread-resume")
            order.push_back(event);
    }
    EXPECT_EQ((std::vector<std::string>{"msgbox", "process-create", "thread-resume"}), order);
    EXPECT_TRUE(WaitUntil([&] { return !machine.Exists("c/PellamUpgradeDelUS.bat"); }));
    EXPECT_FALSE(machine.Exists("c/TEMP/PKG"));
}

}  // namespace
