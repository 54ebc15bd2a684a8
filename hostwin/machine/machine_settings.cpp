#include "hostwin/machine_settings.h"

#include <unordered_map>

#include "hostwin/device_settings.h"
#include "hostwin/drives.h"
#include "hostwin/machine_error.h"
#include "hostwin/simulated_programs.h"
#include "hostwin/text_util.h"
#include "hostwin/win_path.h"

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

// A misspelt section name would silently drop its settings (a file no longer in use, a CD
// drive turned fixed), so only these are accepted.
const char* const kSections[] = {"system", "in use", "drives", "devices", "programs"};

std::string Where(const std::string& fileLabel, int line) {
    return fileLabel + " line " + std::to_string(line) + ": ";
}

void ReadSystem(const IniSection& system, const std::string& fileLabel, MachineSettings& out) {
    RequireUniqueKeys(system, fileLabel);
    for (const IniEntry& e : system.entries) {
        const std::string where = Where(fileLabel, e.line);
        if (!e.hasValue) throw MachineError(where + "expected key=value in [system]");
        if (EqualsNoCase(e.key, "version")) {
            out.version = FindVersionRecord(e.value);
            if (!out.version)
                throw MachineError(where + "unknown version '" + e.value +
                                   "' (win95, win98, winme, nt4, win2000 or winxp)");
        } else if (EqualsNoCase(e.key, "windir")) {
            if (!NormalizeFullWindowsPath(e.value, out.windowsDirectory))
                throw MachineError(where + "windir must be a full path such as C:\\WINDOWS");
        } else {
            throw MachineError(where + "unknown setting '" + e.key + "' in [system]");
        }
    }
}

void ReadInUse(const IniSection& inUse, const std::string& fileLabel, MachineSettings& out) {
    std::unordered_map<std::string, int> lines;  // by upper-cased normal form
    for (const IniEntry& e : inUse.entries) {
        const std::string where = Where(fileLabel, e.line);
        std::string path;
        if (!NormalizeFullWindowsPath(e.text, path))
            throw MachineError(where + "expected a full Windows path such as C:\\WINDOWS\\X.VXD");
        auto first = lines.emplace(ToUpperAscii(path), e.line);
        if (!first.second)
            throw MachineError(where + path + " appears twice in [in use], in line " +
                               std::to_string(first.first->second) + " and line " +
                               std::to_string(e.line));
        out.inUse.push_back(path);
    }
}

}  // namespace

const VersionRecord* FindVersionRecord(const std::string& name) {
    for (const VersionRecord& v : kVersions)
        if (EqualsNoCase(name, v.name)) return &v;
    return nullptr;
}

MachineSettings ParseMachineSettings(const std::string& text, const std::string& fileLabel) {
    MachineSettings settings;
    settings.ini = ParseIni(text, fileLabel);
    for (const IniSection& section : settings.ini.sections) {
        bool known = false;
        for (const char* name : kSections) known = known || EqualsNoCase(section.name, name);
        if (!known)
            throw MachineError(Where(fileLabel, section.line) + "unknown section [" +
                               section.name + "] (system, in use, drives, devices or programs)");
    }
    if (const IniSection* system = settings.ini.find("system"))
        ReadSystem(*system, fileLabel, settings);
    if (const IniSection* inUse = settings.ini.find("in use"))
        ReadInUse(*inUse, fileLabel, settings);
    if (const IniSection* drives = settings.ini.find("drives"))
        CheckDriveSettings(*drives, fileLabel);
    CheckDeviceSettings(settings.ini, fileLabel);
    if (const IniSection* programs = settings.ini.find("programs"))
        settings.programs = ParseProgramSettings(*programs, fileLabel);
    return settings;
}

}  // namespace hostwin
