// Running the driver setup program: missing, ending in time, outliving the wait.
#include "setup_launch.h"

#include <sys/stat.h>

#include "upgrade_fixture.h"
#include "upgrade_flow.h"

namespace {

using Clock = std::chrono::steady_clock;

class SetupLaunchTest : public UpgradeTest {
protected:
    // A setup program that records its arguments and then runs the given shell text.
    void InstallSetupProgram(const std::string& then) {
        machine.Write("c/WINDOWS/br10setp.exe",
                      "#!/bin/sh\necho \"$@\" >> SETUP.LOG\npwd >> SETUP.LOG\n" + then + "\n");
        ASSERT_EQ(0, ::chmod(machine.Path("c/WINDOWS/br10setp.exe").c_str(), 0755));
        PrepareUpgrade();
    }
    static double SecondsSince(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }
    ScratchMachine machine;
};

TEST_F(SetupLaunchTest, WithoutASetupProgramNothingRunsAndNothingWaits) {
    PrepareUpgrade();
    const auto start = Clock::now();
    EXPECT_FALSE(RunSetupProgram());
    EXPECT_LT(SecondsSince(start), 1.0);
    const auto starts = EventsOf(machine, "process-start");
    ASSERT_EQ(1u, starts.size());
    EXPECT_NE(std::string::npos, starts[0].find("\"ok\":false,\"error\":2"));
}

TEST_F(SetupLaunchTest, ASetupProgramThatEndsIsFollowedByTheTwoSecondPause) {
    InstallSetupProgram("exit 3");
    const auto start = Clock::now();
    EXPECT_TRUE(RunSetupProgram());
    EXPECT_GE(SecondsSince(start), 2.0);
    // Started hidden with "15", in the Windows directory.
    EXPECT_EQ("15\n" + machine.Path("c/WINDOWS") + "\n", machine.Read("c/WINDOWS/SETUP.LOG"));
    const auto ends = EventsOf(machine, "process-end");
    ASSERT_EQ(1u, ends.size());
    EXPECT_NE(std::string::npos, ends[0].find("\"code\":3"));
}

TEST_F(SetupLaunchTest, ASetupProgramThatOutlivesTheWaitIsLeftRunningWithoutThePause) {
    InstallSetupProgram("sleep 3; echo finished >> SETUP.LOG");
    SetupWaitMilliseconds = 300;
    const auto start = Clock::now();
    EXPECT_FALSE(RunSetupProgram());
    const double waited = SecondsSince(start);
    EXPECT_GE(waited, 0.3);
    EXPECT_LT(waited, 2.0);
    EXPECT_TRUE(EventsOf(machine, "process-end").empty());
    // Still running after the wait gave up: it finishes on its own.
    EXPECT_TRUE(WaitUntil([&] {
        return machine.Read("c/WINDOWS/SETUP.LOG").find("finished") != std::string::npos;
    }));
    EXPECT_EQ(1000, SetupWaitLimit);
}

TEST_F(SetupLaunchTest, AWaitOfZeroStartsWithoutWaiting) {
    InstallSetupProgram("sleep 1");
    const auto start = Clock::now();
    EXPECT_TRUE(RunProgram(SetupProgramPath, "a \"b c\"", 0));
    EXPECT_LT(SecondsSince(start), 0.9);
    EXPECT_TRUE(WaitUntil([&] { return machine.Exists("c/WINDOWS/SETUP.LOG"); }));
    EXPECT_EQ(0u, machine.Read("c/WINDOWS/SETUP.LOG").find("a b c\n"));
}

TEST_F(SetupLaunchTest, AFileThatIsNoHostProgramEndsAtOnce) {
    machine.Write("c/WINDOWS/br10setp.exe", "MZ placeholder");
    PrepareUpgrade();
    EXPECT_TRUE(RunProgram(SetupProgramPath, "15", 1000));
}

}  // namespace
