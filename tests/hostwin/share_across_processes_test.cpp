// Sharing modes between programs: another process's open of a file counts as on Windows, so a
// second writer is refused instead of writing over the first one's changes, and an open file
// can't be deleted from under its holder.
#include <windows.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "scratch_machine.h"

namespace {

const DWORD kRW = GENERIC_READ | GENERIC_WRITE;
const char kIni[] = "C:\\WINDOWS\\SYSTEM.INI";

// A child process that opens kIni with share mode `share` and holds it until told to end.
class HolderProcess {
public:
    explicit HolderProcess(DWORD share) {
        int ready[2], done[2];
        EXPECT_EQ(::pipe(ready), 0);
        EXPECT_EQ(::pipe(done), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(done[1]);  // else the child would wait for its own end of the pipe
            HANDLE h = CreateFileA(kIni, kRW, share, nullptr, OPEN_EXISTING, 0, nullptr);
            const char opened = h != INVALID_HANDLE_VALUE ? 'y' : 'n';
            (void)!::write(ready[1], &opened, 1);
            char c;
            (void)!::read(done[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(done[0]);
        char opened = 'n';
        EXPECT_EQ(::read(ready[0], &opened, 1), 1);
        EXPECT_EQ(opened, 'y');
        ::close(ready[0]);
        done_ = done[1];
    }
    ~HolderProcess() {
        ::close(done_);  // the child's read returns and it exits, closing its handle
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }

private:
    pid_t pid_ = -1;
    int done_ = -1;
};

DWORD OpenError(DWORD access, DWORD share) {
    HANDLE h = CreateFileA(kIni, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return ERROR_SUCCESS;
}

TEST(ShareAcrossProcesses, AnotherProgramsOpenCountsLikeOneOfThisProcess) {
    ScratchMachine machine({{"c/WINDOWS/SYSTEM.INI", "[386Enh]\r\ndevice=x.vxd\r\n"}});
    struct Case {
        DWORD holderShare, access, share, error;
    } cases[] = {
        // The holder reads and writes and shares reading only: a second writer is refused,
        // a reader that shares writing may look.
        {FILE_SHARE_READ, kRW, FILE_SHARE_READ, ERROR_SHARING_VIOLATION},
        {FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, ERROR_SUCCESS},
        // A reader that does not share writing conflicts with the holder's writing.
        {FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, ERROR_SHARING_VIOLATION},
        {FILE_SHARE_READ | FILE_SHARE_WRITE, kRW, FILE_SHARE_READ | FILE_SHARE_WRITE, ERROR_SUCCESS},
        {0, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, ERROR_SHARING_VIOLATION},
        // Queries take no part in sharing.
        {0, 0, 0, ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "holder share " << c.holderShare << ", access "
                                        << c.access << ", share " << c.share);
        {
            HolderProcess holder(c.holderShare);
            EXPECT_EQ(OpenError(c.access, c.share), c.error);
            if (!(c.holderShare & FILE_SHARE_DELETE)) {
                EXPECT_FALSE(DeleteFileA(kIni));
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
                EXPECT_FALSE(MoveFileA(kIni, "C:\\WINDOWS\\SYSTEM.OLD"));
            }
        }
        // Once the holder has ended, its open is gone with it.
        EXPECT_EQ(OpenError(kRW, 0), static_cast<DWORD>(ERROR_SUCCESS));
    }
    // Truncation waits for the check: a refused CREATE_ALWAYS leaves the file whole.
    {
        HolderProcess holder(FILE_SHARE_READ);
        EXPECT_EQ(CreateFileA(kIni, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                              nullptr),
                  INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(machine.Read("c/WINDOWS/SYSTEM.INI"), "[386Enh]\r\ndevice=x.vxd\r\n");
}

}  // namespace
