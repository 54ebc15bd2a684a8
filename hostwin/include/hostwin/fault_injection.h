// Injected host faults for testing: HOSTWIN_FAULT=N:ENOSPC (or N:EIO) makes the Nth host write,
// rename or mmap of this process fail with that error, as a full or failing disk would. Every
// change hostwin makes to the machine folder goes through these calls, so walking N over a
// run shows what each single failure leaves behind. The journal records the failure as
// "fault-injected". Unset: the calls are the plain host calls.
#ifndef HOSTWIN_FAULT_INJECTION_H
#define HOSTWIN_FAULT_INJECTION_H

#include <sys/types.h>

#include <cstddef>

namespace hostwin {

ssize_t HostWrite(int fd, const void* data, size_t size);
ssize_t HostPwrite(int fd, const void* data, size_t size, off_t offset);
int HostRename(const char* from, const char* to);
int HostRenameAt(int fromDir, const char* from, int toDir, const char* to);
void* HostMmap(void* address, size_t length, int protection, int flags, int fd, off_t offset);

}  // namespace hostwin

#endif
