// The machine folder: opening it, machine.ini, attributes.txt and the version records.
#include <windows.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "hostwin/attributes.h"
#include "hostwin.h"
#include "hostwin/machine_settings.h"
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

// Every malformed line of machine.ini or attributes.txt stops the opening with the file and
// the line (both lines for anything listed twice).
TEST(MachineFolder, BadSettingsNameTheFileAndLine) {
    struct Case {
        const char* file;
        std::string text;
        const char* expected;
    } cases[] = {
        {"machine.ini", "[system]\nversion=win31\n", "machine.ini line 2: unknown version 'win31'"},
        {"machine.ini", "version=win98\n", "machine.ini line 1: a line outside any [section]"},
        {"machine.ini", "[system\n", "machine.ini line 1: section header without ']'"},
        {"machine.ini", "[system] version=win98\n", "machine.ini line 1: text after the section header"},
        {"machine.ini", "[in-use]\n", "machine.ini line 1: unknown section [in-use]"},
        {"machine.ini", "\n[system]\nwindir=WINDOWS\n", "machine.ini line 3: windir must be a full path"},
        {"machine.ini", "[system]\nflavour=blue\n", "machine.ini line 2: unknown setting 'flavour'"},
        {"machine.ini", "[system]\n=win98\n", "machine.ini line 2: a setting without a name"},
        {"machine.ini", std::string("[system]\nversion=win98\0\n", 24), "machine.ini line 2: a control character"},
        {"machine.ini", "[system]\nversion=win95\n[drives]\n[SYSTEM]\nversion=win98\n",
         "machine.ini line 4: section [SYSTEM] appears twice, in line 1 and line 4"},
        {"machine.ini", "[system]\nversion=win95\nVersion=win98 ; later\n",
         "machine.ini line 3: 'Version' appears twice in [system], in line 2 and line 3"},
        {"machine.ini", "[in use]\nC:\\WINDOWS\\X.VXD\n\nc:/windows/system/../x.vxd.\n",
         "machine.ini line 4: C:\\windows\\x.vxd appears twice in [in use], in line 2 and line 4"},
        {"machine.ini", "[in use]\nWINDOWS\\X.VXD\n", "machine.ini line 2: expected a full Windows path"},
        {"machine.ini", "[drives]\nc=fixed\nC=cdrom\n", "machine.ini line 3: 'C' appears twice in [drives]"},
        {"machine.ini", "[drives]\ncd=cdrom\n", "machine.ini line 2: 'cd' is not a drive letter"},
        {"machine.ini", "[drives]\nc=floppy\n", "machine.ini line 2: a drive is removable, fixed"},
        {"machine.ini", "[devices]\nbr10core.vxd=present\n",
         "machine.ini line 2: a device is installed or missing, not 'present'"},
        {"machine.ini", "[devices]\nbr10core.vxd=installed\nBR10CORE.VXD=missing\n",
         "machine.ini line 3: 'BR10CORE.VXD' appears twice in [devices], in line 2 and line 3"},
        {"machine.ini", "[devices]\nbr10core.vxd=installed\nbr10core.vxd.answer.0x1=0x100000000\n",
         "machine.ini line 3: expected a 32-bit word"},
        {"machine.ini", "[programs]\nC:\\SETUP.EXE=500\n", "machine.ini line 2: unknown setting '.exe'"},
        {"machine.ini", "[programs]\nSETUP.EXE.runs=5\n", "machine.ini line 2: expected a full Windows path"},
        {"machine.ini", "[programs]\nC:\\SETUP.EXE.runs=-1\n", "machine.ini line 2: runs must be milliseconds"},
        {"machine.ini", "[programs]\nC:\\SETUP.EXE.exit=256\n", "machine.ini line 2: exit must be a code from 0 to 255"},
        {"machine.ini", "[programs]\nC:\\SETUP.EXE.log=..\\X.LOG\n", "machine.ini line 2: log must be a file name"},
        {"machine.ini", "[programs]\nC:\\SETUP.EXE\n", "machine.ini line 2: expected PATH.runs"},
        {"machine.ini", "[programs]\nC:\\SETUP.EXE.exit=1\nc:/x/../setup.exe.EXIT=2\n",
         "machine.ini line 3: C:\\setup.exe.exit appears twice in [programs], in line 2 and line 3"},
        {"attributes.txt", "zz\tC:\\X\n", "attributes.txt line 1: expected 1 to 8 hex digits"},
        {"attributes.txt", "00000001 C:\\X\n", "attributes.txt line 1: expected 1 to 8 hex digits"},
        {"attributes.txt", "-1\tC:\\X\n", "attributes.txt line 1: expected 1 to 8 hex digits"},
        {"attributes.txt", "0x1\tC:\\X\n", "attributes.txt line 1: expected 1 to 8 hex digits"},
        {"attributes.txt", "100000000\tC:\\X\n", "attributes.txt line 1: expected 1 to 8 hex digits"},
        {"attributes.txt", "; read-only\n 1\tC:\\X\n", "attributes.txt line 2: expected 1 to 8 hex digits"},
        {"attributes.txt", "1\tX.INF\n", "attributes.txt line 1: expected 1 to 8 hex digits"},
        {"attributes.txt", std::string("1\tC:\\X\0Y\n", 9), "attributes.txt line 1: expected 1 to 8 hex"},
        {"attributes.txt", "1\tC:\\WINDOWS\\X\n2\tc:/windows/inf/../x\n",
         "attributes.txt line 2: C:\\windows\\x is listed twice, in line 1 and line 2"},
    };
    for (const Case& c : cases) {
        std::string error = OpenError({{c.file, c.text}});
        EXPECT_NE(std::string::npos, error.find(c.expected)) << c.text << " -> " << error;
    }
}

// The machine's own files come from wherever the folder came from: anything but a regular file
// (a link, a FIFO, a directory) or a file past its size limit is refused with its name, and
// never waited on, followed or read without end.
TEST(MachineFolder, MachineFilesMustBeRegularFilesOfBoundedSize) {
    const char* files[] = {"machine.ini", "attributes.txt", "registry.reg", "journal.jsonl",
                           "shortnames.txt"};
    const char* kinds[] = {"FIFO", "directory", "symbolic link", "device"};
    for (const char* file : files) {
        for (const char* kind : kinds) {
            ScratchMachine machine({}, false);
            const std::string path = machine.Path(file);
            const std::string k = kind;
            int made = 0;
            if (k == "FIFO") made = ::mkfifo(path.c_str(), 0644);
            if (k == "directory") made = ::mkdir(path.c_str(), 0755);
            if (k == "symbolic link") made = ::symlink("/dev/zero", path.c_str());
            if (k == "device") made = ::mknod(path.c_str(), S_IFCHR | 0644, makedev(1, 5));
            if (made != 0 && k == "device") continue;  // not allowed in this container
            ASSERT_EQ(0, made) << kind;
            std::string error;
            try {
                hostwin::OpenMachine(machine.Root());
            } catch (const hostwin::MachineError& e) {
                error = e.what();
            }
            EXPECT_NE(std::string::npos, error.find("cannot read " + path + ": it is a " + k))
                << file << " as " << kind << ": " << error;
        }
    }
    EXPECT_NE(std::string::npos,
              OpenError({{"machine.ini", "[system]\n" + std::string(1 << 20, ';') + "\n"}})
                  .find("machine.ini: larger than 1048576 bytes"));
}

std::string ReadSource(const std::string& relative) {
    std::ifstream in(std::string(PELLAM_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The ```ini blocks of a markdown text.
std::vector<std::string> IniBlocks(const std::string& markdown) {
    std::vector<std::string> blocks;
    const std::regex block("```ini\n([\\s\\S]*?)```");
    for (std::sregex_iterator it(markdown.begin(), markdown.end(), block), end; it != end; ++it)
        blocks.push_back((*it)[1]);
    return blocks;
}

// Every settings example of the documentation is read as the documentation says: each parses,
// no comment ends up in a value, and the examples mean what their comments tell.
TEST(MachineFolder, DocumentedExamplesParseAsDocumented) {
    int examples = 0;
    std::vector<std::string> docs = {"README.md"};
    for (const auto& entry : std::filesystem::directory_iterator(std::string(PELLAM_SOURCE_DIR) + "/docs"))
        if (entry.path().extension() == ".md") docs.push_back("docs/" + entry.path().filename().string());
    for (const std::string& doc : docs) {
        const std::string markdown = ReadSource(doc);
        for (const std::string& block : IniBlocks(markdown)) {
            ++examples;
            try {
                const hostwin::MachineSettings settings = hostwin::ParseMachineSettings(block, doc);
                for (const hostwin::IniSection& section : settings.ini.sections)
                    for (const hostwin::IniEntry& e : section.entries)
                        EXPECT_EQ(std::string::npos, e.text.find(';')) << doc << ": " << e.text;
            } catch (const hostwin::MachineError& e) {
                ADD_FAILURE() << e.what();
            }
        }
        // Inline attributes.txt lines: `bits<tab>path`.
        const std::regex line("`([0-9A-Fa-f]+\t[^`]*)`");
        for (std::sregex_iterator it(markdown.begin(), markdown.end(), line), end; it != end; ++it) {
            ++examples;
            EXPECT_NO_THROW(hostwin::ParseAttributes((*it)[1], doc)) << (*it)[1];
        }
    }
    EXPECT_GE(examples, 3);

    const std::vector<std::string> readme = IniBlocks(ReadSource("docs/hostwin.md"));
    ASSERT_FALSE(readme.empty());
    ScratchMachine machine{{"machine.ini", readme[0]}, {"c/WINDOWS/SYSTEM/MOTVCD.VXD", "x"}};
    char dir[MAX_PATH];
    EXPECT_EQ(10u, GetWindowsDirectoryA(dir, sizeof dir));
    EXPECT_STREQ("C:\\WINDOWS", dir);
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\SYSTEM\\MOTVCD.VXD"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_EQ(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeA("C:\\"));

    const std::vector<std::string> upgrade = IniBlocks(ReadSource("docs/upgrade.md"));
    ASSERT_FALSE(upgrade.empty());
    ScratchMachine package{{"machine.ini", upgrade[0]}};
    HANDLE device = CreateFileA("\\\\.\\br10setp.vxd", 0, 0, nullptr, 0, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    DWORD word = 0, bytes = 0;
    EXPECT_TRUE(DeviceIoControl(device, 0x10004, nullptr, 0, &word, sizeof word, &bytes, nullptr));
    EXPECT_EQ(0x1234u, word);
    CloseHandle(device);
}

// Paths in [in use] and attributes.txt name a file in any form that names it on Windows.
TEST(MachineFolder, SettingsPathsMatchInEveryForm) {
    ScratchMachine machine{{"machine.ini", "[in use]\nc:/windows/inf/../system/./busy.vxd.  ; open\n"},
                           {"attributes.txt", "1\tC:\\Windows\\.\\INF\\\\RO.INF\n"},
                           {"c/WINDOWS/SYSTEM/BUSY.VXD", "x"},
                           {"c/WINDOWS/INF/RO.INF", "x"}};
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\SYSTEM\\BUSY.VXD"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesA("c:\\windows\\inf\\ro.inf"));
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\INF\\RO.INF"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(SetFileAttributesA("C:\\WINDOWS\\INF\\RO.INF", FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\INF\\RO.INF"));
    hostwin::SyncMachine();
    EXPECT_EQ("", machine.Read("attributes.txt"));
}

// Write-backs go through a new temporary file of unpredictable name, so a link planted under
// the name of an earlier scheme or left by a killed run is never written through; temporary
// files of processes that no longer run are removed when a machine opens.
TEST(MachineFolder, TemporaryFilesAreNewAndStaleOnesGo) {
    ScratchMachine machine({{"registry.reg", "REGEDIT4\n"}}, false);
    const std::string outside = machine.Path("outside.txt");
    machine.Write("outside.txt", "host file");
    pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_GT(dead, 0);
    ::waitpid(dead, nullptr, 0);
    const std::string own = "registry.reg.tmp." + std::to_string(::getpid());
    const std::string stale = "attributes.txt.tmp." + std::to_string(dead) + ".00c0ffee";
    const std::string live = "registry.reg.tmp." + std::to_string(::getppid()) + ".0badcafe";
    ASSERT_EQ(0, ::symlink(outside.c_str(), machine.Path(own).c_str()));
    machine.Write(stale, "half");
    machine.Write(live, "being written");
    hostwin::OpenMachine(machine.Root());
    EXPECT_FALSE(machine.Exists(own));
    EXPECT_FALSE(machine.Exists(stale));
    EXPECT_TRUE(machine.Exists(live));

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\X", &key));
    RegCloseKey(key);
    ASSERT_EQ(0, ::symlink(outside.c_str(), machine.Path(own).c_str()));
    EXPECT_NE(std::string::npos, machine.RegistryText().find("[HKEY_LOCAL_MACHINE\\Software\\X]"));
    EXPECT_EQ("host file", machine.Read("outside.txt"));
    struct stat st;
    ASSERT_EQ(0, ::lstat(machine.Path("registry.reg").c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    int temporaries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(machine.Root()))
        temporaries += entry.path().filename().string().find(".tmp.") != std::string::npos;
    EXPECT_EQ(2, temporaries);  // the live process's and the planted link
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
