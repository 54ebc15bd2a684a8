// A small Windows program for the tests of several programs on one machine: it changes the
// registry through the registry functions, step by step, as its command line says:
//   set KEY NAME           RegCreateKeyA, then RegSetValueExA of the text NAME under NAME
//   delete-key KEY         RegDeleteKeyA
//   delete-value KEY NAME  RegDeleteValueA
//   pause MS               Sleep, so that other programs change the registry in between
//   box                    MessageBoxA (a point where the registry is written back)
// KEY is a full name below HKEY_LOCAL_MACHINE ("Software\Test"). Exit code: the number of
// steps that failed.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Words(const char* line) {
    std::vector<std::string> words;
    for (const char* p = line; *p;) {
        while (*p == ' ') ++p;
        const char* end = p;
        while (*end && *end != ' ') ++end;
        if (end > p) words.emplace_back(p, end);
        p = end;
    }
    return words;
}

bool SetText(const std::string& key, const std::string& name) {
    const std::string& data = name;
    HKEY handle = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key.c_str(), &handle) != ERROR_SUCCESS) return false;
    const LONG error = RegSetValueExA(handle, name.c_str(), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(data.c_str()),
                                      static_cast<DWORD>(data.size() + 1));
    RegCloseKey(handle);
    return error == ERROR_SUCCESS;
}

bool DeleteValue(const std::string& key, const std::string& name) {
    HKEY handle = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key.c_str(), &handle) != ERROR_SUCCESS) return false;
    const LONG error = RegDeleteValueA(handle, name.c_str());
    RegCloseKey(handle);
    return error == ERROR_SUCCESS;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    const std::vector<std::string> w = Words(commandLine);
    int failed = 0;
    for (size_t i = 0; i < w.size(); ++i) {
        const auto has = [&](size_t n) { return i + n < w.size(); };
        if (w[i] == "set" && has(2)) {
            failed += !SetText(w[i + 1], w[i + 2]);
            i += 2;
        } else if (w[i] == "delete-key" && has(1)) {
            failed += RegDeleteKeyA(HKEY_LOCAL_MACHINE, w[++i].c_str()) != ERROR_SUCCESS;
        } else if (w[i] == "delete-value" && has(2)) {
            failed += !DeleteValue(w[i + 1], w[i + 2]);
            i += 2;
        } else if (w[i] == "pause" && has(1)) {
            Sleep(static_cast<DWORD>(std::strtoul(w[++i].c_str(), nullptr, 10)));
        } else if (w[i] == "box") {
            MessageBoxA(nullptr, "registry written back", "registry_writer", MB_OK);
        } else {
            ++failed;
        }
    }
    return failed;
}
