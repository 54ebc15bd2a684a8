// Running the driver setup program: missing, no program, or outliving the wait. A run that ends
// in time, with the shipped wait and the pause, is in the flow test.
#include "setup_launch.h"

#include <sys/stat.h>

#include "file_placement.h"
#include "upgrade_fixture.h"
#include "upgrade_flow.h"

namespace {

using SetupLaunchTest = UpgradeTest;
using Lines = std::vector<std::string>;

Lines Waits(const ScratchMachine& machine) {
    Lines waits;
    for (const std::string& line : machine.Journal())
        if (FieldOf(line, "event") == "wait" || FieldOf(line, "event") == "sleep")
            waits.push_back(Compact(line));
    return waits;
}

TEST_F(SetupLaunchTest, WithoutARunnableSetupProgramNothingRunsAndNothingWaits) {
    // No br10setp.exe, a file that is no program, or a Windows directory too long for its path
    // ("\br10setp.exe" and the terminating zero take 14 of the 260 characters).
    const struct { size_t length; const char* setup; } cases[] = {
        {10, nullptr}, {10, "not a program"}, {246, nullptr}, {247, nullptr}};
    for (const auto& c : cases) {
        const std::string windir = c.length == 10 ? "C:\\WINDOWS" : "C:\\" + std::string(c.length - 3, 'W');
        SCOPED_TRACE(c.setup ? c.setup : windir);
        ScratchMachine machine{{"machine.ini", "[system]\nwindir=" + windir + "\n"}};
        if (c.setup) machine.Write("c/WINDOWS/br10setp.exe", c.setup);
        PrepareUpgrade();
        EXPECT_EQ(windir, WindowsDir);
        EXPECT_EQ(c.length <= 246 ? windir + "\\br10setp.exe" : "", SetupProgramPath);
        EXPECT_FALSE(RunSetupProgram());
        EXPECT_EQ(Lines{}, Waits(machine));
    }
}

// A setup program that outlives the wait keeps running, and its file, a row of the support
// table, cannot be replaced until it has ended.
TEST_F(SetupLaunchTest, ASetupProgramThatOutlivesTheWaitIsLeftRunningWithoutThePause) {
    // As shipped: 1000 units of 100 ms.
    EXPECT_EQ(1000, SetupWaitLimit);
    EXPECT_EQ(100000u, Initial().wait);
    ScratchMachine machine{{"machine.ini", "[programs]\nC:\\WINDOWS\\br10setp.exe.runs=3000\n"
                                           "C:\\WINDOWS\\br10setp.exe.log=LOG\n"},
                           {"c/WINDOWS/br10setp.exe", "old setup"},
                           {"c/PKG/br10setp.exe", "new setup"}};
    EnterFolder(machine, "c/PKG");
    PrepareUpgrade();
    SetupWaitMilliseconds = 300;
    EXPECT_FALSE(RunSetupProgram());
    EXPECT_EQ(Lines{"wait br10setp.exe 300 timeout"}, Waits(machine));
    // Without a wait a program is started and left to itself.
    EXPECT_TRUE(RunProgram(SetupProgramPath, "", 0));
    EXPECT_EQ(Lines{"wait br10setp.exe 300 timeout"}, Waits(machine));
    EXPECT_FALSE(PlaceFile("br10setp.exe", PlaceMode::Copy, WindowsDir, ""));
    EXPECT_NE("new setup", machine.Read("c/WINDOWS/br10setp.exe"));
    EXPECT_EQ(0u, machine.Read("c/WINDOWS/LOG").rfind("br10setp.exe started with: 15\n", 0));
    EXPECT_TRUE(WaitUntil([&] { return PlaceFile("br10setp.exe", PlaceMode::Copy, WindowsDir, ""); }));
    EXPECT_EQ("new setup", machine.Read("c/WINDOWS/br10setp.exe"));
}

}  // namespace
