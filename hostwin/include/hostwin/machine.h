// The machine folder that hostwin emulates: its settings (machine.ini), registry, file
// attributes and drive folders. One machine is open per process, owned by its session.
#ifndef HOSTWIN_MACHINE_H
#define HOSTWIN_MACHINE_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "hostwin/machine_settings.h"
#include "hostwin/session.h"

namespace hostwin {

class RegistryStore;
class AttributeStore;

class Machine {
public:
    // The session's open machine (see Session::CurrentMachine), for the Win32 functions.
    static Machine& Current() { return Session::Current().CurrentMachine(); }
    // The session's open machine, or null; never opens one.
    static Machine* IfOpen() { return Session::Current().MachineIfOpen(); }

    explicit Machine(const std::string& hostFolder);
    ~Machine();

    const std::string& Root() const { return root_; }
    // The folder with every symbolic link resolved: what every host path must lie inside.
    const std::string& RealRoot() const { return realRoot_; }
    std::string HostPath(const std::string& relative) const { return root_ + "/" + relative; }
    // The host folder of a drive: the folder named by its lower-case letter.
    std::string DriveFolder(char driveLetter) const;
    const VersionRecord& Version() const { return *settings_.version; }
    bool IsWin9x() const { return settings_.version->platformId == VER_PLATFORM_WIN32_WINDOWS; }
    // The Windows directory, e.g. C:\WINDOWS, without a trailing backslash.
    const std::string& WindowsDirectory() const { return settings_.windowsDirectory; }
    const IniFile& Settings() const { return settings_.ini; }
    // Whether machine.ini lists the file (canonical Windows path) as held open by another program.
    bool IsInUse(const std::string& windowsPath) const;
    // The files that machine.ini lists as held open, in normal form.
    const std::vector<std::string>& InUseFiles() const { return settings_.inUse; }

    // The [programs] description of a program (any form of its Windows path), or null.
    const SimulatedProgram* SimulatedProgramAt(const std::string& windowsPath) const {
        return FindSimulatedProgram(settings_.programs, windowsPath);
    }

    RegistryStore& Registry() { return *registry_; }
    AttributeStore& Attributes() { return *attributes_; }

    // Writes pending registry and attribute changes back to the folder.
    void Sync();

    // How many HOSTWIN_ANSWERS words the message boxes of this run have used.
    size_t answersConsumed = 0;

private:
    std::string root_;
    std::string realRoot_;
    MachineSettings settings_;
    std::unique_ptr<RegistryStore> registry_;
    std::unique_ptr<AttributeStore> attributes_;
};

}  // namespace hostwin

#endif
