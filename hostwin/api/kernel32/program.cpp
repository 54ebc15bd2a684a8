// The running program: its module path, GetCommandLineA, GetModuleFileNameA (kernel32), and
// the start-up that hands WinMain its command-line tail, as Windows does.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/command_line_tail.h"
#include "hostwin/host_error.h"
#include "hostwin.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "hostwin/session.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

// The running program, kept by the session.
struct ProgramIdentity : SessionPart {
    std::string hostExecutable = "program";
    std::string arguments;
    std::string commandLine;  // the buffer that GetCommandLineA returns
};

ProgramIdentity& Identity() { return Session::Current().Part<ProgramIdentity>(Session::kProgram); }

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ModulePath() {
    std::string windows;
    if (WindowsPathOfHostFile(Machine::Current(), Identity().hostExecutable, windows)) return windows;
    std::string name = BaseName(Identity().hostExecutable);
    if (name.find('.') == std::string::npos) name += ".exe";
    return Machine::Current().WindowsDirectory() + "\\" + name;
}

std::string ProgramName() {
    std::string name = BaseName(Identity().hostExecutable);
    size_t dot = name.find('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

void SetProgram(const std::string& hostExecutable, const std::string& arguments) {
    Identity().hostExecutable = hostExecutable;
    Identity().arguments = arguments;
}

std::string CommandLineTail(const std::string& commandLine) {
    return common::CommandLineTail(commandLine.c_str());
}

int RunProgram(int argc, char** argv, WinMainFunction winMain) {
    std::string arguments;
    for (int i = 1; i < argc; ++i) arguments += (i > 1 ? " " : "") + std::string(argv[i]);
    int code = 0;
    try {
        Machine::Current();
        // The executable itself, wherever it was started from (a package folder on a drive).
        char self[4096];
        ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        std::string executable = n > 0 ? std::string(self, static_cast<size_t>(n))
                                       : std::string(argc > 0 ? argv[0] : "program");
        SetProgram(executable, arguments);
        const std::string commandLine = GetCommandLineA();
        JournalEvent("start")
            .Text("program", ProgramName())
            .Text("cmdline", commandLine)
            .Write();
        std::string tail = CommandLineTail(commandLine);
        std::vector<char> writable(tail.begin(), tail.end());
        writable.push_back('\0');
        code = winMain(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000)), nullptr,
                       writable.data(), SW_SHOWNORMAL);
        JournalEvent("exit").Text("program", ProgramName()).Number("code", code).Write();
        CloseMachine();
        Session::End();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hostwin: %s\n", e.what());
        if (Machine::IfOpen()) {
            JournalEvent("fault").Text("program", ProgramName()).Text("message", e.what()).Write();
            try {
                CloseMachine();
            } catch (const std::exception&) {
            }
        }
        Session::End();
        return 2;
    }
    return code;
}

}  // namespace hostwin

using namespace hostwin;

extern "C" LPSTR WINAPI GetCommandLineA(void) {
    ProgramIdentity& id = Identity();
    if (const char* fixed = std::getenv("HOSTWIN_CMDLINE"))
        id.commandLine = fixed;
    else
        id.commandLine = "\"" + ModulePath() + "\"" +
                         (id.arguments.empty() ? "" : " " + id.arguments);
    return &id.commandLine[0];
}

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (hModule && hModule != reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000))) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const std::string path = ModulePath();
    if (path.size() >= nSize) {
        // Cut to nSize characters with the zero, as Windows does for a short buffer.
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}
