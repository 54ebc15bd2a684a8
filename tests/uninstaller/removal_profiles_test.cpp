// The nine removal profiles, row for row: a cleaner records every primitive call a profile makes
// and the sequence is checked against the profiles' tables, on Windows 95 and on later versions,
// with long Windows directories, and with real removals that fail on the way.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "driver_cleaner.h"
#include "scratch_machine.h"

namespace {

using Calls = std::vector<std::string>;

// Records the primitive calls of a profile, with the working directories written as "win",
// "inf", "system", "other" and "ini" when they are exactly the Windows directory formatted
// with "%s", "%s\inf", "%s\system", "%s\inf\other" and "%s\system.ini". With forward set,
// the calls also reach the real primitives (their own nested calls are not recorded).
class PrimitiveRecorder : public CDriverCleaner {
public:
    PrimitiveRecorder(const std::string& windowsDirectory, bool is95, bool forward = false)
        : is95_(is95), forward_(forward) {
        const char* const suffixes[][2] = {{"", "win"},         {"\\inf", "inf"},
                                           {"\\system", "system"}, {"\\inf\\other", "other"},
                                           {"\\system.ini", "ini"}};
        for (const auto& s : suffixes) dirs_[windowsDirectory + s[0]] = s[1];
    }
    Calls calls;

    using C = CDriverCleaner;
    void DeleteFilesMatching(const char* d, const char* p) override {
        Run("Files " + Dir(d) + " | " + p, [&] { C::DeleteFilesMatching(d, p); });
    }
    void RemoveTextFromFile(const char* f, const char* t) override {
        Run("Text " + Dir(f) + " | " + t, [&] { C::RemoveTextFromFile(f, t); });
    }
    void DeleteSubkey(HKEY r, const char* p, const char* n) override {
        Run("Subkey " + Key(r, p) + " | " + n, [&] { C::DeleteSubkey(r, p, n); });
    }
    void DeleteValue(HKEY k, const char* n) override {
        Run(std::string("Value ") + n, [&] { C::DeleteValue(k, n); });
    }
    void DeleteValueAt(HKEY r, const char* p, const char* n) override {
        Run("ValueAt " + Key(r, p) + " | " + n, [&] { C::DeleteValueAt(r, p, n); });
    }
    bool IsKeyEmpty(HKEY r, const char* p) override {
        bool empty = false;
        Run("IsKeyEmpty " + Key(r, p), [&] { empty = C::IsKeyEmpty(r, p); });
        return empty;
    }
    void DeleteKeyIfEmpty(HKEY r, const char* p, const char* n) override {
        Run("IfEmpty " + Key(r, p) + " | " + n, [&] { C::DeleteKeyIfEmpty(r, p, n); });
    }
    int DeleteSubkeysWithValue(HKEY r, const char* p, const char* v, const char* t) override {
        int count = 0;
        Run("WithValue " + Key(r, p) + " | " + v + " | " + t,
            [&] { count = C::DeleteSubkeysWithValue(r, p, v, t); });
        return count;
    }
    void DeleteSectionsWithValue(HKEY r, const char* p, const char* v, const char* t,
                                 bool s) override {
        Run("Sections " + Key(r, p) + " | " + v + " | " + t + " | " + (s ? "true" : "false"),
            [&] { C::DeleteSectionsWithValue(r, p, v, t, s); });
    }
    void DeleteSubkeysNamed(HKEY r, const char* p, const char* t) override {
        Run("Named " + Key(r, p) + " | " + t, [&] { C::DeleteSubkeysNamed(r, p, t); });
    }
    void DeleteValuesNamed(HKEY r, const char* p, const char* t) override {
        Run("ValuesNamed " + Key(r, p) + " | " + t, [&] { C::DeleteValuesNamed(r, p, t); });
    }
    bool IsWindows95() override {
        if (depth_ == 0) calls.push_back("IsWindows95");
        return is95_;
    }

private:
    void Run(const std::string& call, const std::function<void()>& real) {
        if (depth_ == 0) calls.push_back(call);
        if (!forward_) return;
        ++depth_;
        real();
        --depth_;
    }
    std::string Dir(const char* directory) const {
        auto found = dirs_.find(directory);
        return found == dirs_.end() ? directory : found->second;
    }
    static std::string Key(HKEY root, const char* path) {
        return std::string(root == HKEY_LOCAL_MACHINE ? "" : "(not HKLM) ") + (path ? path : "");
    }
    std::map<std::string, std::string> dirs_;
    bool is95_;
    bool forward_;
    int depth_ = 0;
};

// One row of a profile table: when it runs (' ' always, '5' on Windows 95 only, 'o' on other
// versions only), which of the table's profiles have it ('y'/'n' per column), and the call,
// where '%' stands for the profile's own value.
struct Row {
    char when;
    const char* has;
    std::string call;
    std::vector<std::string> values;
};
using Table = std::vector<Row>;

const std::string kLine = "device=motvcd.vxd\r\n";

// Columns: RemoveLegacyModem, RemoveComboModem3, RemoveComboModem4.
const Table kModemRows = {
    {' ', "yyy", "Files inf | brmodem.inf", {}},
    {' ', "yyy", "Files inf | drvdata.bin", {}},
    {' ', "yyy", "Files inf | drvidx.bin", {}},
    {' ', "yyy", "Files system | kmq4_ctl.vxd", {}},
    {' ', "yyy", "Files system | kmq4dfv1.vxd", {}},
    {' ', "yyy", "Files system | %", {"br10core.vxd", "br10corm.vxd", "br10corm.vxd"}},
    {' ', "yyy", "Files system | br10mod.vxd", {}},
    {' ', "yyy", "Files system | motvcd.vxd", {}},
    {' ', "yyy", "Files system | wavedial.vxd", {}},
    {' ', "yyy", "Files system | wavedial.exe", {}},
    {' ', "yyy", "Files system | br10set.exe", {}},
    {' ', "yyy", "Files system | tqa.cpl", {}},
    {' ', "nyy", "Files system | tqa.hlp", {}},
    {' ', "yyy", "Files other | %", {"askey*.inf", "brelox*.inf", "brelox*.inf"}},
    {' ', "yyy", "Text ini | " + kLine, {}},
    {' ', "yyy", "Subkey System\\CurrentControlSet\\Services\\VxD | MOTVCD", {}},
    {' ', "yyy", "Subkey Software\\Microsoft\\Windows\\CurrentVersion\\UnInstall | SM56CPQ", {}},
    {' ', "nyy", "Subkey Software\\Microsoft\\Windows\\CurrentVersion\\UnInstall | SM56BRL", {}},
    {' ', "ynn", "Named Enum\\PCI | VEN_7A3C", {}},
    {'5', "nyy", "WithValue Enum\\PCI\\VEN_7A3C&DEV_0003 | HardwareID | %",
     {"", "SUBSYS_00037A3C", "SUBSYS_00047A3C"}},
    {'5', "nyy", "IfEmpty Enum\\PCI | VEN_7A3C&DEV_0003", {}},
    {'o', "nyy", "Named Enum\\PCI | %",
     {"", "VEN_7A3C&DEV_0003&SUBSYS_00037A3C", "VEN_7A3C&DEV_0003&SUBSYS_00047A3C"}},
    {' ', "yyy", "WithValue System\\CurrentControlSet\\Services\\Class\\Modem | Manufacturer | %",
     {"Askey", "Brelox", "Brelox"}},
    {' ', "yyn", "Subkey Software\\Brelox | Modem", {}},
    {' ', "yyy", "Subkey System\\CurrentControlSet\\Services | KMQ4_CTL", {}},
    {' ', "yyy", "ValueAt Software\\Microsoft\\Windows\\CurrentVersion\\Run | WaveDial", {}},
    {' ', "nyy", "ValueAt Software\\Microsoft\\Windows\\CurrentVersion\\Run | BR10SET.EXE", {}},
    {' ', "yyy", "ValuesNamed System\\CurrentControlSet\\Control\\ASD\\Prob | %",
     {"VEN_7A3C", "VEN_7A3C&DEV_0003&SUBSYS_00037A3C", "VEN_7A3C&DEV_0003&SUBSYS_00047A3C"}},
    {' ', "ynn", "Subkey Software\\MOTOROLA | SM34DFV", {}},
};

// Columns: RemoveBr10Package, RemoveKmq4Package, RemoveBr30Package.
const Table kPackageFileRows = {
    {' ', "yyy", "Files win | %", {"br10*.*", "kmq4*.*", "br30*.*"}},
    {' ', "yyy", "Files inf | %", {"br10*.inf", "kmq4*.inf", "br30*.inf"}},
    {' ', "yyy", "Files inf | drvdata.bin", {}},
    {' ', "yyy", "Files inf | drvidx.bin", {}},
    {' ', "yyy", "Files system | %", {"br10*.*", "kmq4*.*", "br30*.*"}},
    {' ', "yyy", "Files system | brm42loc.dll", {}},
    {' ', "yyy", "Files system | motvcd.vxd", {}},
    {' ', "yyy", "Files other | brl*.inf", {}},
};

const std::string kClass = "System\\CurrentControlSet\\Services\\Class\\";
const std::string kMedia = "System\\CurrentControlSet\\Control\\MediaResources\\";
const std::string kPhantom = "Software\\Microsoft\\Windows\\CurrentVersion\\cfgmgr32\\Phantom";
const std::string kProb = "System\\CurrentControlSet\\Control\\ASD\\Prob";

// Columns: RemoveAudioDevices, RemoveBr10Package.
const Table kDeviceRows = {
    {' ', "yy", "Text ini | " + kLine, {}},
    {'5', "yy", "WithValue Enum\\PCI\\VEN_7A3C&DEV_0003 | HardwareID | SUBSYS_00037A3C", {}},
    {'5', "yy", "IfEmpty Enum\\PCI | VEN_7A3C&DEV_0003", {}},
    {'5', "yy", "WithValue Enum\\PCI\\VEN_7A3C&DEV_8803 | HardwareID | SUBSYS_88037A3C", {}},
    {'5', "yy", "IfEmpty Enum\\PCI | VEN_7A3C&DEV_8803", {}},
    {'o', "yy", "Named Enum\\PCI | VEN_7A3C&DEV_0003&SUBSYS_00037A3C", {}},
    {'o', "yy", "Named Enum\\PCI | VEN_7A3C&DEV_8803&SUBSYS_88037A3C", {}},
    {' ', "yy", "Sections Enum\\MF | HardwareID | VEN_7A3C&DEV_0003 | false", {}},
    {' ', "yy", "Named Enum\\VIRTUAL | VEN_7A3C&DEV_0003", {}},
    {' ', "yy", "Sections Enum\\MODEMWAVE | Mfg | Brelox | true", {}},
    {' ', "yy", "WithValue " + kClass + "Modem | Driver Desc | Brelox", {}},
    {' ', "yy", "WithValue " + kClass + "Multifunction | MatchingDeviceId | VEN_7A3C&DEV_0003", {}},
    {' ', "yy", "WithValue " + kClass + "MEDIA | MatchingDeviceId | VEN_7A3C&DEV_0003", {}},
    {' ', "yy", "WithValue " + kClass + "Ports | MatchingDeviceId | VEN_7A3C&DEV_0003", {}},
    {' ', "yy", "Subkey Software\\Brelox\\Pellam | BR4410", {}},
    {' ', "yy", "IfEmpty Software\\Brelox | Pellam", {}},
    {' ', "yy", "Subkey System\\CurrentControlSet\\Services | KMQ4MODM", {}},
    {' ', "yy", "WithValue " + kPhantom + " | HardWareKey | VEN_7A3C&DEV_0003", {}},
    {' ', "yn", "WithValue " + kPhantom + " | HardWareKey | VEN_7A3C&DEV_8803", {}},
    {' ', "yy", "ValuesNamed " + kProb + " | VEN_7A3C&DEV_0003", {}},
    {' ', "yn", "ValuesNamed " + kProb + " | VEN_7A3C&DEV_8803", {}},
    {' ', "yy", "WithValue " + kMedia + "aux | DeviceID | VEN_7A3C&DEV_0003", {}},
    {' ', "yy", "WithValue " + kMedia + "joystick | DeviceID | VEN_7A3C&DEV_0003", {}},
    {' ', "yy", "WithValue " + kMedia + "midi | DeviceID | VEN_7A3C&DEV_0003", {}},
    {' ', "yy", "WithValue " + kMedia + "mixer | DeviceID | VEN_7A3C&DEV_0003", {}},
    {' ', "yy", "WithValue " + kMedia + "wave | DeviceID | VEN_7A3C&DEV_0003", {}},
};

// One column: RemoveKmq4Package and RemoveBr30Package alike.
const Table kVendorRows = {
    {' ', "y", "Text ini | " + kLine, {}},
    {' ', "y", "Sections Enum\\MF | Mfg | Brelox | false", {}},
    {' ', "y", "Named Enum\\PCI | VEN_7A3C", {}},
    {' ', "y", "Named Enum\\VIRTUAL | VEN_7A3C", {}},
    {' ', "y", "Sections Enum\\MODEMWAVE | Mfg | Brelox | true", {}},
    {' ', "y", "WithValue " + kClass + "Modem | Manufacturer | Brelox", {}},
    {' ', "y", "WithValue " + kClass + "Multifunction | MatchingDeviceId | VEN_7A3C", {}},
    {' ', "y", "WithValue " + kClass + "MEDIA | MatchingDeviceId | VEN_7A3C", {}},
    {' ', "y", "WithValue " + kClass + "MEDIA | MatchingDeviceId | PELLAM", {}},
    {' ', "y", "WithValue " + kClass + "MEDIA | DriverDesc | Pellam", {}},
    {' ', "y", "WithValue " + kClass + "Ports | MatchingDeviceId | VEN_7A3C", {}},
    {' ', "y", "Subkey Software\\Brelox | Pellam", {}},
    {' ', "y", "Subkey System\\CurrentControlSet\\Services | KMQ4MODM", {}},
    {' ', "y", "WithValue " + kPhantom + " | HardWareKey | VEN_7A3C", {}},
    {' ', "y", "ValuesNamed " + kProb + " | VEN_7A3C", {}},
    {' ', "y", "WithValue " + kMedia + "aux | DeviceID | VEN_7A3C", {}},
    {' ', "y", "WithValue " + kMedia + "joystick | DeviceID | VEN_7A3C", {}},
    {' ', "y", "WithValue " + kMedia + "midi | DeviceID | VEN_7A3C", {}},
    {' ', "y", "WithValue " + kMedia + "mixer | DeviceID | VEN_7A3C", {}},
    {' ', "y", "WithValue " + kMedia + "wave | DeviceID | VEN_7A3C", {}},
};

// Columns: RemoveSm56Isa, RemoveSm56Pci. motvcd.vxd is looked for where it is installed.
const Table kSm56Rows = {
    {' ', "yy", "Files inf | drvdata.bin", {}},
    {' ', "yy", "Files inf | drvidx.bin", {}},
    {' ', "yy", "Files system | motvcd.vxd", {}},
    {' ', "yy", "Text ini | " + kLine, {}},
    {' ', "yy", "Sections Enum\\MODEMWAVE | Mfg | Motorola | true", {}},
    {' ', "yy", "%",
     {"Sections Enum\\ISAPNP | FriendlyName | SM56 | true", "Named Enum\\PCI | VEN_11D4"}},
    {' ', "yy", "WithValue " + kClass + "Modem | Manufacturer | Motorola", {}},
    {' ', "yy", "WithValue " + kClass + "MEDIA | MatchingDeviceId | SM56", {}},
    {' ', "yy", "Subkey System\\CurrentControlSet\\Services | SM34DFV", {}},
};

// The calls of one column on a platform: the platform test once, right before the first row
// that depends on it.
Calls Expected(const std::vector<std::pair<const Table*, int>>& parts, bool is95) {
    Calls calls;
    bool asked = false;
    for (const auto& part : parts)
        for (const Row& row : *part.first) {
            if (row.has[part.second] != 'y') continue;
            if (row.when != ' ' && !asked) {
                calls.push_back("IsWindows95");
                asked = true;
            }
            if (row.when == (is95 ? 'o' : '5')) continue;
            std::string call = row.call;
            const size_t mark = call.find('%');
            if (mark != std::string::npos) call.replace(mark, 1, row.values[part.second]);
            calls.push_back(call);
        }
    return calls;
}

struct Profile {
    const char* name;
    void (CDriverCleaner::*run)();
    std::vector<std::pair<const Table*, int>> parts;
    size_t rowsOn95;
    size_t rowsOnOthers;
};

const std::vector<Profile> kProfiles = {
    {"RemoveComboModem4", &CDriverCleaner::RemoveComboModem4, {{&kModemRows, 2}}, 25, 24},
    {"RemoveComboModem3", &CDriverCleaner::RemoveComboModem3, {{&kModemRows, 1}}, 26, 25},
    {"RemoveAudioDevices", &CDriverCleaner::RemoveAudioDevices, {{&kDeviceRows, 0}}, 24, 22},
    {"RemoveLegacyModem", &CDriverCleaner::RemoveLegacyModem, {{&kModemRows, 0}}, 23, 23},
    {"RemoveBr10Package", &CDriverCleaner::RemoveBr10Package,
     {{&kPackageFileRows, 0}, {&kDeviceRows, 1}}, 30, 28},
    {"RemoveKmq4Package", &CDriverCleaner::RemoveKmq4Package,
     {{&kPackageFileRows, 1}, {&kVendorRows, 0}}, 28, 28},
    {"RemoveBr30Package", &CDriverCleaner::RemoveBr30Package,
     {{&kPackageFileRows, 2}, {&kVendorRows, 0}}, 28, 28},
    {"RemoveSm56Isa", &CDriverCleaner::RemoveSm56Isa, {{&kSm56Rows, 0}}, 9, 9},
    {"RemoveSm56Pci", &CDriverCleaner::RemoveSm56Pci, {{&kSm56Rows, 1}}, 9, 9},
};

size_t RowsOf(const Calls& calls) {
    size_t rows = 0;
    for (const std::string& c : calls) rows += c != "IsWindows95";
    return rows;
}

TEST(RemovalProfiles, RunTheirTablesRowForRowWithThePlatformTestOnceInPlace) {
    ScratchMachine machine;
    for (const Profile& p : kProfiles)
        for (bool is95 : {true, false}) {
            PrimitiveRecorder recorder("C:\\WINDOWS", is95);
            (recorder.*p.run)();
            const Calls expected = Expected(p.parts, is95);
            EXPECT_EQ(expected, recorder.calls) << p.name << (is95 ? " on Windows 95" : "");
            EXPECT_EQ(is95 ? p.rowsOn95 : p.rowsOnOthers, RowsOf(recorder.calls)) << p.name;
        }
}

// Windows directories too long for the working path with some suffixes: the rows of those
// directories are skipped, the others run with the long path.
TEST(RemovalProfiles, SkipTheRowsOfDirectoriesThatDoNotFitTheWorkingPath) {
    struct Case {
        size_t length;                // of the Windows directory, C:\ included
        std::vector<std::string> runs;  // directories whose rows run
    } cases[] = {
        {249, {"win", "inf", "system", "other"}},  // "%s\system.ini" needs 261 characters
        {250, {"win", "inf", "system"}},
        {259, {"win"}},  // the cleaner's own buffer still holds it
        {300, {}},       // too long for the cleaner: no Windows directory at all
    };
    for (const Case& k : cases) {
        const std::string windir = "C:\\" + std::string(k.length - 3, 'W');
        ScratchMachine machine({{"machine.ini", "[system]\nwindir=" + windir + "\n"}});
        for (const Profile& p : kProfiles) {
            PrimitiveRecorder recorder(windir, false);
            (recorder.*p.run)();
            Calls expected;
            for (const std::string& call : Expected(p.parts, false)) {
                const size_t blank = call.find(' ');
                const std::string op = call.substr(0, blank);
                const std::string dir = call.substr(blank + 1, call.find(' ', blank + 1) - blank - 1);
                bool runs = op != "Files" && op != "Text";
                for (const std::string& d : k.runs) runs = runs || d == dir;
                if (runs) expected.push_back(call);
            }
            EXPECT_EQ(expected, recorder.calls) << p.name << " with a directory of " << k.length;
        }
    }
}

std::vector<std::string> logged;
void Collect(const char* line) { logged.push_back(line); }

// A profile on a real machine: a file in use can't go (an ERROR line), a read-only one can,
// and every later row still runs. A second run finds only the file in use again.
TEST(RemovalProfiles, RunToTheirLastRowWhateverTheirRowsFind) {
    ScratchMachine machine({
        {"c/WINDOWS/SYSTEM/WAVEDIAL.EXE", "dialer"},
        {"c/WINDOWS/SYSTEM/TQA.HLP", "help"},
        {"c/WINDOWS/SYSTEM.INI", "[386Enh]\r\ndevice=motvcd.vxd\r\ndevice=*vmm\r\n"},
        {"attributes.txt", "00000001\tC:\\WINDOWS\\SYSTEM\\TQA.HLP\n"},
        {"machine.ini", "[in use]\nC:\\WINDOWS\\SYSTEM\\WAVEDIAL.EXE\n"},
        {"registry.reg",
         "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ASD\\Prob\\0000]\n"
         "\"PCI\\\\VEN_7A3C&DEV_0003&SUBSYS_00047A3C\"=dword:1\n"},
    });
    logged.clear();
    PrimitiveRecorder recorder("C:\\WINDOWS", false, true);
    recorder.SetLogCallback(&Collect);
    recorder.RemoveComboModem4();
    EXPECT_EQ(Expected({{&kModemRows, 2}}, false), recorder.calls);
    EXPECT_EQ((std::vector<std::string>{
                  "ERROR: Couldn't remove 'C:\\WINDOWS\\system\\WAVEDIAL.EXE'",
                  "--Removed 'C:\\WINDOWS\\system\\TQA.HLP'",
                  "--Removed value 'HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ASD\\"
                  "Prob\\0000\\PCI\\VEN_7A3C&DEV_0003&SUBSYS_00047A3C'"}),
              logged);
    EXPECT_EQ("[386Enh]\r\ndevice=*vmm\r\n", machine.Read("c/WINDOWS/SYSTEM.INI"));

    logged.clear();
    recorder.RemoveComboModem4();
    EXPECT_EQ((std::vector<std::string>{"ERROR: Couldn't remove 'C:\\WINDOWS\\system\\WAVEDIAL.EXE'"}),
              logged);
}

}  // namespace
