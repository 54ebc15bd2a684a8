// Whole runs of the uninstaller on copies of samples/win98-machine: for every keyword set that
// selects a different set of profiles, and on Windows 95, 98 and NT 4.0, the whole registry and
// file tree after the run must equal the sample less exactly what the profiles' tables remove.
// What each profile removes from the sample is written out below by hand, from the tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <windows.h>

#include "hostwin.h"
#include "scratch_machine.h"

namespace {

// The whole machine as one map: every file and folder by its machine-folder path, a file's
// attributes under "<path> (attributes)", every registry key under its full name and every
// value under "<key> : <name>" (type and data).
using Machine = std::map<std::string, std::string>;

void DumpKey(HKEY key, const std::string& name, Machine& out) {
    out[name] = "<key>";
    std::vector<char> valueName(16384), data(65536);
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = static_cast<DWORD>(valueName.size());
        DWORD dataSize = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueA(key, i, valueName.data(), &nameSize, nullptr, &type,
                          reinterpret_cast<LPBYTE>(data.data()), &dataSize) != ERROR_SUCCESS)
            break;
        out[name + " : " + valueName.data()] = std::to_string(type) + ":" + std::string(data.data(), dataSize);
    }
    char subkey[MAX_PATH];
    for (DWORD i = 0; RegEnumKeyA(key, i, subkey, MAX_PATH) == ERROR_SUCCESS; ++i) {
        HKEY child;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(key, subkey, &child));
        DumpKey(child, name + "\\" + subkey, out);
        RegCloseKey(child);
    }
}

Machine Dump(const ScratchMachine& scratch) {
    Machine machine = scratch.Snapshot();
    std::istringstream attributes(machine["attributes.txt"]);
    for (std::string bits, path; std::getline(attributes, bits, '\t') && std::getline(attributes, path);) {
        std::replace(path.begin(), path.end(), '\\', '/');  // C:\WINDOWS\X -> c/WINDOWS/X
        machine[static_cast<char>(std::tolower(path[0])) + path.substr(2) + " (attributes)"] = bits;
    }
    machine.erase("attributes.txt");
    machine.erase("registry.reg");
    const std::pair<HKEY, const char*> roots[] = {
        {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},     {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
        {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},   {HKEY_USERS, "HKEY_USERS"},
        {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA"}};
    for (const auto& root : roots) DumpKey(root.first, root.second, machine);
    return machine;
}

// ---- What each profile removes from the sample ---------------------------------------------

// 'K' a key with everything below it, 'V' a value, 'E' a key only when it has no subkeys left
// at that point of the run, 'F' a file (machine-folder path).
struct Removal { char kind; std::string path, name; };
using Removals = std::vector<Removal>;

template <class T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::string kHklm = "HKEY_LOCAL_MACHINE\\";
Removal K(const std::string& path) { return {'K', kHklm + path, ""}; }
Removal E(const std::string& path) { return {'E', kHklm + path, ""}; }
Removal V(const std::string& path, const std::string& name) { return {'V', kHklm + path, name}; }
Removal F(const std::string& path) { return {'F', "c/WINDOWS/" + path, ""}; }

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
const std::string kMf4 = "\\PCI&VEN_7A3C&DEV_0003&SUBSYS_00047A3C&REV_01&BUS_00&DEV_0B&FUNC_00";
// Every key under Enum\PCI whose name holds VEN_7A3C in capitals.
const Removals kVendorPciKeys = {
    K(kPci + "VEN_7A3C&DEV_0003"), K(kPci + "VEN_7A3C&DEV_8803"),
    K(kPci + "VEN_7A3C&DEV_0003&SUBSYS_00047A3C&REV_01"),
    K(kPci + "VEN_7A3C&DEV_0003&SUBSYS_00037A3C&REV_01"),
    K(kPci + "VEN_7A3C&DEV_8803&SUBSYS_88037A3C&REV_02")};
// The media resources of the first card.
const Removals kMediaResources = {
    K(kResources + "aux\\braux.drv<0000>"), K(kResources + "joystick\\brjoy.vxd<0000>"),
    K(kResources + "midi\\brmidi.drv<0000>"), K(kResources + "mixer\\brmix.drv<0000>"),
    K(kResources + "wave\\br10wave.drv<0000>")};

// RemoveLegacyModem (no subsystem), RemoveComboModem3 (subsystem 3), RemoveComboModem4 (4).
// WAVEDIAL.EXE is in use and never goes.
Removals ModemProfile(int subsystem, bool is95) {
    const Removals r = {
        F("INF/BRMODEM.INF"),      F("INF/DRVDATA.BIN"),     F("INF/DRVIDX.BIN"),
        F("SYSTEM/KMQ4_CTL.VXD"),  F("SYSTEM/KMQ4DFV1.VXD"), F("SYSTEM/BR10MOD.VXD"),
        F("SYSTEM/MOTVCD.VXD"),    F("SYSTEM/WAVEDIAL.VXD"), F("SYSTEM/BR10SET.EXE"),
        F("SYSTEM/TQA.CPL"),       K(kServices + "VxD\\MOTVCD"),
        K(kUninstall + "SM56CPQ"), K(kServices + "KMQ4_CTL"), V(kRun, "WaveDial")};
    if (subsystem == 0)
        return r + kVendorPciKeys +
               Removals{F("SYSTEM/BR10CORE.VXD"), F("INF/OTHER/ASKEYMDM.INF"), K(kClass + "Modem\\0002"),
                        K("Software\\Brelox\\Modem"), V(kProb + "0000", kProb4), V(kProb + "0000", kProb3),
                        V(kProb + "0001", kProb88), K("Software\\MOTOROLA\\SM34DFV")};
    const std::string n = std::to_string(subsystem);
    return r +
           Removals{F("SYSTEM/BR10CORM.VXD"), F("SYSTEM/TQA.HLP"), F("INF/OTHER/BRELOXTL10.INF"),
                    K(kUninstall + "SM56BRL"), K(kClass + "Modem\\0000"), V(kRun, "BR10SET.EXE"),
                    V(kProb + "0000", subsystem == 4 ? kProb4 : kProb3)} +
           (subsystem == 3 ? Removals{K("Software\\Brelox\\Modem")} : Removals{}) +
           (is95 ? Removals{K(kPci + "VEN_7A3C&DEV_0003\\BUS_00&DEV_" + (subsystem == 4 ? "0B" : "0C") +
                              "&FUNC_00"),
                            E(kPci + "VEN_7A3C&DEV_0003")}
                 : Removals{K(kPci + "VEN_7A3C&DEV_0003&SUBSYS_000" + n + "7A3C&REV_01")});
}

// The device rows: RemoveAudioDevices (with8803) and the registry part of RemoveBr10Package.
Removals DeviceRows(bool with8803, bool is95) {
    const Removals r = {
        K("Enum\\MF\\CHILD0000" + kMf4), K("Enum\\MF\\CHILD0001" + kMf4),
        K("Enum\\VIRTUAL\\BRWAVE&VEN_7A3C&DEV_0003"), K("Enum\\MODEMWAVE\\PCI&VEN_7A3C&DEV_0003"),
        K(kClass + "Modem\\0001"), K(kClass + "Multifunction\\0000"), K(kClass + "MEDIA\\0000"),
        K(kClass + "Ports\\0000"), K("Software\\Brelox\\Pellam\\BR4410"), E("Software\\Brelox\\Pellam"),
        K(kServices + "KMQ4MODM"), K(kPhantom + "0000"), V(kProb + "0000", kProb4),
        V(kProb + "0000", kProb3)};
    return r + kMediaResources +
           (with8803 ? Removals{K(kPhantom + "0001"), V(kProb + "0001", kProb88)} : Removals{}) +
           (is95 ? Removals{K(kPci + "VEN_7A3C&DEV_0003\\BUS_00&DEV_0C&FUNC_00"), E(kPci + "VEN_7A3C&DEV_0003"),
                            K(kPci + "VEN_7A3C&DEV_8803\\BUS_00&DEV_0D&FUNC_00"), E(kPci + "VEN_7A3C&DEV_8803")}
                 : Removals{K(kPci + "VEN_7A3C&DEV_0003&SUBSYS_00037A3C&REV_01"),
                            K(kPci + "VEN_7A3C&DEV_8803&SUBSYS_88037A3C&REV_02")});
}

const Removals kVendorRows = kVendorPciKeys + kMediaResources + Removals{
    K("Enum\\MF\\CHILD0000" + kMf4),
    K("Enum\\MF\\CHILD0001\\PCI&VEN_7A3C&DEV_8803&SUBSYS_88037A3C&REV_02&BUS_00&DEV_0D&FUNC_00"),
    K("Enum\\VIRTUAL\\BRWAVE&VEN_7A3C&DEV_0003"), K("Enum\\VIRTUAL\\BRMIDI&VEN_7A3C&DEV_8803"),
    K("Enum\\MODEMWAVE\\PCI&VEN_7A3C&DEV_0003"), K(kClass + "Modem\\0000"),
    K(kClass + "Multifunction\\0000"), K(kClass + "Multifunction\\0001"), K(kClass + "MEDIA\\0000"),
    K(kClass + "MEDIA\\0001"), K(kClass + "MEDIA\\0002"), K(kClass + "MEDIA\\0003"),
    K(kClass + "Ports\\0000"), K("Software\\Brelox\\Pellam"), K(kServices + "KMQ4MODM"),
    K(kPhantom + "0000"), K(kPhantom + "0001"), V(kProb + "0000", kProb4), V(kProb + "0000", kProb3),
    V(kProb + "0001", kProb88), K(kResources + "wave\\br30wave.drv<0000>")};

const Removals kPackageFiles = {F("INF/DRVDATA.BIN"), F("INF/DRVIDX.BIN"), F("SYSTEM/BRM42LOC.DLL"),
                                F("SYSTEM/MOTVCD.VXD"), F("INF/OTHER/BRLPELLAM.INF")};

Removals ProfileRemovals(const std::string& profile, bool is95) {
    if (profile == "Legacy") return ModemProfile(0, is95);
    if (profile == "Combo3") return ModemProfile(3, is95);
    if (profile == "Combo4") return ModemProfile(4, is95);
    if (profile == "Audio") return DeviceRows(true, is95);
    if (profile == "Sm56Isa" || profile == "Sm56Pci")
        return {F("INF/DRVDATA.BIN"), F("INF/DRVIDX.BIN"), F("SYSTEM/MOTVCD.VXD"),
                K("Enum\\MODEMWAVE\\ISAPNP&MOT1550"),
                profile == "Sm56Isa" ? K("Enum\\ISAPNP\\MOT1550")
                                     : K(kPci + "VEN_11D4&DEV_1805&SUBSYS_000311D4&REV_00"),
                K(kClass + "Modem\\0003"), K(kClass + "MEDIA\\0004"), K(kServices + "SM34DFV")};
    if (profile == "Br10")
        return kPackageFiles + DeviceRows(false, is95) +
               Removals{F("BR10SETP.EXE"), F("INF/BR10X.INF"), F("SYSTEM/BR10CORE.VXD"),
                        F("SYSTEM/BR10CORM.VXD"), F("SYSTEM/BR10MOD.VXD"), F("SYSTEM/BR10SET.EXE"),
                        F("SYSTEM/BR10WAVE.DRV")};
    if (profile == "Kmq4")
        return kPackageFiles + kVendorRows +
               Removals{F("KMQ4SETP.EXE"), F("INF/KMQ4MDM.INF"), F("SYSTEM/KMQ4_CTL.VXD"),
                        F("SYSTEM/KMQ4DFV1.VXD"), F("SYSTEM/KMQ4MODM.VXD")};
    return kPackageFiles + kVendorRows +  // Br30
           Removals{F("BR30SETP.EXE"), F("INF/BR30AUD.INF"), F("SYSTEM/BR30WAVE.DRV")};
}

// ---- The expected machine after a run ------------------------------------------------------

void Apply(const Removal& r, Machine& machine) {
    auto below = [&r](const std::string& entry, const std::string& separator) {
        return entry.compare(0, r.path.size() + separator.size(), r.path + separator) == 0;
    };
    if (r.kind == 'E')
        for (const auto& e : machine)
            if (below(e.first, "\\")) return;  // has subkeys left
    machine.erase(r.kind == 'V' ? r.path + " : " + r.name : r.path);
    machine.erase(r.path + " (attributes)");
    if (r.kind == 'K' || r.kind == 'E')
        for (auto e = machine.begin(); e != machine.end();)
            e = below(e->first, "\\") || below(e->first, " : ") ? machine.erase(e) : std::next(e);
}

// The entries of `from` that `other` lacks or holds otherwise.
Machine Minus(const Machine& from, const Machine& other) {
    Machine out;
    std::set_difference(from.begin(), from.end(), other.begin(), other.end(), std::inserter(out, out.end()));
    return out;
}

const std::string kSampleFolder =
    std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/tests/")) + "/samples/win98-machine";

// The profile runs of each keyword set on the Windows 9x family, in order.
using Runs = std::vector<std::string>;
const Runs kEverything = {"Sm56Isa", "Sm56Pci", "Combo4", "Audio",   "Combo3", "Legacy", "Br10",
                          "Kmq4",    "Br30",    "Legacy", "Sm56Isa", "Sm56Pci", "Audio", "Br10"};

const struct Case {
    const char* arguments;
    const char* answers;
    Runs runs;
} kCases[] = {
    {"", "ok,cancel,ok", {"Combo4"}},
    {"", "cancel", {}},
    {"silent", "", {}},
    {"NOW Silent", "", {"Combo4"}},
    {"dev_0003", "ok,cancel,ok", {"Combo3"}},
    {"old now", "ok", {"Combo3"}},
    {"br10setp now", "ok", {"Audio", "Combo4"}},
    {"tunelink10", "ok,ok,ok", {"Br10", "Combo4"}},
    {"br10setp tunelink10 dev_0003 now", "ok", {"Audio", "Br10", "Combo3"}},
    {"all now", "ok", Runs{"Combo4"} + kEverything},
    {"all old", "ok,cancel,ok", Runs{"Combo4"} + kEverything},
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
            Machine expected = Dump(machine);

            ::setenv("HOSTWIN_ANSWERS", c.answers, 1);
            std::string arguments = c.arguments;
            EXPECT_EQ(0, WinMain(nullptr, nullptr, &arguments[0], 0)) << label;
            ::unsetenv("HOSTWIN_ANSWERS");

            if (std::string(version) != "nt4" && !c.runs.empty()) {
                for (const std::string& profile : c.runs)
                    for (const Removal& r : ProfileRemovals(profile, std::string(version) == "win95"))
                        Apply(r, expected);
                std::string& systemIni = expected["c/WINDOWS/SYSTEM.INI"];
                systemIni.erase(systemIni.find("device=motvcd.vxd\r\n"), 19);
            }
            const Machine actual = Dump(machine);
            EXPECT_EQ(Machine{}, Minus(expected, actual)) << label << ": removed or changed, should stay";
            EXPECT_EQ(Machine{}, Minus(actual, expected)) << label << ": not removed or changed";
        }
}

}  // namespace
