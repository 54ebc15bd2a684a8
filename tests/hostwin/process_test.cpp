// Processes: ShellExecuteExA on machine paths, waits and exit codes, CreateProcessA of batch
// files run by hostwin's command interpreter, suspended starts.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "scratch_machine.h"

namespace {

using Clock = std::chrono::steady_clock;

class Process : public ::testing::Test {
protected:
    void TearDown() override {
        ::unsetenv("HOSTWIN_BATCH_SECONDS");
        ::unsetenv("HOSTWIN_ALLOW_HOST_PROGRAMS");
    }

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

    // The last journal line of another machine holding `what`, or "".
    static std::string LastLine(const ScratchMachine& other, const std::string& what) {
        std::string found;
        for (const std::string& line : other.Journal())
            if (line.find(what) != std::string::npos) found = line;
        return found;
    }

    ScratchMachine machine{{"machine.ini", "[drives]\nc=fixed\nd=cdrom\n"},
                           {"d/SETUP/readme.txt", "cd"}};
};

// A missing file, a folder or a file that is no program fails as on Windows.
TEST_F(Process, ShellExecuteStartsWhatExistsAndFailsAsWindowsDoes) {
    machine.Write("c/DIR/readme.txt", "");
    machine.Write("c/DIR/setup.exe", "MZ but no program the machine can run");
    machine.Write("c/DIR/RUN.BAT", "rem\r\n");
    struct Case { const char* file; DWORD error; uintptr_t instApp; } cases[] = {
        {"C:\\WINDOWS\\missing.exe", ERROR_FILE_NOT_FOUND, 2},
        {"C:\\NODIR\\missing.exe", ERROR_PATH_NOT_FOUND, 3},
        {"", ERROR_FILE_NOT_FOUND, 2},
        {"C:\\DIR", ERROR_ACCESS_DENIED, 5},
        {"C:\\DIR\\setup.exe", ERROR_BAD_EXE_FORMAT, 11},
        {"C:\\DIR\\readme.txt", ERROR_BAD_EXE_FORMAT, 11},
    };
    SHELLEXECUTEINFOA info;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_FALSE(Shell(c.file, "15", info));
        EXPECT_EQ(nullptr, info.hProcess);
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_EQ(c.instApp, reinterpret_cast<uintptr_t>(info.hInstApp));
    }
    ASSERT_TRUE(Shell("C:\\DIR\\RUN.BAT", nullptr, info));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, 20000));
    CloseHandle(info.hProcess);
    EXPECT_TRUE(Shell("\\DIR\\RUN.BAT", nullptr, info, SEE_MASK_FLAG_NO_UI));  // root-relative
    EXPECT_EQ(nullptr, info.hProcess);  // only the mask gives a handle
    EXPECT_GT(reinterpret_cast<uintptr_t>(info.hInstApp), 32u);
}

// A started program runs in the caller's current directory; while it runs, its executable
// can be read but not changed, moved or deleted, and its current directory not removed.
TEST_F(Process, AHostProgramGetsItsParametersAndIsLockedWhileItRuns) {
    ::setenv("HOSTWIN_ALLOW_HOST_PROGRAMS", "1", 1);
    machine.Write("c/WINDOWS/setup.exe", "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done "
                                         "> ARGS.TXT; pwd >> ARGS.TXT; sleep 1\n");
    machine.Write("c/WINDOWS/new.exe", "new");
    ASSERT_EQ(0, ::chmod(machine.Path("c/WINDOWS/setup.exe").c_str(), 0755));
    ASSERT_TRUE(CreateDirectoryA("C:\\WORK", nullptr));
    char saved[4096];
    ASSERT_NE(nullptr, ::getcwd(saved, sizeof saved));
    ASSERT_EQ(0, ::chdir(machine.Path("c/WORK").c_str()));
    SHELLEXECUTEINFOA info;
    const BOOL started = Shell("c:\\windows\\SETUP.EXE", "15 \"two words\"  x", info);
    ASSERT_EQ(0, ::chdir(saved));
    ASSERT_TRUE(started);
    const auto start = Clock::now();
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(info.hProcess, 100));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));

    const struct { char op; const char* path; DWORD error; } refused[] = {
        {'d', "C:\\WINDOWS\\setup.exe", ERROR_ACCESS_DENIED},
        {'c', "C:\\WINDOWS\\setup.exe", ERROR_SHARING_VIOLATION},
        {'m', "C:\\WINDOWS\\setup.exe", ERROR_ACCESS_DENIED},
        {'w', "C:\\WINDOWS\\setup.exe", ERROR_SHARING_VIOLATION},
        {'r', "C:\\WORK", ERROR_CURRENT_DIRECTORY},
        {'m', "C:\\WORK", ERROR_ACCESS_DENIED},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(std::string(1, c.op) + " " + c.path);
        SetLastError(0);
        HANDLE file = INVALID_HANDLE_VALUE;
        switch (c.op) {
            case 'd': EXPECT_FALSE(DeleteFileA(c.path)); break;
            case 'c': EXPECT_FALSE(CopyFileA("C:\\WINDOWS\\new.exe", c.path, FALSE)); break;
            case 'm': EXPECT_FALSE(MoveFileA(c.path, "C:\\WINDOWS\\old")); break;
            case 'w':
                file = CreateFileA(c.path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                EXPECT_EQ(INVALID_HANDLE_VALUE, file);
                break;
            case 'r': EXPECT_FALSE(RemoveDirectoryA(c.path)); break;
        }
        EXPECT_EQ(c.error, GetLastError());
    }
    HANDLE reading = CreateFileA("C:\\WINDOWS\\setup.exe", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, reading);
    CloseHandle(reading);

    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, INFINITE));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_EQ("[15]\n[two words]\n[x]\n" + machine.Path("c/WORK") + "\n",
              machine.Read("c/WORK/ARGS.TXT"));
    // Once it has ended, both can go.
    EXPECT_TRUE(DeleteFileA("C:\\WORK\\ARGS.TXT"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\WORK"));
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\setup.exe"));
}

// A machine folder is data: a host executable in it runs only when host programs are allowed,
// while a program that [programs] describes is played, allowed or not: it records its
// arguments beside itself, runs for its time, is locked meanwhile and ends with its code.
TEST_F(Process, ProgramsOfTheFolderArePlayedAndHostProgramsRunOnlyWhenAllowed) {
    ScratchMachine folder{{"machine.ini", "[programs]\n; the setup program\n"
                                          "C:\\WINDOWS\\SETUP.EXE.runs=400   ; ms\n"
                                          "c:/windows/setup.exe.exit=7\n"
                                          "C:\\WINDOWS\\SETUP.EXE.log=SETUP.LOG\n"
                                          "C:\\WINDOWS\\LINKED.EXE.log=OUT.LOG\n"},
                          {"c/WINDOWS/SETUP.EXE", "#!/bin/sh\necho ran > HOST.TXT\n"},
                          {"c/WINDOWS/LINKED.EXE", "x"},
                          {"c/WINDOWS/HOST.EXE", "#!/bin/sh\necho ran > HOST.TXT\n"},
                          {"outside.txt", "kept"}};
    ASSERT_EQ(0, ::chmod(folder.Path("c/WINDOWS/SETUP.EXE").c_str(), 0755));
    ASSERT_EQ(0, ::chmod(folder.Path("c/WINDOWS/HOST.EXE").c_str(), 0755));
    ASSERT_EQ(0, ::symlink(folder.Path("outside.txt").c_str(), folder.Path("c/WINDOWS/OUT.LOG").c_str()));
    for (const char* allow : {"0", "1"}) {
        SCOPED_TRACE(allow);
        ::setenv("HOSTWIN_ALLOW_HOST_PROGRAMS", allow, 1);
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(Create("C:\\WINDOWS\\setup.exe 15 \"two words\"", CREATE_SUSPENDED, "C:\\", info));
        EXPECT_NE(std::string::npos, LastLine(folder, "process-create").find("\"kind\":\"simulated program\""));
        EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\SETUP.EXE"));
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
        const std::string record = "SETUP.EXE started with: 15 two words\n";
        const std::string before = allow[0] == '1' ? record : "";
        // Nothing is recorded before it is resumed.
        EXPECT_EQ(before, folder.Exists("c/WINDOWS/SETUP.LOG") ? folder.Read("c/WINDOWS/SETUP.LOG") : "");
        EXPECT_EQ(1u, ResumeThread(info.hThread));
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(info.hProcess, 100));
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, 20000));
        EXPECT_EQ(before + record, folder.Read("c/WINDOWS/SETUP.LOG"));
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
        EXPECT_EQ(7u, code);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);

        // A record that would leave the folder is not written: the program fails with 1.
        ASSERT_TRUE(Create("C:\\WINDOWS\\LINKED.EXE x", 0, "C:\\", info));
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, 20000));
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
        EXPECT_EQ(1u, code);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        EXPECT_EQ("kept", folder.Read("outside.txt"));

        // An undescribed host executable is refused unless allowed.
        const BOOL started = Create("C:\\WINDOWS\\HOST.EXE", 0, "C:\\", info);
        EXPECT_EQ(allow[0] == '1', started != FALSE);
        if (started) {
            EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, 20000));
            CloseHandle(info.hProcess);
            CloseHandle(info.hThread);
        } else {
            EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
            EXPECT_NE(std::string::npos,
                      LastLine(folder, "process-create").find("host programs are not allowed"));
        }
    }
    EXPECT_EQ("ran\n", folder.Read("c/HOST.TXT"));  // once, when allowed, in the caller's directory
}

// A folder that a batch (or this process) has as its current directory stays; so a
// self-removal batch must run from elsewhere, such as the root.
TEST_F(Process, NoProcessesCurrentDirectoryCanBeRemoved) {
    for (const char* directory : {"C:\\PKG", "\\"}) {
        SCOPED_TRACE(directory);
        ASSERT_TRUE(CreateDirectoryA("C:\\PKG", nullptr));
        machine.Write("c/RUN.BAT", "rmdir C:\\PKG\r\n");
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(Create("C:\\RUN.BAT", 0, directory, info));
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, 20000));
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        EXPECT_EQ(directory[1] != '\0', machine.Exists("c/PKG"));
        RemoveDirectoryA("C:\\PKG");
    }
    char saved[4096];
    ASSERT_NE(nullptr, ::getcwd(saved, sizeof saved));
    ASSERT_TRUE(CreateDirectoryA("C:\\PKG", nullptr));
    ASSERT_EQ(0, ::chdir(machine.Path("c/PKG").c_str()));
    SetLastError(0);
    const BOOL removed = RemoveDirectoryA("C:\\PKG");
    const DWORD error = GetLastError();
    ASSERT_EQ(0, ::chdir(saved));
    EXPECT_FALSE(removed);
    EXPECT_EQ(static_cast<DWORD>(ERROR_CURRENT_DIRECTORY), error);
}

// Quoted paths, % in paths and the removal of the program's folder are run by the upgrade's
// own self-removal tests; here the rest of what its batch relies on.
TEST_F(Process, TheInterpreterRunsWhatASelfRemovalBatchUses) {
    for (const char* file : {"c/WORK/skipped.txt", "c/WORK/ro.txt", "c/WORK/x.txt",
                             "c/WORK/hidden.sys", "c/WORK/system.sys", "c/WORK/plain.sys"})
        machine.Write(file, "");
    ASSERT_TRUE(SetFileAttributesA("C:\\WORK\\ro.txt", FILE_ATTRIBUTE_READONLY));
    // del passes over hidden and system files, named or matched.
    ASSERT_TRUE(SetFileAttributesA("C:\\WORK\\hidden.sys", FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesA("C:\\WORK\\system.sys", FILE_ATTRIBUTE_SYSTEM));
    const std::string batch =
        "@echo off\r\n"
        "rem command words and labels in any letter case\r\n"
        "GOTO :Start\r\n"
        "del C:\\WORK\\skipped.txt\r\n"
        ":START\r\n"
        "Del \"C:\\WORK\\%UNSET%x.txt%1\" \r\n"
        "del C:\\WORK\\ro.txt C:\\WORK\\hidden.sys\r\n"
        "del C:\\WORK\\*.sys\r\n"
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
    EXPECT_TRUE(machine.Exists("c/WORK/hidden.sys"));
    EXPECT_TRUE(machine.Exists("c/WORK/system.sys"));
    EXPECT_FALSE(machine.Exists("c/WORK/plain.sys"));
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
