// Whole runs of the uninstaller on copies of samples/win98-machine: for every keyword set that
// selects a different set of profiles, and on Windows 95, 98 and NT 4.0, the whole registry and
// file tree after the run must equal the sample less exactly what the profiles' tables remove.
// What each profile removes from the sample is written out below by hand, from the tables.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "hostwin.h"
#include "scratch_machine.h"

namespace {

// ---- The registry as a plain map: key path -> value name -> type and data ------------------

using Values = std::map<std::string, std::string>;
using Registry = std::map<std::string, Values>;

void DumpKey(HKEY key, const std::string& name, Registry& out) {
    Values& values = out[name];
    std::vector<char> valueName(16384), data(65536);
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = static_cast<DWORD>(valueName.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueA(key, i, valueName.data(), &nameSize, nullptr, &type,
                          reinterpret_cast<LPBYTE>(data.data()), &dataSize) != ERROR_SUCCESS)
            break;
        values[valueName.data()] = std::to_string(type) + ":" + std::string(data.data(), dataSize);
    }
    char subkey[MAX_PATH];
    for (DWORD i = 0; RegEnumKeyA(key, i, subkey, MAX_PATH) == ERROR_SUCCESS; ++i) {
        HKEY child;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(key, subkey, &child));
        DumpKey(child, name + "\\" + subkey, out);
        RegCloseKey(child);
    }
}

Registry DumpRegistry() {
    const std::pair<HKEY, const char*> roots[] = {
        {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},     {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
        {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},   {HKEY_USERS, "HKEY_USERS"},
        {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA"}};
    Registry registry;
    for (const auto& root : roots) DumpKey(root.first, root.second, registry);
    return registry;
}

// ---- What each profile removes from the sample ---------------------------------------------

// 'K' a key with everything below it, 'V' a value, 'E' a key only when it has no subkeys left
// at that point of the run, 'F' a file (machine-folder path).
struct Removal {
    char kind;
    std::string path;
    std::string name;
};
using Removals = std::vector<Removal>;

const std::string kHklm = "HKEY_LOCAL_MACHINE\\";
Removal K(const std::string& path) { return {'K', kHklm + path, ""}; }
Removal E(const std::string& path) { return {'E', kHklm + path, ""}; }
Removal V(const std::string& path, const std::string& name) { return {'V', kHklm + path, name}; }
Removal F(const std::string& path) { return {'F', "c/WINDOWS/" + path, ""}; }

void Add(Removals& to, const Removals& more) { to.insert(to.end(), more.begin(), more.end()); }

const std::string kPci = "Enum\\PCI\\";
const std::string kClass = "System\\CurrentControlSet\\Services\\Class\\";
const std::string kServices = "System\\CurrentControlSet\\Services\\";
const std::string kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kPhantom = "Software\\Microsoft\\Windows\\CurrentVersion\\cfgmgr32\\Phantom\\";
const std::string kProb = "System\\CurrentControlSet\\Control\\ASD\\Prob\\";
const std::string kResources = "System\\CurrentControlSet\\Control\\MediaResources\\";
// The sample's problem records of the three cards.
const std::string kProb4 = "PCI\\VEN_7A3C&DEV_0003&SUBSYS_00047A3C&REV_01\\BUS_00&DEV_0B&FUNC_00";
const std::string kProb3 = "PCI\\VEN_7A3C&DEV_0003&SUBSYS_00037A3C&REV_01\\BUS_00&DEV_0C&FUNC_00";
const std::string kProb88 = "PCI\\VEN_7A3C&DEV_8803&SUBSYS_88037A3C&REV_02\\BUS_00&DEV_0D&FUNC_00";
const std::string kMf4 =
    "\\PCI&VEN_7A3C&DEV_0003&SUBSYS_00047A3C&REV_01&BUS_00&DEV_0B&FUNC_00";
// Every key under Enum\PCI whose name holds VEN_7A3C in capitals.
const Removals kVendorPciKeys = {
    K(kPci + "VEN_7A3C&DEV_0003"), K(kPci + "VEN_7A3C&DEV_8803"),
    K(kPci + "VEN_7A3C&DEV_0003&SUBSYS_00047A3C&REV_01"),
    K(kPci + "VEN_7A3C&DEV_0003&SUBSYS_00037A3C&REV_01"),
    K(kPci + "VEN_7A3C&DEV_8803&SUBSYS_88037A3C&REV_02")};

// RemoveLegacyModem (no subsystem), RemoveComboModem3 (subsystem 3), RemoveComboModem4 (4).
// WAVEDIAL.EXE is in use and never goes.
Removals ModemProfile(int subsystem, bool is95) {
    Removals r = {F("INF/BRMODEM.INF"),      F("INF/DRVDATA.BIN"),     F("INF/DRVIDX.BIN"),
                  F("SYSTEM/KMQ4_CTL.VXD"),  F("SYSTEM/KMQ4DFV1.VXD"), F("SYSTEM/BR10MOD.VXD"),
                  F("SYSTEM/MOTVCD.VXD"),    F("SYSTEM/WAVEDIAL.VXD"), F("SYSTEM/BR10SET.EXE"),
                  F("SYSTEM/TQA.CPL"),       K(kServices + "VxD\\MOTVCD"),
                  K(kUninstall + "SM56CPQ"), K(kServices + "KMQ4_CTL"), V(kRun, "WaveDial")};
    if (subsystem == 0) {
        Add(r, {F("SYSTEM/BR10CORE.VXD"), F("INF/OTHER/ASKEYMDM.INF"), K(kClass + "Modem\\0002"),
                K("Software\\Brelox\\Modem"), V(kProb + "0000", kProb4), V(kProb + "0000", kProb3),
                V(kProb + "0001", kProb88), K("Software\\MOTOROLA\\SM34DFV")});
        Add(r, kVendorPciKeys);
        return r;
    }
    Add(r, {F("SYSTEM/BR10CORM.VXD"), F("SYSTEM/TQA.HLP"), F("INF/OTHER/BRELOXTL10.INF"),
            K(kUninstall + "SM56BRL"), K(kClass + "Modem\\0000"), V(kRun, "BR10SET.EXE"),
            V(kProb + "0000", subsystem == 4 ? kProb4 : kProb3)});
    if (subsystem == 3) Add(r, {K("Software\\Brelox\\Modem")});
    if (is95)
        Add(r, {K(kPci + "VEN_7A3C&DEV_0003\\BUS_00&DEV_" + (subsystem == 4 ? "0B" : "0C") + "&FUNC_00"),
                E(kPci + "VEN_7A3C&DEV_0003")});
    else
        Add(r, {K(kPci + "VEN_7A3C&DEV_0003&SUBSYS_000" + std::to_string(subsystem) + "7A3C&REV_01")});
    return r;
}

// The device rows: RemoveAudioDevices (with8803) and the registry part of RemoveBr10Package.
Removals DeviceRows(bool with8803, bool is95) {
    Removals r = {K("Enum\\MF\\CHILD0000" + kMf4), K("Enum\\MF\\CHILD0001" + kMf4),
                  K("Enum\\VIRTUAL\\BRWAVE&VEN_7A3C&DEV_0003"),
                  K("Enum\\MODEMWAVE\\PCI&VEN_7A3C&DEV_0003"), K(kClass + "Modem\\0001"),
                  K(kClass + "Multifunction\\0000"), K(kClass + "MEDIA\\0000"),
                  K(kClass + "Ports\\0000"), K("Software\\Brelox\\Pellam\\BR4410"),
                  E("Software\\Brelox\\Pellam"), K(kServices + "KMQ4MODM"), K(kPhantom + "0000"),
                  V(kProb + "0000", kProb4), V(kProb + "0000", kProb3),
                  K(kResources + "aux\\braux.drv<0000>"), K(kResources + "joystick\\brjoy.vxd<0000>"),
                  K(kResources + "midi\\brmidi.drv<0000>"), K(kResources + "mixer\\brmix.drv<0000>"),
                  K(kResources + "wave\\br10wave.drv<0000>")};
    if (with8803) Add(r, {K(kPhantom + "0001"), V(kProb + "0001", kProb88)});
    if (is95)
        Add(r, {K(kPci + "VEN_7A3C&DEV_0003\\BUS_00&DEV_0C&FUNC_00"), E(kPci + "VEN_7A3C&DEV_0003"),
                K(kPci + "VEN_7A3C&DEV_8803\\BUS_00&DEV_0D&FUNC_00"), E(kPci + "VEN_7A3C&DEV_8803")});
    else
        Add(r, {K(kPci + "VEN_7A3C&DEV_0003&SUBSYS_00037A3C&REV_01"),
                K(kPci + "VEN_7A3C&DEV_8803&SUBSYS_88037A3C&REV_02")});
    return r;
}

const Removals kPackageFiles = {F("INF/DRVDATA.BIN"), F("INF/DRVIDX.BIN"), F("SYSTEM/BRM42LOC.DLL"),
                                F("SYSTEM/MOTVCD.VXD"), F("INF/OTHER/BRLPELLAM.INF")};

Removals VendorRows() {
    Removals r = {K("Enum\\MF\\CHILD0000" + kMf4),
                  K("Enum\\MF\\CHILD0001\\PCI&VEN_7A3C&DEV_8803&SUBSYS_88037A3C&REV_02&BUS_00&DEV_0D&FUNC_00"),
                  K("Enum\\VIRTUAL\\BRWAVE&VEN_7A3C&DEV_0003"), K("Enum\\VIRTUAL\\BRMIDI&VEN_7A3C&DEV_8803"),
                  K("Enum\\MODEMWAVE\\PCI&VEN_7A3C&DEV_0003"), K(kClass + "Modem\\0000"),
                  K(kClass + "Multifunction\\0000"), K(kClass + "Multifunction\\0001"),
                  K(kClass + "MEDIA\\0000"), K(kClass + "MEDIA\\0001"), K(kClass + "MEDIA\\0002"),
                  K(kClass + "MEDIA\\0003"), K(kClass + "Ports\\0000"), K("Software\\Brelox\\Pellam"),
                  K(kServices + "KMQ4MODM"), K(kPhantom + "0000"), K(kPhantom + "0001"),
                  V(kProb + "0000", kProb4), V(kProb + "0000", kProb3), V(kProb + "0001", kProb88),
                  K(kResources + "aux\\braux.drv<0000>"), K(kResources + "joystick\\brjoy.vxd<0000>"),
                  K(kResources + "midi\\brmidi.drv<0000>"), K(kResources + "mixer\\brmix.drv<0000>"),
                  K(kResources + "wave\\br10wave.drv<0000>"), K(kResources + "wave\\br30wave.drv<0000>")};
    Add(r, kVendorPciKeys);
    return r;
}

Removals Sm56Profile(bool isa) {
    return {F("INF/DRVDATA.BIN"), F("INF/DRVIDX.BIN"), F("SYSTEM/MOTVCD.VXD"),
            K("Enum\\MODEMWAVE\\ISAPNP&MOT1550"),
            isa ? K("Enum\\ISAPNP\\MOT1550") : K(kPci + "VEN_11D4&DEV_1805&SUBSYS_000311D4&REV_00"),
            K(kClass + "Modem\\0003"), K(kClass + "MEDIA\\0004"), K(kServices + "SM34DFV")};
}

Removals ProfileRemovals(const std::string& profile, bool is95) {
    Removals r;
    if (profile == "Legacy") return ModemProfile(0, is95);
    if (profile == "Combo3") return ModemProfile(3, is95);
    if (profile == "Combo4") return ModemProfile(4, is95);
    if (profile == "Audio") return DeviceRows(true, is95);
    if (profile == "Sm56Isa") return Sm56Profile(true);
    if (profile == "Sm56Pci") return Sm56Profile(false);
    r = kPackageFiles;
    if (profile == "Br10") {
        Add(r, {F("BR10SETP.EXE"), F("INF/BR10X.INF"), F("SYSTEM/BR10CORE.VXD"),
                F("SYSTEM/BR10CORM.VXD"), F("SYSTEM/BR10MOD.VXD"), F("SYSTEM/BR10SET.EXE"),
                F("SYSTEM/BR10WAVE.DRV")});
        Add(r, DeviceRows(false, is95));
    } else if (profile == "Kmq4") {
        Add(r, {F("KMQ4SETP.EXE"), F("INF/KMQ4MDM.INF"), F("SYSTEM/KMQ4_CTL.VXD"),
                F("SYSTEM/KMQ4DFV1.VXD"), F("SYSTEM/KMQ4MODM.VXD")});
        Add(r, VendorRows());
    } else {  // Br30
        Add(r, {F("BR30SETP.EXE"), F("INF/BR30AUD.INF"), F("SYSTEM/BR30WAVE.DRV")});
        Add(r, VendorRows());
    }
    return r;
}

// ---- The expected machine after a run ------------------------------------------------------

using Files = std::map<std::string, std::string>;

bool Below(const std::string& key, const std::string& path) {
    return key.size() > path.size() && key.compare(0, path.size() + 1, path + "\\") == 0;
}

void Apply(const Removal& r, Registry& registry, Files& files, std::set<std::string>& gone) {
    if (r.kind == 'F') {
        if (files.erase(r.path)) gone.insert(r.path);
    } else if (r.kind == 'V') {
        if (registry.count(r.path)) registry[r.path].erase(r.name);
    } else {
        bool hasSubkeys = false;
        for (const auto& k : registry) hasSubkeys = hasSubkeys || Below(k.first, r.path);
        if (r.kind == 'E' && (hasSubkeys || !registry.count(r.path))) return;
        for (auto k = registry.begin(); k != registry.end();)
            k = (k->first == r.path || Below(k->first, r.path)) ? registry.erase(k) : std::next(k);
    }
}

// The machine folder path of a Windows path of attributes.txt (C:\WINDOWS\X -> c/WINDOWS/X).
std::string HostPathOf(std::string windows) {
    windows[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(windows[0])));
    windows.erase(1, 1);
    for (char& ch : windows)
        if (ch == '\\') ch = '/';
    return windows;
}

std::set<std::string> AttributeLines(const std::string& text) {
    std::set<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        if (end > pos) lines.insert(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

// Readable differences between the expected and the actual machine.
std::vector<std::string> Differences(const Registry& expected, const Registry& actual) {
    std::vector<std::string> out;
    for (const auto& k : expected) {
        auto a = actual.find(k.first);
        if (a == actual.end()) {
            out.push_back("key removed, should stay: " + k.first);
            continue;
        }
        for (const auto& v : k.second)
            if (!a->second.count(v.first) || a->second.at(v.first) != v.second)
                out.push_back("value removed or changed: " + k.first + " : " + v.first);
        for (const auto& v : a->second)
            if (!k.second.count(v.first)) out.push_back("value not removed: " + k.first + " : " + v.first);
    }
    for (const auto& k : actual)
        if (!expected.count(k.first)) out.push_back("key not removed: " + k.first);
    return out;
}

std::vector<std::string> Differences(const Files& expected, const Files& actual) {
    std::vector<std::string> out;
    for (const auto& f : expected)
        if (!actual.count(f.first) || actual.at(f.first) != f.second)
            out.push_back("file removed or changed: " + f.first);
    for (const auto& f : actual)
        if (!expected.count(f.first)) out.push_back("file not removed: " + f.first);
    return out;
}

const std::string kSampleFolder =
    std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/tests/")) + "/samples/win98-machine";

// The profile runs of each keyword set on the Windows 9x family, in order.
using Runs = std::vector<std::string>;
void Add(Runs& to, const Runs& more) { to.insert(to.end(), more.begin(), more.end()); }
Runs WithEverything(Runs runs) {
    Add(runs, {"Sm56Isa", "Sm56Pci", "Combo4", "Audio", "Combo3", "Legacy", "Br10", "Kmq4", "Br30",
               "Legacy", "Sm56Isa", "Sm56Pci", "Audio", "Br10"});
    return runs;
}

struct Case {
    const char* arguments;
    const char* answers;
    Runs runs;
};

const std::vector<Case> kCases = {
    {"", "ok,cancel,ok", {"Combo4"}},
    {"", "cancel", {}},
    {"silent", "", {}},
    {"NOW Silent", "", {"Combo4"}},
    {"dev_0003", "ok,cancel,ok", {"Combo3"}},
    {"old now", "ok", {"Combo3"}},
    {"br10setp now", "ok", {"Audio", "Combo4"}},
    {"tunelink10", "ok,ok,ok", {"Br10", "Combo4"}},
    {"br10setp tunelink10 dev_0003 now", "ok", {"Audio", "Br10", "Combo3"}},
    {"all now", "ok", WithEverything({"Combo4"})},
    {"all old", "ok,cancel,ok", WithEverything({"Combo4"})},
};

TEST(SampleMachine, EachRunRemovesExactlyWhatItsProfilesListAndNothingElse) {
    for (const char* version : {"win95", "win98", "nt4"})
        for (const Case& c : kCases) {
            const std::string label = std::string(version) + " '" + c.arguments + "'";
            ScratchMachine machine = ScratchMachine::CopyOf(kSampleFolder);
            std::string ini = machine.Read("machine.ini");
            ini.replace(ini.find("version=win98"), 13, std::string("version=") + version);
            machine.Write("machine.ini", ini);
            hostwin::OpenMachine(machine.Root());

            Registry registry = DumpRegistry();
            Files files = machine.Snapshot();
            const std::set<std::string> attributesBefore = AttributeLines(files["attributes.txt"]);
            files.erase("registry.reg");
            files.erase("attributes.txt");

            ::setenv("HOSTWIN_ANSWERS", c.answers, 1);
            std::string arguments = c.arguments;
            EXPECT_EQ(0, WinMain(nullptr, nullptr, &arguments[0], 0)) << label;
            ::unsetenv("HOSTWIN_ANSWERS");

            const bool removes = std::string(version) != "nt4" && !c.runs.empty();
            std::set<std::string> gone;
            if (removes) {
                for (const std::string& profile : c.runs)
                    for (const Removal& r : ProfileRemovals(profile, std::string(version) == "win95"))
                        Apply(r, registry, files, gone);
                std::string& systemIni = files["c/WINDOWS/SYSTEM.INI"];
                systemIni.erase(systemIni.find("device=motvcd.vxd\r\n"), 19);
            }
            std::set<std::string> attributes;
            for (const std::string& line : attributesBefore)
                if (!gone.count(HostPathOf(line.substr(line.find('\t') + 1)))) attributes.insert(line);

            Files after = machine.Snapshot();
            EXPECT_EQ(attributes, AttributeLines(after["attributes.txt"])) << label;
            after.erase("registry.reg");
            after.erase("attributes.txt");
            EXPECT_EQ(std::vector<std::string>{}, Differences(files, after)) << label;
            EXPECT_EQ(std::vector<std::string>{}, Differences(registry, DumpRegistry())) << label;
        }
}

}  // namespace
