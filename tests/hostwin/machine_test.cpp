// The machine folder: opening it, machine.ini, attributes.txt and the version records.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "hostwin.h"
#include "scratch_machine.h"

namespace {

std::string OpenError(const std::map<std::string, std::string>& files) {
    ScratchMachine machine(files, false);
    try {
        hostwin::OpenMachine(machine.Root());
    } catch (const hostwin::MachineError& e) {
        return e.what();
    }
    return "";
}

TEST(MachineFolder, BadSettingsNameTheFileAndLine) {
    struct Case {
        const char* file;
        const char* text;
        const char* expected;
    } cases[] = {
        {"machine.ini", "[system]\nversion=win31\n", "machine.ini line 2: unknown version 'win31'"},
        {"machine.ini", "version=win98\n", "machine.ini line 1: a line outside any [section]"},
        {"machine.ini", "[system\n", "machine.ini line 1: section header without ']'"},
        {"machine.ini", "\n[system]\nwindir=WINDOWS\n", "machine.ini line 3: windir must be a full path"},
        {"machine.ini", "[system]\nflavour=blue\n", "machine.ini line 2: unknown setting 'flavour'"},
        {"attributes.txt", "zz\tC:\\X\n", "attributes.txt line 1: expected hex bits"},
        {"attributes.txt", "00000001 C:\\X\n", "attributes.txt line 1: expected hex bits"},
    };
    for (const Case& c : cases) {
        std::string error = OpenError({{c.file, c.text}});
        EXPECT_NE(std::string::npos, error.find(c.expected)) << error;
    }
}

TEST(MachineFolder, AMissingFolderIsRefused) {
    EXPECT_THROW(hostwin::OpenMachine("/nonexistent/machine/folder"), hostwin::MachineError);
}

TEST(MachineFolder, NoSettingsMeanCWindows) {
    ScratchMachine machine;
    char dir[MAX_PATH];
    EXPECT_EQ(10u, GetWindowsDirectoryA(dir, sizeof dir));
    EXPECT_STREQ("C:\\WINDOWS", dir);
    EXPECT_EQ(11u, GetWindowsDirectoryA(dir, 10));  // too small: the size needed
}

TEST(MachineFolder, VersionRecordsMatchTheReleases) {
    struct Case {
        const char* version;
        DWORD platform, major, minor, buildLow;
    } cases[] = {{nullptr, 1, 4, 10, 1998},  // no machine.ini: Windows 98
                 {"win95", 1, 4, 0, 950},   {"win98", 1, 4, 10, 1998},    {"winme", 1, 4, 90, 3000},
                 {"nt4", 2, 4, 0, 1381},    {"win2000", 2, 5, 0, 2195},   {"WinXP", 2, 5, 1, 2600}};
    for (const Case& c : cases) {
        ScratchMachine machine(c.version ? ScratchMachine::Files{{"machine.ini", std::string("[system]\nversion=") + c.version + "\n"}}
                                         : ScratchMachine::Files{});
        OSVERSIONINFOA v = {};
        v.dwOSVersionInfoSize = sizeof v;
        ASSERT_TRUE(GetVersionExA(&v));
        const char* name = c.version ? c.version : "default";
        EXPECT_EQ(c.platform, v.dwPlatformId) << name;
        EXPECT_EQ(c.major, v.dwMajorVersion) << name;
        EXPECT_EQ(c.minor, v.dwMinorVersion) << name;
        EXPECT_EQ(c.buildLow, v.dwBuildNumber & 0xFFFF) << name;
        v.dwOSVersionInfoSize = 100;
        EXPECT_FALSE(GetVersionExA(&v));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    }
}

TEST(Security, ThreadTokensAnswerByFamily) {
    struct Case {
        const char* version;
        DWORD error;
    } cases[] = {{"win95", ERROR_CALL_NOT_IMPLEMENTED}, {"win98", ERROR_CALL_NOT_IMPLEMENTED},
                 {"nt4", ERROR_NO_TOKEN}, {"winxp", ERROR_NO_TOKEN}};
    for (const Case& c : cases) {
        ScratchMachine machine({{"machine.ini", std::string("[system]\nversion=") + c.version + "\n"}});
        HANDLE token = reinterpret_cast<HANDLE>(1);
        EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES, FALSE, &token));
        EXPECT_EQ(c.error, GetLastError()) << c.version;
        EXPECT_EQ(nullptr, token);
        EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
        ASSERT_EQ(1u, machine.Journal().size());
        EXPECT_EQ("{\"event\":\"restart\",\"flags\":2,\"reserved\":0}", machine.Journal()[0]);
    }
}

TEST(Journal, EscapesEightBitAndControlBytes) {
    ScratchMachine machine;
    ::setenv("HOSTWIN_ANSWERS", "ok", 1);
    MessageBoxA(nullptr, "caf\xe9 \"q\"\n\\", "T\x01", MB_OK);
    ::unsetenv("HOSTWIN_ANSWERS");
    ASSERT_EQ(1u, machine.Journal().size());
    EXPECT_EQ(
        "{\"event\":\"msgbox\",\"caption\":\"T\\u0001\",\"text\":\"caf\\u00E9 \\\"q\\\"\\n\\\\\","
        "\"style\":0,\"answer\":\"ok\"}",
        machine.Journal()[0]);
}

}  // namespace
