// The cleaner's log, root names and file removal against real files of a machine folder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver_cleaner.h"
#include "scratch_machine.h"

namespace {

std::vector<std::string> logLines;
void Collect(const char* line) { logLines.push_back(line); }

class LoggingCleaner : public ::testing::Test {
protected:
    void SetUp() override {
        logLines.clear();
        cleaner.SetLogCallback(&Collect);
    }
    ScratchMachine machine{{{"c/WINDOWS/INF/BR10X.INF", "x"},
                            {"c/WINDOWS/INF/br10y.inf", "y"},
                            {"c/WINDOWS/INF/br10dir.inf/inside.txt", "d"},
                            {"c/WINDOWS/INF/other.inf", "o"},
                            {"c/WINDOWS/INF/br10busy.inf", "b"},
                            {"attributes.txt", "00000007\tC:\\WINDOWS\\INF\\br10y.inf\n"},
                            {"machine.ini", "[in use]\nC:\\WINDOWS\\INF\\br10busy.inf\n"}}};
    CDriverCleaner cleaner;
};

TEST_F(LoggingCleaner, DeletesEveryMatchingFileAndLogsEach) {
    cleaner.DeleteFilesMatching("C:\\WINDOWS\\INF", "br10*.inf");
    EXPECT_EQ((std::vector<std::string>{"ERROR: Couldn't remove 'C:\\WINDOWS\\INF\\br10busy.inf'",
                                        "--Removed 'C:\\WINDOWS\\INF\\BR10X.INF'",
                                        "--Removed 'C:\\WINDOWS\\INF\\br10y.inf'"}),
              logLines);
    EXPECT_FALSE(machine.Exists("c/WINDOWS/INF/BR10X.INF"));
    EXPECT_FALSE(machine.Exists("c/WINDOWS/INF/br10y.inf"));  // read-only, hidden, system
    EXPECT_TRUE(machine.Exists("c/WINDOWS/INF/br10busy.inf"));
    EXPECT_TRUE(machine.Exists("c/WINDOWS/INF/br10dir.inf/inside.txt"));  // a directory: skipped
    EXPECT_TRUE(machine.Exists("c/WINDOWS/INF/other.inf"));
    EXPECT_EQ(std::string::npos, machine.Read("attributes.txt").find("br10y"));
}

TEST_F(LoggingCleaner, NothingMatchingMeansNoDeletionAndNoLine) {
    const auto before = machine.Snapshot();
    cleaner.DeleteFilesMatching("C:\\WINDOWS\\INF", "nomatch*.inf");
    cleaner.DeleteFilesMatching("C:\\WINDOWS\\MISSING", "*.*");
    EXPECT_TRUE(logLines.empty());
    EXPECT_EQ(before, machine.Snapshot());
}

TEST_F(LoggingCleaner, ASearchTextTooLongIsNotCutButSkipped) {
    // Cut to 259 characters the pattern would end in "br10*" and match more than was named.
    std::string directory = "C:\\WINDOWS\\INF\\" + std::string(240, 'd');
    cleaner.DeleteFilesMatching(directory.c_str(), "br10*.inf");
    std::string longDirectory = "C:\\WINDOWS\\INF";
    std::string longPattern = "br10*" + std::string(300, '?');
    cleaner.DeleteFilesMatching(longDirectory.c_str(), longPattern.c_str());
    EXPECT_TRUE(logLines.empty());
    EXPECT_TRUE(machine.Exists("c/WINDOWS/INF/BR10X.INF"));
    // A found name that would make the path too long is logged as not removed, and stays.
    directory = "C:\\WINDOWS\\INF\\" + std::string(200, 'd');
    machine.Write("c/WINDOWS/INF/" + std::string(200, 'd') + "/" + std::string(60, 'n'), "");
    cleaner.DeleteFilesMatching(directory.c_str(), "*");
    EXPECT_EQ(std::vector<std::string>{"ERROR: Couldn't remove '" + directory + "\\" + std::string(60, 'n') + "'"}, logLines);
}

TEST_F(LoggingCleaner, LogLinesAreBoundedAndOnlyReachASetCallback) {
    std::string longText(2000, 'x');
    cleaner.Log(longText.c_str());
    ASSERT_EQ(1u, logLines.size());
    EXPECT_EQ(longText, logLines[0]);  // Log passes the text as it is
    cleaner.SetLogCallback(nullptr);
    cleaner.Log("dropped");
    cleaner.DeleteFilesMatching("C:\\WINDOWS\\INF", "BR10X.INF");
    EXPECT_EQ(1u, logLines.size());
    EXPECT_FALSE(machine.Exists("c/WINDOWS/INF/BR10X.INF"));
}

TEST(RootKeyNames, NamesPredefinedRootsAndCopiesBounded) {
    ScratchMachine machine;
    CDriverCleaner cleaner;
    struct Case {
        HKEY root;
        const char* name;
    } cases[] = {{HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},   {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
                 {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"}, {HKEY_USERS, "HKEY_USERS"},
                 {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA"},
                 {HKEY_PERFORMANCE_DATA, ""},
                 {reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234)), ""}};
    for (const Case& c : cases) {
        char buffer[MAX_PATH];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(static_cast<int>(std::strlen(c.name)),
                  cleaner.GetRootKeyName(c.root, buffer, sizeof buffer));
        EXPECT_STREQ(c.name, buffer);
        EXPECT_EQ('\0', buffer[sizeof buffer - 1]);  // zero-padded to the end
    }
    char small[8];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(10, cleaner.GetRootKeyName(HKEY_USERS, small, 5));
    EXPECT_EQ(0, std::memcmp(small, "HKEY_###", 8));  // five characters, no zero, nothing more
    EXPECT_EQ(0, cleaner.GetRootKeyName(HKEY_LOCAL_MACHINE, nullptr, 0));
    EXPECT_EQ(18, cleaner.GetRootKeyName(HKEY_LOCAL_MACHINE, nullptr, MAX_PATH));  // nothing copied
}

TEST(CleanerLife, TakesTheWindowsDirectoryOfTheMachine) {
    ScratchMachine machine({{"machine.ini", "[system]\nwindir=D:\\WIN98\n"}});
    struct Probe : CDriverCleaner {
        using CDriverCleaner::WindowsDirectory;
    } cleaner;
    ASSERT_NE(nullptr, cleaner.WindowsDirectory());
    EXPECT_STREQ("D:\\WIN98", cleaner.WindowsDirectory());
}

TEST(CleanerLife, AWindowsDirectoryThatDoesNotFitLeavesNone) {
    ScratchMachine machine({{"machine.ini", "[system]\nwindir=C:\\" + std::string(300, 'W') + "\n"}});
    struct Probe : CDriverCleaner {
        using CDriverCleaner::WindowsDirectory;
    } cleaner;
    EXPECT_EQ(nullptr, cleaner.WindowsDirectory());
}

}  // namespace
