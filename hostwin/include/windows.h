// The part of the Win32 API that the driver maintenance programs call, for POSIX hosts.
//
// Split by family as the Windows SDK splits it: types, error codes, base services (kernel32),
// registry (advapi32), user interface (user32) and shell (shell32). The functions are implemented
// by hostwin over a machine folder (see docs/hostwin.md); their behaviour follows the documented
// Win32 semantics: return values, last-error codes and out-parameters.
#ifndef HOSTWIN_WINDOWS_H
#define HOSTWIN_WINDOWS_H

#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <winreg.h>
#include <winuser.h>
#include <shellapi.h>

#endif
