// The flow: command line, start-up paths, the order of the steps and the reboot decision.
#include "upgrade_flow.h"

#include <sys/stat.h>

#include "upgrade_fixture.h"

namespace {

using FlowTest = UpgradeTest;

TEST_F(FlowTest, CleanupIsTheFirstSevenCharactersAfterTheLastQuote) {
    // The state the program starts from.
    const State& s = Initial();
    EXPECT_FALSE(s.cleanup);
    EXPECT_EQ("", s.windir + s.setup);
    EXPECT_EQ("c:\\", s.root);
    EXPECT_EQ(0, s.error);
    EXPECT_EQ(INVALID_HANDLE_VALUE, s.device);
    EXPECT_EQ(0u, s.word + s.bytes);
    const std::pair<const char*, bool> cases[] = {
        {"\"C:\\UPGRADE.EXE\" Cleanup", true},  {"\"C:\\UPGRADE.EXE\" cLeAnUp", true},
        {"\"C:\\UPGRADE.EXE\" Cleanupnow", true}, {"\"C:\\UPGRADE.EXE\" Cleanu", false},
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
        {"c=cdrom", {"y"}, "y:\\"},
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
        DWORD word;                      // DriverWord at the end
    } cases[] = {
        {false, false, "", 0, false, {"0x1D2A68", "0x10002", "0x10001", "0x10004", "0x10003"}, 0x44},
        {false, true, "", 1, true, {"0x1D2A68"}, 0x11},
        {true, false, "", 2, false, {"0x10004", "0x10003"}, 0x44},
        {true, true, "", 1, true, {}, 0},
        {true, false, "br10setp.vxd.fail=0x10003", 7, true, {"0x10004", "0x10003!"}, 0x44},
        {false, false, "br10core.vxd.fail=0x1D2A68", 3, true, {"0x1D2A68!"}, 0},
        {false, false, "br10setp.vxd.fail=0x10002", 4, true, {"0x1D2A68", "0x10002!"}, 0x11},
        {false, false, "br10setp.vxd.fail=0x10001", 5, true, {"0x1D2A68", "0x10002", "0x10001!"}, 0x22},
        {false, false, "br10setp.vxd.fail=0x10004", 6, true,
         {"0x1D2A68", "0x10002", "0x10001", "0x10004!"}, 0x22},  // 0x10001's answer is not kept
        {false, false, "br10setp.vxd.fail=0x10003", 7, true,
         {"0x1D2A68", "0x10002", "0x10001", "0x10004", "0x10003!"}, 0x44},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << c.error << " " << c.fails);
        ResetState();
        const std::string ini = std::string("[devices]\nbr10core.vxd=") +
                                (c.coreMissing ? "missing" : "installed") + "\nbr10setp.vxd=" +
                                (c.setupMissing ? "missing" : "installed") + "\n" + c.fails +
                                "\nbr10core.vxd.answer.0x1D2A68=0x11\nbr10setp.vxd.answer.0x10002=0x22"
                                "\nbr10setp.vxd.answer.0x10001=0x33\nbr10setp.vxd.answer.0x10004=0x44\n";
        ScratchMachine machine{{"machine.ini", ini}, {"c/PKG/readme.txt", "x"}};
        EnterFolder(machine, "c/PKG");
        ::setenv("HOSTWIN_ANSWERS", "ok", 1);

        EXPECT_TRUE(RunUpgrade());

        EXPECT_EQ(c.error, LastHandshakeError);
        EXPECT_EQ(c.word, DriverWord);
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

// The whole run as the journal shows it: each device opened with its arguments, the setup
// program started hidden and waited for 100 seconds then the 2-second pause, the message, and
// the self-removal batch written and started suspended at idle priority from the drive's root,
// this program raised above it, the batch resumed, the cursor restored.
TEST_F(FlowTest, CleanupRunsTheStepsInOrderAndStartsTheSelfRemovalAfterTheMessage) {
    ScratchMachine machine{{"machine.ini", "[devices]\nbr10core.vxd=installed\n"
                                           "br10setp.vxd=installed\nbr10setp.vxd.fail=0x10003\n"
                                           "[programs]\nC:\\WINDOWS\\br10setp.exe.exit=0\n"},
                           {"c/WINDOWS/br10setp.exe", "setup"},
                           {"c/TEMP/PKG/br10dos.ini", "new"},
                           {"c/TEMP/PKG/UPGRADE.EXE", "program"}};
    hostwin::SetProgram(machine.Path("c/TEMP/PKG/UPGRADE.EXE"), "Cleanup");
    EnterFolder(machine, "c/TEMP/PKG");
    ::setenv("HOSTWIN_ANSWERS", "ok", 1);
    RunUpgrade();
    std::vector<std::string> run;
    for (const std::string& line : machine.Journal()) {
        const std::string event = FieldOf(line, "event");
        if (event.compare(0, 5, "batch") != 0 && event != "process-end" && event != "file-delete" &&
            event != "dir-remove" && event != "start" && event != "exit")
            run.push_back(Compact(line));
        if (run.back() == "cursor arrow") break;
    }
    const std::string open = " 0x0 0x0 0x0 0x4000000 true";  // access, share, disposition, flags
    const std::string batch = "\\PellamUpgradeDelUS.bat";
    const std::vector<std::string> expected = {
        "cursor wait",
        "device-open br10core.vxd" + open,
        "device-control br10core.vxd 0x1D2A68 0x0 true",
        "device-close br10core.vxd true",
        "device-open br10setp.vxd" + open,
        "device-control br10setp.vxd 0x10002 0x0 0x0 true",
        "device-control br10setp.vxd 0x10001 0x0 0x0 true",
        "device-close br10setp.vxd true",
        "process-start C:\\WINDOWS\\br10setp.exe 15 0 C:\\TEMP\\PKG simulated program true",
        "wait br10setp.exe 100000 ended",
        "sleep 2000",
        "file-move C:\\TEMP\\PKG\\br10dos.ini C:\\WINDOWS\\br10dos.ini true",
        "dir-create C:\\pellapps true",
        "device-open br10setp.vxd" + open,
        "device-control br10setp.vxd 0x10004 0x0 true",
        "device-control br10setp.vxd 0x10003 0x0 false 31",
        "device-close br10setp.vxd true",
        "msgbox Pellam Upgrade You will need to re-boot to continue.. 48 ok",
        "file-create C:\\TEMP\\PKG\\PELLAMWP.$$$ true",  // the probe that the disk takes writes
        "file-write C:\\TEMP\\PKG\\PELLAMWP.$$$ true",
        "file-create C:" + batch + " true",
        "file-write C:" + batch + " true",
        "process-create " + batch + " C:" + batch + " C:\\ 0x44 true 0 batch true",
        "thread-priority PellamUpgradeDelUS.bat -15",
        "thread-priority current 15",
        "priority-class current high",
        "thread-resume PellamUpgradeDelUS.bat 1",
        "cursor arrow"};
    EXPECT_EQ(expected, run);
    EXPECT_TRUE(WaitUntil([&] { return !machine.Exists("c/PellamUpgradeDelUS.bat"); }));
    // The batch deleted the program, but not its folder: this process, the program here,
    // still has it as its current directory (the end-to-end runs see the folder go).
    EXPECT_FALSE(machine.Exists("c/TEMP/PKG/UPGRADE.EXE"));
    EXPECT_TRUE(machine.Exists("c/TEMP/PKG"));
}

}  // namespace
