// CopyFileA, MoveFileA, CreateDirectoryA, RemoveDirectoryA: placement across drives,
// attributes that travel along, and refusals that leave everything as it was.
#include <windows.h>

#include <gtest/gtest.h>

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
    const size_t files = machine.Snapshot().size();
    ASSERT_TRUE(CopyFileA("C:\\pkg\\drv.vxd", "E:\\drv.vxd", TRUE));
    EXPECT_EQ(std::string("driver\0bytes", 12), machine.Read("e/drv.vxd"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA("E:\\drv.vxd"));
    machine.Write("c/WINDOWS/cd.inf", "old");
    ASSERT_TRUE(CopyFileA("D:\\cd.inf", "c:\\windows\\CD.INF", FALSE));  // overwrites in place
    EXPECT_EQ("from cd", machine.Read("c/WINDOWS/cd.inf"));
    // Every file of a cdrom is read-only, and so is its copy.
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesA("C:\\WINDOWS\\cd.inf"));
    EXPECT_EQ(files + 2, machine.Snapshot().size());  // nothing but the copies appeared
    EXPECT_EQ("{\"event\":\"file-copy\",\"from\":\"D:\\\\cd.inf\",\"to\":\"C:\\\\WINDOWS\\\\cd.inf\",\"ok\":true}",
              machine.Journal().back());
}

// A cdrom and a write-protected disk: files report and keep their attributes, and every
// change, even one that changes nothing, is refused.
TEST(ReadOnlyMedia, RefuseEveryChange) {
    std::map<std::string, std::string> files = Drives({{"a/disk.txt", "floppy"}, {"d/DIR/x", ""}});
    files["machine.ini"] = "[drives]\nc=fixed\nd=cdrom\na=removable write-protected\n";
    ScratchMachine machine(files);
    const struct { const char* path; DWORD reported; DWORD error; } cases[] = {
        {"D:\\cd.inf", FILE_ATTRIBUTE_READONLY, ERROR_ACCESS_DENIED},
        {"D:\\DIR", FILE_ATTRIBUTE_DIRECTORY, ERROR_ACCESS_DENIED},
        {"A:\\disk.txt", FILE_ATTRIBUTE_NORMAL, ERROR_WRITE_PROTECT},
    };
    const auto before = machine.Snapshot();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.reported, GetFileAttributesA(c.path));
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(c.path, &found);
        ASSERT_NE(INVALID_HANDLE_VALUE, search);
        EXPECT_EQ(c.reported, found.dwFileAttributes);
        FindClose(search);
        for (DWORD attributes : {c.reported, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL),
                                 static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN)}) {
            SetLastError(0);
            EXPECT_FALSE(SetFileAttributesA(c.path, attributes));
            EXPECT_EQ(c.error, GetLastError());
        }
    }
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA("A:\\disk.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_PROTECT), GetLastError());
    EXPECT_FALSE(OpenHandle(OpenFile("A:\\disk.txt", GENERIC_WRITE, 0, OPEN_EXISTING)).valid());
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
    ASSERT_TRUE(MoveFileA("E:\\moved.vxd", "E:\\MOVED.VXD"));  // only the case changes
    EXPECT_TRUE(machine.Exists("e/MOVED.VXD"));
    EXPECT_EQ("{\"event\":\"file-move\",\"from\":\"E:\\\\moved.vxd\",\"to\":\"E:\\\\MOVED.VXD\",\"ok\":true}",
              machine.Journal().back());
}

// op: 'c' copies, 'C' copies failing if the destination exists, 'm' moves.
TEST(CopyAndMove, RefusalsLeaveEverythingAsItWas) {
    ScratchMachine machine(Drives({{"c/WINDOWS/ro.vxd", "old"},
                                   {"c/WINDOWS/there.vxd", "t"},
                                   {"c/pkg/ro.vxd", "r"},
                                   {"c/pkg/locked.vxd", "l"},
                                   {"attributes.txt", "00000001\tC:\\WINDOWS\\ro.vxd\n"
                                                      "00000001\tC:\\pkg\\ro.vxd\n"}}));
    OpenHandle locked(OpenFile("C:\\pkg\\locked.vxd", GENERIC_READ, 0, OPEN_EXISTING));
    ASSERT_TRUE(locked.valid());
    const struct { char op; const char* from; const char* to; DWORD error; } cases[] = {
        {'c', "C:\\pkg\\missing.vxd", "C:\\WINDOWS\\x.vxd", ERROR_FILE_NOT_FOUND},
        {'c', "C:\\pkg\\drv.vxd", "C:\\WINDOWS\\nodir\\x.vxd", ERROR_PATH_NOT_FOUND},
        {'c', "C:\\pkg\\drv.vxd", "C:\\WINDOWS", ERROR_ACCESS_DENIED},
        {'C', "C:\\pkg\\drv.vxd", "C:\\WINDOWS\\ro.vxd", ERROR_FILE_EXISTS},
        {'c', "C:\\pkg\\drv.vxd", "C:\\WINDOWS\\ro.vxd", ERROR_ACCESS_DENIED},
        {'c', "C:\\pkg\\drv.vxd", "C:\\WINDOWS\\busy.vxd", ERROR_SHARING_VIOLATION},
        {'c', "C:\\pkg\\drv.vxd", "C:\\PKG\\DRV.VXD", ERROR_SHARING_VIOLATION},  // onto itself
        {'c', "C:\\pkg\\locked.vxd", "C:\\WINDOWS\\x.vxd", ERROR_SHARING_VIOLATION},
        {'c', "C:\\pkg\\drv.vxd", "D:\\drv.vxd", ERROR_WRITE_PROTECT},
        {'m', "C:\\pkg\\missing.vxd", "C:\\x.vxd", ERROR_FILE_NOT_FOUND},
        {'m', "C:\\pkg\\ro.vxd", "C:\\WINDOWS\\there.vxd", ERROR_ALREADY_EXISTS},
        {'m', "C:\\pkg\\ro.vxd", "C:\\nodir\\x.vxd", ERROR_PATH_NOT_FOUND},
        {'m', "D:\\cd.inf", "C:\\cd.inf", ERROR_ACCESS_DENIED},       // cannot delete from a cdrom
        {'m', "C:\\pkg\\ro.vxd", "E:\\ro.vxd", ERROR_ACCESS_DENIED},  // nor a read-only source
        {'m', "C:\\pkg\\ro.vxd", "D:\\ro.vxd", ERROR_WRITE_PROTECT},
        {'m', "C:\\pkg\\locked.vxd", "C:\\x.vxd", ERROR_SHARING_VIOLATION},  // open, no share-delete
        {'m', "C:\\WINDOWS\\busy.vxd", "C:\\x.vxd", ERROR_SHARING_VIOLATION},
        {'m', "C:\\pkg", "E:\\pkg", ERROR_ACCESS_DENIED},      // directories keep their drive
        {'m', "C:\\WINDOWS", "C:\\WIN", ERROR_ACCESS_DENIED},  // a file below it is in use
    };
    const auto before = machine.Snapshot();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, c.op) + " " + c.from + " -> " + c.to);
        SetLastError(0);
        EXPECT_FALSE(c.op == 'm' ? MoveFileA(c.from, c.to) : CopyFileA(c.from, c.to, c.op == 'C'));
        EXPECT_EQ(c.error, GetLastError());
    }
    EXPECT_EQ(before, machine.Snapshot());
    // Within a drive a rename does not delete, so a read-only file may move.
    EXPECT_TRUE(MoveFileA("C:\\pkg\\ro.vxd", "C:\\ro.vxd"));
}

TEST(Directories, CreateAndRemoveAsWindows) {
    ScratchMachine machine(Drives({{"c/full/f.txt", "f"}}));
    std::filesystem::remove(machine.Path("e/.keep"));
    ASSERT_TRUE(CreateDirectoryA("C:\\pellapps", nullptr));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA("C:\\PELLAPPS"));
    ASSERT_TRUE(RemoveDirectoryA("c:\\PellApps"));
    EXPECT_FALSE(machine.Exists("c/pellapps"));
    EXPECT_EQ((std::vector<std::string>{
                  "{\"event\":\"dir-create\",\"path\":\"C:\\\\pellapps\",\"ok\":true}",
                  "{\"event\":\"dir-remove\",\"path\":\"C:\\\\pellapps\",\"ok\":true}"}),
              machine.Journal());
    const struct { bool create; std::string path; DWORD error; } cases[] = {
        {true, "C:\\full", ERROR_ALREADY_EXISTS},
        {true, "D:\\newdir", ERROR_WRITE_PROTECT},
        {true, "C:\\" + std::string(250, 'd'), ERROR_FILENAME_EXCED_RANGE},
        {false, "C:\\full", ERROR_DIR_NOT_EMPTY},
        {false, "E:\\", ERROR_ACCESS_DENIED},  // a drive's root, even when empty
    };
    const auto before = machine.Snapshot();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(0);
        EXPECT_FALSE(c.create ? CreateDirectoryA(c.path.c_str(), nullptr) : RemoveDirectoryA(c.path.c_str()));
        EXPECT_EQ(c.error, GetLastError());
    }
    EXPECT_EQ(before, machine.Snapshot());
}

}  // namespace
