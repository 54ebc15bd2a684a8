// atexit over a fixed table, and abort over ExitProcess. The programs register at most a handful
// of functions (destructors of the runtime's own static objects); a full table refuses more, as
// atexit may.
#include <windows.h>

#include "exit_handlers.h"

namespace {

const unsigned MaxExitHandlers = 32;
void (*ExitHandlers[MaxExitHandlers])(void);
unsigned ExitHandlerCount = 0;

}  // namespace

extern "C" int atexit(void (*function)(void)) {
    if (!function || ExitHandlerCount == MaxExitHandlers) return -1;
    ExitHandlers[ExitHandlerCount++] = function;
    return 0;
}

void winrt::RunExitHandlers() {
    while (ExitHandlerCount > 0) ExitHandlers[--ExitHandlerCount]();
}

// Ends the process at once with exit code 3, running no handlers, as the C library's abort does.
extern "C" __attribute__((noreturn)) void abort(void) { ExitProcess(3); }
