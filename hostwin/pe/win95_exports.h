// What Windows 95 exports, by DLL and function: the table is scripts/win32-imports.txt, the same
// list the release build's import check reads, compiled in when the build is configured.
#ifndef HOSTWIN_PE_WIN95_EXPORTS_H
#define HOSTWIN_PE_WIN95_EXPORTS_H

#include <string>

namespace hostwin_pe {

// True when the DLL (named in any case) exports the function on Windows 95.
bool Windows95Exports(const std::string& dll, const std::string& function);

// DLL names compare without regard to case, as the loader finds them.
bool EqualDllNames(const std::string& a, const std::string& b);

}  // namespace hostwin_pe

#endif
