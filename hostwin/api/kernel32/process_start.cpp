// CreateProcessA (kernel32) and the start of a program file that ShellExecuteExA shares: programs that
// machine.ini's [programs] describes are played, batch files run detached in hostwin's command
// interpreter, host executables run as host processes only when host programs are allowed, and
// any other file fails to start with ERROR_BAD_EXE_FORMAT.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "handles.h"
#include "hostwin/host_error.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "process_objects.h"
#include "process_spawn.h"
#include "process_start.h"
#include "hostwin/simulated_programs.h"
#include "hostwin/text_util.h"
#include "hostwin/win_path.h"

using namespace hostwin;

namespace {


bool IsBatchFile(const std::string& name) {
    const std::string lower = ToLowerAscii(name);
    return lower.size() > 4 && (lower.compare(lower.size() - 4, 4, ".bat") == 0 ||
                                lower.compare(lower.size() - 4, 4, ".cmd") == 0);
}

// The program part of a command line: the quoted first word, or everything up to a blank.
std::string ProgramOfCommandLine(const std::string& commandLine) {
    size_t i = 0;
    while (i < commandLine.size() && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
    if (i < commandLine.size() && commandLine[i] == '"') {
        size_t close = commandLine.find('"', i + 1);
        return commandLine.substr(i + 1, close == std::string::npos ? std::string::npos
                                                                     : close - i - 1);
    }
    size_t end = i;
    while (end < commandLine.size() && commandLine[end] != ' ' && commandLine[end] != '\t') ++end;
    return commandLine.substr(i, end - i);
}

std::string ParametersOfCommandLine(const std::string& commandLine) {
    size_t i = 0;
    while (i < commandLine.size() && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
    if (i < commandLine.size() && commandLine[i] == '"') {
        size_t close = commandLine.find('"', i + 1);
        i = close == std::string::npos ? commandLine.size() : close + 1;
    } else {
        while (i < commandLine.size() && commandLine[i] != ' ' && commandLine[i] != '\t') ++i;
    }
    while (i < commandLine.size() && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
    return commandLine.substr(i);
}

const char kHostProgramsRefused[] =
    "host programs are not allowed (HOSTWIN_ALLOW_HOST_PROGRAMS=1 allows them)";

}  // namespace

namespace hostwin {

// Resolves an existing file; ERROR_SUCCESS or the error Windows reports for it.
DWORD ResolveExistingFile(const std::string& path, ResolvedPath& resolved) {
    DWORD error = ResolvePath(Machine::Current(), path.c_str(), resolved);
    if (error == ERROR_SUCCESS && !resolved.exists)
        error = resolved.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    return error;
}

// Starts the resolved program file in the host directory: a described program is played (also
// when host programs are allowed, so a machine's description always holds), a batch file runs
// in the command interpreter, a host executable runs only when allowed. kind names what
// started; cause says why a host executable was refused.
DWORD StartProgramFile(const ResolvedPath& program, const std::vector<std::string>& arguments,
                       const std::string& hostDirectory, bool suspended, bool idle,
                       std::shared_ptr<ProcessState>& process, const char*& kind,
                       const char*& cause) {
    if (const SimulatedProgram* described = Machine::Current().SimulatedProgramAt(program.windows)) {
        kind = "simulated program";
        std::string logHost;
        if (!described->log.empty()) {
            ResolvedPath log;
            const std::string folder = program.windows.substr(0, program.windows.rfind('\\'));
            if (ResolvePath(Machine::Current(), (folder + "\\" + described->log).c_str(), log) == ERROR_SUCCESS &&
                !log.isDirectory)
                logHost = log.host;
        }
        return StartSimulatedProgram(*described, program.host, program.name, arguments, logHost,
                                     hostDirectory, suspended, process);
    }
    if (IsBatchFile(program.name)) {
        kind = "batch";
        return StartBatchProcess(program.windows, hostDirectory, suspended, idle, process);
    }
    if (IsHostExecutable(program.host)) {
        if (!HostProgramsAllowed()) {
            cause = kHostProgramsRefused;
            return ERROR_ACCESS_DENIED;
        }
        kind = "host program";
        return StartHostProgram(program.host, program.name, arguments, hostDirectory, suspended,
                                process);
    }
    // A file that is not a program the machine can run does not start.
    return ERROR_BAD_EXE_FORMAT;
}

// Resolves the directory a new process starts in: given, else the caller's current directory.
DWORD ResolveStartDirectory(const char* given, ResolvedPath& directory) {
    const std::string wanted = given ? std::string(given) : CurrentDirectory(Machine::Current());
    if (ResolvePath(Machine::Current(), wanted.c_str(), directory) != ERROR_SUCCESS || !directory.exists ||
        !directory.isDirectory)
        return ERROR_DIRECTORY;
    return ERROR_SUCCESS;
}

}  // namespace hostwin

extern "C" BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                                      LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                      DWORD dwCreationFlags, LPVOID, LPCSTR lpCurrentDirectory,
                                      LPSTARTUPINFOA lpStartupInfo,
                                      LPPROCESS_INFORMATION lpProcessInformation) {
    if (!lpProcessInformation || !lpStartupInfo || (!lpApplicationName && !lpCommandLine))
        return Fail(ERROR_INVALID_PARAMETER);
    const std::string commandLine = lpCommandLine ? lpCommandLine : "";
    const std::string program =
        lpApplicationName ? std::string(lpApplicationName) : ProgramOfCommandLine(commandLine);
    const bool suspended = (dwCreationFlags & CREATE_SUSPENDED) != 0;

    ResolvedPath resolved;
    DWORD error = program.empty() ? ERROR_FILE_NOT_FOUND : ResolveExistingFile(program, resolved);
    if (error == ERROR_SUCCESS && resolved.isDirectory) error = ERROR_ACCESS_DENIED;

    // The new process's current directory: lpCurrentDirectory, else the caller's.
    ResolvedPath directory;
    if (error == ERROR_SUCCESS) error = ResolveStartDirectory(lpCurrentDirectory, directory);

    std::shared_ptr<ProcessState> process;
    const char* kind = "";
    const char* cause = nullptr;
    if (error == ERROR_SUCCESS)
        error = StartProgramFile(resolved,
                                 SplitParameters(lpApplicationName && lpCommandLine
                                                     ? commandLine
                                                     : ParametersOfCommandLine(commandLine)),
                                 directory.host, suspended,
                                 (dwCreationFlags & IDLE_PRIORITY_CLASS) != 0, process, kind, cause);

    JournalEvent event("process-create");
    event.Text("cmdline", commandLine)
        .Text("file", resolved.windows.empty() ? program : resolved.windows)
        .Text("directory", directory.windows)
        .Text("flags", Hex(dwCreationFlags))
        .Flag("suspended", suspended);
    if (lpStartupInfo->dwFlags & STARTF_USESHOWWINDOW) event.Number("show", lpStartupInfo->wShowWindow);
    if (error == ERROR_SUCCESS) event.Text("kind", kind).Number("pid", process->Pid());
    if (cause) event.Text("cause", cause);
    event.Result(error == ERROR_SUCCESS, error).Write();
    if (error != ERROR_SUCCESS) return Fail(error);

    lpProcessInformation->hProcess = InsertHandle(std::make_unique<ProcessObject>(process));
    lpProcessInformation->hThread = InsertHandle(std::make_unique<ThreadObject>(process));
    lpProcessInformation->dwProcessId = static_cast<DWORD>(process->Pid());
    lpProcessInformation->dwThreadId = static_cast<DWORD>(process->Pid());
    return TRUE;
}
