// CopyFileA, MoveFileA, CreateDirectoryA, RemoveDirectoryA: placement across drives,
// attributes that travel along, and refusals that leave everything as it was.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "open_handle.h"
#include "scratch_machine.h"

namespace {

// c: fixed, d: a cdrom, e: another fixed drive; one file in use by another program.
std::map<std::string, std::string> Drives(std::map<std::string, std::string> files = {}) {
    files["machine.ini"] = "[drives]\nc=fixed\nd=cdrom\ne=fixed\n[in use]\nC:\\WINDOWS\\busy.vxd\n";
    files["c/WINDOWS/busy.vxd"] = "busy";
    files["c/pkg/drv.vxd"] = std::string("driver\0bytes", 12);
    files["d/cd.inf"] = "from cd";
    files["e/.keep"] = "";
    return files;
}

TEST(CopyFile, CopiesContentsAndAttributesAcrossDrives) {
    ScratchMachine machine(Drives({{"attributes.txt", "00000003\tC:\\pkg\\drv.vxd\n"}}));
    ASSERT_TRUE(CopyFileA("C:\\pkg\\drv.vxd", "E:\\drv.vxd", TRUE));
    EXPECT_EQ(std::string("driver\0bytes", 12), machine.Read("e/drv.vxd"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA("E:\\drv.vxd"));
    ASSERT_TRUE(CopyFileA("D:\\cd.inf", "C:\\WINDOWS\\cd.inf", FALSE));  // reading a cdrom is fine
    ASSERT_TRUE(CopyFileA("D:\\cd.inf", "c:\\windows\\CD.INF", FALSE));  // overwrites in place
    EXPECT_EQ("from cd", machine.Read("c/WINDOWS/cd.inf"));
    // Nothing but the copies appeared.
    EXPECT_EQ((std::vector<std::string>{".keep", "drv.vxd"}),
              [&] {
                  std::vector<std::string> names;
                  for (const auto& e : std::filesystem::directory_iterator(machine.Path("e")))
                      names.push_back(e.path().filename().string());
                  std::sort(names.begin(), names.end());
                  return names;
              }());
    EXPECT_EQ("{\"event\":\"file-copy\",\"from\":\"D:\\\\cd.inf\",\"to\":\"C:\\\\WINDOWS\\\\cd.inf\",\"ok\":true}",
              machine.Journal().back());
}

TEST(CopyFile, RefusalsLeaveTheDestinationAlone) {
    ScratchMachine machine(Drives({{"c/WINDOWS/ro.vxd", "old"},
                                   {"c/WINDOWS/open.vxd", "old"},
                                   {"c/pkg/locked.vxd", "l"},
                                   {"attributes.txt", "00000001\tC:\\WINDOWS\\ro.vxd\n"}}));
    OpenHandle open(OpenFile("C:\\WINDOWS\\open.vxd", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    OpenHandle locked(OpenFile("C:\\pkg\\locked.vxd", GENERIC_READ, 0, OPEN_EXISTING));
    ASSERT_TRUE(open.valid() && locked.valid());
    struct Case {
        const char* from;
        const char* to;
        BOOL failIfExists;
        DWORD error;
    } cases[] = {
        {"C:\\pkg\\missing.vxd", "C:\\WINDOWS\\x.vxd", FALSE, ERROR_FILE_NOT_FOUND},
        {"C:\\nodir\\drv.vxd", "C:\\WINDOWS\\x.vxd", FALSE, ERROR_PATH_NOT_FOUND},
        {"C:\\pkg\\drv.vxd", "C:\\WINDOWS\\nodir\\x.vxd", FALSE, ERROR_PATH_NOT_FOUND},
        {"C:\\pkg", "C:\\WINDOWS\\x", FALSE, ERROR_ACCESS_DENIED},
        {"C:\\pkg\\drv.vxd", "C:\\WINDOWS", FALSE, ERROR_ACCESS_DENIED},
        {"C:\\pkg\\drv.vxd", "C:\\WINDOWS\\ro.vxd", TRUE, ERROR_FILE_EXISTS},
        {"C:\\pkg\\drv.vxd", "C:\\WINDOWS\\ro.vxd", FALSE, ERROR_ACCESS_DENIED},
        {"C:\\pkg\\drv.vxd", "C:\\WINDOWS\\busy.vxd", FALSE, ERROR_SHARING_VIOLATION},
        {"C:\\pkg\\drv.vxd", "C:\\WINDOWS\\open.vxd", FALSE, ERROR_SHARING_VIOLATION},
        {"C:\\pkg\\drv.vxd", "C:\\PKG\\DRV.VXD", FALSE, ERROR_SHARING_VIOLATION},
        {"C:\\pkg\\locked.vxd", "C:\\WINDOWS\\x.vxd", FALSE, ERROR_SHARING_VIOLATION},
        {"C:\\pkg\\drv.vxd", "D:\\drv.vxd", FALSE, ERROR_WRITE_PROTECT},
    };
    const auto before = machine.Snapshot();
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(CopyFileA(c.from, c.to, c.failIfExists)) << c.from << " -> " << c.to;
        EXPECT_EQ(c.error, GetLastError()) << c.from << " -> " << c.to;
    }
    EXPECT_EQ(before, machine.Snapshot());
}

TEST(MoveFile, MovesFilesWithTheirAttributesWithinAndAcrossDrives) {
    ScratchMachine machine(Drives({{"attributes.txt", "00000004\tC:\\pkg\\drv.vxd\n"}}));
    ASSERT_TRUE(MoveFileA("C:\\pkg\\drv.vxd", "C:\\pkg\\moved.vxd"));
    ASSERT_TRUE(MoveFileA("C:\\pkg\\moved.vxd", "E:\\moved.vxd"));
    EXPECT_FALSE(machine.Exists("c/pkg/drv.vxd"));
    EXPECT_FALSE(machine.Exists("c/pkg/moved.vxd"));
    EXPECT_EQ(std::string("driver\0bytes", 12), machine.Read("e/moved.vxd"));
    EXPECT_EQ("00000004\tE:\\moved.vxd\n", machine.Read("attributes.txt"));
    // Only the case of the name changes.
    ASSERT_TRUE(MoveFileA("E:\\moved.vxd", "E:\\MOVED.VXD"));
    EXPECT_TRUE(machine.Exists("e/MOVED.VXD"));
    EXPECT_EQ("{\"event\":\"file-move\",\"from\":\"E:\\\\moved.vxd\",\"to\":\"E:\\\\MOVED.VXD\",\"ok\":true}",
              machine.Journal().back());
}

TEST(MoveFile, MovesDirectoriesWithTheAttributesBelowThem) {
    ScratchMachine machine(Drives({{"c/pkg/sub/x.inf", "x"},
                                   {"attributes.txt", "00000002\tC:\\pkg\\sub\\x.inf\n00000001\tC:\\pkg\n"}}));
    ASSERT_TRUE(MoveFileA("C:\\pkg", "C:\\WINDOWS\\pkg2"));
    EXPECT_EQ("x", machine.Read("c/WINDOWS/pkg2/sub/x.inf"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA("C:\\WINDOWS\\pkg2\\sub\\x.inf"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY),
              GetFileAttributesA("C:\\WINDOWS\\pkg2"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\pkg\\sub\\x.inf"));
}

TEST(MoveFile, RefusalsLoseNothing) {
    ScratchMachine machine(Drives({{"c/WINDOWS/there.vxd", "t"},
                                   {"c/pkg/ro.vxd", "r"},
                                   {"attributes.txt", "00000001\tC:\\pkg\\ro.vxd\n"}}));
    OpenHandle open(OpenFile("C:\\pkg\\drv.vxd", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    struct Case {
        const char* from;
        const char* to;
        DWORD error;
    } cases[] = {
        {"C:\\pkg\\missing.vxd", "C:\\x.vxd", ERROR_FILE_NOT_FOUND},
        {"C:\\pkg\\ro.vxd", "C:\\WINDOWS\\there.vxd", ERROR_ALREADY_EXISTS},
        {"C:\\pkg\\ro.vxd", "C:\\nodir\\x.vxd", ERROR_PATH_NOT_FOUND},
        {"D:\\cd.inf", "C:\\cd.inf", ERROR_ACCESS_DENIED},          // cannot delete from a cdrom
        {"C:\\pkg\\ro.vxd", "E:\\ro.vxd", ERROR_ACCESS_DENIED},     // nor a read-only source
        {"C:\\pkg\\ro.vxd", "D:\\ro.vxd", ERROR_WRITE_PROTECT},
        {"C:\\pkg\\drv.vxd", "C:\\x.vxd", ERROR_SHARING_VIOLATION},  // open without share-delete
        {"C:\\WINDOWS\\busy.vxd", "C:\\x.vxd", ERROR_SHARING_VIOLATION},
        {"C:\\pkg", "E:\\pkg", ERROR_ACCESS_DENIED},                // directories keep their drive
        {"C:\\pkg", "C:\\pkg\\inner", ERROR_ACCESS_DENIED},
        {"C:\\WINDOWS", "C:\\WIN", ERROR_ACCESS_DENIED},            // a file below it is in use
        {"C:\\", "C:\\root", ERROR_ACCESS_DENIED},
    };
    const auto before = machine.Snapshot();
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(MoveFileA(c.from, c.to)) << c.from << " -> " << c.to;
        EXPECT_EQ(c.error, GetLastError()) << c.from << " -> " << c.to;
    }
    EXPECT_EQ(before, machine.Snapshot());
    // Within a drive a rename does not delete, so a read-only file may move.
    EXPECT_TRUE(MoveFileA("C:\\pkg\\ro.vxd", "C:\\ro.vxd"));
}

TEST(MoveFile, CopiesAndDeletesWhenTheDrivesAreDifferentHostFileSystems) {
    if (!std::filesystem::is_directory("/dev/shm")) GTEST_SKIP() << "no second file system";
    ScratchMachine machine(Drives());
    char templ[] = "/dev/shm/hostwin-drive-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(templ));
    std::filesystem::remove_all(machine.Path("e"));
    std::filesystem::create_directory_symlink(templ, machine.Path("e"));
    EXPECT_TRUE(MoveFileA("C:\\pkg\\drv.vxd", "E:\\drv.vxd"));
    EXPECT_FALSE(machine.Exists("c/pkg/drv.vxd"));
    EXPECT_EQ(std::string("driver\0bytes", 12), machine.Read("e/drv.vxd"));
    std::filesystem::remove_all(templ);
}

TEST(Directories, CreateAndRemoveAsWindows) {
    ScratchMachine machine(Drives({{"c/full/f.txt", "f"}, {"attributes.txt", "00000001\tC:\\ro\n"}}));
    std::filesystem::create_directory(machine.Path("c/ro"));
    ASSERT_TRUE(CreateDirectoryA("C:\\pellapps", nullptr));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA("C:\\PELLAPPS"));
    ASSERT_TRUE(RemoveDirectoryA("c:\\PellApps"));
    EXPECT_FALSE(machine.Exists("c/pellapps"));
    EXPECT_EQ((std::vector<std::string>{
                  "{\"event\":\"dir-create\",\"path\":\"C:\\\\pellapps\",\"ok\":true}",
                  "{\"event\":\"dir-remove\",\"path\":\"C:\\\\pellapps\",\"ok\":true}"}),
              machine.Journal());

    struct Case {
        bool create;
        std::string path;
        DWORD error;
    } cases[] = {
        {true, "C:\\full", ERROR_ALREADY_EXISTS},
        {true, "C:\\full\\f.txt", ERROR_ALREADY_EXISTS},
        {true, "C:\\none\\sub", ERROR_PATH_NOT_FOUND},
        {true, "D:\\newdir", ERROR_WRITE_PROTECT},
        {true, "C:\\" + std::string(250, 'd'), ERROR_FILENAME_EXCED_RANGE},
        {false, "C:\\full", ERROR_DIR_NOT_EMPTY},
        {false, "C:\\full\\f.txt", ERROR_DIRECTORY},
        {false, "C:\\none", ERROR_FILE_NOT_FOUND},
        {false, "C:\\ro", ERROR_ACCESS_DENIED},
        {false, "C:\\", ERROR_ACCESS_DENIED},
    };
    const auto before = machine.Snapshot();
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.create ? CreateDirectoryA(c.path.c_str(), nullptr) : RemoveDirectoryA(c.path.c_str()))
            << c.path;
        EXPECT_EQ(c.error, GetLastError()) << c.path;
    }
    EXPECT_EQ(before, machine.Snapshot());
}

}  // namespace
