// The registry at the scale of real registries: loading and saving registry.reg and a whole
// `unpellam all now silent` run, on the sample Windows 98 machine with 10^4, 10^5 and 10^6
// other vendors' PCI keys, each next to copying the same registry.reg in the same run; and
// Wine's regedit importing the same file, the peer figure, where Wine is installed.
//
// Every figure is wall-clock time (the programs run as child processes), in bytes of
// registry.reg a second; load and save also show their processor time. The copy, like a save,
// ends with fsync, so both carry the same disk flush. The unpellam run also reports its
// processor time and peak memory (maximum resident set), the latter as a multiple of the
// file's size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "large_registry.h"
#include "hostwin/registry_store.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const char kSample[] = PELLAM_SOURCE_DIR "/samples/win98-machine";

// A scratch folder for the whole run: one generated registry.reg per key count.
class Workspace {
public:
    Workspace() {
        std::string pattern = (fs::temp_directory_path() / "pellam-registry-bench.XXXXXX").string();
        if (!::mkdtemp(&pattern[0])) std::abort();
        root_ = pattern;
        ::chmod(root_.c_str(), 0755);  // Wine's user reads the files too
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    const std::string& Root() const { return root_; }

    // The generated registry.reg with this many added keys.
    const std::string& Registry(size_t keys) {
        auto it = files_.find(keys);
        if (it != files_.end()) return it->second;
        std::ifstream in(std::string(kSample) + "/registry.reg", std::ios::binary);
        std::stringstream sample;
        sample << in.rdbuf();
        const std::string path = root_ + "/registry-" + std::to_string(keys) + ".reg";
        std::ofstream out(path, std::ios::binary);
        out << LargeRegistry(sample.str(), keys);
        out.close();
        return files_[keys] = path;
    }

private:
    std::string root_;
    std::map<size_t, std::string> files_;
};

Workspace& Space() {
    static Workspace space;
    return space;
}

size_t FileSize(const std::string& path) { return static_cast<size_t>(fs::file_size(path)); }

void CopyDurably(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    const int fd = ::open(to.c_str(), O_WRONLY);
    ::fsync(fd);
    ::close(fd);
}

// Runs argv with the extra environment, output discarded; returns the exit code.
int Run(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    std::vector<char*> args, environment;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (char** e = environ; *e; ++e) environment.push_back(*e);
    for (const std::string& e : env) environment.push_back(const_cast<char*>(e.c_str()));
    environment.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    pid_t child = 0;
    const int spawned =
        posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return 127;
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void Report(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}

// The yardstick: copying registry.reg once (and flushing it to disk).
void BM_RegistryFileCopy(benchmark::State& state) {
    const std::string& file = Space().Registry(static_cast<size_t>(state.range(0)));
    const std::string copy = Space().Root() + "/copy.reg";
    for (auto _ : state) CopyDurably(file, copy);
    Report(state, FileSize(file));
}

void BM_RegistryLoad(benchmark::State& state) {
    const std::string& file = Space().Registry(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        auto store = hostwin::RegistryStore::Load(file);
        benchmark::DoNotOptimize(store.get());
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    Report(state, FileSize(file));
}

// Saving after a change: the whole file is written again, through a temporary file.
void BM_RegistrySave(benchmark::State& state) {
    const std::string& file = Space().Registry(static_cast<size_t>(state.range(0)));
    const std::string saved = Space().Root() + "/saved.reg";
    fs::copy_file(file, saved, fs::copy_options::overwrite_existing);
    auto store = hostwin::RegistryStore::Load(saved);
    hostwin::RegistryKey& key = store->CreateSubkey(*store->RootNamed("HKEY_LOCAL_MACHINE"), "Bench");
    unsigned count = 0;
    for (auto _ : state) {
        ++count;
        store->SetValue(key, "Count", REG_DWORD, std::string(reinterpret_cast<char*>(&count), 4));
        store->Save();
    }
    Report(state, FileSize(saved));
}

// The whole uninstaller on a fresh copy of the machine: start, load, removal, save, exit. Its
// peak memory and processor time come from /usr/bin/time where that is installed: a child
// started straight from this process would count this process's own peak as well.
void RunUnpellamAllNowSilent(benchmark::State& state, std::vector<std::string> argv) {
    const std::string& file = Space().Registry(static_cast<size_t>(state.range(0)));
    const std::string machine = Space().Root() + "/machine";
    const std::string usage = Space().Root() + "/usage.txt";
    const bool timed = ::access("/usr/bin/time", X_OK) == 0;
    argv.insert(argv.end(), {"all", "now", "silent"});
    if (timed) argv.insert(argv.begin(), {"/usr/bin/time", "-f", "%M %U %S", "-o", usage});
    double peakKb = 0, cpuTotal = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(machine);
        fs::copy(kSample, machine, fs::copy_options::recursive);
        fs::copy_file(file, machine + "/registry.reg", fs::copy_options::overwrite_existing);
        state.ResumeTiming();
        if (Run(argv, {"HOSTWIN_MACHINE=" + machine}) != 0)
            state.SkipWithError("unpellam failed");
        state.PauseTiming();
        double kb = 0, user = 0, system = 0;
        std::ifstream in(usage);
        if (timed && in >> kb >> user >> system) {
            peakKb = kb > peakKb ? kb : peakKb;
            cpuTotal += user + system;
        }
        state.ResumeTiming();
    }
    Report(state, FileSize(file));
    if (timed) {
        state.counters["child_cpu_ms"] = cpuTotal * 1e3 / static_cast<double>(state.iterations());
        state.counters["peak_MB"] = peakKb / 1e3;
        state.counters["peak_per_file"] = peakKb * 1e3 / static_cast<double>(FileSize(file));
    }
}

void BM_UnpellamAllNowSilent(benchmark::State& state) {
    RunUnpellamAllNowSilent(state, {PELLAM_UNPELLAM});
}

#ifdef PELLAM_HOSTWIN_PE
// The same run of the Windows build's unpellam.exe in hostwin-pe, beside the host build's.
void BM_UnpellamExeAllNowSilent(benchmark::State& state) {
    RunUnpellamAllNowSilent(state, {PELLAM_HOSTWIN_PE, PELLAM_UNPELLAM_EXE});
}
#endif

// ---- Wine's regedit, the peer figure ----

bool OnPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

// Wine refuses to run as root: there, it runs as PELLAM_WINE_USER (default nobody) through
// runuser, in a prefix of its own made once for the whole run.
class WinePrefix {
public:
    WinePrefix() {
        home_ = Space().Root() + "/wine";
        fs::create_directories(home_);
        if (::geteuid() == 0) {
            const char* user = std::getenv("PELLAM_WINE_USER");
            user_ = user && *user ? user : "nobody";
            if (const passwd* pw = ::getpwnam(user_.c_str())) {
                if (::chown(home_.c_str(), pw->pw_uid, pw->pw_gid) != 0) user_.clear();
            } else {
                user_.clear();
            }
            if (user_.empty()) return;
        }
        ready_ = Wine({"wineboot", "-i"}) == 0 && Wine({"wineserver", "-w"}) == 0;
    }
    bool Ready() const { return ready_; }
    int Wine(const std::vector<std::string>& command) const {
        std::vector<std::string> argv;
        if (!user_.empty()) argv = {"runuser", "-u", user_, "--"};
        argv.insert(argv.end(), {"env", "HOME=" + home_, "WINEPREFIX=" + home_ + "/prefix",
                                 "WINEDEBUG=-all"});
        argv.insert(argv.end(), command.begin(), command.end());
        return Run(argv, {});
    }

private:
    std::string home_, user_;
    bool ready_ = false;
};

// regedit /s imports the file; wineserver -w waits until Wine has stored the registry.
void BM_WineRegeditImport(benchmark::State& state) {
    static WinePrefix prefix;
    const std::string& file = Space().Registry(static_cast<size_t>(state.range(0)));
    ::chmod(file.c_str(), 0644);
    if (!prefix.Ready()) {
        state.SkipWithError("Wine could not make its prefix");
        return;
    }
    std::string windowsPath = "Z:" + file;
    for (char& c : windowsPath)
        if (c == '/') c = '\\';
    for (auto _ : state) {
        if (prefix.Wine({"wine", "regedit", "/s", windowsPath}) != 0 ||
            prefix.Wine({"wineserver", "-w"}) != 0)
            state.SkipWithError("regedit failed");
    }
    Report(state, FileSize(file));
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10000)->Arg(100000)->Arg(1000000)->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_RegistryFileCopy)->Apply(Sizes);
BENCHMARK(BM_RegistryLoad)->Apply(Sizes);
BENCHMARK(BM_RegistrySave)->Apply(Sizes);
BENCHMARK(BM_UnpellamAllNowSilent)->Apply(Sizes);
#ifdef PELLAM_HOSTWIN_PE
BENCHMARK(BM_UnpellamExeAllNowSilent)->Apply(Sizes);
#endif

// Registered only where Wine is installed. One import a size; 10^6 keys take Wine many
// minutes, so that size runs only with PELLAM_WINE_MILLION=1.
const bool kWineRegistered = [] {
    if (!OnPath("wine") || !OnPath("wineserver")) {
        std::fprintf(stderr, "Wine is not installed: the regedit figures are left out\n");
        return false;
    }
    auto* b = benchmark::RegisterBenchmark("BM_WineRegeditImport", BM_WineRegeditImport);
    b->Arg(10000)->Arg(100000);
    const char* million = std::getenv("PELLAM_WINE_MILLION");
    if (million && std::string(million) == "1") b->Arg(1000000);
    b->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
