// Processes: ShellExecuteExA on machine paths, waits and exit codes, CreateProcessA of batch
// files run by hostwin's command interpreter, suspended starts and priorities.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "scratch_machine.h"

namespace {

using Clock = std::chrono::steady_clock;

class Process : public ::testing::Test {
protected:
    void TearDown() override { ::unsetenv("HOSTWIN_BATCH_SECONDS"); }

    void WriteProgram(const std::string& relative, const std::string& script) {
        machine.Write(relative, "#!/bin/sh\n" + script + "\n");
        ASSERT_EQ(0, ::chmod(machine.Path(relative).c_str(), 0755));
    }

    // ShellExecuteExA with the program's usual mask; the process handle, or null.
    static HANDLE Shell(const char* file, const char* parameters, BOOL* ok = nullptr,
                        SHELLEXECUTEINFOA* out = nullptr) {
        SHELLEXECUTEINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
        info.lpFile = file;
        info.lpParameters = parameters;
        BOOL result = ShellExecuteExA(&info);
        if (ok) *ok = result;
        if (out) *out = info;
        return info.hProcess;
    }

    static BOOL Create(std::string commandLine, DWORD flags, const char* directory,
                       PROCESS_INFORMATION& info) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        info = {};
        return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                              directory, &startup, &info);
    }

    // Runs a batch file to its end (bounded) and returns its exit code.
    DWORD RunBatch(const std::string& text) {
        machine.Write("c/RUN.BAT", text);
        PROCESS_INFORMATION info;
        EXPECT_TRUE(Create("C:\\RUN.BAT", 0, "C:\\", info));
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, 20000));
        DWORD code = 99;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        return code;
    }

    // The result of the last batch that ended.
    std::string LastBatchResult() const {
        std::string result;
        for (const std::string& line : machine.Journal())
            if (line.find("{\"event\":\"batch-end\"") == 0) result = line;
        return result;
    }

    ScratchMachine machine{{"machine.ini", "[drives]\nc=fixed\nd=cdrom\n"},
                           {"d/SETUP/readme.txt", "cd"}};
};

TEST_F(Process, ShellExecuteFailsAsWindowsDoesForWhatCannotBeStarted) {
    machine.Write("c/DIR/x.txt", "");
    struct Case {
        const char* file;
        DWORD error;
        uintptr_t instApp;
    } cases[] = {
        {"C:\\WINDOWS\\missing.exe", ERROR_FILE_NOT_FOUND, 2},
        {"C:\\NODIR\\missing.exe", ERROR_PATH_NOT_FOUND, 3},
        {"", ERROR_FILE_NOT_FOUND, 2},
        {"C:\\DIR", ERROR_ACCESS_DENIED, 5},
    };
    for (const Case& c : cases) {
        BOOL ok = TRUE;
        SHELLEXECUTEINFOA info;
        EXPECT_EQ(nullptr, Shell(c.file, "15", &ok, &info)) << c.file;
        EXPECT_FALSE(ok) << c.file;
        EXPECT_EQ(c.error, GetLastError()) << c.file;
        EXPECT_EQ(c.instApp, reinterpret_cast<uintptr_t>(info.hInstApp)) << c.file;
    }
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info - 4;
    info.lpFile = "C:\\DIR\\x.txt";
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

TEST_F(Process, AHostProgramRunsInItsFolderWithItsParametersAndExitCode) {
    WriteProgram("c/WINDOWS/setup.exe",
                 "for a in \"$@\"; do echo \"[$a]\"; done > ARGS.TXT; pwd >> ARGS.TXT; exit 7");
    HANDLE h = Shell("c:\\windows\\SETUP.EXE", "15 \"two words\"  x");
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(h, 20000));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(7u, code);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ("[15]\n[two words]\n[x]\n" + machine.Path("c/WINDOWS") + "\n",
              machine.Read("c/WINDOWS/ARGS.TXT"));
}

TEST_F(Process, AWaitTimesOutWhileTheProgramRuns) {
    WriteProgram("c/slow.exe", "sleep 1");
    HANDLE h = Shell("C:\\slow.exe", nullptr);
    ASSERT_NE(nullptr, h);
    const auto start = Clock::now();
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(h, 100));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(259u, code);  // STILL_ACTIVE
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(h, INFINITE));
    EXPECT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(0u, code);
    CloseHandle(h);
}

TEST_F(Process, AnyOtherFileEndsAtOnceAndOnlyTheMaskGivesAHandle) {
    machine.Write("c/readme.txt", "text");
    HANDLE h = Shell("C:\\readme.txt", nullptr);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(h, 0));
    CloseHandle(h);
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.lpFile = "\\readme.txt";  // root-relative
    EXPECT_TRUE(ShellExecuteExA(&info));
    EXPECT_EQ(nullptr, info.hProcess);
    EXPECT_GT(reinterpret_cast<uintptr_t>(info.hInstApp), 32u);
}

TEST_F(Process, CreateProcessRefusesWhatItCannotRun) {
    machine.Write("c/x.txt", "");
    struct Case {
        const char* commandLine;
        const char* directory;
        DWORD error;
    } cases[] = {
        {"C:\\missing.bat", "C:\\", ERROR_FILE_NOT_FOUND},
        {"\"C:\\NO DIR\\a.bat\" x", "C:\\", ERROR_PATH_NOT_FOUND},
        {"C:\\x.txt", "C:\\", ERROR_BAD_EXE_FORMAT},
        {"C:\\x.txt", "C:\\NODIR", ERROR_DIRECTORY},
    };
    for (const Case& c : cases) {
        PROCESS_INFORMATION info;
        EXPECT_FALSE(Create(c.commandLine, 0, c.directory, info)) << c.commandLine;
        EXPECT_EQ(c.error, GetLastError()) << c.commandLine;
    }
}

TEST_F(Process, TheInterpreterRunsWhatASelfRemovalBatchUses) {
    machine.Write("c/WORK/a b/file one.txt", "1");
    machine.Write("c/WORK/x1.tmp", "");
    machine.Write("c/WORK/x2.tmp", "");
    machine.Write("c/WORK/keep.txt", "");
    machine.Write("c/WORK/ro.txt", "");
    machine.Write("c/WORK/50%/p.txt", "");
    ASSERT_TRUE(CreateDirectoryA("C:\\EMPTY", nullptr));
    machine.Write("d/SETUP/cd.txt", "cd");
    ASSERT_TRUE(SetFileAttributesA("C:\\WORK\\ro.txt", FILE_ATTRIBUTE_READONLY));
    const std::string batch =
        "@echo off\r\n"
        "rem every command word in its own letter case\r\n"
        "GOTO :Start\r\n"
        "del C:\\WORK\\keep.txt\r\n"
        ":START\r\n"
        "Del \"C:\\WORK\\a b\\file one.txt\"\r\n"
        "erase /q C:\\WORK\\*.tmp\r\n"
        "del C:\\WORK\\ro.txt\r\n"
        "del D:\\SETUP\\cd.txt\r\n"
        "del \"C:\\WORK\\50%%\\p.txt\"\r\n"
        "del \"C:\\WORK\\%UNSET%keep.txt%1\" \r\n"
        "If Exist \"C:\\WORK\\a b\\file one.txt\" goto start\r\n"
        "if not exist C:\\WORK\\ro.txt goto Nowhere\r\n"
        "if not exist C:\\WORK\\keep.txt goto Removal\r\n"
        "goto Nowhere\r\n"
        "  :removal  directories\r\n"
        "RmDir \"C:\\WORK\\a b\"\r\n"
        "rd C:\\EMPTY\r\n"
        "rmdir C:\\WORK\r\n"
        "frobnicate now\r\n";
    EXPECT_EQ(0u, RunBatch(batch)) << LastBatchResult();
    EXPECT_FALSE(machine.Exists("c/WORK/a b"));
    EXPECT_FALSE(machine.Exists("c/WORK/x1.tmp"));
    EXPECT_FALSE(machine.Exists("c/WORK/x2.tmp"));
    EXPECT_FALSE(machine.Exists("c/WORK/50%/p.txt"));
    EXPECT_FALSE(machine.Exists("c/WORK/keep.txt"));  // %UNSET% and %1 expand to nothing
    EXPECT_FALSE(machine.Exists("c/EMPTY"));
    EXPECT_TRUE(machine.Exists("c/WORK/ro.txt"));    // read-only stays
    EXPECT_TRUE(machine.Exists("d/SETUP/cd.txt"));   // the CD cannot be written
    EXPECT_TRUE(machine.Exists("c/WORK"));           // not empty
    bool unknownReported = false;
    for (const std::string& line : machine.Journal())
        unknownReported |= line.find("\"command\":\"frobnicate now\"") != std::string::npos;
    EXPECT_TRUE(unknownReported);
}

TEST_F(Process, ABatchThatLoopsIsAbandonedAndAMissingLabelEndsIt) {
    ::setenv("HOSTWIN_BATCH_SECONDS", "0.5", 1);
    machine.Write("d/SETUP/locked.exe", "");
    const auto start = Clock::now();
    EXPECT_EQ(1u, RunBatch(":Repeat\r\ndel \"D:\\SETUP\\locked.exe\"\r\n"
                           "if exist \"D:\\SETUP\\locked.exe\" goto Repeat\r\n"));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_NE(std::string::npos, LastBatchResult().find("abandoned"));
    EXPECT_EQ(1u, RunBatch("goto nowhere\r\n"));
    EXPECT_NE(std::string::npos, LastBatchResult().find("\"result\":\"no label nowhere\""));
}

TEST_F(Process, ASuspendedBatchRunsOnlyOnceResumed) {
    machine.Write("c/victim.txt", "");
    machine.Write("c/RUN.BAT", "del C:\\victim.txt\r\n");
    PROCESS_INFORMATION info;
    ASSERT_TRUE(Create("\\RUN.BAT", CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, "\\", info));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(info.hProcess, 300));
    EXPECT_TRUE(machine.Exists("c/victim.txt"));
    EXPECT_TRUE(SetThreadPriority(info.hThread, THREAD_PRIORITY_IDLE));
    EXPECT_FALSE(SetThreadPriority(info.hThread, 7));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_TRUE(SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS));
    EXPECT_FALSE(SetPriorityClass(GetCurrentProcess(), 0x1234));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(1u, ResumeThread(info.hThread));
    EXPECT_EQ(0u, ResumeThread(info.hThread));
    EXPECT_EQ(static_cast<DWORD>(-1), ResumeThread(reinterpret_cast<HANDLE>(0x7777)));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hThread, 20000));
    EXPECT_FALSE(machine.Exists("c/victim.txt"));
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
}

TEST_F(Process, ABatchLetGoWithoutResumeNeverRuns) {
    machine.Write("c/victim.txt", "");
    machine.Write("c/RUN.BAT", "del C:\\victim.txt\r\n");
    PROCESS_INFORMATION info;
    ASSERT_TRUE(Create("C:\\RUN.BAT", CREATE_SUSPENDED, nullptr, info));
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    bool ended = false;
    while (!ended && Clock::now() < deadline) {
        for (const std::string& line : machine.Journal())
            ended |= line.find("batch-not-resumed") != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(ended);
    EXPECT_TRUE(machine.Exists("c/victim.txt"));
}

}  // namespace
