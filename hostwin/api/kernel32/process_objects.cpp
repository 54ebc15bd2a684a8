// Process and thread objects, WaitForSingleObject, GetExitCodeProcess, Sleep, ResumeThread,
// SetThreadPriority and SetPriorityClass (kernel32). Priorities are journaled, not applied:
// the host scheduler plays no part in what the programs may rely on.
#include "process_objects.h"

#include <errno.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <thread>

#include "hostwin/host_error.h"
#include "hostwin/journal.h"
#include "hostwin/running_programs.h"

namespace hostwin {

namespace {

using Clock = std::chrono::steady_clock;

DWORD CodeOfStatus(int status) {
    if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
    // Ended by a signal: reported the way a shell does.
    if (WIFSIGNALED(status)) return static_cast<DWORD>(128 + WTERMSIG(status));
    return 1;
}

}  // namespace

ProcessState::ProcessState(Kind kind, pid_t pid, std::string name)
    : kind_(kind), pid_(pid), name_(std::move(name)) {}

ProcessState::~ProcessState() {
    // Closing the resume pipe of a process that was never resumed ends it without running.
    if (resumeFd_ >= 0) ::close(resumeFd_);
    if (exitFd_ >= 0) ::close(exitFd_);
    // Reap a child that has ended, so that no zombie is left behind.
    if (kind_ == Kind::HostChild && !ended_) {
        int status;
        ::waitpid(pid_, &status, WNOHANG);
    }
}

void ProcessState::SetResumePipe(int fd, DWORD suspendCount) {
    resumeFd_ = fd;
    suspendCount_ = suspendCount;
}

DWORD ProcessState::Resume() {
    const DWORD previous = suspendCount_;
    if (suspendCount_ > 0 && --suspendCount_ == 0 && resumeFd_ >= 0) {
        const char go = 'g';
        ssize_t written = ::write(resumeFd_, &go, 1);
        (void)written;
        ::close(resumeFd_);
        resumeFd_ = -1;
    }
    return previous;
}

void ProcessState::Ended(DWORD code) {
    ended_ = true;
    exitCode_ = code;
    // Seen to end: it no longer counts as running, even while the host still tears it down.
    NoteProcessEnded(pid_);
    JournalEvent("process-end")
        .Text("program", name_)
        .Number("pid", pid_)
        .Number("code", static_cast<long long>(code))
        .Write();
}

bool ProcessState::WaitForEnd(DWORD timeoutMs) {
    if (ended_) return true;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (kind_ == Kind::HostChild) {
            int status;
            pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                Ended(CodeOfStatus(status));
                return true;
            }
            if (done < 0 && errno != EINTR) {
                Ended(1);  // reaped elsewhere: it has ended all the same
                return true;
            }
        } else if (exitFd_ >= 0) {
            struct pollfd p = {exitFd_, POLLIN, 0};
            int slice = 20;
            if (timeoutMs != INFINITE) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                  Clock::now());
                slice = left.count() < slice ? static_cast<int>(std::max<long long>(0, left.count()))
                                             : slice;
            }
            if (::poll(&p, 1, slice) > 0) {
                // The process writes its exit code as it ends; a bare end of the pipe means it
                // was killed.
                int32_t code = 1;
                ssize_t n = ::read(exitFd_, &code, sizeof code);
                Ended(n == static_cast<ssize_t>(sizeof code) ? static_cast<DWORD>(code) : 1);
                return true;
            }
        }
        if (timeoutMs != INFINITE && Clock::now() >= deadline) return false;
        if (kind_ == Kind::HostChild) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

ProcessState* ProcessOfHandle(HANDLE handle) {
    if (ProcessObject* p = LookupHandleAs<ProcessObject>(handle)) return p->state.get();
    if (ThreadObject* t = LookupHandleAs<ThreadObject>(handle)) return t->state.get();
    return nullptr;
}

}  // namespace hostwin

using namespace hostwin;

namespace {

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(-1);
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(-2);

void JournalOwner(JournalEvent& event, ProcessState* process) {
    if (process) {
        event.Text("program", process->Name()).Number("pid", process->Pid());
    } else {
        event.Text("program", "current").Number("pid", ::getpid());
    }
}

}  // namespace

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    ProcessState* process = ProcessOfHandle(hHandle);
    if (!process) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    const bool ended = process->WaitForEnd(dwMilliseconds);
    JournalEvent("wait")
        .Text("program", process->Name())
        .Number("ms", static_cast<long long>(dwMilliseconds))
        .Text("result", ended ? "ended" : "timeout")
        .Write();
    return ended ? WAIT_OBJECT_0 : static_cast<DWORD>(WAIT_TIMEOUT);
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    ProcessObject* object = LookupHandleAs<ProcessObject>(hProcess);
    if (!object) return Fail(ERROR_INVALID_HANDLE);
    if (!lpExitCode) return Fail(ERROR_NOACCESS);
    *lpExitCode = object->state->HasEnded() ? object->state->ExitCode() : kStillActive;
    return TRUE;
}

// HOSTWIN_SLEEP_PERCENT (0 to 100) shortens every Sleep to that share of its time, for test runs
// that repeat a program many times; the journal keeps the time asked for.
extern "C" void WINAPI Sleep(DWORD dwMilliseconds) {
    JournalEvent("sleep").Number("ms", static_cast<long long>(dwMilliseconds)).Write();
    unsigned long long ms = dwMilliseconds;
    if (const char* percent = std::getenv("HOSTWIN_SLEEP_PERCENT")) {
        char* end = nullptr;
        const unsigned long p = std::strtoul(percent, &end, 10);
        if (end != percent && !*end && p <= 100) ms = ms * p / 100;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

extern "C" DWORD WINAPI ResumeThread(HANDLE hThread) {
    if (hThread == kCurrentThread) return 0;  // the running thread is not suspended
    ThreadObject* thread = LookupHandleAs<ThreadObject>(hThread);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    const DWORD previous = thread->state->Resume();
    JournalEvent event("thread-resume");
    JournalOwner(event, thread->state.get());
    event.Number("suspend-count", static_cast<long long>(previous)).Write();
    return previous;
}

extern "C" BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority) {
    ProcessState* process = nullptr;
    if (hThread != kCurrentThread) {
        ThreadObject* thread = LookupHandleAs<ThreadObject>(hThread);
        if (!thread) return Fail(ERROR_INVALID_HANDLE);
        process = thread->state.get();
    }
    switch (nPriority) {
        case THREAD_PRIORITY_IDLE:
        case THREAD_PRIORITY_LOWEST:
        case THREAD_PRIORITY_BELOW_NORMAL:
        case THREAD_PRIORITY_NORMAL:
        case THREAD_PRIORITY_ABOVE_NORMAL:
        case THREAD_PRIORITY_HIGHEST:
        case THREAD_PRIORITY_TIME_CRITICAL: break;
        default: return Fail(ERROR_INVALID_PARAMETER);
    }
    JournalEvent event("thread-priority");
    JournalOwner(event, process);
    event.Number("priority", nPriority).Write();
    return TRUE;
}

extern "C" BOOL WINAPI SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass) {
    ProcessState* process = nullptr;
    if (hProcess != kCurrentProcess) {
        ProcessObject* object = LookupHandleAs<ProcessObject>(hProcess);
        if (!object) return Fail(ERROR_INVALID_HANDLE);
        process = object->state.get();
    }
    const char* name = nullptr;
    switch (dwPriorityClass) {
        case IDLE_PRIORITY_CLASS: name = "idle"; break;
        case NORMAL_PRIORITY_CLASS: name = "normal"; break;
        case HIGH_PRIORITY_CLASS: name = "high"; break;
        case REALTIME_PRIORITY_CLASS: name = "realtime"; break;
        default: return Fail(ERROR_INVALID_PARAMETER);
    }
    JournalEvent event("priority-class");
    JournalOwner(event, process);
    event.Text("class", name).Write();
    return TRUE;
}
