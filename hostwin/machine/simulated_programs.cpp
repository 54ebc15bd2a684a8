#include "hostwin/simulated_programs.h"

#include <cstdlib>
#include <map>
#include <utility>

#include "hostwin/machine_error.h"
#include "hostwin/text_util.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

std::string Where(const std::string& fileLabel, int line) {
    return fileLabel + " line " + std::to_string(line) + ": ";
}

// A decimal number of at most 10 digits that fits 32 bits.
bool ParseDecimal(const std::string& text, DWORD& value) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long long parsed = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        parsed = parsed * 10 + static_cast<unsigned>(c - '0');
    }
    if (parsed > 0xFFFFFFFFull) return false;
    value = static_cast<DWORD>(parsed);
    return true;
}

// A file name without a folder: the log always lies beside the program.
bool IsPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
    for (char c : name)
        if (c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|' || static_cast<unsigned char>(c) < 32)
            return false;
    return true;
}

}  // namespace

std::vector<SimulatedProgram> ParseProgramSettings(const IniSection& section,
                                                   const std::string& fileLabel) {
    std::vector<SimulatedProgram> programs;
    std::map<std::pair<std::string, std::string>, int> seen;  // (upper path, property) -> line
    for (const IniEntry& e : section.entries) {
        const std::string where = Where(fileLabel, e.line);
        const size_t dot = e.key.rfind('.');
        if (!e.hasValue || dot == std::string::npos)
            throw MachineError(where + "expected PATH.runs, PATH.exit or PATH.log = value in "
                                       "[programs]");
        const std::string property = ToLowerAscii(e.key.substr(dot + 1));
        std::string path;
        if (!NormalizeFullWindowsPath(e.key.substr(0, dot), path))
            throw MachineError(where + "expected a full Windows path such as "
                                       "C:\\WINDOWS\\SETUP.EXE before ." + property);
        auto first = seen.emplace(std::make_pair(ToUpperAscii(path), property), e.line);
        if (!first.second)
            throw MachineError(where + path + "." + property + " appears twice in [programs], in line " +
                               std::to_string(first.first->second) + " and line " +
                               std::to_string(e.line));
        SimulatedProgram* program = nullptr;
        for (SimulatedProgram& p : programs)
            if (SameWindowsPath(p.path, path)) program = &p;
        if (!program) {
            programs.push_back(SimulatedProgram{path, 0, 0, ""});
            program = &programs.back();
        }
        if (property == "runs") {
            if (!ParseDecimal(e.value, program->runsMs))
                throw MachineError(where + "runs must be milliseconds (0 to 4294967295)");
        } else if (property == "exit") {
            // A host process passes 8 bits of its exit status on.
            if (!ParseDecimal(e.value, program->exitCode) || program->exitCode > 255)
                throw MachineError(where + "exit must be a code from 0 to 255");
        } else if (property == "log") {
            if (!IsPlainFileName(e.value))
                throw MachineError(where + "log must be a file name beside the program, without "
                                           "a folder");
            program->log = e.value;
        } else {
            throw MachineError(where + "unknown setting '." + property +
                               "' in [programs] (runs, exit or log)");
        }
    }
    return programs;
}

const SimulatedProgram* FindSimulatedProgram(const std::vector<SimulatedProgram>& programs,
                                             const std::string& windowsPath) {
    for (const SimulatedProgram& p : programs)
        if (SameWindowsPath(p.path, windowsPath)) return &p;
    return nullptr;
}

bool HostProgramsAllowed() {
    const char* allow = std::getenv("HOSTWIN_ALLOW_HOST_PROGRAMS");
    return allow && std::string(allow) == "1";
}

}  // namespace hostwin
