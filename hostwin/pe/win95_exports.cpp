#include "win95_exports.h"

#include <strings.h>

namespace hostwin_pe {

namespace {

struct Export {
    const char* dll;
    const char* function;
};

// Generated from scripts/win32-imports.txt: {"KERNEL32.dll", "CloseHandle"}, ...
constexpr Export kExports[] = {
#include "win95_exports.inc"
};

}  // namespace

bool EqualDllNames(const std::string& a, const std::string& b) {
    return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool Windows95Exports(const std::string& dll, const std::string& function) {
    for (const Export& e : kExports)
        if (function == e.function && EqualDllNames(dll, e.dll)) return true;
    return false;
}

}  // namespace hostwin_pe
