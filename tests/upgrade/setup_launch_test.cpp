// Running the driver setup program: missing, or outliving the wait.
#include "setup_launch.h"

#include <sys/stat.h>

#include "upgrade_fixture.h"
#include "upgrade_flow.h"

namespace {

using SetupLaunchTest = UpgradeTest;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(SetupLaunchTest, WithoutASetupProgramNothingRunsAndNothingWaits) {
    // No br10setp.exe, or a Windows directory too long for its path.
    for (const std::string& windir : {std::string("C:\\WINDOWS"), "C:\\" + std::string(250, 'W')}) {
        ScratchMachine machine{{"machine.ini", "[system]\nwindir=" + windir + "\n"}};
        PrepareUpgrade();
        EXPECT_EQ(windir, WindowsDir);
        EXPECT_EQ(windir.size() < 200, SetupProgramPath[0] != '\0');
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(RunSetupProgram());
        EXPECT_LT(SecondsSince(start), 1.0);
    }
}

TEST_F(SetupLaunchTest, ASetupProgramThatOutlivesTheWaitIsLeftRunningWithoutThePause) {
    ScratchMachine machine{{"c/WINDOWS/br10setp.exe", "#!/bin/sh\nsleep 3; echo finished > LOG\n"}};
    ASSERT_EQ(0, ::chmod(machine.Path("c/WINDOWS/br10setp.exe").c_str(), 0755));
    PrepareUpgrade();
    SetupWaitMilliseconds = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RunSetupProgram());
    EXPECT_GE(SecondsSince(start), 0.3);
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_TRUE(WaitUntil([&] { return machine.Exists("c/WINDOWS/LOG"); }));
    EXPECT_EQ(1000, SetupWaitLimit);
}

}  // namespace
