// Running the driver setup program: missing, no program, or outliving the wait.
#include "setup_launch.h"

#include <sys/stat.h>

#include "file_placement.h"
#include "upgrade_fixture.h"
#include "upgrade_flow.h"

namespace {

using SetupLaunchTest = UpgradeTest;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(SetupLaunchTest, WithoutARunnableSetupProgramNothingRunsAndNothingWaits) {
    // No br10setp.exe, a file that is no program, or a Windows directory too long for its path.
    const struct { std::string windir; const char* setup; } cases[] = {
        {"C:\\WINDOWS", nullptr},
        {"C:\\WINDOWS", "not a program"},
        {"C:\\" + std::string(250, 'W'), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setup ? c.setup : c.windir);
        ScratchMachine machine{{"machine.ini", "[system]\nwindir=" + c.windir + "\n"}};
        if (c.setup) machine.Write("c/WINDOWS/br10setp.exe", c.setup);
        PrepareUpgrade();
        EXPECT_EQ(c.windir, WindowsDir);
        EXPECT_EQ(c.windir.size() < 200, SetupProgramPath[0] != '\0');
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(RunSetupProgram());
        EXPECT_LT(SecondsSince(start), 1.0);
    }
}

// A setup program that outlives the wait keeps running, and its file, a row of the support
// table, cannot be replaced until it has ended.
TEST_F(SetupLaunchTest, ASetupProgramThatOutlivesTheWaitIsLeftRunningWithoutThePause) {
    ScratchMachine machine{{"c/WINDOWS/br10setp.exe", "#!/bin/sh\nsleep 3; echo finished > LOG\n"},
                           {"c/PKG/br10setp.exe", "new setup"}};
    ASSERT_EQ(0, ::chmod(machine.Path("c/WINDOWS/br10setp.exe").c_str(), 0755));
    EnterFolder(machine, "c/PKG");
    PrepareUpgrade();
    SetupWaitMilliseconds = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RunSetupProgram());
    EXPECT_GE(SecondsSince(start), 0.3);
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_FALSE(PlaceFile("br10setp.exe", PlaceMode::Copy, WindowsDir, ""));
    EXPECT_NE("new setup", machine.Read("c/WINDOWS/br10setp.exe"));
    // It ran in the program's current directory.
    EXPECT_TRUE(WaitUntil([&] { return machine.Exists("c/PKG/LOG"); }));
    EXPECT_TRUE(WaitUntil([&] { return PlaceFile("br10setp.exe", PlaceMode::Copy, WindowsDir, ""); }));
    EXPECT_EQ("new setup", machine.Read("c/WINDOWS/br10setp.exe"));
    EXPECT_EQ(1000, SetupWaitLimit);
}

}  // namespace
