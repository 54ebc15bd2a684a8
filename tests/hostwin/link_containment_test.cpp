// Symbolic links in a machine folder: followed while they stay inside the folder, refused with
// ERROR_ACCESS_DENIED (and a journal line) when they lead outside it, whatever the call.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "scratch_machine.h"

namespace fs = std::filesystem;

namespace {

// A host folder outside the machine, with a file in it, removed at the end.
class Outside {
public:
    Outside() {
        std::string pattern = (fs::temp_directory_path() / "hostwin-outside-XXXXXX").string();
        root_ = ::mkdtemp(&pattern[0]);
        Write("X.DLL", "host file");
        Write("BIG.DLL", std::string(12345, 'b'));
    }
    ~Outside() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::string Path(const std::string& name) const { return root_ + "/" + name; }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
    // What the folder holds: "name=contents" lines.
    std::string Contents() const {
        std::string out;
        for (const auto& entry : fs::directory_iterator(root_)) {
            std::ifstream in(entry.path());
            out += entry.path().filename().string() + "=" +
                   std::string(std::istreambuf_iterator<char>(in), {}) + "\n";
        }
        return out;
    }

private:
    std::string root_;
};

TEST(LinkContainment, LinksLeadingOutsideAreRefusedAndJournaled) {
    struct Case {
        const char* what;
        const char* link;    // machine-relative path of the link
        const char* target;  // in the outside folder ("" for the folder itself)
        std::function<BOOL()> call;
    } cases[] = {
        {"delete through a linked directory", "c/WINDOWS/SYSTEM", "",
         [] { return DeleteFileA("C:\\WINDOWS\\SYSTEM\\X.DLL"); }},
        {"list a linked directory", "c/WINDOWS/SYSTEM", "",
         [] {
             WIN32_FIND_DATAA data;
             HANDLE h = FindFirstFileA("C:\\WINDOWS\\SYSTEM\\*.*", &data);
             return h != INVALID_HANDLE_VALUE && FindClose(h);
         }},
        {"write a linked file", "c/WINDOWS/SYSTEM.INI", "X.DLL",
         [] {
             HANDLE h = CreateFileA("C:\\WINDOWS\\SYSTEM.INI", GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
             return h != INVALID_HANDLE_VALUE && CloseHandle(h);
         }},
        {"create through a dangling link", "c/WINDOWS/NEW.INI", "NEW.INI",
         [] {
             HANDLE h = CreateFileA("C:\\WINDOWS\\NEW.INI", GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
             return h != INVALID_HANDLE_VALUE && CloseHandle(h);
         }},
        {"a linked drive", "d", "", [] { return DeleteFileA("D:\\X.DLL"); }},
        {"copy from a linked file", "c/WINDOWS/INF/BR10MULT.INF", "X.DLL",
         [] { return CopyFileA("C:\\WINDOWS\\INF\\BR10MULT.INF", "C:\\WINDOWS\\COPY.INF", FALSE); }},
        {"move into a linked directory", "c/pellapps", "",
         [] { return MoveFileA("C:\\WINDOWS\\REAL.INI", "C:\\pellapps\\REAL.INI"); }},
        {"attributes of a linked file", "c/WINDOWS/SYSTEM.INI", "X.DLL",
         [] { return SetFileAttributesA("C:\\WINDOWS\\SYSTEM.INI", FILE_ATTRIBUTE_READONLY); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outside outside;
        ScratchMachine machine{{"c/WINDOWS/REAL.INI", "inside"}, {"c/WINDOWS/INF/.keep", ""}};
        const std::string before = outside.Contents();
        const std::string target = *c.target ? outside.Path(c.target) : outside.Path("");
        ASSERT_EQ(0, ::symlink(target.c_str(), machine.Path(c.link).c_str()));
        SetLastError(0);
        EXPECT_FALSE(c.call());
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
        EXPECT_EQ(before, outside.Contents());
        EXPECT_EQ("inside", machine.Read("c/WINDOWS/REAL.INI"));
        bool journaled = false;
        for (const std::string& line : machine.Journal())
            journaled = journaled || line.find("\"event\":\"path-refused\"") != std::string::npos;
        EXPECT_TRUE(journaled);
    }
}

// A search lists a link that leads outside by the link's own data: nothing of the host file
// (its size, its times) shows.
TEST(LinkContainment, SearchesShowNothingOfWhatALinkLeadsTo) {
    Outside outside;
    ScratchMachine machine;
    ASSERT_EQ(0, ::symlink(outside.Path("BIG.DLL").c_str(), machine.Path("c/WINDOWS/BIG.DLL").c_str()));
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\WINDOWS\\BIG.DLL", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_STREQ("BIG.DLL", data.cFileName);
    EXPECT_NE(12345u, data.nFileSizeLow);
    FindClose(h);
}

// Links that stay inside the folder work as the files they lead to; a loop is refused.
TEST(LinkContainment, LinksInsideTheFolderAreFollowed) {
    ScratchMachine machine{{"c/WINDOWS/REAL.INI", "inside"}, {"c/DATA/A.TXT", "a"}};
    ASSERT_EQ(0, ::symlink("REAL.INI", machine.Path("c/WINDOWS/LINKED.INI").c_str()));
    ASSERT_EQ(0, ::symlink(machine.Path("c/DATA").c_str(), machine.Path("c/WINDOWS/DATA").c_str()));
    ASSERT_EQ(0, ::symlink("LOOP", machine.Path("c/WINDOWS/LOOP").c_str()));
    HANDLE h = CreateFileA("C:\\WINDOWS\\LINKED.INI", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "IN", 2, &written, nullptr));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ("INside", machine.Read("c/WINDOWS/REAL.INI"));
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\DATA\\A.TXT"));
    EXPECT_FALSE(machine.Exists("c/DATA/A.TXT"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\WINDOWS\\LOOP"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

// A directory swapped again and again with a link out (as another host process could) while
// files are created, written, copied, moved and deleted in it: each call works on the folder or
// fails, and nothing outside ever changes. HOSTWIN_RACE_ROUNDS sets the rounds (200 by default, the soak 1000).
TEST(LinkContainment, DirectorySwappedForALinkOutNeverReachesOutside) {
    const char* env = std::getenv("HOSTWIN_RACE_ROUNDS");
    const int rounds = env ? std::atoi(env) : 200;
    Outside outside;
    outside.Write("SYSTEM.INI", "device=motvcd.vxd\n");
    ScratchMachine machine{{"c/WINDOWS/SYSTEM/SYSTEM.INI", "device=motvcd.vxd\n"},
                           {"c/WINDOWS/SOURCE.DLL", "copied"}};
    const std::string before = outside.Contents();
    const std::string directory = machine.Path("c/WINDOWS/SYSTEM");
    const std::string link = machine.Path("c/WINDOWS/SWAP");
    ASSERT_EQ(0, ::symlink(outside.Path("").c_str(), link.c_str()));
    std::atomic<bool> stop{false};
    std::atomic<long> swaps{0};
    std::thread swapper([&] {
        while (!stop)
            if (::renameat2(AT_FDCWD, directory.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE) == 0)
                ++swaps;
    });
    for (int round = 0; round < rounds; ++round) {
        HANDLE h = CreateFileA("C:\\WINDOWS\\SYSTEM\\X.DLL", GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (h != INVALID_HANDLE_VALUE) {
            WriteFile(h, "inside", 6, &written, nullptr);
            CloseHandle(h);
        }
        h = CreateFileA("C:\\WINDOWS\\SYSTEM\\SYSTEM.INI", GENERIC_WRITE, 0, nullptr,
                        TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        CopyFileA("C:\\WINDOWS\\SOURCE.DLL", "C:\\WINDOWS\\SYSTEM\\BIG.DLL", FALSE);
        MoveFileA("C:\\WINDOWS\\SYSTEM\\BIG.DLL", "C:\\WINDOWS\\SYSTEM\\MOVED.DLL");
        DeleteFileA("C:\\WINDOWS\\SYSTEM\\X.DLL");
        DeleteFileA("C:\\WINDOWS\\SYSTEM\\MOVED.DLL");
        DeleteFileA("C:\\WINDOWS\\SYSTEM\\SYSTEM.INI");
        CreateDirectoryA("C:\\WINDOWS\\SYSTEM\\NEW", nullptr);
        RemoveDirectoryA("C:\\WINDOWS\\SYSTEM\\NEW");
    }
    stop = true;
    swapper.join();
    std::printf("%d rounds, %ld swaps\n", rounds, swaps.load());
    EXPECT_GT(swaps.load(), 0);
    EXPECT_EQ(before, outside.Contents());
}

// Files that are not plain files of the folder: a FIFO or device is never opened (a copy of one
// would hang or never end), and a file with a second name outside (a hard link) is never
// changed through its name inside, while it may still be read and its inside name deleted.
TEST(LinkContainment, SpecialFilesAreRefusedAndHardLinksNeverChangeTheOtherName) {
    struct Case {
        const char* what;
        char kind;  // 'p' FIFO, 'c' device, 's' sparse 5 GiB file, 'h' hard link to SYSTEM.INI outside
        std::function<BOOL()> call;
        bool succeeds;
    } cases[] = {
        {"copy a FIFO", 'p', [] { return CopyFileA("C:\\WINDOWS\\F", "C:\\WINDOWS\\G", FALSE); }, false},
        {"copy a device", 'c', [] { return CopyFileA("C:\\WINDOWS\\F", "C:\\WINDOWS\\G", FALSE); }, false},
        {"copy a file over 4 GiB", 's', [] { return CopyFileA("C:\\WINDOWS\\F", "C:\\WINDOWS\\G", FALSE); }, false},
        {"open a FIFO", 'p',
         [] {
             HANDLE h = CreateFileA("C:\\WINDOWS\\F", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
             return h != INVALID_HANDLE_VALUE && CloseHandle(h);
         }, false},
        {"write a hard link", 'h',
         [] {
             HANDLE h = CreateFileA("C:\\WINDOWS\\F", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
             return h != INVALID_HANDLE_VALUE && CloseHandle(h);
         }, false},
        {"truncate a hard link", 'h',
         [] {
             HANDLE h = CreateFileA("C:\\WINDOWS\\F", GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
             return h != INVALID_HANDLE_VALUE && CloseHandle(h);
         }, false},
        {"read a hard link", 'h',
         [] {
             HANDLE h = CreateFileA("C:\\WINDOWS\\F", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
             return h != INVALID_HANDLE_VALUE && CloseHandle(h);
         }, true},
        {"copy over a hard link", 'h', [] { return CopyFileA("C:\\WINDOWS\\REAL.INI", "C:\\WINDOWS\\F", FALSE); }, true},
        {"delete a hard link", 'h', [] { return DeleteFileA("C:\\WINDOWS\\F"); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outside outside;
        outside.Write("SYSTEM.INI", "device=motvcd.vxd\n");
        ScratchMachine machine{{"c/WINDOWS/REAL.INI", "inside"}};
        const std::string file = machine.Path("c/WINDOWS/F");
        int made = -1;
        switch (c.kind) {
        case 'p': made = ::mkfifo(file.c_str(), 0644); break;
        case 'c': made = ::mknod(file.c_str(), S_IFCHR | 0644, makedev(1, 5)); break;
        case 's':
            machine.Write("c/WINDOWS/F", "");
            made = ::truncate(file.c_str(), off_t{5} << 30);
            break;
        default: made = ::link(outside.Path("SYSTEM.INI").c_str(), file.c_str());
        }
        if (made != 0) GTEST_SKIP() << "cannot make the file: " << c.what;
        const std::string before = outside.Contents();
        SetLastError(0);
        EXPECT_EQ(c.succeeds, c.call() != FALSE);
        if (!c.succeeds) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
        }
        EXPECT_EQ(before, outside.Contents());
        // Nothing left behind: no temporary copy, no copy of a FIFO or device.
        size_t files = 0;
        for (const auto& entry : fs::directory_iterator(machine.Path("c/WINDOWS"))) {
            (void)entry;
            ++files;
        }
        EXPECT_LE(files, 2u);
    }
}

}  // namespace

