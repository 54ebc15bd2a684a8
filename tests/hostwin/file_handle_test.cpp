// CreateFileA and the file-handle calls: dispositions, share modes, read-only and in-use
// files, write-protected drives, the file pointer and the journal of changes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "open_handle.h"
#include "scratch_machine.h"

namespace {

const DWORD kRW = GENERIC_READ | GENERIC_WRITE;

TEST(CreateFile, DispositionsAsWindows) {
    struct Case {
        DWORD disposition;
        bool exists;
        bool opens;
        DWORD error;
        const char* contentAfter;  // null: no file
    } cases[] = {
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
    };
    for (const Case& c : cases) {
        ScratchMachine machine;
        if (c.exists) machine.Write("c/WINDOWS/f.txt", "old");
        SetLastError(12345);
        OpenHandle file(OpenFile("c:\\windows\\f.txt", kRW, 0, c.disposition));
        const std::string label = std::to_string(c.disposition) + (c.exists ? " existing" : " new");
        EXPECT_EQ(c.opens, file.valid()) << label;
        EXPECT_EQ(c.error, GetLastError()) << label;
        file.Close();
        EXPECT_EQ(c.contentAfter != nullptr, machine.Exists("c/WINDOWS/f.txt")) << label;
        if (c.contentAfter) {
            EXPECT_EQ(c.contentAfter, machine.Read("c/WINDOWS/f.txt")) << label;
        }
    }
}

TEST(CreateFile, RefusalsCarryTheWindowsError) {
    ScratchMachine machine({{"c/WINDOWS/ro.txt", "r"},
                            {"c/WINDOWS/busy.vxd", "b"},
                            {"d/setup.inf", "s"},
                            {"attributes.txt", "00000001\tC:\\WINDOWS\\ro.txt\n"},
                            {"machine.ini", "[drives]\nd=cdrom\n[in use]\nC:\\WINDOWS\\busy.vxd\n"}});
    struct Case {
        std::string path;
        DWORD access;
        DWORD disposition;
        DWORD error;  // ERROR_SUCCESS: the open succeeds
    } cases[] = {
        {"C:\\WINDOWS\\NOPE\\x.txt", kRW, OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\WINDOWS", GENERIC_READ, CREATE_NEW, ERROR_FILE_EXISTS},
        {"C:\\WINDOWS\\new.txt\\", kRW, CREATE_NEW, ERROR_INVALID_NAME},
        {"C:\\" + std::string(300, 'a'), kRW, CREATE_NEW, ERROR_FILENAME_EXCED_RANGE},
        {"C:\\WINDOWS\\x.txt", kRW, 0, ERROR_INVALID_PARAMETER},
        {"C:\\WINDOWS\\x.txt", kRW, 6, ERROR_INVALID_PARAMETER},
        // A read-only file: reading only.
        {"C:\\WINDOWS\\ro.txt", GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS},
        {"C:\\WINDOWS\\ro.txt", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\WINDOWS\\ro.txt", GENERIC_READ, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        {"C:\\WINDOWS\\ro.txt", kRW, TRUNCATE_EXISTING, ERROR_ACCESS_DENIED},
        // In use by another program: reading only.
        {"C:\\WINDOWS\\busy.vxd", GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS},
        {"C:\\WINDOWS\\busy.vxd", kRW, OPEN_ALWAYS, ERROR_SHARING_VIOLATION},
        // A cdrom: reading only.
        {"D:\\setup.inf", GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS},
        {"D:\\setup.inf", kRW, OPEN_EXISTING, ERROR_WRITE_PROTECT},
        {"D:\\new.inf", kRW, CREATE_NEW, ERROR_WRITE_PROTECT},
    };
    const auto before = machine.Snapshot();
    for (const Case& c : cases) {
        SetLastError(12345);
        OpenHandle file(OpenFile(c.path.c_str(), c.access, FILE_SHARE_READ, c.disposition));
        EXPECT_EQ(c.error == ERROR_SUCCESS, file.valid()) << c.path << " " << c.disposition;
        if (c.error != ERROR_SUCCESS) {
            EXPECT_EQ(c.error, GetLastError()) << c.path;
        }
    }
    EXPECT_EQ(before, machine.Snapshot());
    // Refused changes are journaled; refused reads and bad arguments are not.
    const std::vector<std::string> journal = machine.Journal();
    ASSERT_EQ(6u, journal.size());
    EXPECT_EQ("{\"event\":\"file-write\",\"path\":\"C:\\\\WINDOWS\\\\ro.txt\",\"ok\":false,\"error\":5}",
              journal[0]);
    EXPECT_EQ("{\"event\":\"file-create\",\"path\":\"D:\\\\new.inf\",\"ok\":false,\"error\":19}",
              journal[5]);
}

TEST(CreateFile, ShareModesAreCheckedBothWays) {
    struct Case {
        DWORD firstAccess, firstShare, secondAccess, secondShare;
        bool secondOpens;
    } cases[] = {
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
        {GENERIC_READ, FILE_SHARE_READ, kRW, FILE_SHARE_READ, false},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, kRW, FILE_SHARE_READ, true},
        {kRW, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_READ, FILE_SHARE_READ, false},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, kRW, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {kRW, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, false},
        {kRW, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {GENERIC_READ, 0, GENERIC_READ, FILE_SHARE_READ, false},
        {0, 0, GENERIC_READ, 0, true},
    };
    ScratchMachine machine({{"c/WINDOWS/f.txt", "x"}});
    for (const Case& c : cases) {
        OpenHandle first(OpenFile("C:\\WINDOWS\\f.txt", c.firstAccess, c.firstShare, OPEN_EXISTING));
        ASSERT_TRUE(first.valid());
        SetLastError(0);
        OpenHandle second(OpenFile("c:\\windows\\F.TXT", c.secondAccess, c.secondShare, OPEN_EXISTING));
        EXPECT_EQ(c.secondOpens, second.valid()) << c.firstAccess << "/" << c.firstShare << " then "
                                                 << c.secondAccess << "/" << c.secondShare;
        if (!c.secondOpens) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
        }
    }
}

TEST(CreateFile, OpenFilesAndInUseFilesCannotBeDeleted) {
    ScratchMachine machine({{"c/WINDOWS/a.txt", "a"},
                            {"c/WINDOWS/b.txt", "b"},
                            {"c/WINDOWS/busy.vxd", "v"},
                            {"machine.ini", "[in use]\nC:\\WINDOWS\\busy.vxd\n"}});
    OpenHandle a(OpenFile("C:\\WINDOWS\\a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    OpenHandle b(OpenFile("C:\\WINDOWS\\b.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING));
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\a.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\busy.vxd"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\b.txt"));
    a.Close();
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\a.txt"));
}

TEST(CreateFile, NewFilesGetTheAttributesGiven) {
    ScratchMachine machine;
    OpenHandle hidden(OpenFile("C:\\h.txt", kRW, 0, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN));
    OpenHandle normal(OpenFile("C:\\n.txt", kRW, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(hidden.valid() && normal.valid());
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA("C:\\h.txt"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), GetFileAttributesA("C:\\n.txt"));
}

TEST(CreateFile, DeleteOnCloseRemovesTheFileWhenTheLastOpenCloses) {
    ScratchMachine machine;
    HANDLE temp = OpenFile("C:\\t.tmp", kRW, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW,
                       FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(INVALID_HANDLE_VALUE, temp);
    {
        // Other opens must share deletion.
        OpenHandle plain(OpenFile("C:\\t.tmp", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
        EXPECT_FALSE(plain.valid());
        OpenHandle sharing(OpenFile("C:\\t.tmp", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            OPEN_EXISTING));
        ASSERT_TRUE(sharing.valid());
        EXPECT_TRUE(CloseHandle(temp));
        EXPECT_TRUE(machine.Exists("c/t.tmp"));
    }
    EXPECT_FALSE(machine.Exists("c/t.tmp"));
    EXPECT_EQ("{\"event\":\"file-delete\",\"path\":\"C:\\\\t.tmp\",\"ok\":true}", machine.Journal().back());
}

TEST(FileHandle, ReadWriteAndThePointer) {
    ScratchMachine machine;
    OpenHandle file(OpenFile("C:\\data.bin", kRW, 0, CREATE_NEW));
    ASSERT_TRUE(file.valid());
    DWORD n = 99;
    ASSERT_TRUE(WriteFile(file.h, "hello world", 11, &n, nullptr));
    EXPECT_EQ(11u, n);
    EXPECT_EQ(11u, GetFileSize(file.h, nullptr));
    EXPECT_EQ(6u, SetFilePointer(file.h, -5, nullptr, FILE_END));
    char buffer[16] = {};
    ASSERT_TRUE(ReadFile(file.h, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(5u, n);
    EXPECT_STREQ("world", buffer);
    ASSERT_TRUE(ReadFile(file.h, buffer, sizeof buffer, &n, nullptr));  // at the end: no error
    EXPECT_EQ(0u, n);

    // A negative position is refused and leaves the pointer where it was.
    SetLastError(0);
    EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(file.h, -12, nullptr, FILE_CURRENT));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), GetLastError());
    EXPECT_EQ(11u, SetFilePointer(file.h, 0, nullptr, FILE_CURRENT));
    LONG high = 0;
    EXPECT_EQ(2u, SetFilePointer(file.h, 2, &high, FILE_BEGIN));
    EXPECT_EQ(0, high);

    // Writing behind the end and SetEndOfFile fill with zeros; SetEndOfFile also cuts.
    EXPECT_EQ(14u, SetFilePointer(file.h, 14, nullptr, FILE_BEGIN));
    ASSERT_TRUE(WriteFile(file.h, "!", 1, &n, nullptr));
    EXPECT_EQ(std::string("hello world\0\0\0!", 15), machine.Read("c/data.bin"));
    EXPECT_EQ(20u, SetFilePointer(file.h, 20, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.h));
    EXPECT_EQ(20u, GetFileSize(file.h, nullptr));
    EXPECT_EQ(5u, SetFilePointer(file.h, 5, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.h));
    EXPECT_EQ("hello", machine.Read("c/data.bin"));
}

TEST(FileHandle, AccessOfTheHandleDecides) {
    ScratchMachine machine({{"c/f.txt", "abc"}});
    OpenHandle reader(OpenFile("C:\\f.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    OpenHandle writer(OpenFile("C:\\f.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    char buffer[4];
    DWORD n = 7;
    EXPECT_FALSE(WriteFile(reader.h, "x", 1, &n, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(0u, n);
    EXPECT_FALSE(SetEndOfFile(reader.h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_FALSE(ReadFile(writer.h, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ("abc", machine.Read("c/f.txt"));

}

TEST(FileHandle, ChangesAreJournaledOncePerHandle) {
    ScratchMachine machine({{"c/keep.txt", "k"}});
    {
        OpenHandle created(OpenFile("C:\\new.txt", kRW, 0, CREATE_NEW));
        DWORD n;
        WriteFile(created.h, "a", 1, &n, nullptr);
        WriteFile(created.h, "b", 1, &n, nullptr);
        OpenHandle untouched(OpenFile("C:\\keep.txt", kRW, 0, OPEN_EXISTING));  // opened, never written
    }
    EXPECT_EQ((std::vector<std::string>{
                  "{\"event\":\"file-create\",\"path\":\"C:\\\\new.txt\",\"ok\":true}",
                  "{\"event\":\"file-write\",\"path\":\"C:\\\\new.txt\",\"ok\":true}"}),
              machine.Journal());
}

}  // namespace
