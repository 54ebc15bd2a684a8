#include "program_runs.h"

#include <fcntl.h>
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

#include "folder_tree.h"
#include "hostwin.h"
#include "progress.h"
#include "hostwin/text_util.h"

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

// A Windows program file: a regular file with "MZ", and at the offset it gives, "PE\0\0". A FIFO
// or device is never read (opened without waiting, then refused by its type).
bool IsPeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    unsigned char head[0x40];
    unsigned char signature[4];
    bool pe = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
              head[0] == 'M' && head[1] == 'Z';
    if (pe) {
        uint32_t at = 0;
        for (int i = 0; i < 4; ++i) at |= uint32_t(head[0x3C + i]) << (8 * i);
        pe = ::pread(fd, signature, 4, at) == 4 && std::memcmp(signature, "PE\0\0", 4) == 0;
    }
    ::close(fd);
    return pe;
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

namespace {

// The journal of a folder, opened as the programs open it: never through a link, never a FIFO
// or device. -1 when there is none; throws MachineError for anything but a regular file.
int OpenJournal(const std::string& folder, struct stat& st) {
    const std::string path = folder + "/journal.jsonl";
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return -1;
        throw hostwin::MachineError("cannot read " + path + ": " +
                                    (errno == ELOOP ? "it is a symbolic link, not a regular file"
                                                    : std::strerror(errno)));
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw hostwin::MachineError("cannot read " + path + ": it is not a regular file");
    }
    return fd;
}

}  // namespace

unsigned long long JournalSize(const std::string& folder) {
    struct stat st;
    const int fd = OpenJournal(folder, st);
    if (fd < 0) return 0;
    ::close(fd);
    return static_cast<unsigned long long>(st.st_size);
}

std::vector<std::string> JournalLinesFrom(const std::string& folder, unsigned long long offset) {
    std::vector<std::string> lines;
    struct stat st;
    const int fd = OpenJournal(folder, st);
    if (fd < 0) return lines;
    const unsigned long long size = static_cast<unsigned long long>(st.st_size);
    if (size > offset && size - offset > kJournalRunLimit) {
        ::close(fd);
        throw hostwin::MachineError("cannot read " + folder + "/journal.jsonl: the run wrote more than " +
                                    std::to_string(kJournalRunLimit) + " bytes to it");
    }
    // Only what the file held when opened: lines still being appended belong to no run of ours.
    std::string text(size > offset ? static_cast<size_t>(size - offset) : 0, '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pread(fd, &text[done], text.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    text.resize(done);
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
    const OpenFolder source(from);
    unsigned long long size = 0;
    WalkTree(source.Fd(), "", from, [&](const TreeEntry& e) {
        if (e.kind == EntryKind::kFile) size += static_cast<unsigned long long>(e.st.st_blocks) * 512;
    });
    ProgressStep progress("copying " + from + " (" + ReadableSize(size) + ")");
    CopyTree(source.Fd(), from, to);
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

}  // namespace hostwin_tool
