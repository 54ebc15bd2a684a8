// File mappings: the open, map, release sequence of a mapped file stream, sizes and
// protections as Windows checks them, views that outlive their handles.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
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

// The stream's whole cycle: open, map `capacity` bytes writable, unmap, close the mapping,
// cut the file to `size`, close the file.
void StreamCycle(const char* path, DWORD size, DWORD capacity, const ScratchMachine& machine,
                 const std::string& hostPath) {
    OpenHandle file(OpenFile(path, kRW, FILE_SHARE_READ, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(file.valid());
    EXPECT_EQ(size, GetFileSize(file.h, nullptr));
    OpenHandle mapping(CreateFileMappingA(file.h, nullptr, PAGE_READWRITE, 0, capacity, nullptr));
    ASSERT_TRUE(mapping.valid());
    EXPECT_EQ(capacity, machine.Read(hostPath).size());  // the mapping extends the file
    char* view = static_cast<char*>(MapViewOfFile(mapping.h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(Pattern(size), std::string(view, size));
    EXPECT_EQ(std::string(capacity - size, '\0'), std::string(view + size, capacity - size));
    if (size > 0) view[size - 1] = '#';
    EXPECT_TRUE(UnmapViewOfFile(view));
    mapping.Close();
    EXPECT_EQ(size, SetFilePointer(file.h, static_cast<LONG>(size), nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(file.h));
}

TEST(FileMapping, TheStreamCycleLeavesTheFileExactlyItsSize) {
    for (DWORD size : {0u, kStep - 1, kStep, kStep + 1}) {
        ScratchMachine machine;
        if (size > 0) machine.Write("c/WINDOWS/SYSTEM.INI", Pattern(size));
        const DWORD capacity = (size / kStep + 1) * kStep;
        StreamCycle("C:\\WINDOWS\\SYSTEM.INI", size, capacity, machine, "c/WINDOWS/SYSTEM.INI");
        std::string expected = Pattern(size);
        if (size > 0) expected.back() = '#';
        EXPECT_EQ(expected, machine.Read("c/WINDOWS/SYSTEM.INI")) << size;
        const auto journal = machine.Journal();
        ASSERT_FALSE(journal.empty());
        EXPECT_EQ("{\"event\":\"file-write\",\"path\":\"C:\\\\WINDOWS\\\\SYSTEM.INI\",\"ok\":true}",
                  journal.back());
    }
}

TEST(FileMapping, AFileIsNotCutBelowItsMappingWhileTheMappingLives) {
    ScratchMachine machine({{"c/f.txt", "0123456789"}});
    OpenHandle file(OpenFile("C:\\f.txt", kRW, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    OpenHandle mapping(CreateFileMappingA(file.h, nullptr, PAGE_READWRITE, 0, kStep, nullptr));
    ASSERT_TRUE(mapping.valid());
    SetFilePointer(file.h, 10, nullptr, FILE_BEGIN);
    EXPECT_FALSE(SetEndOfFile(file.h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_USER_MAPPED_FILE), GetLastError());
    EXPECT_EQ(kStep, GetFileSize(file.h, nullptr));
    // Nor is it overwritten through another open.
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

TEST(FileMapping, AViewOutlivesTheHandlesItWasMadeWith) {
    for (bool fileFirst : {true, false}) {
        ScratchMachine machine({{"c/f.txt", "abcdef"}});
        OpenHandle file(OpenFile("C:\\f.txt", kRW, 0, OPEN_EXISTING));
        OpenHandle mapping(CreateFileMappingA(file.h, nullptr, PAGE_READWRITE, 0, 0, nullptr));
        char* view = static_cast<char*>(MapViewOfFile(mapping.h, FILE_MAP_WRITE, 0, 0, 0));
        ASSERT_NE(nullptr, view);
        if (fileFirst) file.Close();
        mapping.Close();
        file.Close();
        // The share registration went with the file handle.
        OpenHandle again(OpenFile("C:\\f.txt", GENERIC_READ, 0, OPEN_EXISTING));
        EXPECT_TRUE(again.valid());
        view[0] = 'A';
        // The bytes reach the file through the page cache, before any flush or unmap.
        EXPECT_EQ("Abcdef", machine.Read("c/f.txt"));
        EXPECT_TRUE(FlushViewOfFile(view + 3, 2));
        EXPECT_TRUE(UnmapViewOfFile(view));
        EXPECT_FALSE(UnmapViewOfFile(view));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), GetLastError());
    }
}

TEST(FileMapping, SizesAndProtectionsAreCheckedAsWindowsDoes) {
    ScratchMachine machine({{"c/empty.txt", ""}, {"c/ten.txt", "0123456789"}});
    struct Case {
        const char* path;
        DWORD access;
        DWORD protect;
        DWORD size;
        DWORD error;  // ERROR_SUCCESS: the mapping is made
    } cases[] = {
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
        OpenHandle file(OpenFile(c.path, c.access, FILE_SHARE_READ, OPEN_EXISTING));
        ASSERT_TRUE(file.valid());
        SetLastError(12345);
        OpenHandle mapping(CreateFileMappingA(file.h, nullptr, c.protect, 0, c.size, nullptr));
        EXPECT_EQ(c.error == ERROR_SUCCESS, mapping.valid()) << c.path << " " << c.protect;
        EXPECT_EQ(c.error, GetLastError()) << c.path << " " << c.protect << " " << c.size;
    }
    EXPECT_EQ("", machine.Read("c/empty.txt"));
    EXPECT_EQ("0123456789", machine.Read("c/ten.txt"));
}

TEST(FileMapping, ViewsFollowTheMappingsProtectionAndBounds) {
    ScratchMachine machine({{"c/big.bin", Pattern(3 * 65536)}});
    OpenHandle file(OpenFile("C:\\big.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    OpenHandle mapping(CreateFileMappingA(file.h, nullptr, PAGE_READONLY, 0, 0, nullptr));
    ASSERT_TRUE(mapping.valid());
    struct Case {
        DWORD access;
        DWORD offset;
        SIZE_T bytes;
        DWORD error;
    } refused[] = {
        {FILE_MAP_WRITE, 0, 0, ERROR_ACCESS_DENIED},
        {FILE_MAP_ALL_ACCESS, 0, 0, ERROR_ACCESS_DENIED},
        {FILE_MAP_READ, 4096, 0, ERROR_MAPPED_ALIGNMENT},
        {FILE_MAP_READ, 3 * 65536, 0, ERROR_ACCESS_DENIED},
        {FILE_MAP_READ, 65536, 2 * 65536 + 1, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : refused) {
        SetLastError(0);
        EXPECT_EQ(nullptr, MapViewOfFile(mapping.h, c.access, 0, c.offset, c.bytes));
        EXPECT_EQ(c.error, GetLastError()) << c.access << " at " << c.offset;
    }
    const char* second = static_cast<const char*>(MapViewOfFile(mapping.h, FILE_MAP_READ, 0, 65536, 0));
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(Pattern(3 * 65536).substr(65536), std::string(second, 2 * 65536));
    EXPECT_TRUE(UnmapViewOfFile(second));

    // A copy-on-write view changes only its own pages.
    char* copy = static_cast<char*>(MapViewOfFile(mapping.h, FILE_MAP_COPY, 0, 0, 0));
    ASSERT_NE(nullptr, copy);
    copy[0] = '!';
    EXPECT_TRUE(UnmapViewOfFile(copy));
    EXPECT_EQ(Pattern(3 * 65536), machine.Read("c/big.bin"));
}

TEST(FileMapping, A64MiBStreamCycleWorksInPlace) {
    const DWORD size = 64u << 20;
    ScratchMachine machine;
    {
        OpenHandle file(OpenFile("C:\\big.ini", kRW, 0, CREATE_NEW));
        SetFilePointer(file.h, static_cast<LONG>(size), nullptr, FILE_BEGIN);
        ASSERT_TRUE(SetEndOfFile(file.h));
    }
    const auto start = std::chrono::steady_clock::now();
    OpenHandle file(OpenFile("C:\\big.ini", kRW, FILE_SHARE_READ, OPEN_ALWAYS));
    const DWORD capacity = (size / kStep + 1) * kStep;
    OpenHandle mapping(CreateFileMappingA(file.h, nullptr, PAGE_READWRITE, 0, capacity, nullptr));
    char* view = static_cast<char*>(MapViewOfFile(mapping.h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(nullptr, view);
    std::memmove(view, view + 4096, size - 4096);  // the text removal's cut, inside the view
    view[0] = 'x';
    EXPECT_TRUE(UnmapViewOfFile(view));
    mapping.Close();
    SetFilePointer(file.h, static_cast<LONG>(size - 4096), nullptr, FILE_BEGIN);
    EXPECT_TRUE(SetEndOfFile(file.h));
    file.Close();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 5.0);
    const std::string contents = machine.Read("c/big.ini");
    EXPECT_EQ(size - 4096, contents.size());
    EXPECT_EQ('x', contents[0]);
}

}  // namespace
