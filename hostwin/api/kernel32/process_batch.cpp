// The batch interpreter: reads the whole file, then runs it line by line.
#include "hostwin/machine.h"
#include "hostwin/folder_walk.h"
#include "process_batch.h"
#include "process_spawn.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "hostwin/journal.h"
#include "hostwin/running_programs.h"
#include "hostwin/text_util.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

using Clock = std::chrono::steady_clock;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// cmd.exe's expansion of % in a batch line.
std::string ExpandPercents(const std::string& line, const std::string& batchPath) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '%') {
            out += line[i];
            continue;
        }
        if (i + 1 < line.size() && line[i + 1] == '%') {
            out += '%';
            ++i;
        } else if (i + 1 < line.size() && line[i + 1] >= '0' && line[i + 1] <= '9') {
            if (line[i + 1] == '0') out += batchPath;
            ++i;
        } else {
            size_t close = line.find('%', i + 1);
            // A variable expands to nothing; a lone % is dropped.
            if (close != std::string::npos) i = close;
        }
    }
    return out;
}

// Splits the rest of a command line into words; double quotes group blanks and are dropped,
// as in the parameters of a started program.
std::vector<std::string> Words(const std::string& text) { return SplitParameters(text); }

// Takes the first word (quotes kept out) off the text; returns it and leaves the rest.
std::string TakeWord(std::string& text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    std::string word;
    bool inQuotes = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            inQuotes = !inQuotes;
            continue;
        }
        if (IsBlank(c) && !inQuotes) break;
        word += c;
    }
    text = text.substr(i);
    return word;
}

bool HasWildcard(const std::string& path) { return path.find_first_of("*?") != std::string::npos; }

class Interpreter {
public:
    explicit Interpreter(std::string batchPath) : batchPath_(std::move(batchPath)) {}

    enum class Next { Line, Jump, Stop };

    // Runs one command; on Next::Jump, label_ names the target.
    Next Execute(std::string line) {
        size_t start = 0;
        while (start < line.size() && (IsBlank(line[start]) || line[start] == '@')) ++start;
        line = line.substr(start);
        if (line.empty() || line[0] == ':') return Next::Line;
        std::string rest = line;
        const std::string command = ToLowerAscii(TakeWord(rest));
        if (command == "rem" || command == "echo" || command == "echo." || command == "cls")
            return Next::Line;
        if (command == "exit") return Next::Stop;
        if (command == "goto") {
            label_ = TakeWord(rest);
            if (!label_.empty() && label_[0] == ':') label_ = label_.substr(1);
            return Next::Jump;
        }
        if (command == "del" || command == "erase") {
            for (const std::string& path : Words(rest))
                if (path[0] != '/') Delete(path);
            return Next::Line;
        }
        if (command == "rmdir" || command == "rd") {
            for (const std::string& path : Words(rest))
                if (path[0] != '/') RemoveDirectoryA(path.c_str());
            return Next::Line;
        }
        if (command == "if") {
            std::string word = ToLowerAscii(TakeWord(rest));
            bool negate = false;
            if (word == "not") {
                negate = true;
                word = ToLowerAscii(TakeWord(rest));
            }
            if (word == "exist") {
                const std::string path = TakeWord(rest);
                bool exists = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
                if (exists != negate) return Execute(rest);
                return Next::Line;
            }
        }
        JournalEvent("batch-command")
            .Text("file", batchPath_)
            .Text("command", line)
            .Text("result", "not understood")
            .Write();
        return Next::Line;
    }

    const std::string& Label() const { return label_; }

private:
    void Delete(const std::string& path) {
        if (!HasWildcard(path)) {
            DeleteOne(path);
            return;
        }
        std::string directory, pattern;
        SplitLastComponent(path, directory, pattern);
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(path.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return;
        std::vector<std::string> names;
        do
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
        for (const std::string& name : names) {
            std::string full = directory;
            if (!full.empty() && full.back() != '\\' && full.back() != ':') full += '\\';
            DeleteOne(full + name);
        }
    }

    void DeleteOne(const std::string& path) {
        // COMMAND.COM's del passes over hidden and system files.
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
            JournalEvent("batch-command")
                .Text("file", batchPath_)
                .Text("command", "del " + path)
                .Text("result", "skipped: a hidden or system file")
                .Write();
            return;
        }
        DeleteFileA(path.c_str());
    }

    std::string batchPath_;
    std::string label_;
};

// The index of the line that holds ":label", or npos.
size_t FindLabel(const std::vector<std::string>& lines, const std::string& label) {
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        size_t start = 0;
        while (start < line.size() && IsBlank(line[start])) ++start;
        if (start >= line.size() || line[start] != ':') continue;
        std::string name = line.substr(start + 1);
        size_t end = 0;
        while (end < name.size() && !IsBlank(name[end])) ++end;
        if (EqualsNoCase(name.substr(0, end), label)) return i;
    }
    return std::string::npos;
}

}  // namespace

BatchLimits DefaultBatchLimits() {
    BatchLimits limits;
    if (const char* seconds = std::getenv("HOSTWIN_BATCH_SECONDS")) {
        char* end = nullptr;
        double value = std::strtod(seconds, &end);
        if (end != seconds && *end == '\0' && value > 0) limits.seconds = value;
    }
    return limits;
}

int RunBatch(const std::string& batchWindowsPath, pid_t creator, const BatchLimits& limits) {
    ResolvedPath resolved;
    std::string text;
    if (ResolvePath(Machine::Current(), batchWindowsPath.c_str(), resolved) != ERROR_SUCCESS || !resolved.exists ||
        !ReadFileInMachine(resolved.host, text)) {
        JournalEvent("batch-end").Text("file", batchWindowsPath).Text("result", "cannot be read").Write();
        return 1;
    }
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        pos = end + 1;
    }

    JournalEvent("batch-start").Text("file", batchWindowsPath).Number("pid", ::getpid()).Write();
    if (creator > 0) BecomeCommandInterpreter(creator);
    Interpreter interpreter(batchWindowsPath);
    const Clock::time_point started = Clock::now();
    long executed = 0;
    size_t current = 0;
    while (current < lines.size()) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        if (executed >= limits.lines || elapsed >= limits.seconds) {
            JournalEvent("batch-end")
                .Text("file", batchWindowsPath)
                .Text("result", "abandoned: it ran too long")
                .Number("lines", executed)
                .Write();
            return 1;
        }
        ++executed;
        const Interpreter::Next next = interpreter.Execute(ExpandPercents(lines[current], batchWindowsPath));
        if (next == Interpreter::Next::Stop) break;
        if (next == Interpreter::Next::Line) {
            ++current;
            continue;
        }
        const size_t target = FindLabel(lines, interpreter.Label());
        if (target == std::string::npos) {
            JournalEvent("batch-end")
                .Text("file", batchWindowsPath)
                .Text("result", "no label " + interpreter.Label())
                .Number("lines", executed)
                .Write();
            return 1;
        }
        // A jump back is a loop: give the rest of the machine time to change.
        if (target <= current) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        current = target + 1;
    }
    JournalEvent("batch-end")
        .Text("file", batchWindowsPath)
        .Text("result", "done")
        .Number("lines", executed)
        .Write();
    return 0;
}

}  // namespace hostwin
