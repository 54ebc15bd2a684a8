// The running program: command line, its tail for WinMain, module path, text functions.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "hostwin.h"
#include "scratch_machine.h"

namespace {

TEST(CommandLine, TailFollowsTheWindowsStartUpRules) {
    struct Case {
        const char* line;
        const char* tail;
    } cases[] = {
        {"\"C:\\WINDOWS\\UNPELLAM.EXE\" now all", "now all"},
        {"\"C:\\Program Files\\x.exe\"   \t now", "now"},
        {"C:\\WINDOWS\\UNPELLAM.EXE silent", "silent"},
        {"unpellam.exe", ""},
        {"\"unterminated quote now", ""},
        {"\"\"now", "now"},
        {"\"C:\\Silent\\unpellam.exe\"now", "now"},
        {"\"C:\\WINDOWS\\UNPELLAM.EXE\"\tsilent ", "silent "},
        {" now", "now"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.tail, hostwin::CommandLineTail(c.line)) << c.line;
}

TEST(CommandLine, IsBuiltFromTheProgramOrTakenFromTheEnvironment) {
    ScratchMachine machine;
    hostwin::SetProgram("/usr/local/bin/unpellam", "now all");
    EXPECT_STREQ("\"C:\\WINDOWS\\unpellam.exe\" now all", GetCommandLineA());
    ::setenv("HOSTWIN_CMDLINE", "C:\\WINDOWS\\UNPELLAM.EXE Silent", 1);
    EXPECT_STREQ("C:\\WINDOWS\\UNPELLAM.EXE Silent", GetCommandLineA());
    ::unsetenv("HOSTWIN_CMDLINE");
    std::string longArgs(5000, 'a');
    hostwin::SetProgram("/usr/local/bin/unpellam", longArgs);
    EXPECT_EQ(std::strlen(GetCommandLineA()), 5000u + 26u);
}

TEST(ModulePath, IsTheExecutablesWindowsPathAndCutToTheBuffer) {
    ScratchMachine machine({{"d/PACKAGE/upgrade.exe", "x"}});
    hostwin::SetProgram(machine.Path("d/PACKAGE/upgrade.exe"), "");
    char path[MAX_PATH];
    EXPECT_EQ(22u, GetModuleFileNameA(nullptr, path, sizeof path));
    EXPECT_STREQ("D:\\PACKAGE\\upgrade.exe", path);
    char small[8];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(5u, GetModuleFileNameA(nullptr, small, 5));
    EXPECT_STREQ("D:\\P", small);
    EXPECT_EQ('#', small[5]);
}

TEST(Text, WsprintfWritesAtMost1024Characters) {
    std::string big(3000, 'x');
    char out[1100];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(1023, wsprintfA(out, "%s", big.c_str()));
    EXPECT_EQ('\0', out[1023]);
    EXPECT_EQ('#', out[1024]);
    EXPECT_EQ(5, lstrlenA("hello"));
    EXPECT_EQ(0, lstrlenA(nullptr));
}

}  // namespace
