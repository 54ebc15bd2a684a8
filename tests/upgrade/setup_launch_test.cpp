// Running the driver setup program: missing, ending in time, outliving the wait.
#include "setup_launch.h"

#include <sys/stat.h>

#include "upgrade_fixture.h"
#include "upgrade_flow.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class SetupLaunchTest : public UpgradeTest {
protected:
    // A setup program that records its arguments and folder, then runs the given shell text.
    void InstallSetupProgram(const std::string& then) {
        machine.Write("c/WINDOWS/br10setp.exe",
                      "#!/bin/sh\necho \"$@\" >> SETUP.LOG\npwd >> SETUP.LOG\n" + then + "\n");
        ASSERT_EQ(0, ::chmod(machine.Path("c/WINDOWS/br10setp.exe").c_str(), 0755));
        PrepareUpgrade();
    }
    ScratchMachine machine;
};

TEST_F(SetupLaunchTest, WithoutASetupProgramNothingRunsAndNothingWaits) {
    PrepareUpgrade();
    const auto start = Clock::now();
    EXPECT_FALSE(RunSetupProgram());
    EXPECT_LT(SecondsSince(start), 1.0);
}

TEST_F(SetupLaunchTest, ASetupProgramThatEndsIsFollowedByTheTwoSecondPause) {
    InstallSetupProgram("exit 3");
    const auto start = Clock::now();
    EXPECT_TRUE(RunSetupProgram());
    EXPECT_GE(SecondsSince(start), 2.0);
    EXPECT_EQ("15\n" + machine.Path("c/WINDOWS") + "\n", machine.Read("c/WINDOWS/SETUP.LOG"));
}

TEST_F(SetupLaunchTest, ASetupProgramThatOutlivesTheWaitIsLeftRunningWithoutThePause) {
    InstallSetupProgram("sleep 3; echo finished >> SETUP.LOG");
    SetupWaitMilliseconds = 300;
    const auto start = Clock::now();
    EXPECT_FALSE(RunSetupProgram());
    const double waited = SecondsSince(start);
    EXPECT_GE(waited, 0.3);
    EXPECT_LT(waited, 2.0);
    EXPECT_TRUE(WaitUntil([&] {
        return machine.Read("c/WINDOWS/SETUP.LOG").find("finished") != std::string::npos;
    }));
    EXPECT_EQ(1000, SetupWaitLimit);
}

}  // namespace
