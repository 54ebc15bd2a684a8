// unpellam's entry: reads the keywords of its command line and the warning texts of the
// package's uninstall key, asks for confirmation, runs the selected removals through the
// cleaner's gated operations, reports with message boxes and offers to restart Windows.
#include <windows.h>

#include <cstring>
#include <new>

#include "common/bounded_text.h"
#include "common/win32_handles.h"
#include "driver_cleaner.h"
#include "unpellam_entry.h"
#include "value_text.h"

namespace {

const char kUninstallKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SM56BRL";
const DWORD kWarningBufferSize = 1040;

// The program's one cleaner, from the start of WinMain to its end.
CDriverCleaner* TheCleaner = nullptr;

struct Keywords {
    bool now = false;
    bool all = false;
    bool tunelink10 = false;
    bool br10setp = false;
    bool silent = false;
    bool comboModem3 = false;  // "dev_0003" or "old"
};

void LowerCaseInPlace(char* text) {
    for (; *text; ++text)
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
}


Keywords FindKeywords(const char* arguments) {
    Keywords k;
    k.now = common::Contains(arguments, "now");
    k.all = common::Contains(arguments, "all");
    k.tunelink10 = common::Contains(arguments, "tunelink10");
    k.br10setp = common::Contains(arguments, "br10setp");
    k.silent = common::Contains(arguments, "silent");
    if (!k.all)
        k.comboModem3 =
            common::Contains(arguments, "dev_0003") || common::Contains(arguments, "old");
    return k;
}

// Reads one warning value as a zero-terminated text; false when it is missing, unreadable or
// longer than the buffer. The text is that of ValueTextLength: a value without its own
// terminating zero ends at its data's end (or, when it fills the whole buffer, one byte
// earlier, where the zero must go), so no text is read past the buffer.
bool ReadWarningText(HKEY key, const char* valueName, char (&buffer)[kWarningBufferSize],
                     DWORD& size) {
    if (!key) return false;
    if (RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                         &size) != ERROR_SUCCESS)
        return false;
    const size_t length = ValueTextLength(buffer, size < kWarningBufferSize ? size : kWarningBufferSize);
    buffer[length < kWarningBufferSize ? length : kWarningBufferSize - 1] = '\0';
    return true;
}

void RunSelectedRemovals(CDriverCleaner& cleaner, const Keywords& k) {
    if (k.br10setp) cleaner.Win9xRemoveAudioDevices();
    if (k.tunelink10) cleaner.Win9xRemoveBr10Package();
    if (k.comboModem3)
        cleaner.Win9xRemoveComboModem3();
    else
        cleaner.Win9xRemoveComboModem4();
    if (k.all) cleaner.RemoveEverything();
}

}  // namespace

// Asks Windows to restart. On the 9x family, which has no security tokens, OpenThreadToken is
// not implemented and the request goes straight out. On NT only a thread with a token of its
// own (an impersonating one) has the shutdown privilege enabled and then requests the restart;
// this program's thread has none, so OpenThreadToken fails with ERROR_NO_TOKEN (1008) and no
// restart is requested. Nothing is reported either way.
void RestartWindows() {
    common::KernelHandle token;
    if (OpenThreadToken(GetCurrentThread(), 0xF00FF, FALSE, token.Receive())) {
        TOKEN_PRIVILEGES privileges;
        LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
        token.Reset();  // closed before the restart is requested
    } else if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
        SetLastError(0);
    }
    if (GetLastError() == 0) ExitWindowsEx(EWX_REBOOT | 0x40, 0xFFFFFFFF);
}

void RunUninstaller(CDriverCleaner& cleaner, char* arguments) {
    LowerCaseInPlace(arguments);
    const Keywords k = FindKeywords(arguments);

    // Closed at fixed points: before the removals once the user confirmed, else before the
    // closing boxes.
    common::RegistryKey key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kUninstallKeyPath, key.Receive()) != ERROR_SUCCESS)
        key.Release();

    char warningText[kWarningBufferSize] = {};
    char warningTitle[kWarningBufferSize] = {};
    DWORD textSize = kWarningBufferSize;
    DWORD titleSize = kWarningBufferSize;
    bool readFailed = false;

    const bool textRead = ReadWarningText(key.Get(), "WarningString", warningText, textSize);
    if (!textRead && !k.now) {
        readFailed = true;
    } else {
        const bool titleRead =
            ReadWarningText(key.Get(), "WarningTitle", warningTitle, titleSize);
        if (!titleRead && !k.now) readFailed = true;
    }

    if (!readFailed) {
        if (k.now) {
            RunSelectedRemovals(cleaner, k);
        } else if (!k.silent) {
            if (MessageBoxA(nullptr, warningText, warningTitle, MB_OKCANCEL) == IDOK) {
                key.Reset();
                RunSelectedRemovals(cleaner, k);
                if (MessageBoxA(nullptr,
                                "It is required that you restart Windows\nDo you wish to do so now?",
                                "Restart Windows?", MB_OKCANCEL) == IDOK)
                    RestartWindows();
                MessageBoxA(nullptr, "Please make sure to restart Windows.", warningTitle, MB_OK);
            }
        }
    }

    key.Reset();
    if (k.now && !k.silent)
        MessageBoxA(nullptr, "Uninstalled correctly.\n\nPlease restart Windows.", "UnPellam.EXE",
                    MB_OK);
    else if (readFailed && !k.silent)
        MessageBoxA(nullptr, "Error while querying uninstall string information", "Uninstall",
                    MB_OK | MB_ICONHAND);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    TheCleaner = new (std::nothrow) CDriverCleaner();
    if (!TheCleaner) return 0;

    char empty[1] = {'\0'};
    RunUninstaller(*TheCleaner, lpCmdLine ? lpCmdLine : empty);

    // The cleaner is exactly a CDriverCleaner and its destructor is not virtual (the table of
    // operations holds none): destroy it as what it is, then free its memory.
    TheCleaner->~CDriverCleaner();
    ::operator delete(TheCleaner);
    TheCleaner = nullptr;
    return 0;
}
