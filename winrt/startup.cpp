// The program's entry point: computes WinMain's arguments the way Windows start-up code does,
// runs the static constructors, calls WinMain and ends the process with its result.
#include <windows.h>

#include "common/command_line_tail.h"
#include "exit_handlers.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// The linker brackets the static constructors with -1 and 0 (__CTOR_LIST__).
extern "C" void (*__CTOR_LIST__[])(void);

namespace {

// Constructors run from the last entry to the first, the order the compiler's constructor
// sections are laid out for.
void RunStaticConstructors() {
    unsigned count = 0;
    while (__CTOR_LIST__[count + 1]) ++count;
    for (unsigned i = count; i > 0; --i) __CTOR_LIST__[i]();
}

int ShowCommand() {
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
}

}  // namespace

// Windows enters here with only a 4-byte aligned stack on the 9x family; the attribute
// realigns it for the code below.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void WinMainStartup() {
    RunStaticConstructors();
    char* tail = common::CommandLineTail(GetCommandLineA());
    const int code = WinMain(GetModuleHandleA(nullptr), nullptr, tail, ShowCommand());
    winrt::RunExitHandlers();
    ExitProcess(static_cast<UINT>(code));
}
