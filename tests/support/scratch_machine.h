// A temporary machine folder for tests: created with the given files, opened as the machine
// that hostwin works on, and removed again when the test ends.
#ifndef TESTS_SCRATCH_MACHINE_H
#define TESTS_SCRATCH_MACHINE_H

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

class ScratchMachine {
public:
    // files: machine-folder-relative path -> contents, e.g. {"registry.reg", "REGEDIT4\n..."},
    // {"c/WINDOWS/SYSTEM.INI", "..."}. The folder c/ and c/WINDOWS always exist.
    using Files = std::map<std::string, std::string>;
    explicit ScratchMachine(const Files& files = {}, bool open = true);
    // The same from a braced list, so that a single {path, contents} pair is not ambiguous.
    explicit ScratchMachine(std::initializer_list<Files::value_type> files, bool open = true)
        : ScratchMachine(Files(files), open) {}
    // Copies a whole folder (a sample machine) and opens the copy.
    static ScratchMachine CopyOf(const std::string& folder);
    ~ScratchMachine();
    ScratchMachine(ScratchMachine&& other) noexcept;
    ScratchMachine(const ScratchMachine&) = delete;
    ScratchMachine& operator=(const ScratchMachine&) = delete;
    ScratchMachine& operator=(ScratchMachine&&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
    void Write(const std::string& relative, const std::string& contents) const;
    std::string Read(const std::string& relative) const;
    bool Exists(const std::string& relative) const;
    // Saves pending changes (hostwin::SyncMachine) and returns registry.reg's text.
    std::string RegistryText() const;
    // The journal's lines.
    std::vector<std::string> Journal() const;
    // Every file below the folder (relative path -> contents), journal.jsonl and
    // shortnames.txt left out.
    std::map<std::string, std::string> Snapshot() const;

private:
    struct Empty {};
    explicit ScratchMachine(Empty) {}
    std::string root_;
};

#endif
