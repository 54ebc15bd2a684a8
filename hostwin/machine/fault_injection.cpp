#include "hostwin/fault_injection.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hostwin/journal.h"

#include "hostwin/session.h"

namespace hostwin {

namespace {

struct FaultPlan : SessionPart {
    unsigned long long at = 0;  // 0: no fault
    int error = 0;
    unsigned long long seen = 0;
};

// Read from HOSTWIN_FAULT when the session first asks.
void ReadPlan(FaultPlan& plan) {
    const char* text = std::getenv("HOSTWIN_FAULT");
    if (!text) return;
    char* end = nullptr;
    const unsigned long long at = std::strtoull(text, &end, 10);
    if (!end || *end != ':') return;
    if (std::strcmp(end + 1, "ENOSPC") == 0) plan.error = ENOSPC;
    else if (std::strcmp(end + 1, "EIO") == 0) plan.error = EIO;
    else return;
    plan.at = at;
}

struct SessionFaultPlan : FaultPlan {
    SessionFaultPlan() { ReadPlan(*this); }
};

// The error to fail this call with, or 0; counts the call.
int Fault(const char* call) {
    FaultPlan& plan = Session::Current().Part<SessionFaultPlan>(Session::kFaultPlan);
    if (plan.at == 0) return 0;
    if (++plan.seen != plan.at) return 0;
    JournalEvent("fault-injected")
        .Text("call", call)
        .Number("point", static_cast<long long>(plan.seen))
        .Text("error", plan.error == ENOSPC ? "ENOSPC" : "EIO")
        .Write();
    return plan.error;
}

}  // namespace

ssize_t HostWrite(int fd, const void* data, size_t size) {
    if (int error = Fault("write")) {
        errno = error;
        return -1;
    }
    return ::write(fd, data, size);
}

ssize_t HostPwrite(int fd, const void* data, size_t size, off_t offset) {
    if (int error = Fault("write")) {
        errno = error;
        return -1;
    }
    return ::pwrite(fd, data, size, offset);
}

int HostRename(const char* from, const char* to) {
    if (int error = Fault("rename")) {
        errno = error;
        return -1;
    }
    return std::rename(from, to);
}

int HostRenameAt(int fromDir, const char* from, int toDir, const char* to) {
    if (int error = Fault("rename")) {
        errno = error;
        return -1;
    }
    return ::renameat(fromDir, from, toDir, to);
}

void* HostMmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
    if (int error = Fault("mmap")) {
        errno = error;
        return MAP_FAILED;
    }
    return ::mmap(address, length, protection, flags, fd, offset);
}

}  // namespace hostwin
