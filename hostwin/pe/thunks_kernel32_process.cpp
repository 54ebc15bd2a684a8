// KERNEL32 processes, threads, errors, version and text.
#include <cstring>

#include "thunks.h"

namespace hostwin_pe {

namespace {

uint32_t Bool(BOOL value) { return value ? 1u : 0u; }

constexpr uint32_t kThreadId = 0xFFF1u;  // the one thread of the program

uint32_t CreateProcessThunk(Call& c) {
    const char* application = c.OptionalString(0);
    const char* commandLine = c.OptionalString(1);
    std::vector<char> writableCommandLine;
    if (commandLine) writableCommandLine.assign(commandLine, commandLine + std::strlen(commandLine) + 1);
    const char* directory = c.OptionalString(7);
    // STARTUPINFOA of the guest: cb, three string pointers, eight dwords, dwFlags at 44,
    // wShowWindow at 48.
    const uint32_t startup = c.Arg(8);
    const uint32_t information = c.Arg(9);
    STARTUPINFOA info{};
    info.cb = sizeof info;
    if (startup) {
        info.dwFlags = c.p.memory.Read32(startup + 44);
        info.wShowWindow = static_cast<WORD>(c.p.memory.Read32(startup + 48));
    }
    PROCESS_INFORMATION process{};
    const BOOL ok = CreateProcessA(application, commandLine ? writableCommandLine.data() : nullptr,
                                   nullptr, nullptr, c.Arg(4), c.Arg(5), nullptr, directory,
                                   startup ? &info : nullptr, information ? &process : nullptr);
    if (ok) {
        const uint32_t words[4] = {c.p.GuestHandle(process.hProcess),
                                   c.p.GuestHandle(process.hThread), process.dwProcessId,
                                   process.dwThreadId};
        for (int i = 0; i < 4; ++i) c.p.memory.Write32(information + 4 * i, words[i]);
    }
    return Bool(ok);
}

uint32_t WaitForSingleObjectThunk(Call& c) {
    uint32_t result;
    if (WaitOwnHandle(c.p, c.Arg(0), result)) return result;
    return WaitForSingleObject(c.Handle(0), c.Arg(1));
}

uint32_t GetExitCode(Call& c) {
    GuestDword code(c, c.Arg(1));
    const BOOL ok = GetExitCodeProcess(c.Handle(0), code.Get());
    code.WriteBack();
    return Bool(ok);
}

uint32_t GetCommandLine(Call& c) {
    if (!c.p.commandLine) {
        const std::string line = GetCommandLineA();
        c.p.commandLine = c.p.heap->Alloc(static_cast<uint32_t>(line.size() + 1), false);
        if (c.p.commandLine) c.p.memory.Write(c.p.commandLine, line.c_str(), line.size() + 1);
    }
    return c.p.commandLine;
}

// The program starts as the host build does: shown normally.
uint32_t GetStartupInfo(Call& c) {
    uint8_t record[68] = {};
    record[0] = sizeof record;
    record[44] = STARTF_USESHOWWINDOW;
    record[48] = SW_SHOWNORMAL;
    c.p.memory.Write(c.Arg(0), record, sizeof record);
    return 0;
}

uint32_t GetModuleHandle(Call& c) {
    if (!c.Arg(0)) return c.p.image.base;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
}

uint32_t GetVersionEx(Call& c) {
    const uint32_t at = c.Arg(0);
    if (!at) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = c.p.memory.Read32(at);
    if (!GetVersionExA(&info)) return 0;
    c.p.memory.Write(at, &info, sizeof info);
    return 1;
}

uint32_t ExitProcessThunk(Call& c) {
    c.p.End(Outcome::Exited, c.Arg(0), "");
    return 0;
}

uint32_t SetUnhandledExceptionFilterThunk(Call& c) {
    const uint32_t previous = c.p.exceptionFilter;
    c.p.exceptionFilter = c.Arg(0);
    return previous;
}

uint32_t CompareString(Call& c) {
    auto text = [&](unsigned pointer, unsigned count, std::string& out) {
        const int32_t n = static_cast<int32_t>(c.Arg(count));
        if (!c.Arg(pointer)) return false;
        if (n < 0) {
            out = c.p.memory.ReadString(c.Arg(pointer));
        } else {
            const std::vector<char> bytes = c.p.memory.ReadBuffer(c.Arg(pointer), static_cast<size_t>(n));
            out.assign(bytes.begin(), bytes.end());
        }
        return true;
    };
    std::string a, b;
    const bool hasA = text(2, 3, a), hasB = text(4, 5, b);
    return static_cast<uint32_t>(CompareStringA(c.Arg(0), c.Arg(1), hasA ? a.data() : nullptr,
                                                static_cast<int>(a.size()),
                                                hasB ? b.data() : nullptr,
                                                static_cast<int>(b.size())));
}

// lstrlenA answers 0 for a pointer it cannot read, as Windows does.
uint32_t Lstrlen(Call& c) {
    try {
        return c.Arg(0) ? static_cast<uint32_t>(c.p.memory.ReadString(c.Arg(0)).size()) : 0;
    } catch (const GuestFault&) {
        return 0;
    }
}

}  // namespace

void AddKernel32ProcessThunks(std::vector<Thunk>& t) {
    const char* k = "KERNEL32.dll";
    t.push_back({k, "CreateProcessA", 10, CreateProcessThunk});
    t.push_back({k, "WaitForSingleObject", 2, WaitForSingleObjectThunk});
    t.push_back({k, "GetExitCodeProcess", 2, GetExitCode});
    t.push_back({k, "ResumeThread", 1, [](Call& c) { return ResumeThread(c.Handle(0)); }});
    t.push_back({k, "SetThreadPriority", 2, [](Call& c) {
                     return Bool(SetThreadPriority(c.Handle(0), static_cast<int>(c.Arg(1))));
                 }});
    t.push_back({k, "SetPriorityClass", 2,
                 [](Call& c) { return Bool(SetPriorityClass(c.Handle(0), c.Arg(1))); }});
    t.push_back({k, "Sleep", 1, [](Call& c) { return Sleep(c.Arg(0)), 0u; }});
    t.push_back({k, "GetCurrentProcess", 0, [](Call& c) { return c.p.GuestHandle(GetCurrentProcess()); }});
    t.push_back({k, "GetCurrentThread", 0, [](Call& c) { return c.p.GuestHandle(GetCurrentThread()); }});
    t.push_back({k, "GetCurrentThreadId", 0, [](Call&) { return kThreadId; }});
    t.push_back({k, "GetCommandLineA", 0, GetCommandLine});
    t.push_back({k, "GetStartupInfoA", 1, GetStartupInfo});
    t.push_back({k, "GetModuleHandleA", 1, GetModuleHandle});
    t.push_back({k, "GetVersionExA", 1, GetVersionEx});
    t.push_back({k, "ExitProcess", 1, ExitProcessThunk});
    t.push_back({k, "SetUnhandledExceptionFilter", 1, SetUnhandledExceptionFilterThunk});
    t.push_back({k, "GetLastError", 0, [](Call&) { return GetLastError(); }});
    t.push_back({k, "SetLastError", 1, [](Call& c) { return SetLastError(c.Arg(0)), 0u; }});
    t.push_back({k, "CompareStringA", 6, CompareString});
    t.push_back({k, "lstrlenA", 1, Lstrlen});
}

}  // namespace hostwin_pe
