// hostwin new DIR [--version V]: an empty machine folder with a Windows directory tree.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "hostwin/folder_lock.h"
#include "hostwin.h"
#include "hostwin/machine.h"
#include "hostwin/text_util.h"
#include "tool.h"
#include "hostwin/win_path.h"

namespace hostwin_tool {

const char kNewHelp[] =
    "usage: hostwin new DIR [--version VERSION]\n\n"
    "Makes DIR an empty machine folder: drive C: with the Windows directory and its SYSTEM,\n"
    "INF, INF\\OTHER, TEMP and CATROOT folders, a machine.ini naming the version and the\n"
    "Windows directory, and an empty registry. DIR must not exist yet, or be an empty folder.\n\n"
    "  --version VERSION  win95, win98 (default), winme, nt4, win2000 or winxp; the NT 4.0\n"
    "                     and Windows 2000 machines have their Windows directory in C:\\WINNT\n\n"
    "exit codes: 0 made; 2 bad usage, an unknown version, or DIR exists and is not empty.\n";

namespace {

void MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        throw hostwin::MachineError("cannot make " + path + ": " + std::strerror(errno));
}

bool IsEmptyFolder(const std::string& path) {
    return hostwin::ListHostDirectory(path).empty();
}

}  // namespace

int CommandNew(const std::vector<std::string>& args) {
    const ParsedArgs parsed = ParseArgs(args, {}, {"version"});
    if (parsed.words.size() != 1 || parsed.hasRest) throw UsageError("expected one folder");
    const std::string dir = parsed.words[0];
    const std::string version = hostwin::ToLowerAscii(parsed.Value("version", "win98"));
    const hostwin::VersionRecord* record = hostwin::FindVersionRecord(version);
    if (!record)
        throw UsageError("unknown version '" + version +
                         "' (win95, win98, winme, nt4, win2000 or winxp)");

    struct stat st;
    if (::stat(dir.c_str(), &st) == 0 && (!S_ISDIR(st.st_mode) || !IsEmptyFolder(dir)))
        throw hostwin::MachineError(dir + " already exists and is not an empty folder");
    const bool winnt = version == "nt4" || version == "win2000";
    const std::string windowsName = winnt ? "WINNT" : "WINDOWS";

    MakeFolder(dir);
    // Held while the folder is filled, as every command that writes a folder holds it.
    hostwin::FolderLock lock(dir);
    const std::string windows = dir + "/c/" + windowsName;
    MakeFolder(dir + "/c");
    MakeFolder(windows);
    for (const char* sub : {"SYSTEM", "INF", "INF/OTHER", "TEMP", "CATROOT"})
        MakeFolder(windows + "/" + sub);
    hostwin::WriteHostFileAtomically(dir + "/machine.ini",
                                     "[system]\nversion=" + version + "\nwindir=C:\\" +
                                         windowsName + "\n");
    hostwin::WriteHostFileAtomically(dir + "/registry.reg", "REGEDIT4\r\n\r\n");
    return kExitOk;
}

}  // namespace hostwin_tool
