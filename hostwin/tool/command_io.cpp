#include "command_io.h"

#include <sys/stat.h>

#include <cstdio>

#include "hostwin/host_file.h"
#include "hostwin.h"
#include "progress.h"
#include "hostwin/text_util.h"

namespace hostwin_tool {

std::unique_ptr<hostwin::RegistryStore> LoadMachineRegistry(const std::string& dir) {
    const std::string file = dir + "/registry.reg";
    struct stat st;
    const unsigned long long size = ::stat(file.c_str(), &st) == 0 ? st.st_size : 0;
    ProgressStep progress("loading " + file + " (" + ReadableSize(size) + ")");
    return hostwin::RegistryStore::Load(file);
}

hostwin::RegistryKey* FindKeyByPath(const hostwin::RegistryStore& store,
                                    const std::string& path) {
    std::string levels = path;
    for (char& c : levels)
        if (c == '/') c = '\\';
    while (!levels.empty() && levels.back() == '\\') levels.pop_back();
    size_t end = levels.find('\\');
    hostwin::RegistryKey* key = store.RootNamed(levels.substr(0, end));
    while (key && end != std::string::npos) {
        const size_t start = end + 1;
        end = levels.find('\\', start);
        key = key->FindSubkey(
            levels.substr(start, end == std::string::npos ? std::string::npos : end - start));
    }
    return key;
}

std::string ReadWholeFile(const std::string& path) {
    std::string text;
    if (!hostwin::ReadMachineFile(path, hostwin::kRegistryFileLimit, text))
        throw hostwin::MachineError("cannot read " + path + ": no such file");
    return text;
}

void WriteStandardOutput(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw hostwin::MachineError("cannot write to standard output");
}

}  // namespace hostwin_tool
