#include "fuzz_machine.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "hostwin.h"

namespace fs = std::filesystem;

namespace {

std::string& Root() {
    static std::string root;
    return root;
}

void RemoveMachine() {
    try {
        hostwin::CloseMachine();
    } catch (...) {
    }
    std::error_code ignored;
    if (!Root().empty()) fs::remove_all(Root(), ignored);
}

}  // namespace

const std::string& FuzzMachineRoot() {
    if (Root().empty()) {
        std::string pattern = (fs::temp_directory_path() / "pellam-fuzz-XXXXXX").string();
        if (!::mkdtemp(&pattern[0])) {
            std::perror("mkdtemp");
            std::abort();
        }
        Root() = pattern;
        fs::create_directories(Root() + "/c/WINDOWS");
        hostwin::OpenMachine(Root());
        std::atexit(RemoveMachine);
    }
    return Root();
}

void WriteFuzzFile(const std::string& relative, const std::string& contents) {
    const fs::path path = fs::path(FuzzMachineRoot()) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

std::string ReadFuzzFile(const std::string& relative) {
    std::ifstream in(fs::path(FuzzMachineRoot()) / relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
