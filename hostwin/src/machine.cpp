#include "machine.h"

#include <sys/stat.h>

#include <cstdlib>

#include "attributes.h"
#include "hostwin.h"
#include "registry_store.h"
#include "text_util.h"
#include "win_path.h"

namespace hostwin {

namespace {

// Build numbers as the releases report them: the 9x family keeps major and minor version in
// the high word of dwBuildNumber.
const VersionRecord kVersions[] = {
    {"win95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, 0x040003B6, ""},
    {"win98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A07CE, " "},
    {"winme", VER_PLATFORM_WIN32_WINDOWS, 4, 90, 0x045A0BB8, " "},
    {"nt4", VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6"},
    {"win2000", VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"},
    {"winxp", VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3"},
};

std::unique_ptr<Machine>& OpenSlot() {
    static std::unique_ptr<Machine> machine;
    return machine;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

const VersionRecord* FindVersionRecord(const std::string& name) {
    for (const VersionRecord& v : kVersions)
        if (EqualsNoCase(name, v.name)) return &v;
    return nullptr;
}

Machine::Machine(const std::string& hostFolder) : root_(hostFolder) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    if (!IsDirectory(root_))
        throw MachineError("machine folder " + root_ + " does not exist or is not a folder");
    version_ = FindVersionRecord("win98");

    std::string text;
    const std::string iniPath = HostPath("machine.ini");
    if (ReadHostFile(iniPath, text)) {
        settings_ = ParseIni(text, iniPath);
        if (const IniSection* system = settings_.find("system")) {
            for (const IniEntry& e : system->entries) {
                const std::string where = iniPath + " line " + std::to_string(e.line) + ": ";
                if (!e.hasValue) throw MachineError(where + "expected key=value in [system]");
                if (EqualsNoCase(e.key, "version")) {
                    version_ = FindVersionRecord(e.value);
                    if (!version_)
                        throw MachineError(where + "unknown version '" + e.value +
                                           "' (win95, win98, winme, nt4, win2000 or winxp)");
                } else if (EqualsNoCase(e.key, "windir")) {
                    if (!ParseAbsoluteDrivePath(e.value))
                        throw MachineError(where + "windir must be a full path such as C:\\WINDOWS");
                    windowsDirectory_ = e.value;
                    while (windowsDirectory_.size() > 3 && (windowsDirectory_.back() == '\\' ||
                                                            windowsDirectory_.back() == '/'))
                        windowsDirectory_.pop_back();
                } else {
                    throw MachineError(where + "unknown setting '" + e.key + "' in [system]");
                }
            }
        }
        if (const IniSection* inUse = settings_.find("in use"))
            for (const IniEntry& e : inUse->entries)
                inUse_.push_back(e.hasValue ? e.key + "=" + e.value : e.key);
    }
    attributes_ = std::make_unique<AttributeStore>(HostPath("attributes.txt"));
    registry_ = RegistryStore::Load(HostPath("registry.reg"));
}

Machine::~Machine() = default;

bool Machine::IsInUse(const std::string& windowsPath) const {
    for (const std::string& p : inUse_)
        if (SameWindowsPath(p, windowsPath)) return true;
    return false;
}

void Machine::Sync() {
    registry_->Save();
    attributes_->Save();
}

Machine* Machine::IfOpen() { return OpenSlot().get(); }

Machine& Machine::Current() {
    if (!OpenSlot()) {
        const char* folder = std::getenv("HOSTWIN_MACHINE");
        if (!folder || !*folder)
            throw MachineError(
                "HOSTWIN_MACHINE is not set: set it to the machine folder to work on "
                "(a folder holding registry.reg and the drive folders c, d, ...)");
        OpenSlot() = std::make_unique<Machine>(folder);
    }
    return *OpenSlot();
}

void OpenMachine(const std::string& hostFolder) {
    auto machine = std::make_unique<Machine>(hostFolder);
    CloseMachine();
    OpenSlot() = std::move(machine);
}

void CloseMachine() {
    if (!OpenSlot()) return;
    OpenSlot()->Sync();
    OpenSlot().reset();
}

void SyncMachine() {
    if (OpenSlot()) OpenSlot()->Sync();
}

}  // namespace hostwin
