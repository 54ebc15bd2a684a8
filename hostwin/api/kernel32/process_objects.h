// Processes and their main threads as kernel objects: started host programs and detached
// batch processes run by hostwin's command interpreter.
#ifndef HOSTWIN_PROCESS_OBJECTS_H
#define HOSTWIN_PROCESS_OBJECTS_H

#include <sys/types.h>
#include <windows.h>

#include <memory>
#include <string>

#include "handles.h"

namespace hostwin {

// GetExitCodeProcess's answer for a process that has not ended.
constexpr DWORD kStillActive = 259;

// One started process, shared by its process and thread handles.
class ProcessState {
public:
    enum class Kind {
        HostChild,  // a host program, a child of this process (waitpid)
        Detached,   // a detached process that reports its end through a pipe
    };
    ProcessState(Kind kind, pid_t pid, std::string name);
    ~ProcessState();
    ProcessState(const ProcessState&) = delete;
    ProcessState& operator=(const ProcessState&) = delete;

    Kind GetKind() const { return kind_; }
    pid_t Pid() const { return pid_; }
    const std::string& Name() const { return name_; }

    // Waits up to timeoutMs (INFINITE: no limit) for the end; true when it has ended.
    bool WaitForEnd(DWORD timeoutMs);
    bool HasEnded() { return WaitForEnd(0); }
    DWORD ExitCode() const { return exitCode_; }

    // The pipe whose write end starts a suspended process and whose read end a detached
    // process reports its end on; -1 when there is none.
    void SetResumePipe(int fd, DWORD suspendCount);
    void SetExitPipe(int fd) { exitFd_ = fd; }
    // ResumeThread: the suspend count before the call; the process runs when it reaches 0.
    DWORD Resume();

private:
    void Ended(DWORD code);
    Kind kind_;
    pid_t pid_;
    std::string name_;
    bool ended_ = false;
    DWORD exitCode_ = kStillActive;
    int resumeFd_ = -1;
    DWORD suspendCount_ = 0;
    int exitFd_ = -1;
};

class ProcessObject : public KernelObject {
public:
    explicit ProcessObject(std::shared_ptr<ProcessState> state) : state(std::move(state)) {}
    std::shared_ptr<ProcessState> state;
};

// The main thread of a process: the only thread the started processes have.
class ThreadObject : public KernelObject {
public:
    explicit ThreadObject(std::shared_ptr<ProcessState> state) : state(std::move(state)) {}
    std::shared_ptr<ProcessState> state;
};

// The process of a process or thread handle, or null.
ProcessState* ProcessOfHandle(HANDLE handle);

}  // namespace hostwin

#endif
