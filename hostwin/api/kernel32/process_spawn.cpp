// Host processes: fork and exec for programs, a double fork for detached batch processes.
#include "process_spawn.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hostwin/folder_walk.h"
#include "hostwin.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "process_batch.h"
#include "hostwin/running_programs.h"

namespace hostwin {

namespace {

// Moves the descriptors to keep to 3, 4, ... and closes every other one above 2, so that a
// started process holds no pipe of the program (or of whoever runs it) open.
void KeepOnlyDescriptors(std::vector<int*> keep) {
    int next = 3;
    for (int* fd : keep) {
        // Out of the way first, so that moving one never lands on another still to move.
        int moved = ::fcntl(*fd, F_DUPFD, 100);
        if (moved >= 0) *fd = moved;
    }
    for (int* fd : keep) {
        ::dup2(*fd, next);
        *fd = next++;
    }
    if (::close_range(static_cast<unsigned>(next), ~0U, 0) != 0)
        for (int fd = next; fd < 4096; ++fd) ::close(fd);
}

void StandardStreamsToNull() {
    int null = ::open("/dev/null", O_RDWR);
    if (null < 0) return;
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (null > 2) ::close(null);
}

std::string MachineRootAbsolute() {
    char buffer[PATH_MAX];
    const std::string& root = Machine::Current().Root();
    return ::realpath(root.c_str(), buffer) ? std::string(buffer) : root;
}

bool WriteAll(int fd, const void* data, size_t size) {
    return ::write(fd, data, size) == static_cast<ssize_t>(size);
}

bool ReadAll(int fd, void* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, static_cast<char*>(data) + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Blocks a suspended process until ResumeThread; false when the program let go of it
// without resuming it.
bool WaitForResume(int resumeFd) {
    char go;
    ssize_t n;
    do n = ::read(resumeFd, &go, 1);
    while (n < 0 && errno == EINTR);
    return n == 1;
}

}  // namespace

std::vector<std::string> SplitParameters(const std::string& parameters) {
    std::vector<std::string> arguments;
    std::string current;
    bool inQuotes = false, any = false;
    for (char c : parameters) {
        if (c == '"') {
            inQuotes = !inQuotes;
            any = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (any) arguments.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) arguments.push_back(current);
    return arguments;
}

bool IsHostExecutable(const std::string& hostFile) {
    struct stat st;
    return StatInMachine(hostFile, &st, true) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111);
}

DWORD StartHostProgram(const std::string& hostFile, const std::string& name,
                       const std::vector<std::string>& arguments,
                       const std::string& hostDirectory, bool suspended,
                       std::shared_ptr<ProcessState>& process) {
    SyncMachine();
    const std::string machineRoot = MachineRootAbsolute();
    std::vector<std::string> argvText;
    argvText.push_back(hostFile);
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    // The program and its directory are opened by the walk of the machine folder and started
    // by descriptor: a path swapped for a link meanwhile cannot start a program outside.
    const int programFd = OpenInMachine(hostFile, O_RDONLY);
    if (programFd < 0) return ERROR_ACCESS_DENIED;
    const int directoryFd = OpenInMachine(hostDirectory, O_RDONLY | O_DIRECTORY);
    int errorPipe[2] = {-1, -1}, resumePipe[2] = {-1, -1};
    if (::pipe2(errorPipe, O_CLOEXEC) != 0 ||
        (suspended && ::pipe2(resumePipe, O_CLOEXEC) != 0)) {
        if (errorPipe[0] >= 0) {
            ::close(errorPipe[0]);
            ::close(errorPipe[1]);
        }
        ::close(programFd);
        if (directoryFd >= 0) ::close(directoryFd);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        int errorFd = errorPipe[1], resumeFd = resumePipe[0], execFd = programFd,
            dirFd = directoryFd;
        std::vector<int*> keep = {&errorFd, &execFd};
        if (dirFd >= 0) keep.push_back(&dirFd);
        if (suspended) keep.push_back(&resumeFd);
        KeepOnlyDescriptors(keep);
        ::fcntl(errorFd, F_SETFD, FD_CLOEXEC);
        StandardStreamsToNull();
        // The current directory is the process's from its start, also while it is suspended.
        int error = 0;
        if (dirFd < 0 || ::fchdir(dirFd) != 0) error = dirFd < 0 ? ENOENT : errno;
        if (dirFd >= 0) ::close(dirFd);
        if (suspended && !WaitForResume(resumeFd)) ::_exit(1);
        if (suspended) ::close(resumeFd);
        ::setenv("HOSTWIN_MACHINE", machineRoot.c_str(), 1);
        ::unsetenv("HOSTWIN_CMDLINE");
        if (error == 0) {
            // Kept open across the exec, so that a script's interpreter can read it.
            ::fcntl(execFd, F_SETFD, 0);
            ::fexecve(execFd, argv.data(), environ);
            error = errno;
        }
        WriteAll(errorFd, &error, sizeof error);
        ::_exit(127);
    }
    ::close(errorPipe[1]);
    ::close(programFd);
    if (directoryFd >= 0) ::close(directoryFd);
    if (suspended) ::close(resumePipe[0]);
    if (pid < 0) {
        ::close(errorPipe[0]);
        if (suspended) ::close(resumePipe[1]);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    process = std::make_shared<ProcessState>(ProcessState::Kind::HostChild, pid, name);
    NoteStartedProcess(pid, hostFile);
    if (suspended) {
        // The exec outcome is known only once the process runs; it is then reported as an
        // ordinary end with code 127.
        process->SetResumePipe(resumePipe[1], 1);
        ::close(errorPipe[0]);
        return ERROR_SUCCESS;
    }
    int error = 0;
    const bool failed = ReadAll(errorPipe[0], &error, sizeof error);
    ::close(errorPipe[0]);
    if (failed) {
        process->WaitForEnd(INFINITE);  // it ends at once with 127; reap it
        process.reset();
        return ERROR_BAD_EXE_FORMAT;
    }
    return ERROR_SUCCESS;
}

DWORD StartSimulatedProgram(const SimulatedProgram& description, const std::string& executableHost,
                            const std::string& name, const std::vector<std::string>& arguments,
                            const std::string& logHost,
                            const std::string& hostDirectory, bool suspended,
                            std::shared_ptr<ProcessState>& process) {
    SyncMachine();
    std::string record = name + " started with:";
    for (const std::string& a : arguments) record += " " + a;
    record += "\n";
    int resumePipe[2] = {-1, -1};
    if (suspended && ::pipe2(resumePipe, O_CLOEXEC) != 0) return ERROR_NOT_ENOUGH_MEMORY;
    pid_t pid = ::fork();
    if (pid == 0) {
        int resumeFd = resumePipe[0];
        std::vector<int*> keep;
        if (suspended) keep.push_back(&resumeFd);
        KeepOnlyDescriptors(keep);
        StandardStreamsToNull();
        int ignored = ChangeDirectoryInMachine(hostDirectory);
        (void)ignored;
        if (suspended && !WaitForResume(resumeFd)) ::_exit(1);
        if (suspended) ::close(resumeFd);
        // The record is appended in one write, never through a link; a program that cannot
        // write its record fails as such a program would, with exit code 1.
        if (!description.log.empty()) {
            const int log = logHost.empty() ? -1 : OpenForAppendInMachine(logHost);
            const bool written = log >= 0 && WriteAll(log, record.data(), record.size());
            if (log >= 0) ::close(log);
            if (!written) ::_exit(1);
        }
        struct timespec rest = {static_cast<time_t>(description.runsMs / 1000),
                                static_cast<long>(description.runsMs % 1000) * 1000000L};
        while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
        }
        ::_exit(static_cast<int>(description.exitCode));
    }
    if (suspended) ::close(resumePipe[0]);
    if (pid < 0) {
        if (suspended) ::close(resumePipe[1]);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    process = std::make_shared<ProcessState>(ProcessState::Kind::HostChild, pid, name);
    NoteStartedProcess(pid, executableHost);
    if (suspended) process->SetResumePipe(resumePipe[1], 1);
    return ERROR_SUCCESS;
}

DWORD StartBatchProcess(const std::string& batchWindowsPath, const std::string& hostDirectory,
                        bool suspended, bool idle, std::shared_ptr<ProcessState>& process) {
    SyncMachine();
    const pid_t creator = ::getpid();
    const BatchLimits limits = DefaultBatchLimits();
    int resumePipe[2] = {-1, -1}, exitPipe[2];
    if (::pipe2(exitPipe, O_CLOEXEC) != 0) return ERROR_NOT_ENOUGH_MEMORY;
    if (suspended && ::pipe2(resumePipe, O_CLOEXEC) != 0) {
        ::close(exitPipe[0]);
        ::close(exitPipe[1]);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    pid_t middle = ::fork();
    if (middle == 0) {
        // The middle process starts a session of its own and leaves at once, so that the
        // batch process is nobody's child and outlives the program that started it.
        ::setsid();
        pid_t batch = ::fork();
        if (batch != 0) ::_exit(batch < 0 ? 1 : 0);
        int exitFd = exitPipe[1], resumeFd = resumePipe[0];
        std::vector<int*> keep = {&exitFd};
        if (suspended) keep.push_back(&resumeFd);
        KeepOnlyDescriptors(keep);
        StandardStreamsToNull();
        ::signal(SIGPIPE, SIG_IGN);  // the program may be gone when the batch reports its end
        const bool inDirectory = ChangeDirectoryInMachine(hostDirectory) == 0;
        const int32_t pid = static_cast<int32_t>(::getpid());
        WriteAll(exitFd, &pid, sizeof pid);
        if (suspended && !WaitForResume(resumeFd)) {
            JournalEvent("batch-not-resumed").Text("file", batchWindowsPath).Write();
            ::_exit(1);
        }
        if (suspended) ::close(resumeFd);
        if (idle) {
            int ignored = ::setpriority(PRIO_PROCESS, 0, 19);
            (void)ignored;
        }
        int32_t code = 1;
        if (inDirectory) code = RunBatch(batchWindowsPath, creator, limits);
        WriteAll(exitFd, &code, sizeof code);
        ::_exit(code);
    }
    ::close(exitPipe[1]);
    if (suspended) ::close(resumePipe[0]);
    int32_t pid = 0;
    if (middle < 0 || !ReadAll(exitPipe[0], &pid, sizeof pid)) {
        if (middle > 0) ::waitpid(middle, nullptr, 0);
        ::close(exitPipe[0]);
        if (suspended) ::close(resumePipe[1]);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    ::waitpid(middle, nullptr, 0);
    process = std::make_shared<ProcessState>(ProcessState::Kind::Detached, pid,
                                             batchWindowsPath.substr(batchWindowsPath.rfind('\\') + 1));
    process->SetExitPipe(exitPipe[0]);
    NoteStartedProcess(pid, "");
    if (suspended) process->SetResumePipe(resumePipe[1], 1);
    return ERROR_SUCCESS;
}

}  // namespace hostwin
