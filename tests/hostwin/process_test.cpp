// Processes: ShellExecuteExA on machine paths, waits and exit codes, CreateProcessA of batch
// files run by hostwin's command interpreter, suspended starts.
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

    // ShellExecuteExA with the upgrade's mask; info.hProcess is the handle, or null.
    static BOOL Shell(const char* file, const char* parameters, SHELLEXECUTEINFOA& info,
                      ULONG mask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS) {
        info = {};
        info.cbSize = sizeof info;
        info.fMask = mask;
        info.lpFile = file;
        info.lpParameters = parameters;
        return ShellExecuteExA(&info);
    }

    static BOOL Create(std::string commandLine, DWORD flags, const char* directory,
                       PROCESS_INFORMATION& info) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                              directory, &startup, &info);
    }

    // Runs a batch file to its end (bounded); its exit code.
    DWORD RunBatch(const std::string& text) {
        machine.Write("c/RUN.BAT", text);
        PROCESS_INFORMATION info = {};
        EXPECT_TRUE(Create("C:\\RUN.BAT", 0, "C:\\", info));
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, 20000));
        DWORD code = 99;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        return code;
    }

    // The last journal line holding `what`, or "".
    std::string JournalLine(const std::string& what) const {
        std::string found;
        for (const std::string& line : machine.Journal())
            if (line.find(what) != std::string::npos) found = line;
        return found;
    }

    ScratchMachine machine{{"machine.ini", "[drives]\nc=fixed\nd=cdrom\n"},
                           {"d/SETUP/readme.txt", "cd"}};
};

// A missing file fails as Windows does; any other file than a host program ends at once.
TEST_F(Process, ShellExecuteStartsWhatExistsAndFailsAsWindowsDoes) {
    machine.Write("c/DIR/readme.txt", "");
    struct Case { const char* file; DWORD error; uintptr_t instApp; } cases[] = {
        {"C:\\WINDOWS\\missing.exe", ERROR_FILE_NOT_FOUND, 2},
        {"C:\\NODIR\\missing.exe", ERROR_PATH_NOT_FOUND, 3},
        {"", ERROR_FILE_NOT_FOUND, 2},
        {"C:\\DIR", ERROR_ACCESS_DENIED, 5},
    };
    SHELLEXECUTEINFOA info;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_FALSE(Shell(c.file, "15", info));
        EXPECT_EQ(nullptr, info.hProcess);
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_EQ(c.instApp, reinterpret_cast<uintptr_t>(info.hInstApp));
    }
    ASSERT_TRUE(Shell("C:\\DIR\\readme.txt", nullptr, info));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, 0));
    CloseHandle(info.hProcess);
    EXPECT_TRUE(Shell("\\DIR\\readme.txt", nullptr, info, SEE_MASK_FLAG_NO_UI));  // root-relative
    EXPECT_EQ(nullptr, info.hProcess);  // only the mask gives a handle
    EXPECT_GT(reinterpret_cast<uintptr_t>(info.hInstApp), 32u);
}

TEST_F(Process, AHostProgramGetsItsQuotedParametersAndCanOutliveAWait) {
    machine.Write("c/WINDOWS/setup.exe", "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done "
                                         "> ARGS.TXT; pwd >> ARGS.TXT; sleep 1\n");
    ASSERT_EQ(0, ::chmod(machine.Path("c/WINDOWS/setup.exe").c_str(), 0755));
    SHELLEXECUTEINFOA info;
    ASSERT_TRUE(Shell("c:\\windows\\SETUP.EXE", "15 \"two words\"  x", info));
    const auto start = Clock::now();
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(info.hProcess, 100));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, INFINITE));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_EQ("[15]\n[two words]\n[x]\n" + machine.Path("c/WINDOWS") + "\n",
              machine.Read("c/WINDOWS/ARGS.TXT"));
}

// Quoted paths, % in paths and the removal of the program's folder are run by the upgrade's
// own self-removal tests; here the rest of what its batch relies on.
TEST_F(Process, TheInterpreterRunsWhatASelfRemovalBatchUses) {
    for (const char* file : {"c/WORK/skipped.txt", "c/WORK/ro.txt", "c/WORK/x.txt"})
        machine.Write(file, "");
    ASSERT_TRUE(SetFileAttributesA("C:\\WORK\\ro.txt", FILE_ATTRIBUTE_READONLY));
    const std::string batch =
        "@echo off\r\n"
        "rem command words and labels in any letter case\r\n"
        "GOTO :Start\r\n"
        "del C:\\WORK\\skipped.txt\r\n"
        ":START\r\n"
        "Del \"C:\\WORK\\%UNSET%x.txt%1\" \r\n"
        "del C:\\WORK\\ro.txt\r\n"
        "If Exist C:\\WORK\\x.txt goto start\r\n"
        "if not exist C:\\WORK\\ro.txt goto Nowhere\r\n"
        "if not exist C:\\WORK\\x.txt goto Removal\r\n"
        "goto Nowhere\r\n"
        "  :removal  directories\r\n"
        "RmDir C:\\WORK\r\n"
        "frobnicate now\r\n";
    EXPECT_EQ(0u, RunBatch(batch)) << JournalLine("\"batch-end\"");
    EXPECT_FALSE(machine.Exists("c/WORK/x.txt"));       // %UNSET% and %1 expand to nothing
    EXPECT_TRUE(machine.Exists("c/WORK/skipped.txt"));  // jumped over
    EXPECT_TRUE(machine.Exists("c/WORK/ro.txt"));       // read-only stays, so does its folder
    EXPECT_NE("", JournalLine("\"command\":\"frobnicate now\""));
}

TEST_F(Process, ABatchThatLoopsIsAbandonedAndAMissingLabelEndsIt) {
    ::setenv("HOSTWIN_BATCH_SECONDS", "0.5", 1);
    machine.Write("d/SETUP/locked.exe", "");
    const auto start = Clock::now();
    EXPECT_EQ(1u, RunBatch(":Repeat\r\ndel \"D:\\SETUP\\locked.exe\"\r\n"
                           "if exist \"D:\\SETUP\\locked.exe\" goto Repeat\r\n"));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_NE(std::string::npos, JournalLine("\"batch-end\"").find("abandoned"));
    EXPECT_EQ(1u, RunBatch("goto nowhere\r\n"));
    EXPECT_NE(std::string::npos, JournalLine("\"batch-end\"").find("\"result\":\"no label nowhere\""));
}

TEST_F(Process, ASuspendedBatchRunsOnlyOnceResumedAndNeverWhenLetGo) {
    machine.Write("c/victim.txt", "");
    machine.Write("c/RUN.BAT", "del C:\\victim.txt\r\n");
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(Create("C:\\RUN.BAT", CREATE_SUSPENDED, nullptr, info));
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (JournalLine("batch-not-resumed").empty() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE("", JournalLine("batch-not-resumed"));
    EXPECT_TRUE(machine.Exists("c/victim.txt"));

    ASSERT_TRUE(Create("\\RUN.BAT", CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, "\\", info));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(info.hProcess, 300));
    EXPECT_TRUE(machine.Exists("c/victim.txt"));
    EXPECT_TRUE(SetThreadPriority(info.hThread, THREAD_PRIORITY_IDLE));
    EXPECT_TRUE(SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS));
    EXPECT_EQ(1u, ResumeThread(info.hThread));
    EXPECT_EQ(0u, ResumeThread(info.hThread));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hThread, 20000));
    EXPECT_FALSE(machine.Exists("c/victim.txt"));
    for (const char* event : {"process-create", "thread-priority", "priority-class", "thread-resume"})
        EXPECT_NE("", JournalLine("{\"event\":\"" + std::string(event) + "\"")) << event;
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
}

}  // namespace
