// CMappedFile against real files of a machine folder: capacity steps, growth, positions and
// marks, the read-only and closed states, failed opens, and calls through the table.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mapped_file.h"
#include "scratch_machine.h"

namespace {

const DWORD kStep = 98304;

std::string Bytes(size_t count, char seed = 'a') {
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i) s[i] = static_cast<char>(seed + i % 23);
    return s;
}

// True when nobody holds the file: an open that shares nothing succeeds.
bool IsReleased(const char* name) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h != INVALID_HANDLE_VALUE && CloseHandle(h);
}

// The whole view (capacity bytes).
std::string View(CMappedFile& file) {
    return std::string(file.CurrentPointer() - file.Position(), file.Capacity());
}

// Writable: the next whole step strictly above the size, zero bytes behind the content, growth
// by whole steps, and the file cut back to its size on release. Read only: exactly the file; an
// empty file can't be mapped. Create: an empty file of one step.
TEST(MappedFileWrite, SizeCapacityAndFileFollowWhatWasWritten) {
    const struct { DWORD fileSize, at, count, size, capacity; } cases[] = {
        {0, 0, 0, 0, kStep},                                // opened only
        {1, 0, 0, 1, kStep},
        {kStep - 1, 0, 0, kStep - 1, kStep},
        {kStep, 0, 0, kStep, 2 * kStep},
        {kStep + 1, 0, 0, kStep + 1, 2 * kStep},
        {2 * kStep, 0, 0, 2 * kStep, 3 * kStep},
        {kStep - 4, kStep - 4, 10, kStep + 6, 2 * kStep},  // grows and stays open
        {kStep - 4, kStep - 4, 4, kStep, kStep},           // fills the view exactly
        {10, 5, 3, 10, kStep},                              // inside the content
        {10, 8, 5, 13, kStep},                              // across the end
        {0, 0, 2 * kStep + 5, 2 * kStep + 5, 3 * kStep},    // several steps at once
    };
    ScratchMachine machine;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fileSize << " " << c.at << " " << c.count);
        std::string expected = Bytes(c.fileSize);
        machine.Write("c/f.bin", expected);
        const std::string data = Bytes(c.count, 'A');
        expected.replace(c.at, std::min<size_t>(c.count, c.fileSize - c.at), data);
        {
            CMappedFile file;  // released by its destructor
            ASSERT_EQ(1, file.OpenAlways("C:\\f.bin"));
            EXPECT_EQ(0u, file.Seek(c.at));
            EXPECT_EQ(c.count, file.Write(data.data(), c.count));
            EXPECT_EQ(c.size, file.Size());
            EXPECT_EQ(c.capacity, file.Capacity());
            EXPECT_EQ(c.at + c.count, file.Tell());
            EXPECT_EQ(expected + std::string(c.capacity - c.size, '\0'), View(file));
            std::string back(c.count, '\0');
            file.Seek(c.at);
            EXPECT_EQ(c.count, file.Read(&back[0], c.count));  // grown or not, the stream stays open
        }
        EXPECT_EQ(expected, machine.Read("c/f.bin"));
        EXPECT_TRUE(IsReleased("C:\\f.bin"));
        CMappedFile file;
        EXPECT_EQ(c.size ? 1 : 0, file.OpenRead("C:\\f.bin"));
        EXPECT_EQ(c.size, file.Capacity());
        file.Close();
        EXPECT_EQ(expected, machine.Read("c/f.bin"));
        ASSERT_EQ(1, file.Create("C:\\f.bin"));
        EXPECT_EQ(kStep, file.Capacity());
        file.Close();
        EXPECT_EQ("", machine.Read("c/f.bin"));
    }
}

TEST(MappedFilePosition, SeekReadMarksAndTheClosedState) {
    ScratchMachine machine{{"c/f.txt", "0123456789"}};
    CMappedFile file;
    EXPECT_EQ(0u, file.Size());
    EXPECT_EQ(0u, file.Capacity());
    ASSERT_EQ(1, file.OpenAlways("C:\\f.txt"));
    EXPECT_EQ(1, file.MakeWritable());  // already writable
    char buffer[32] = {};
    EXPECT_EQ(0u, file.Seek(11));  // past the size: stays
    EXPECT_EQ(0u, file.Seek(10));  // the end itself
    EXPECT_EQ(10u, file.Seek(4));
    EXPECT_EQ(6u, file.Read(buffer, sizeof buffer));
    EXPECT_EQ("456789", std::string(buffer, 6));
    EXPECT_EQ(0u, file.Read(nullptr, 1));
    EXPECT_EQ(0u, file.Write(nullptr, 1));

    file.Seek(3);
    EXPECT_EQ(0u, file.SetMark(10));  // 10 and above share mark 9
    file.Seek(5);
    EXPECT_EQ(3u, file.SetMark(9));
    file.Seek(0);
    EXPECT_EQ(5u, file.GoToMark(10));
    EXPECT_EQ(5u, file.Tell());

    // A size cut below the position leaves nothing to read; one above the view is ignored.
    file.Seek(8);
    file.SetSize(2);
    EXPECT_EQ(0u, file.Read(buffer, sizeof buffer));
    EXPECT_EQ(5u, file.GoToMark(9));  // behind the size: the position stays
    file.SetSize(kStep + 1);
    EXPECT_EQ(2u, file.Size());
    EXPECT_TRUE(file.Flush(0, 1));
    EXPECT_TRUE(file.Flush(2, 1));   // from the end itself,
    EXPECT_FALSE(file.Flush(3, 1));  // not from past it
    EXPECT_EQ(0u, file.Write("x", 0xFFFFF000u));  // an end that no mapping could cover

    file.Seek(0);
    file.Close();
    EXPECT_EQ(0u, file.Tell());
    EXPECT_EQ(0u, file.Read(buffer, 1));
    EXPECT_EQ(0u, file.Write("ab", 2));
    EXPECT_EQ(nullptr, file.CurrentPointer());
    EXPECT_FALSE(file.Flush(0, 1));
    EXPECT_EQ("01", machine.Read("c/f.txt"));
}

// A failed open leaves the stream closed and the files as they were; a null name (-1) leaves
// an open stream as it was.
TEST(MappedFileOpen, FailedOpensCloseTheStreamANullNameLeavesItOpen) {
    const std::string directory(200, 'd');
    const std::string longest = "C:\\" + directory + "\\" + std::string(55, 'f');  // 259
    ScratchMachine machine{{"c/empty.txt", ""},
                           {"c/ro.txt", "keep"},
                           {"c/open.txt", "0123456789"},
                           {"c/" + directory + "/" + std::string(55, 'f'), "abc"},
                           {"attributes.txt", "00000001\tC:\\ro.txt\n"}};
    const struct { int (CMappedFile::*open)(const char*); std::string name; } cases[] = {
        {&CMappedFile::OpenRead, "C:\\empty.txt"},
        {&CMappedFile::OpenRead, "C:\\missing.txt"},
        {&CMappedFile::OpenAlways, "C:\\ro.txt"},
        {&CMappedFile::OpenAlways, longest + "x"},  // 260 characters: refused, not cut
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = machine.Snapshot();
        CMappedFile file;
        ASSERT_EQ(1, file.OpenAlways("C:\\open.txt"));
        EXPECT_EQ(0, (file.*c.open)(c.name.c_str()));
        EXPECT_EQ(nullptr, file.CurrentPointer());
        EXPECT_EQ(0u, file.Write("x", 1));
        EXPECT_TRUE(IsReleased("C:\\open.txt"));
        EXPECT_EQ(before, machine.Snapshot());
    }
    EXPECT_TRUE(IsReleased("C:\\empty.txt"));

    CMappedFile file;
    EXPECT_EQ(0, file.OpenAlways((longest + "x").c_str()));
    EXPECT_STREQ("", file.FileName());  // a refused name is not kept for MakeWritable
    EXPECT_EQ(0, file.MakeWritable());
    EXPECT_EQ(1, file.OpenRead(longest.c_str()));
    EXPECT_EQ(longest, file.FileName());

    ASSERT_EQ(1, file.OpenAlways("C:\\open.txt"));
    EXPECT_STREQ("C:\\open.txt", file.FileName());  // a shorter name after a longer one
    file.Seek(3);
    for (auto open : {&CMappedFile::OpenAlways, &CMappedFile::OpenRead, &CMappedFile::Create})
        EXPECT_EQ(-1, (file.*open)(nullptr));
    EXPECT_EQ(3u, file.Tell());
    EXPECT_EQ(2u, file.Write("ab", 2));
    file.Close();
    EXPECT_EQ("012ab56789", machine.Read("c/open.txt"));
    // A file of 4 GiB or more is refused and keeps its length.
    machine.Write("c/big.bin", "");
    std::filesystem::resize_file(machine.Path("c/big.bin"), (1ull << 32) + 10);
    EXPECT_EQ(0, file.OpenAlways("C:\\big.bin"));
    EXPECT_EQ((1ull << 32) + 10, std::filesystem::file_size(machine.Path("c/big.bin")));
}

// A failed mapping (HOSTWIN_FAULT, or a file size limit, in a process of its own) at the open or
// at a growth: the call fails, the stream is closed and lets go of the file, which keeps its content.
int RunWithFailedMapping(const char* fault, DWORD write, rlim_t fileLimit = RLIM_INFINITY) {
    ::setenv("HOSTWIN_FAULT", fault, 1);
    ::signal(SIGXFSZ, SIG_IGN);  // a file grown past the limit fails with EFBIG instead
    const rlimit limit{fileLimit, fileLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ScratchMachine machine{{"c/f.txt", "0123456789"}};
    CMappedFile file;
    const bool failed = write ? file.OpenAlways("C:\\f.txt") == 1 && file.Write(std::string(write, 'w').data(), write) == 0
                              : file.OpenAlways("C:\\f.txt") == 0;
    return failed && !file.CurrentPointer() && file.Tell() == 0 && IsReleased("C:\\f.txt") &&
                   machine.Read("c/f.txt").compare(0, 10, "0123456789") == 0 ? 0 : 1;
}

TEST(MappedFileOpen, AFailedMappingClosesTheStreamAndLetsGoOfTheFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(RunWithFailedMapping("1:EIO", 0)), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(std::exit(RunWithFailedMapping("2:ENOSPC", kStep + 1)), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(std::exit(RunWithFailedMapping("", kStep + 1, kStep + kStep / 2)), ::testing::ExitedWithCode(0), "");
}

// Records the operations that other operations reach through the table.
struct RecordingFile : CMappedFile {
    std::vector<std::string> calls;
    int OpenAlways(const char* n) override { calls.push_back("OpenAlways"); return CMappedFile::OpenAlways(n); }
    void Close() override { calls.push_back("Close"); CMappedFile::Close(); }
    DWORD Seek(DWORD at) override { calls.push_back("Seek"); return CMappedFile::Seek(at); }
};

// Also: a read-only stream writes only after MakeWritable, which keeps the position.
TEST(MappedFileTable, OperationsReachEachOtherThroughTheTable) {
    ScratchMachine machine{{"c/f.txt", "0123456789"}, {"c/empty.txt", ""}};
    RecordingFile file;
    using Calls = std::vector<std::string>;
    auto callsOf = [&file](auto operation) { file.calls.clear(); operation(); return file.calls; };
    EXPECT_EQ(Calls{"Close"}, callsOf([&] { file.OpenRead("C:\\f.txt"); }));
    file.Seek(2);
    EXPECT_EQ(0u, file.Write("XY", 2));
    EXPECT_EQ((Calls{"OpenAlways", "Close", "Seek"}), callsOf([&] { EXPECT_EQ(1, file.MakeWritable()); }));
    EXPECT_EQ(2u, file.Tell());
    EXPECT_EQ(kStep, file.Capacity());
    EXPECT_EQ(2u, file.Write("XY", 2));
    EXPECT_EQ(Calls{"Seek"}, callsOf([&] { file.GoToMark(3); }));
    file.Seek(10);
    const std::string big = Bytes(kStep);
    EXPECT_EQ(Calls{"Close"}, callsOf([&] { file.Write(big.data(), kStep); }));  // grows
    EXPECT_EQ((Calls{"Close", "Close"}), callsOf([&] { file.OpenRead("C:\\empty.txt"); }));
    EXPECT_EQ("01XY456789" + big, machine.Read("c/f.txt"));
}

}  // namespace
