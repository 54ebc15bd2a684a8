#include "hostwin/running_programs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "hostwin/session.h"

namespace hostwin {

namespace {

struct FileId {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
};

FileId IdOf(const std::string& hostPath) {
    FileId id;
    struct stat st;
    if (::stat(hostPath.c_str(), &st) == 0) {
        id.known = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
    }
    return id;
}

bool Same(const FileId& a, const FileId& b) {
    return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

// The start time of a live process (clock ticks after boot), 0 when it has ended or is a
// zombie. Together with the pid it names one process, also after the pid is used again.
unsigned long long StartTimeOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text)) return 0;
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string state, field;
    fields >> state;
    if (state == "Z" || state == "X" || state == "x") return 0;
    // Fields 4 to 21 lie between the state and the start time.
    for (int i = 4; i <= 21; ++i) fields >> field;
    unsigned long long start = 0;
    fields >> start;
    return start;
}

struct KnownProcess {
    pid_t pid;
    unsigned long long startTime;
    FileId executable;  // not known for a batch process
    bool Running() const { return startTime != 0 && StartTimeOf(pid) == startTime; }
};

struct Knowledge : SessionPart {
    std::vector<KnownProcess> processes;
    bool commandInterpreter = false;  // this process runs a batch: it has no executable
    // The file this process runs: its host executable, or the Windows program hostwin-pe runs.
    std::string runningExecutable = "/proc/self/exe";
};

Knowledge& Known() { return Session::Current().Part<Knowledge>(Session::kRunningPrograms); }

std::string& RunningExecutable() { return Known().runningExecutable; }

}  // namespace

void SetRunningExecutable(const std::string& hostFile) { RunningExecutable() = hostFile; }

void NoteStartedProcess(pid_t pid, const std::string& hostExecutable) {
    KnownProcess process{pid, StartTimeOf(pid), hostExecutable.empty() ? FileId() : IdOf(hostExecutable)};
    std::vector<KnownProcess>& processes = Known().processes;
    processes.erase(std::remove_if(processes.begin(), processes.end(),
                                   [](const KnownProcess& p) { return !p.Running(); }),
                    processes.end());
    processes.push_back(process);
}

void NoteProcessEnded(pid_t pid) {
    for (KnownProcess& p : Known().processes)
        if (p.pid == pid) p.startTime = 0;
}

void BecomeCommandInterpreter(pid_t creator) {
    std::vector<KnownProcess>& processes = Known().processes;
    processes.erase(std::remove_if(processes.begin(), processes.end(),
                                   [&](const KnownProcess& p) { return p.pid == creator; }),
                    processes.end());
    // A batch run inside the program's own process (a test) has no creator apart from itself.
    if (creator != ::getpid())
        processes.push_back(KnownProcess{creator, StartTimeOf(creator), IdOf(RunningExecutable())});
    Known().commandInterpreter = true;
}

bool IsRunningExecutable(const std::string& hostFile) {
    const FileId file = IdOf(hostFile);
    if (!file.known) return false;
    if (!Known().commandInterpreter && Same(file, IdOf(RunningExecutable()))) return true;
    for (const KnownProcess& p : Known().processes)
        if (Same(file, p.executable) && p.Running()) return true;
    return false;
}

bool IsCurrentDirectoryOfRunningProcess(const std::string& hostDirectory) {
    const FileId directory = IdOf(hostDirectory);
    if (!directory.known) return false;
    if (Same(directory, IdOf("."))) return true;
    for (const KnownProcess& p : Known().processes)
        if (Same(directory, IdOf("/proc/" + std::to_string(p.pid) + "/cwd")) && p.Running())
            return true;
    return false;
}

}  // namespace hostwin
