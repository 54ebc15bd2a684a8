// Short (8.3) aliases of long names: how they are made, matched by searches, reported in
// cAlternateFileName, used to open, delete and move files, and kept for a file's life.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "open_handle.h"
#include "scratch_machine.h"

namespace {

// Long name -> alias, for every entry of the search (the alias "" when the name is 8.3).
std::map<std::string, std::string> Search(const char* pattern) {
    std::map<std::string, std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) return found;
    do found[data.cFileName] = data.cAlternateFileName;
    while (FindNextFileA(h, &data));
    FindClose(h);
    return found;
}

class ShortNames : public ::testing::Test {
protected:
    ScratchMachine machine{{{"c/X/br10codec.info", "codec"},
                            {"c/X/br10core.inf", "core"},
                            {"c/X/Program Files/a.txt", "a"},
                            {"c/X/readme.html", "r"},
                            {"c/X/a+b c.txt", "ab"},
                            {"c/X/.profile", "p"},
                            {"c/X/longname1.txt", "1"},
                            {"c/X/longname2.txt", "2"},
                            {"c/X/LONGNA~3.TXT", "a short name that looks like an alias"}}};
};

TEST_F(ShortNames, AreMadeAsWindowsMakesThemAndMatchedByPatterns) {
    EXPECT_EQ((std::map<std::string, std::string>{{".", ""},
                                                  {"..", ""},
                                                  {".profile", "PROFIL~1"},
                                                  {"a+b c.txt", "A_BC~1.TXT"},
                                                  {"br10codec.info", "BR10CO~1.INF"},
                                                  {"br10core.inf", ""},
                                                  {"LONGNA~3.TXT", ""},
                                                  {"longname1.txt", "LONGNA~1.TXT"},
                                                  {"longname2.txt", "LONGNA~2.TXT"},
                                                  {"Program Files", "PROGRA~1"},
                                                  {"readme.html", "README~1.HTM"}}),
              Search("C:\\X\\*"));
    // A pattern matches the long name or the alias.
    const struct { const char* pattern; std::map<std::string, std::string> found; } cases[] = {
        {"C:\\X\\br10*.inf", {{"br10codec.info", "BR10CO~1.INF"}, {"br10core.inf", ""}}},
        {"C:\\X\\*.htm", {{"readme.html", "README~1.HTM"}}},
        {"C:\\X\\progra~1", {{"Program Files", "PROGRA~1"}}},
        {"C:\\X\\*~2*", {{"longname2.txt", "LONGNA~2.TXT"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.found, Search(c.pattern)) << c.pattern;
}

TEST_F(ShortNames, NameTheirFilesAndStayForTheFilesLife) {
    // Opened, searched below and deleted by alias.
    OpenHandle file(OpenFile("c:\\x\\br10co~1.inf", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    ASSERT_TRUE(file.valid());
    file.Close();
    EXPECT_EQ("a.txt", Search("C:\\X\\PROGRA~1\\*.txt").begin()->first);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), GetFileAttributesA("C:\\X\\README~1.HTM"));
    ASSERT_TRUE(DeleteFileA("C:\\X\\LONGNA~1.TXT"));
    EXPECT_FALSE(machine.Exists("c/X/longname1.txt"));
    // The other alias stays; a new name takes the first free number; a name that is an
    // alias already names its file.
    EXPECT_EQ("LONGNA~2.TXT", Search("C:\\X\\longname2.txt")["longname2.txt"]);
    OpenHandle created(OpenFile("C:\\X\\longname0.txt", GENERIC_WRITE, 0, CREATE_NEW));
    ASSERT_TRUE(created.valid());
    created.Close();
    EXPECT_EQ("LONGNA~1.TXT", Search("C:\\X\\longname0.txt")["longname0.txt"]);
    SetLastError(0);
    EXPECT_FALSE(OpenHandle(OpenFile("C:\\X\\LONGNA~2.TXT", GENERIC_WRITE, 0, CREATE_NEW)).valid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
    // Moves and copies make new aliases where the file arrives.
    ASSERT_TRUE(CreateDirectoryA("C:\\Y", nullptr));
    ASSERT_TRUE(CopyFileA("C:\\X\\LONGNA~2.TXT", "C:\\Y\\longname2.txt", TRUE));
    ASSERT_TRUE(MoveFileA("C:\\X\\BR10CO~1.INF", "C:\\Y\\longname1.txt"));
    EXPECT_EQ((std::map<std::string, std::string>{{"longname1.txt", "LONGNA~2.TXT"},
                                                  {"longname2.txt", "LONGNA~1.TXT"}}),
              Search("C:\\Y\\*.txt"));
    EXPECT_EQ("codec", machine.Read("c/Y/longname1.txt"));
    // A moved folder keeps the aliases of what it holds.
    machine.Write("c/X/Program Files/long name.txt", "l");
    OpenHandle second(OpenFile("C:\\X\\PROGRA~1\\long name2.txt", GENERIC_WRITE, 0, CREATE_NEW));
    ASSERT_TRUE(second.valid());
    second.Close();
    ASSERT_TRUE(DeleteFileA("C:\\X\\Program Files\\long name.txt"));
    ASSERT_TRUE(MoveFileA("C:\\X\\Program Files", "C:\\Y\\Programs and more"));
    EXPECT_EQ((std::map<std::string, std::string>{{"long name2.txt", "LONGNA~2.TXT"}}),
              Search("C:\\Y\\PROGRA~1\\long*"));
}

}  // namespace
