// Checks the Windows start-up code and runtime on Windows (or Wine): C++ exceptions thrown
// through several frames and caught by type, rethrown, nested, with destructors run during
// unwinding; static constructors; the heap; bounded formatting; the conditional-move filter; and
// WinMain's command-line tail, which it checks by starting itself with the no-blank form
// "<path>"now.
// Exits with 0 when every check passes, else with the number of the first that failed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class CheckError {
public:
    explicit CheckError(long value) : code(value) {}
    long code;
};

class OtherError {};

int Constructed = 0;
struct StaticObject {
    StaticObject() { Constructed = 42; }
};
StaticObject TheStaticObject;

int DestructorsRun = 0;
struct Guard {
    ~Guard() { ++DestructorsRun; }
};

__attribute__((noinline)) void ThrowAt(int depth, long code) {
    Guard guard;
    if (depth == 0) throw CheckError(code);
    ThrowAt(depth - 1, code);
}

__attribute__((noinline)) long CatchByValue(long code) {
    try {
        ThrowAt(5, code);
    } catch (OtherError&) {
        return -1;
    } catch (CheckError error) {
        return error.code;
    }
    return -2;
}

__attribute__((noinline)) long RethrowAndCatch() {
    try {
        try {
            ThrowAt(2, 7);
        } catch (CheckError&) {
            throw;
        }
    } catch (const CheckError& error) {
        return error.code;
    }
    return -1;
}

__attribute__((noinline)) long NestedThrowInHandler() {
    try {
        ThrowAt(1, 1);
    } catch (CheckError& outer) {
        try {
            ThrowAt(1, 2);
        } catch (CheckError& inner) {
            return outer.code * 10 + inner.code;
        }
    }
    return -1;
}

extern "C" LONG WINAPI ConditionalMoveFilter(EXCEPTION_POINTERS* exception);

// The filter that carries out conditional moves on processors without them is installed, and
// works on the CONTEXT that Windows hands it. (This processor has them, so it is called here.)
int CheckConditionalMoveFilter() {
    LPTOP_LEVEL_EXCEPTION_FILTER installed = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(installed);
    if (installed != &ConditionalMoveFilter) return 60;
    static const unsigned char code[] = {0x0F, 0x42, 0x43, 0x08};  // cmovb eax, [ebx+8]
    DWORD memory[3] = {0, 0, 0xCAFE};
    CONTEXT context;
    std::memset(&context, 0, sizeof context);
    context.Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(code));
    context.Ebx = static_cast<DWORD>(reinterpret_cast<uintptr_t>(memory));
    context.Eax = 7;
    context.EFlags = 1;  // carry
    EXCEPTION_RECORD record;
    std::memset(&record, 0, sizeof record);
    record.ExceptionCode = STATUS_ILLEGAL_INSTRUCTION;
    EXCEPTION_POINTERS pointers = {&record, &context};
    if (ConditionalMoveFilter(&pointers) != EXCEPTION_CONTINUE_EXECUTION) return 61;
    if (context.Eax != 0xCAFE || context.Eip != reinterpret_cast<uintptr_t>(code) + 4) return 62;
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    if (ConditionalMoveFilter(&pointers) != EXCEPTION_CONTINUE_SEARCH) return 63;
    return 0;
}

// Starts this program again with the command line "<its path>"now and returns its exit code.
DWORD RunSelfWithoutBlank() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return 100;
    char commandLine[MAX_PATH + 8];
    std::snprintf(commandLine, sizeof commandLine, "\"%s\"now", path);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 101;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 102;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    // Started by RunSelfWithoutBlank: the tail must be exactly "now".
    if (commandLine[0]) return std::strcmp(commandLine, "now") == 0 ? 0 : 50;

    if (instance != GetModuleHandleA(nullptr)) return 1;
    if (Constructed != 42) return 2;
    if (CatchByValue(1234) != 1234 || DestructorsRun != 6) return 3;
    if (RethrowAndCatch() != 7) return 4;
    if (NestedThrowInHandler() != 12) return 5;
    // Many throws: exception objects are freed again.
    for (long i = 0; i < 10000; ++i)
        if (CatchByValue(i) != i) return 6;

    std::string text = "C:\\WINDOWS";
    text += std::string("\\") + "SYSTEM";
    if (text != "C:\\WINDOWS\\SYSTEM") return 7;

    char small[8];
    if (std::snprintf(small, sizeof small, "%s-%d", "abcdef", -12) != 10 ||
        std::strcmp(small, "abcdef-") != 0)
        return 8;

    void* block = std::calloc(1000, 4);
    if (!block || static_cast<unsigned char*>(block)[3999] != 0) return 9;
    block = std::realloc(block, 100000);
    if (!block) return 9;
    std::free(block);

    if (const int failed = CheckConditionalMoveFilter()) return failed;

    const DWORD child = RunSelfWithoutBlank();
    if (child != 0) return static_cast<int>(child);
    return 0;
}
