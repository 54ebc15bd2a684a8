// How Windows paths land on the machine folder: drives, case, relative forms, limits.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "scratch_machine.h"

namespace {

TEST(WindowsPaths, ResolveCaseInsensitivelyInEveryForm) {
    ScratchMachine machine({{"c/WINDOWS/SYSTEM/Motvcd.VXD", "m"}, {"d/setup.exe", "s"}});
    for (const char* path : {"C:\\WINDOWS\\SYSTEM\\MOTVCD.VXD", "c:/windows/system/motvcd.vxd",
                             "C:\\WINDOWS\\INF\\..\\SYSTEM\\.\\motvcd.vxd",
                             "C:\\WINDOWS\\SYSTEM\\motvcd.vxd.", "\\WINDOWS\\SYSTEM\\motvcd.vxd"})
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path)) << path;
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("D:\\SETUP.EXE"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA("C:\\"));
}

TEST(WindowsPaths, FailWithTheErrorsWindowsGives) {
    ScratchMachine machine({{"c/WINDOWS/SYSTEM/x.vxd", "x"}});
    struct Case {
        std::string path;
        DWORD error;
    } cases[] = {
        {"C:\\WINDOWS\\SYSTEM\\missing.vxd", ERROR_FILE_NOT_FOUND},
        {"C:\\WINDOWS\\NOPE\\x.vxd", ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS\\SYSTEM\\x.vxd\\deeper", ERROR_PATH_NOT_FOUND},
        {"E:\\x", ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS\\a|b", ERROR_INVALID_NAME},
        {"C:\\WINDOWS\\*.vxd", ERROR_INVALID_NAME},
        {"", ERROR_PATH_NOT_FOUND},
        {"C:\\" + std::string(257, 'a'), ERROR_FILENAME_EXCED_RANGE},
        {"C:\\WINDOWS\\" + std::string(250, 'a') + "\\x", ERROR_FILENAME_EXCED_RANGE},
        {"C:\\" + std::string(250, 'a'), ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(c.path.c_str())) << c.path;
        EXPECT_EQ(c.error, GetLastError()) << c.path;
    }
}

TEST(FileAttributes, AreKeptByTheLayerAndDecideDeletion) {
    ScratchMachine machine({{"c/WINDOWS/ro.txt", "r"}, {"c/WINDOWS/plain.txt", "p"}});
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), GetFileAttributesA("C:\\WINDOWS\\ro.txt"));
    ASSERT_TRUE(SetFileAttributesA("c:\\windows\\RO.TXT", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ("00000003\tC:\\WINDOWS\\ro.txt\n", machine.Read("attributes.txt"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              GetFileAttributesA("C:\\WINDOWS\\ro.txt"));
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\ro.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\ro.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ("", machine.Read("attributes.txt"));
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\ro.txt"));
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\ro.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST(FileAttributes, InUseFilesCannotBeDeletedAndDeletionsAreJournaled) {
    ScratchMachine machine({{"c/WINDOWS/busy.vxd", "b"},
                            {"c/WINDOWS/free.vxd", "f"},
                            {"machine.ini", "[in use]\nc:\\windows\\BUSY.VXD\n"}});
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\busy.vxd"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\free.vxd"));
    EXPECT_EQ((std::vector<std::string>{
                  "{\"event\":\"file-delete\",\"path\":\"C:\\\\WINDOWS\\\\busy.vxd\",\"ok\":false,\"error\":32}",
                  "{\"event\":\"file-delete\",\"path\":\"C:\\\\WINDOWS\\\\free.vxd\",\"ok\":true}"}),
              machine.Journal());
}

}  // namespace
