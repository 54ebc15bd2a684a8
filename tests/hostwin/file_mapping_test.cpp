// File mappings: the open, map, release sequence of a mapped file stream, and sizes and
// protections as Windows checks them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "open_handle.h"
#include "scratch_machine.h"

namespace {

const DWORD kRW = GENERIC_READ | GENERIC_WRITE;
const DWORD kStep = 98304;

std::string Pattern(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 23);
    return text;
}

// Open, map a whole step above the size writable (which extends the file with zeros), change
// the last byte, unmap, close the mapping, cut the file back to its size.
TEST(FileMapping, TheStreamCycleLeavesTheFileExactlyItsSize) {
    for (DWORD size : {0u, kStep - 1, kStep}) {
        SCOPED_TRACE(size);
        ScratchMachine machine;
        if (size > 0) machine.Write("c/WINDOWS/SYSTEM.INI", Pattern(size));
        const DWORD capacity = (size / kStep + 1) * kStep;
        OpenHandle file(OpenFile("C:\\WINDOWS\\SYSTEM.INI", kRW, FILE_SHARE_READ, OPEN_ALWAYS));
        ASSERT_TRUE(file.valid());
        EXPECT_EQ(size, GetFileSize(file.h, nullptr));
        OpenHandle mapping(CreateFileMappingA(file.h, nullptr, PAGE_READWRITE, 0, capacity, nullptr));
        ASSERT_TRUE(mapping.valid());
        EXPECT_EQ(Pattern(size) + std::string(capacity - size, '\0'),
                  machine.Read("c/WINDOWS/SYSTEM.INI"));
        char* view = static_cast<char*>(MapViewOfFile(mapping.h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        ASSERT_NE(nullptr, view);
        EXPECT_EQ(Pattern(size) + std::string(capacity - size, '\0'), std::string(view, capacity));
        if (size > 0) view[size - 1] = '#';
        EXPECT_TRUE(UnmapViewOfFile(view));
        mapping.Close();
        EXPECT_EQ(size, SetFilePointer(file.h, static_cast<LONG>(size), nullptr, FILE_BEGIN));
        EXPECT_TRUE(SetEndOfFile(file.h));
        file.Close();
        std::string expected = Pattern(size);
        if (size > 0) expected.back() = '#';
        EXPECT_EQ(expected, machine.Read("c/WINDOWS/SYSTEM.INI"));
        EXPECT_EQ("{\"event\":\"file-write\",\"path\":\"C:\\\\WINDOWS\\\\SYSTEM.INI\",\"ok\":true}",
                  machine.Journal().back());
    }
}

// So the stream must release its mapping before it cuts the file.
TEST(FileMapping, AFileIsNotCutBelowItsMappingWhileTheMappingLives) {
    ScratchMachine machine({{"c/f.txt", "0123456789"}});
    OpenHandle file(OpenFile("C:\\f.txt", kRW, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    OpenHandle mapping(CreateFileMappingA(file.h, nullptr, PAGE_READWRITE, 0, kStep, nullptr));
    ASSERT_TRUE(mapping.valid());
    SetFilePointer(file.h, 10, nullptr, FILE_BEGIN);
    EXPECT_FALSE(SetEndOfFile(file.h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_USER_MAPPED_FILE), GetLastError());
    EXPECT_EQ(kStep, GetFileSize(file.h, nullptr));
    OpenHandle other(OpenFile("C:\\f.txt", kRW, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS));
    EXPECT_FALSE(other.valid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_USER_MAPPED_FILE), GetLastError());
    // Growing stays allowed; once the mapping is gone, so is cutting.
    SetFilePointer(file.h, kStep + 5, nullptr, FILE_BEGIN);
    EXPECT_TRUE(SetEndOfFile(file.h));
    mapping.Close();
    SetFilePointer(file.h, 10, nullptr, FILE_BEGIN);
    EXPECT_TRUE(SetEndOfFile(file.h));
    EXPECT_EQ("0123456789", machine.Read("c/f.txt"));
}

TEST(FileMapping, SizesAndProtectionsAreCheckedAsWindowsDoes) {
    ScratchMachine machine({{"c/empty.txt", ""}, {"c/ten.txt", "0123456789"}});
    // error ERROR_SUCCESS: the mapping is made.
    struct Case { const char* path; DWORD access, protect, size, error; } cases[] = {
        {"C:\\empty.txt", GENERIC_READ, PAGE_READONLY, 0, ERROR_FILE_INVALID},
        {"C:\\empty.txt", kRW, PAGE_READWRITE, 0, ERROR_FILE_INVALID},
        {"C:\\ten.txt", GENERIC_READ, PAGE_READONLY, 11, ERROR_NOT_ENOUGH_MEMORY},
        {"C:\\ten.txt", GENERIC_READ, PAGE_READWRITE, 0, ERROR_ACCESS_DENIED},
        {"C:\\ten.txt", GENERIC_WRITE, PAGE_READONLY, 0, ERROR_ACCESS_DENIED},
        {"C:\\ten.txt", GENERIC_READ, 0x40 /* PAGE_EXECUTE_READWRITE */, 0, ERROR_INVALID_PARAMETER},
        {"C:\\ten.txt", GENERIC_READ, PAGE_READONLY, 0, ERROR_SUCCESS},
        {"C:\\ten.txt", GENERIC_READ, PAGE_READONLY, 4, ERROR_SUCCESS},
        {"C:\\ten.txt", GENERIC_READ, PAGE_WRITECOPY, 0, ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path << " " << c.protect << " " << c.size);
        OpenHandle file(OpenFile(c.path, c.access, FILE_SHARE_READ, OPEN_EXISTING));
        ASSERT_TRUE(file.valid());
        SetLastError(12345);
        OpenHandle mapping(CreateFileMappingA(file.h, nullptr, c.protect, 0, c.size, nullptr));
        EXPECT_EQ(c.error == ERROR_SUCCESS, mapping.valid());
        EXPECT_EQ(c.error, GetLastError());
    }
    EXPECT_EQ("", machine.Read("c/empty.txt"));
    EXPECT_EQ("0123456789", machine.Read("c/ten.txt"));
}

// A file cannot be deleted while a mapping of it lives, whatever handles are closed.
TEST(FileMapping, AMappedFileCannotBeDeleted) {
    ScratchMachine machine({{"c/WINDOWS/SYSTEM.INI", "[boot]\r\n"}});
    OpenHandle file(OpenFile("C:\\WINDOWS\\SYSTEM.INI", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    OpenHandle mapping(CreateFileMappingA(file.h, nullptr, PAGE_READONLY, 0, 0, nullptr));
    ASSERT_TRUE(mapping.valid());
    const void* view = MapViewOfFile(mapping.h, FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(nullptr, view);
    file.Close();
    mapping.Close();
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\SYSTEM.INI"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\SYSTEM.INI"));
}

}  // namespace
