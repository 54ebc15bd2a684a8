#include "scratch_machine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "hostwin.h"

namespace fs = std::filesystem;

namespace {

std::string MakeTempFolder() {
    std::string templ = (fs::temp_directory_path() / "hostwin-machine-XXXXXX").string();
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    char* made = ::mkdtemp(buffer.data());
    if (!made) throw std::runtime_error("mkdtemp failed");
    return made;
}

}  // namespace

ScratchMachine::ScratchMachine(const Files& files, bool open) {
    root_ = MakeTempFolder();
    fs::create_directories(root_ + "/c/WINDOWS");
    for (const auto& f : files) Write(f.first, f.second);
    if (open) hostwin::OpenMachine(root_);
}

ScratchMachine ScratchMachine::CopyOf(const std::string& folder) {
    ScratchMachine m{Empty{}};
    m.root_ = MakeTempFolder();
    fs::copy(folder, m.root_, fs::copy_options::recursive);
    hostwin::OpenMachine(m.root_);
    return m;
}

ScratchMachine::ScratchMachine(ScratchMachine&& other) noexcept : root_(std::move(other.root_)) {
    other.root_.clear();
}

ScratchMachine::~ScratchMachine() {
    if (root_.empty()) return;
    try {
        hostwin::CloseMachine();
    } catch (...) {
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void ScratchMachine::Write(const std::string& relative, const std::string& contents) const {
    fs::path p = fs::path(root_) / relative;
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out << contents;
}

std::string ScratchMachine::Read(const std::string& relative) const {
    std::ifstream in(fs::path(root_) / relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool ScratchMachine::Exists(const std::string& relative) const {
    return fs::exists(fs::path(root_) / relative);
}

std::string ScratchMachine::RegistryText() const {
    hostwin::SyncMachine();
    return Read("registry.reg");
}

std::vector<std::string> ScratchMachine::Journal() const {
    std::vector<std::string> lines;
    std::istringstream in(Read("journal.jsonl"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::map<std::string, std::string> ScratchMachine::Snapshot() const {
    hostwin::SyncMachine();
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
        std::string rel = fs::relative(entry.path(), root_).string();
        // The journal and the machine's store of short aliases are hostwin's bookkeeping.
        if (rel == "journal.jsonl" || rel == "shortnames.txt") continue;
        files[rel] = entry.is_directory() ? std::string("<dir>") : Read(rel);
    }
    return files;
}
