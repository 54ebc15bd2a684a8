// FindFirstFileA / FindNextFileA: Windows wildcard rules, "." and "..", case-insensitive paths.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scratch_machine.h"

namespace {

std::vector<std::string> FindAll(const char* pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileA(h, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
    EXPECT_TRUE(FindClose(h));
    return names;
}

class FileFind : public ::testing::Test {
protected:
    ScratchMachine machine{{{"c/WINDOWS/INF/BR10CORE.INF", "a"},
                            {"c/WINDOWS/INF/br10mm.inf", "b"},
                            {"c/WINDOWS/INF/Other/brl1.inf", "c"},
                            {"c/WINDOWS/INF/readme", "d"},
                            {"c/WINDOWS/INF/br10x.txt", "e"},
                            {"c/top.txt", "f"}}};
};

TEST_F(FileFind, PatternsFollowWindowsWildcardRules) {
    struct Case {
        const char* pattern;
        std::vector<std::string> expected;
    } cases[] = {
        {"C:\\WINDOWS\\INF\\br10*.inf", {"BR10CORE.INF", "br10mm.inf"}},
        {"c:/windows/inf/BR10*.INF", {"BR10CORE.INF", "br10mm.inf"}},
        {"C:\\WINDOWS\\INF\\*.*", {".", "..", "BR10CORE.INF", "br10mm.inf", "br10x.txt", "Other", "readme"}},
        {"C:\\WINDOWS\\INF\\*", {".", "..", "BR10CORE.INF", "br10mm.inf", "br10x.txt", "Other", "readme"}},
        {"C:\\WINDOWS\\INF\\readme.*", {"readme"}},
        {"C:\\WINDOWS\\INF\\br10????.inf", {"BR10CORE.INF"}},
        {"C:\\WINDOWS\\INF\\br10mm.inf", {"br10mm.inf"}},
        {"C:\\WINDOWS\\INF\\OTHER", {"Other"}},
        {"C:\\*.*", {"top.txt", "WINDOWS"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> found = FindAll(c.pattern);
        std::vector<std::string> expected = c.expected;
        std::sort(found.begin(), found.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, found) << c.pattern;
    }
}

TEST_F(FileFind, ReportsErrorsAsWindowsDoes) {
    WIN32_FIND_DATAA data;
    struct Case {
        const char* pattern;
        DWORD error;
    } cases[] = {
        {"C:\\WINDOWS\\INF\\nothing*.inf", ERROR_FILE_NOT_FOUND},
        {"C:\\WINDOWS\\NOPE\\*.*", ERROR_PATH_NOT_FOUND},
        {"Q:\\*.*", ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS\\INF\\", ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA(c.pattern, &data)) << c.pattern;
        EXPECT_EQ(c.error, GetLastError()) << c.pattern;
    }
    std::string longPath = "C:\\" + std::string(300, 'a') + "\\*.*";
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA(longPath.c_str(), &data));
}

TEST_F(FileFind, EntriesDeletedDuringTheSearchAreNotReported) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\WINDOWS\\INF\\br10*.*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_STREQ("BR10CORE.INF", data.cFileName);
    ASSERT_TRUE(DeleteFileA("C:\\WINDOWS\\INF\\br10mm.inf"));
    ASSERT_TRUE(FindNextFileA(h, &data));
    EXPECT_STREQ("br10x.txt", data.cFileName);
    EXPECT_FALSE(FindNextFileA(h, &data));
    FindClose(h);
}

}  // namespace
