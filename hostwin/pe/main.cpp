// hostwin-pe: runs a PE32 i386 program (the Windows build's unpellam.exe or upgrade.exe) on the
// machine folder that HOSTWIN_MACHINE names, as hostwin runs the host build of a program.
//   hostwin-pe [--cpu 486|pentium|pentiumpro] [--time-budget SECONDS] [--budget BLOCKS] [--stats]
//              FILE [ARGS...]
// FILE is a host path or a Windows path on the machine. The exit code is the program's; a file
// that cannot start gives its Win32 error (193 not a program, 127 a missing import, 2 no file),
// and a program ended by a fault the low byte of the exception code.
#include <limits.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hostwin.h"
#include "hostwin/running_programs.h"
#include "hostwin_bridge.h"
#include "pe_process.h"

using namespace hostwin_pe;

namespace {

bool ParseCpu(const std::string& name, CpuModel& cpu) {
    if (name == "486") cpu = CpuModel::i486;
    else if (name == "pentium") cpu = CpuModel::Pentium;
    else if (name == "pentiumpro" || name == "pentium2") cpu = CpuModel::PentiumPro;
    else return false;
    return true;
}

std::string ProgramName(const std::string& file) {
    std::string name = file.substr(file.find_last_of("/\\") + 1);
    const size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: hostwin-pe [--cpu 486|pentium|pentiumpro] [--time-budget SECONDS] [--budget BLOCKS] "
                 "[--stats] [--count-instructions] [--inexact-faults] FILE [ARGS...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    RunOptions options;
    bool stats = std::getenv("HOSTWIN_PE_STATS") != nullptr;
    if (const char* cpu = std::getenv("HOSTWIN_PE_CPU"))
        if (!ParseCpu(cpu, options.cpu)) return Usage();
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string flag = argv[i];
        if (flag == "--stats") stats = true;
        else if (flag == "--cpu" && i + 1 < argc && ParseCpu(argv[i + 1], options.cpu)) ++i;
        else if (flag == "--budget" && i + 1 < argc) options.blockBudget = std::strtoull(argv[++i], nullptr, 10);
        else if (flag == "--time-budget" && i + 1 < argc)
            options.timeBudgetSeconds = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (flag == "--count-instructions") options.countInstructions = stats = true;
        else if (flag == "--inexact-faults") options.exactFaultAddresses = false;
        else if (flag == "--") { ++i; break; }
        else return Usage();
    }
    if (i >= argc) return Usage();
    options.countBlocks = stats;
    const std::string word = argv[i];
    for (int a = i + 1; a < argc; ++a) options.arguments += (a > i + 1 ? " " : "") + std::string(argv[a]);
    const std::string program = ProgramName(word);
    const auto started = std::chrono::steady_clock::now();
    RunResult result;
    int code = 0;
    try {
        OpenRunMachine();
        uint32_t error = 0;
        if (!ProgramHostFile(word, options.file, error)) {
            result.outcome = Outcome::Refused;
            result.exitCode = error;
            result.detail = "no program file " + word;
        } else {
            // Absolute, so that a batch the program starts elsewhere still knows its file.
            char absolute[PATH_MAX];
            if (::realpath(options.file.c_str(), absolute)) options.file = absolute;
            hostwin::SetProgram(options.file, options.arguments);
            hostwin::SetRunningExecutable(options.file);
            options.onStart = [&] { JournalStart(program, GetCommandLineA()); };
            result = RunPe(options);
        }
        switch (result.outcome) {
        case Outcome::Exited:
            JournalExit(program, result.exitCode);
            break;
        case Outcome::Faulted:
        case Outcome::BudgetSpent:
            std::fprintf(stderr, "hostwin-pe: %s: %s\n", word.c_str(), result.detail.c_str());
            JournalFault(program, result.exitCode, result.detail);
            JournalExit(program, result.exitCode);
            break;
        case Outcome::Refused:
            std::fprintf(stderr, "hostwin-pe: %s cannot start: %s (error %u)\n", word.c_str(),
                         result.detail.c_str(), result.exitCode);
            JournalRefused(word, result.exitCode, result.detail);
            break;
        }
        CloseRunMachine();
    } catch (const std::exception& e) {
        // As the host build ends on a machine error: the message, a fault line, exit code 2.
        std::fprintf(stderr, "hostwin: %s\n", e.what());
        try {
            JournalHostError(program, e.what());
            CloseRunMachine();
        } catch (const std::exception&) {
        }
        code = 2;
    }
    if (stats) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr,
                     "hostwin-pe: %llu instructions, %llu blocks, %llu thunk calls, %llu filter "
                     "calls, %.3f s\n",
                     static_cast<unsigned long long>(result.instructions),
                     static_cast<unsigned long long>(result.blocks),
                     static_cast<unsigned long long>(result.thunkCalls),
                     static_cast<unsigned long long>(result.filterCalls), seconds);
    }
    return code ? code : static_cast<int>(result.exitCode & 0xFF);
}
