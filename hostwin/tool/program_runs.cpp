#include "program_runs.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "hostwin.h"
#include "progress.h"
#include "text_util.h"

namespace hostwin_tool {

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = list.find(':', start);
        std::string part = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty()) parts.push_back(part);
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// A Windows path on the machine (C:\WINDOWS\UNPELLAM.EXE): hostwin-pe finds it in the folder run.
bool IsWindowsPath(const std::string& word) {
    return word.size() >= 3 && std::isalpha(static_cast<unsigned char>(word[0])) && word[1] == ':' &&
           word[2] == '\\';
}

// A Windows program file: "MZ", and at the offset it gives, "PE\0\0".
bool IsPeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[0x40];
    if (!in.read(head, sizeof head) || head[0] != 'M' || head[1] != 'Z') return false;
    uint32_t at = 0;
    for (int i = 0; i < 4; ++i) at |= uint32_t(static_cast<unsigned char>(head[0x3C + i])) << (8 * i);
    char signature[4];
    return in.seekg(at) && in.read(signature, 4) && std::memcmp(signature, "PE\0\0", 4) == 0;
}

}  // namespace

std::string FindProgram(const std::string& word) {
    if (IsWindowsPath(word)) return word;
    if (word.find('/') != std::string::npos) {
        if (IsPeFile(word)) return word;
        if (!IsExecutableFile(word)) throw hostwin::MachineError("no program " + word);
        return word;
    }
    std::vector<std::string> dirs = SplitList(HOSTWIN_PROGRAM_DIRS);
    if (const char* path = std::getenv("PATH"))
        for (const std::string& d : SplitList(path)) dirs.push_back(d);
    for (const std::string& d : dirs)
        if (IsExecutableFile(d + "/" + word)) return d + "/" + word;
    throw hostwin::MachineError("no program named " + word +
                                " among the built programs or in PATH");
}

int RunProgramOn(const std::string& folder, const std::string& program,
                 const std::vector<std::string>& args) {
    const std::string machine = AbsolutePath(folder);
    std::vector<char*> argv;
    std::string executable = program;
    if (IsWindowsPath(program) || IsPeFile(program)) {
#ifdef HOSTWIN_PE_RUNNER
        // Windows programs run in hostwin-pe, which starts them as hostwin starts host programs.
        executable = HOSTWIN_PE_RUNNER;
        argv.push_back(const_cast<char*>(executable.c_str()));
        argv.push_back(const_cast<char*>("--"));
#else
        throw hostwin::MachineError("this build runs no Windows programs (hostwin-pe needs libunicorn-dev)");
#endif
    }
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) throw hostwin::MachineError(std::string("cannot start a process: ") + std::strerror(errno));
    if (child == 0) {
        ::setenv("HOSTWIN_MACHINE", machine.c_str(), 1);
        ::execv(executable.c_str(), argv.data());
        std::fprintf(stderr, "hostwin: cannot run %s: %s\n", program.c_str(), std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) throw hostwin::MachineError("lost the program's process");
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

unsigned long long JournalSize(const std::string& folder) {
    struct stat st;
    return ::stat((folder + "/journal.jsonl").c_str(), &st) == 0 ? static_cast<unsigned long long>(st.st_size) : 0;
}

std::vector<std::string> JournalLinesFrom(const std::string& folder, unsigned long long offset) {
    std::vector<std::string> lines;
    std::ifstream in(folder + "/journal.jsonl", std::ios::binary);
    if (!in || !in.seekg(static_cast<std::streamoff>(offset))) return lines;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        if (end > pos) lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

// The journal writes flat objects of texts, numbers and flags: {"event":"x","key":value,...}.
// A line that is not of that form is shown as it is.
std::string ReadableJournalLine(const std::string& line) {
    std::string event, pairs;
    size_t pos = 0;
    auto token = [&](std::string& out) {  // a quoted text (kept quoted) or a bare word
        const size_t start = pos;
        if (pos < line.size() && line[pos] == '"') {
            for (++pos; pos < line.size() && line[pos] != '"'; ++pos)
                if (line[pos] == '\\') ++pos;
            if (pos >= line.size()) return false;
            ++pos;
        } else {
            while (pos < line.size() && line[pos] != ',' && line[pos] != '}') ++pos;
        }
        out = line.substr(start, pos - start);
        return !out.empty();
    };
    if (line.empty() || line[0] != '{') return line;
    ++pos;
    bool first = true;
    while (pos < line.size() && line[pos] != '}') {
        std::string key, value;
        if (!token(key) || key[0] != '"' || pos >= line.size() || line[pos] != ':') return line;
        ++pos;
        if (!token(value)) return line;
        key = key.substr(1, key.size() - 2);
        if (first && key == "event" && value[0] == '"') {
            event = value.substr(1, value.size() - 2);
        } else {
            pairs += (pairs.empty() ? "" : ", ") + key + "=" + value;
        }
        first = false;
        if (pos < line.size() && line[pos] == ',') ++pos;
    }
    if (event.empty()) return line;
    char head[32];
    std::snprintf(head, sizeof head, "%-16s ", event.c_str());
    return head + pairs;
}

void CopyMachine(const std::string& from, const std::string& to) {
    namespace fs = std::filesystem;
    std::error_code error;
    unsigned long long size = 0;
    for (auto it = fs::recursive_directory_iterator(from, error); !error && it != fs::recursive_directory_iterator(); it.increment(error))
        if (it->is_regular_file(error)) size += it->file_size(error);
    ProgressStep progress("copying " + from + " (" + ReadableSize(size) + ")");
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error) throw hostwin::MachineError("cannot copy " + from + " to " + to + ": " + error.message());
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

}  // namespace hostwin_tool
