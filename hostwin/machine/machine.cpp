#include "hostwin/machine.h"

#include <limits.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "hostwin/attributes.h"
#include "hostwin/host_file.h"
#include "hostwin/machine_control.h"
#include "hostwin/machine_error.h"
#include "hostwin/registry_store.h"
#include "hostwin/text_util.h"
#include "hostwin/win_path.h"

namespace hostwin {

namespace {

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

Machine::Machine(const std::string& hostFolder) : root_(hostFolder) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    if (!IsDirectory(root_))
        throw MachineError("machine folder " + root_ + " does not exist or is not a folder");
    char real[PATH_MAX];
    if (!::realpath(root_.c_str(), real))
        throw MachineError("machine folder " + root_ + ": " + std::strerror(errno));
    realRoot_ = real;
    std::string text;
    const std::string iniPath = HostPath("machine.ini");
    if (ReadMachineFile(iniPath, kSettingsFileLimit, text))
        settings_ = ParseMachineSettings(text, iniPath);
    // The journal is appended to by every process; it must be a plain file or nothing yet.
    RequireRegularOrMissing(HostPath("journal.jsonl"));
    // shortnames.txt is read later, on the first name lookup; its kind is checked before any run.
    RequireRegularOrMissing(HostPath("shortnames.txt"));
    attributes_ = std::make_unique<AttributeStore>(HostPath("attributes.txt"));
    registry_ = RegistryStore::LoadShared(HostPath("registry.reg"));
    // Temporary files of runs killed during a write-back are of no further use.
    RemoveStaleTemporaries(root_);
}

Machine::~Machine() = default;

std::string Machine::DriveFolder(char driveLetter) const {
    const char letter = driveLetter >= 'A' && driveLetter <= 'Z'
                            ? static_cast<char>(driveLetter - 'A' + 'a')
                            : driveLetter;
    return HostPath(std::string(1, letter));
}

bool Machine::IsInUse(const std::string& windowsPath) const {
    for (const std::string& p : settings_.inUse)
        if (SameWindowsPath(p, windowsPath)) return true;
    return false;
}

void Machine::Sync() {
    registry_->Save();
    attributes_->Save();
}

void OpenMachine(const std::string& hostFolder) {
    auto machine = std::make_unique<Machine>(hostFolder);
    CloseMachine();
    Session::Current().SetMachine(std::move(machine));
}

void CloseMachine() {
    Machine* machine = Machine::IfOpen();
    if (!machine) return;
    machine->Sync();
    Session::Current().SetMachine(nullptr);
}

void SyncMachine() {
    if (Machine* machine = Machine::IfOpen()) machine->Sync();
}

}  // namespace hostwin
