// The self-removal batch. It repeats the delete of the executable until the ending program
// has let go of it, removes the program's directory (when the moves of cleanup mode have
// emptied it) and deletes itself.
#include "self_removal.h"

#include <string.h>

const char SelfRemovalBatchPath[] = "\\PellamUpgradeDelUS.bat";

namespace {

const char BatchFormat[] =
    ":Repeat\r\n"
    "del \"%s\"\r\n"
    "if exist \"%s\" goto Repeat\r\n"
    "rmdir \"%s\"\r\n"
    "del \"%s\"\r\n";

// wsprintfA writes at most this many characters, the zero included.
const int FormatLimit = 1024;

// The command interpreter expands %...% in batch lines; a doubled %% stands for one %, so a
// path written this way reaches del and rmdir unchanged.
bool DoublePercents(const char* text, char* out, int size) {
    int n = 0;
    for (const char* p = text; *p; ++p) {
        const int needed = *p == '%' ? 2 : 1;
        if (n + needed >= size) return false;
        out[n++] = *p;
        if (*p == '%') out[n++] = '%';
    }
    out[n] = '\0';
    return true;
}

// The attributes that would keep the batch from deleting the executable: del refuses a
// read-only file and passes over hidden and system files.
const DWORD BlockingAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

bool FormatSelfRemovalBatch(const char* modulePath, char* buffer, int size) {
    if (lstrlenA(modulePath) >= MAX_PATH) return false;
    // The module's directory: the path cut before its last backslash ("D:" for a root).
    char moduleDir[MAX_PATH];
    strcpy(moduleDir, modulePath);
    if (char* lastBackslash = strrchr(moduleDir, '\\')) *lastBackslash = '\0';

    char quotedModule[2 * MAX_PATH];
    char quotedDir[2 * MAX_PATH];
    if (!DoublePercents(modulePath, quotedModule, sizeof quotedModule) ||
        !DoublePercents(moduleDir, quotedDir, sizeof quotedDir))
        return false;
    const int length = 2 * lstrlenA(quotedModule) + lstrlenA(quotedDir) +
                       lstrlenA(SelfRemovalBatchPath) + lstrlenA(BatchFormat) - 8;
    if (length >= size || length >= FormatLimit) return false;
    wsprintfA(buffer, BatchFormat, quotedModule, quotedModule, quotedDir, SelfRemovalBatchPath);
    return true;
}

bool SelfRemovalCanFinish(const char* modulePath, const char* currentDirectory) {
    // The batch is written to, and started in, the root of the current directory's drive; the
    // command interpreter takes no network path (\\server\share\...) for its current
    // directory. A program on a network path run from a local directory is fine: del and rmdir
    // take its full path.
    if (currentDirectory[0] == '\\' && currentDirectory[1] == '\\') return false;
    // A CD's files can never be deleted.
    if (modulePath[0] != '\0' && modulePath[1] == ':') {
        char root[4] = {modulePath[0], ':', '\\', '\0'};
        if (GetDriveTypeA(root) == DRIVE_CDROM) return false;
    }
    return true;
}

namespace {

// Whether the disk of the executable really takes writes. A probe file beside the executable is
// created with one byte, opened again to see that the byte is there, and deleted. A
// write-protected disk refuses one of these steps; a driver that reports success for writes that
// change nothing is caught by the second look (no file, or an empty one) or by a probe that is
// still there after its delete.
bool DiskTakesWrites(const char* modulePath) {
    char probe[MAX_PATH];
    strcpy(probe, modulePath);  // under MAX_PATH characters, as RemoveSelf made sure
    char* name = strrchr(probe, '\\');
    name = name ? name + 1 : probe;
    const char probeName[] = "PELLAMWP.$$$";
    if ((name - probe) + lstrlenA(probeName) >= MAX_PATH) return false;
    strcpy(name, probeName);

    HANDLE file = CreateFileA(probe, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool wrote = WriteFile(file, "W", 1, &written, NULL) && written == 1;
    CloseHandle(file);
    bool there = false;
    file = CreateFileA(probe, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        there = GetFileSize(file, NULL) == 1;
        CloseHandle(file);
    }
    DeleteFileA(probe);
    return wrote && there && GetFileAttributesA(probe) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

void RemoveSelf() {
    char modulePath[MAX_PATH];
    const DWORD moduleLength = GetModuleFileNameA(NULL, modulePath, MAX_PATH);
    if (moduleLength == 0 || moduleLength >= MAX_PATH) return;
    char currentDirectory[MAX_PATH];
    const DWORD currentLength = GetCurrentDirectoryA(MAX_PATH, currentDirectory);
    if (currentLength == 0 || currentLength >= MAX_PATH) return;
    if (!SelfRemovalCanFinish(modulePath, currentDirectory)) return;
    const DWORD attributes = GetFileAttributesA(modulePath);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    char text[FormatLimit];
    if (!FormatSelfRemovalBatch(modulePath, text, sizeof text)) return;
    // The batch's del could never remove an executable on a disk that takes no writes: it
    // would repeat for ever.
    if (!DiskTakesWrites(modulePath)) return;

    HANDLE batch = CreateFileA(SelfRemovalBatchPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (batch == INVALID_HANDLE_VALUE) return;
    const DWORD length = static_cast<DWORD>(lstrlenA(text));
    DWORD written = 0;
    const bool complete = WriteFile(batch, text, length, &written, NULL) && written == length;
    CloseHandle(batch);
    if (!complete) {
        DeleteFileA(SelfRemovalBatchPath);
        return;
    }

    // Only now, with the batch in place, is the executable made deletable, and only when it
    // has a bit that del refuses or passes over: a running image may well refuse attribute
    // changes, which must not stop a removal that needs none.
    const bool blocked = (attributes & BlockingAttributes) != 0;
    const DWORD cleared = attributes & ~(BlockingAttributes | FILE_ATTRIBUTE_DIRECTORY);
    if (blocked && !SetFileAttributesA(modulePath, cleared ? cleared : FILE_ATTRIBUTE_NORMAL)) {
        DeleteFileA(SelfRemovalBatchPath);
        return;
    }

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    char commandLine[sizeof SelfRemovalBatchPath];
    strcpy(commandLine, SelfRemovalBatchPath);
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE,
                        CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, NULL, "\\", &startup, &process)) {
        // The program stays: as it was, without a batch that nothing will run.
        if (blocked) SetFileAttributesA(modulePath, attributes & ~FILE_ATTRIBUTE_DIRECTORY);
        DeleteFileA(SelfRemovalBatchPath);
        return;
    }
    // The batch may only win the race for the executable after this program has ended: it
    // runs at idle priority while this thread finishes at time-critical priority.
    SetThreadPriority(process.hThread, THREAD_PRIORITY_IDLE);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    CloseHandle(process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
}
