// The nine removal profiles call by call, with every argument, against one table per profile:
// the order of the rows, where the platform test is asked, which rows run on Windows 95 and on
// the later versions, and which rows are skipped when the Windows directory is too long for the
// working path. What the rows remove from a real machine is checked on the sample machine
// (sample_machine_test.cpp); here also rows whose removal another profile would mask there.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver_cleaner.h"
#include "scratch_machine.h"

namespace {

using Rows = std::vector<std::string>;

// Records each primitive call as a letter and its arguments, none reaching the machine:
// F DeleteFilesMatching, T RemoveTextFromFile, K DeleteSubkey, D DeleteValue, V DeleteValueAt,
// I IsKeyEmpty, E DeleteKeyIfEmpty, W DeleteSubkeysWithValue, S DeleteSectionsWithValue,
// N DeleteSubkeysNamed, A DeleteValuesNamed, and ? for IsWindows95. The Windows directory is
// written %s; key paths start SCS\ for System\CurrentControlSet\ and SMWCV\ for
// Software\Microsoft\Windows\CurrentVersion\; a root other than HKEY_LOCAL_MACHINE shows as !.
class Recorder : public CDriverCleaner {
public:
    Recorder(const std::string& windir, bool is95) : windir_(windir), is95_(is95) {}
    Rows calls;

    void DeleteFilesMatching(const char* d, const char* p) override { Add("F", {Dir(d), p}); }
    void RemoveTextFromFile(const char* f, const char* t) override { Add("T", {Dir(f), t}); }
    void DeleteSubkey(HKEY r, const char* p, const char* n) override { Add(Key("K", r), {Path(p), n}); }
    void DeleteValue(HKEY r, const char* n) override { Add(Key("D", r), {n}); }
    void DeleteValueAt(HKEY r, const char* p, const char* n) override { Add(Key("V", r), {Path(p), n}); }
    bool IsKeyEmpty(HKEY r, const char* p) override {
        Add(Key("I", r), {Path(p)});
        return false;
    }
    void DeleteKeyIfEmpty(HKEY r, const char* p, const char* n) override { Add(Key("E", r), {Path(p), n}); }
    int DeleteSubkeysWithValue(HKEY r, const char* p, const char* v, const char* t) override {
        Add(Key("W", r), {Path(p), v, t});
        return 0;
    }
    void DeleteSectionsWithValue(HKEY r, const char* p, const char* v, const char* t, bool s) override {
        Add(Key("S", r), {Path(p), v, t, s ? "true" : "false"});
    }
    void DeleteSubkeysNamed(HKEY r, const char* p, const char* t) override { Add(Key("N", r), {Path(p), t}); }
    void DeleteValuesNamed(HKEY r, const char* p, const char* t) override { Add(Key("A", r), {Path(p), t}); }
    bool IsWindows95() override {
        calls.push_back("?");
        return is95_;
    }

private:
    void Add(const std::string& op, const Rows& args) {
        std::string call = op + "(";
        for (size_t i = 0; i < args.size(); ++i) call += (i ? ", " : "") + args[i];
        calls.push_back(call + ")");
    }
    static std::string Key(const char* op, HKEY root) {
        return root == HKEY_LOCAL_MACHINE ? op : std::string("!") + op;
    }
    std::string Dir(const std::string& path) const {
        return path.compare(0, windir_.size(), windir_) == 0 ? "%s" + path.substr(windir_.size()) : path;
    }
    static std::string Path(std::string path) {
        for (const auto& prefix : {std::make_pair("System\\CurrentControlSet\\", "SCS\\"),
                                   std::make_pair("Software\\Microsoft\\Windows\\CurrentVersion\\", "SMWCV\\")})
            if (path.compare(0, strlen(prefix.first), prefix.first) == 0)
                path = prefix.second + path.substr(strlen(prefix.first));
        return path;
    }
    std::string windir_;
    bool is95_;
};

// Rows marked 95: run only on Windows 95, rows marked other: only on the later versions.
const Rows kComboModem4 = {
    "F(%s\\inf, brmodem.inf)", "F(%s\\inf, drvdata.bin)", "F(%s\\inf, drvidx.bin)",
    "F(%s\\system, kmq4_ctl.vxd)", "F(%s\\system, kmq4dfv1.vxd)", "F(%s\\system, br10corm.vxd)",
    "F(%s\\system, br10mod.vxd)", "F(%s\\system, motvcd.vxd)", "F(%s\\system, wavedial.vxd)",
    "F(%s\\system, wavedial.exe)", "F(%s\\system, br10set.exe)", "F(%s\\system, tqa.cpl)",
    "F(%s\\system, tqa.hlp)", "F(%s\\inf\\other, brelox*.inf)",
    "T(%s\\system.ini, device=motvcd.vxd\r\n)",
    "K(SCS\\Services\\VxD, MOTVCD)", "K(SMWCV\\UnInstall, SM56CPQ)", "K(SMWCV\\UnInstall, SM56BRL)",
    "?",
    "95:W(Enum\\PCI\\VEN_7A3C&DEV_0003, HardwareID, SUBSYS_00047A3C)",
    "95:E(Enum\\PCI, VEN_7A3C&DEV_0003)",
    "other:N(Enum\\PCI, VEN_7A3C&DEV_0003&SUBSYS_00047A3C)",
    "W(SCS\\Services\\Class\\Modem, Manufacturer, Brelox)",
    "K(SCS\\Services, KMQ4_CTL)", "V(SMWCV\\Run, WaveDial)", "V(SMWCV\\Run, BR10SET.EXE)",
    "A(SCS\\Control\\ASD\\Prob, VEN_7A3C&DEV_0003&SUBSYS_00047A3C)"};

const Rows kComboModem3 = {
    "F(%s\\inf, brmodem.inf)", "F(%s\\inf, drvdata.bin)", "F(%s\\inf, drvidx.bin)",
    "F(%s\\system, kmq4_ctl.vxd)", "F(%s\\system, kmq4dfv1.vxd)", "F(%s\\system, br10corm.vxd)",
    "F(%s\\system, br10mod.vxd)", "F(%s\\system, motvcd.vxd)", "F(%s\\system, wavedial.vxd)",
    "F(%s\\system, wavedial.exe)", "F(%s\\system, br10set.exe)", "F(%s\\system, tqa.cpl)",
    "F(%s\\system, tqa.hlp)", "F(%s\\inf\\other, brelox*.inf)",
    "T(%s\\system.ini, device=motvcd.vxd\r\n)",
    "K(SCS\\Services\\VxD, MOTVCD)", "K(SMWCV\\UnInstall, SM56CPQ)", "K(SMWCV\\UnInstall, SM56BRL)",
    "?",
    "95:W(Enum\\PCI\\VEN_7A3C&DEV_0003, HardwareID, SUBSYS_00037A3C)",
    "95:E(Enum\\PCI, VEN_7A3C&DEV_0003)",
    "other:N(Enum\\PCI, VEN_7A3C&DEV_0003&SUBSYS_00037A3C)",
    "W(SCS\\Services\\Class\\Modem, Manufacturer, Brelox)", "K(Software\\Brelox, Modem)",
    "K(SCS\\Services, KMQ4_CTL)", "V(SMWCV\\Run, WaveDial)", "V(SMWCV\\Run, BR10SET.EXE)",
    "A(SCS\\Control\\ASD\\Prob, VEN_7A3C&DEV_0003&SUBSYS_00037A3C)"};

const Rows kLegacyModem = {
    "F(%s\\inf, brmodem.inf)", "F(%s\\inf, drvdata.bin)", "F(%s\\inf, drvidx.bin)",
    "F(%s\\system, kmq4_ctl.vxd)", "F(%s\\system, kmq4dfv1.vxd)", "F(%s\\system, br10core.vxd)",
    "F(%s\\system, br10mod.vxd)", "F(%s\\system, motvcd.vxd)", "F(%s\\system, wavedial.vxd)",
    "F(%s\\system, wavedial.exe)", "F(%s\\system, br10set.exe)", "F(%s\\system, tqa.cpl)",
    "F(%s\\inf\\other, askey*.inf)",
    "T(%s\\system.ini, device=motvcd.vxd\r\n)",
    "K(SCS\\Services\\VxD, MOTVCD)", "K(SMWCV\\UnInstall, SM56CPQ)", "N(Enum\\PCI, VEN_7A3C)",
    "W(SCS\\Services\\Class\\Modem, Manufacturer, Askey)", "K(Software\\Brelox, Modem)",
    "K(SCS\\Services, KMQ4_CTL)", "V(SMWCV\\Run, WaveDial)", "A(SCS\\Control\\ASD\\Prob, VEN_7A3C)",
    "K(Software\\MOTOROLA, SM34DFV)"};

const Rows kAudioDevices = {
    "T(%s\\system.ini, device=motvcd.vxd\r\n)",
    "?",
    "95:W(Enum\\PCI\\VEN_7A3C&DEV_0003, HardwareID, SUBSYS_00037A3C)",
    "95:E(Enum\\PCI, VEN_7A3C&DEV_0003)",
    "95:W(Enum\\PCI\\VEN_7A3C&DEV_8803, HardwareID, SUBSYS_88037A3C)",
    "95:E(Enum\\PCI, VEN_7A3C&DEV_8803)",
    "other:N(Enum\\PCI, VEN_7A3C&DEV_0003&SUBSYS_00037A3C)",
    "other:N(Enum\\PCI, VEN_7A3C&DEV_8803&SUBSYS_88037A3C)",
    "S(Enum\\MF, HardwareID, VEN_7A3C&DEV_0003, false)", "N(Enum\\VIRTUAL, VEN_7A3C&DEV_0003)",
    "S(Enum\\MODEMWAVE, Mfg, Brelox, true)", "W(SCS\\Services\\Class\\Modem, Driver Desc, Brelox)",
    "W(SCS\\Services\\Class\\Multifunction, MatchingDeviceId, VEN_7A3C&DEV_0003)",
    "W(SCS\\Services\\Class\\MEDIA, MatchingDeviceId, VEN_7A3C&DEV_0003)",
    "W(SCS\\Services\\Class\\Ports, MatchingDeviceId, VEN_7A3C&DEV_0003)",
    "K(Software\\Brelox\\Pellam, BR4410)", "E(Software\\Brelox, Pellam)", "K(SCS\\Services, KMQ4MODM)",
    "W(SMWCV\\cfgmgr32\\Phantom, HardWareKey, VEN_7A3C&DEV_0003)",
    "W(SMWCV\\cfgmgr32\\Phantom, HardWareKey, VEN_7A3C&DEV_8803)",
    "A(SCS\\Control\\ASD\\Prob, VEN_7A3C&DEV_0003)", "A(SCS\\Control\\ASD\\Prob, VEN_7A3C&DEV_8803)",
    "W(SCS\\Control\\MediaResources\\aux, DeviceID, VEN_7A3C&DEV_0003)",
    "W(SCS\\Control\\MediaResources\\joystick, DeviceID, VEN_7A3C&DEV_0003)",
    "W(SCS\\Control\\MediaResources\\midi, DeviceID, VEN_7A3C&DEV_0003)",
    "W(SCS\\Control\\MediaResources\\mixer, DeviceID, VEN_7A3C&DEV_0003)",
    "W(SCS\\Control\\MediaResources\\wave, DeviceID, VEN_7A3C&DEV_0003)"};

// The eight file rows that begin the three package profiles, for one family.
Rows PackageFiles(const std::string& family) {
    return {"F(%s, " + family + "*.*)",  "F(%s\\inf, " + family + "*.inf)", "F(%s\\inf, drvdata.bin)",
            "F(%s\\inf, drvidx.bin)",     "F(%s\\system, " + family + "*.*)", "F(%s\\system, brm42loc.dll)",
            "F(%s\\system, motvcd.vxd)",  "F(%s\\inf\\other, brl*.inf)"};
}

const Rows kVendorWide = {
    "T(%s\\system.ini, device=motvcd.vxd\r\n)",
    "S(Enum\\MF, Mfg, Brelox, false)", "N(Enum\\PCI, VEN_7A3C)", "N(Enum\\VIRTUAL, VEN_7A3C)",
    "S(Enum\\MODEMWAVE, Mfg, Brelox, true)", "W(SCS\\Services\\Class\\Modem, Manufacturer, Brelox)",
    "W(SCS\\Services\\Class\\Multifunction, MatchingDeviceId, VEN_7A3C)",
    "W(SCS\\Services\\Class\\MEDIA, MatchingDeviceId, VEN_7A3C)",
    "W(SCS\\Services\\Class\\MEDIA, MatchingDeviceId, PELLAM)",
    "W(SCS\\Services\\Class\\MEDIA, DriverDesc, Pellam)",
    "W(SCS\\Services\\Class\\Ports, MatchingDeviceId, VEN_7A3C)",
    "K(Software\\Brelox, Pellam)", "K(SCS\\Services, KMQ4MODM)",
    "W(SMWCV\\cfgmgr32\\Phantom, HardWareKey, VEN_7A3C)", "A(SCS\\Control\\ASD\\Prob, VEN_7A3C)",
    "W(SCS\\Control\\MediaResources\\aux, DeviceID, VEN_7A3C)",
    "W(SCS\\Control\\MediaResources\\joystick, DeviceID, VEN_7A3C)",
    "W(SCS\\Control\\MediaResources\\midi, DeviceID, VEN_7A3C)",
    "W(SCS\\Control\\MediaResources\\mixer, DeviceID, VEN_7A3C)",
    "W(SCS\\Control\\MediaResources\\wave, DeviceID, VEN_7A3C)"};

// The br10 package runs the device rows less the two traces of VEN_7A3C&DEV_8803.
Rows Br10Package() {
    Rows rows = PackageFiles("br10");
    for (const std::string& row : kAudioDevices)
        if (row != "W(SMWCV\\cfgmgr32\\Phantom, HardWareKey, VEN_7A3C&DEV_8803)" &&
            row != "A(SCS\\Control\\ASD\\Prob, VEN_7A3C&DEV_8803)")
            rows.push_back(row);
    return rows;
}

Rows Sm56(const std::string& device) {
    return {"F(%s\\inf, drvdata.bin)", "F(%s\\inf, drvidx.bin)", "F(%s\\system, motvcd.vxd)",
            "T(%s\\system.ini, device=motvcd.vxd\r\n)", "S(Enum\\MODEMWAVE, Mfg, Motorola, true)", device,
            "W(SCS\\Services\\Class\\Modem, Manufacturer, Motorola)",
            "W(SCS\\Services\\Class\\MEDIA, MatchingDeviceId, SM56)", "K(SCS\\Services, SM34DFV)"};
}

Rows operator+(Rows a, const Rows& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

using C = CDriverCleaner;
const struct Profile {
    void (C::*run)();
    const char* name;
    Rows rows;
} kProfiles[] = {
    {&C::RemoveComboModem4, "ComboModem4", kComboModem4},
    {&C::RemoveComboModem3, "ComboModem3", kComboModem3},
    {&C::RemoveAudioDevices, "AudioDevices", kAudioDevices},
    {&C::RemoveLegacyModem, "LegacyModem", kLegacyModem},
    {&C::RemoveBr10Package, "Br10Package", Br10Package()},
    {&C::RemoveKmq4Package, "Kmq4Package", PackageFiles("kmq4") + kVendorWide},
    {&C::RemoveBr30Package, "Br30Package", PackageFiles("br30") + kVendorWide},
    {&C::RemoveSm56Isa, "Sm56Isa", Sm56("S(Enum\\ISAPNP, FriendlyName, SM56, true)")},
    {&C::RemoveSm56Pci, "Sm56Pci", Sm56("N(Enum\\PCI, VEN_11D4)")},
};

// With a long Windows directory, a file row whose working path would not fit the 260-character
// buffer is skipped rather than run on a cut path.
TEST(RemovalProfiles, CallEveryRowWithItsArgumentsInOrderOnEachPlatform) {
    for (size_t length : {10, 249, 250, 259, 300}) {  // of the Windows directory, C:\ included
        const std::string windir = "C:\\" + std::string(length - 3, 'W');
        ScratchMachine machine({{"machine.ini", "[system]\nwindir=" + windir + "\n"}});
        for (const Profile& p : kProfiles)
            for (bool is95 : {true, false}) {
                Rows expected;
                for (std::string row : p.rows) {
                    const bool for95 = row.compare(0, 3, "95:") == 0, forOthers = row.compare(0, 6, "other:") == 0;
                    if ((for95 && !is95) || (forOthers && is95)) continue;
                    row = row.substr(for95 ? 3 : forOthers ? 6 : 0);
                    if (row.find("(%s") == 1 && length + row.find(',') - 4 >= MAX_PATH) continue;
                    expected.push_back(row);
                }
                Recorder recorder(windir, is95);
                (recorder.*p.run)();
                EXPECT_EQ(expected, recorder.calls)
                    << p.name << (is95 ? " on 95" : "") << " with a Windows directory of " << length;
            }
    }
}

}  // namespace
