// CreateFileA and the file-handle calls: share modes, read-only and in-use files,
// write-protected drives, the file pointer and the journal of changes. The dispositions the
// programs use are run against real files by the mapped-file stream's tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "open_handle.h"
#include "scratch_machine.h"

namespace {

const DWORD kRW = GENERIC_READ | GENERIC_WRITE;

TEST(CreateFile, RefusalsCarryTheWindowsError) {
    ScratchMachine machine({{"c/WINDOWS/ro.txt", "r"},
                            {"c/WINDOWS/busy.vxd", "b"},
                            {"d/setup.inf", "s"},
                            {"attributes.txt", "00000001\tC:\\WINDOWS\\ro.txt\n"},
                            {"machine.ini", "[drives]\nd=cdrom\n[in use]\nC:\\WINDOWS\\busy.vxd\n"}});
    // error ERROR_SUCCESS: the open succeeds.
    struct Case { std::string path; DWORD access, disposition, error; } cases[] = {
        {"C:\\WINDOWS\\NOPE\\x.txt", kRW, OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\" + std::string(300, 'a'), kRW, CREATE_NEW, ERROR_FILENAME_EXCED_RANGE},
        {"C:\\WINDOWS\\x.txt", kRW, 0, ERROR_INVALID_PARAMETER},
        {"C:\\WINDOWS\\ro.txt", GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS},
        {"C:\\WINDOWS\\ro.txt", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\WINDOWS\\ro.txt", GENERIC_READ, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        {"C:\\WINDOWS\\busy.vxd", GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS},
        {"C:\\WINDOWS\\busy.vxd", kRW, OPEN_ALWAYS, ERROR_SHARING_VIOLATION},
        {"D:\\setup.inf", kRW, OPEN_EXISTING, ERROR_WRITE_PROTECT},
        {"D:\\new.inf", kRW, CREATE_NEW, ERROR_WRITE_PROTECT},
    };
    const auto before = machine.Snapshot();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.disposition));
        SetLastError(12345);
        OpenHandle file(OpenFile(c.path.c_str(), c.access, FILE_SHARE_READ, c.disposition));
        EXPECT_EQ(c.error == ERROR_SUCCESS, file.valid());
        if (c.error == ERROR_SUCCESS) continue;
        EXPECT_EQ(c.error, GetLastError());
    }
    EXPECT_EQ(before, machine.Snapshot());
    // Refused changes are journaled; refused reads and bad arguments are not.
    const std::vector<std::string> journal = machine.Journal();
    ASSERT_EQ(5u, journal.size());
    EXPECT_EQ("{\"event\":\"file-write\",\"path\":\"C:\\\\WINDOWS\\\\ro.txt\",\"ok\":false,\"error\":5}",
              journal[0]);
    EXPECT_EQ("{\"event\":\"file-create\",\"path\":\"D:\\\\new.inf\",\"ok\":false,\"error\":19}",
              journal[4]);
}

TEST(CreateFile, ShareModesAreCheckedBothWays) {
    struct Case { DWORD firstAccess, firstShare, secondAccess, secondShare; bool secondOpens; }
        cases[] = {
            {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
            {GENERIC_READ, FILE_SHARE_READ, kRW, FILE_SHARE_READ, false},
            {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, kRW, FILE_SHARE_READ, true},
            {kRW, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_READ, FILE_SHARE_READ, false},
            {kRW, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, false},
            {kRW, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
            {GENERIC_READ, 0, GENERIC_READ, FILE_SHARE_READ, false},
            {0, 0, GENERIC_READ, 0, true},
        };
    ScratchMachine machine({{"c/WINDOWS/f.txt", "x"}});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.firstAccess << "/" << c.firstShare << " then "
                                        << c.secondAccess << "/" << c.secondShare);
        OpenHandle first(OpenFile("C:\\WINDOWS\\f.txt", c.firstAccess, c.firstShare, OPEN_EXISTING));
        ASSERT_TRUE(first.valid());
        SetLastError(0);
        OpenHandle second(OpenFile("c:\\windows\\F.TXT", c.secondAccess, c.secondShare, OPEN_EXISTING));
        EXPECT_EQ(c.secondOpens, second.valid());
        EXPECT_EQ(c.secondOpens ? 0u : static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    }
    // Deleting needs every open to share deletion, which only the NT versions know.
    OpenHandle open(OpenFile("C:\\WINDOWS\\f.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\f.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    EXPECT_FALSE(OpenHandle(OpenFile("C:\\WINDOWS\\f.txt", GENERIC_READ, shareAll, OPEN_EXISTING)).valid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    open.Close();
    ScratchMachine nt({{"c/WINDOWS/f.txt", "x"}, {"machine.ini", "[system]\nversion=nt4\n"}});
    OpenHandle shared(OpenFile("C:\\WINDOWS\\f.txt", GENERIC_READ, shareAll, OPEN_EXISTING));
    ASSERT_TRUE(shared.valid());
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\f.txt"));
}

// Writing behind the end and SetEndOfFile fill with zeros; SetEndOfFile also cuts. A handle's
// changes make one journal line; an open that writes nothing makes none.
TEST(FileHandle, WritesAndEndsOfFileAtThePointer) {
    ScratchMachine machine({{"c/keep.txt", "k"}});
    OpenHandle untouched(OpenFile("C:\\keep.txt", kRW, 0, OPEN_EXISTING));
    OpenHandle file(OpenFile("C:\\data.bin", kRW, 0, CREATE_NEW));
    ASSERT_TRUE(file.valid());
    DWORD n = 99;
    ASSERT_TRUE(WriteFile(file.h, "hello world", 11, &n, nullptr));
    EXPECT_EQ(11u, n);
    EXPECT_EQ(11u, GetFileSize(file.h, nullptr));
    LONG high = 0;
    EXPECT_EQ(14u, SetFilePointer(file.h, 14, &high, FILE_BEGIN));
    EXPECT_EQ(0, high);
    ASSERT_TRUE(WriteFile(file.h, "!", 1, &n, nullptr));
    EXPECT_EQ(std::string("hello world\0\0\0!", 15), machine.Read("c/data.bin"));
    SetFilePointer(file.h, 20, nullptr, FILE_BEGIN);
    ASSERT_TRUE(SetEndOfFile(file.h));
    EXPECT_EQ(20u, GetFileSize(file.h, nullptr));
    SetFilePointer(file.h, 5, nullptr, FILE_BEGIN);
    ASSERT_TRUE(SetEndOfFile(file.h));
    file.Close();
    EXPECT_EQ("hello", machine.Read("c/data.bin"));
    EXPECT_EQ((std::vector<std::string>{
                  "{\"event\":\"file-create\",\"path\":\"C:\\\\data.bin\",\"ok\":true}",
                  "{\"event\":\"file-write\",\"path\":\"C:\\\\data.bin\",\"ok\":true}"}),
              machine.Journal());
}

}  // namespace
