// The nine removal profiles: each removes what one driver package, device or modem family
// leaves on a machine, by a fixed list of calls to the cleaner's primitives. In every profile
// the file rows come first, then the system.ini line, then the registry rows; every row runs
// whatever the rows before it found or removed, so a profile always runs to its last row.
#include <cstdio>

#include "driver_cleaner.h"

namespace {

const char kSystemIniLine[] = "device=motvcd.vxd\r\n";

const char kPciKey[] = "Enum\\PCI";
const char kMultifunctionKey[] = "Enum\\MF";
const char kVirtualKey[] = "Enum\\VIRTUAL";
const char kModemWaveKey[] = "Enum\\MODEMWAVE";
const char kServicesKey[] = "System\\CurrentControlSet\\Services";
const char kVxdKey[] = "System\\CurrentControlSet\\Services\\VxD";
const char kModemClassKey[] = "System\\CurrentControlSet\\Services\\Class\\Modem";
const char kMultifunctionClassKey[] = "System\\CurrentControlSet\\Services\\Class\\Multifunction";
const char kMediaClassKey[] = "System\\CurrentControlSet\\Services\\Class\\MEDIA";
const char kPortsClassKey[] = "System\\CurrentControlSet\\Services\\Class\\Ports";
const char kProblemKey[] = "System\\CurrentControlSet\\Control\\ASD\\Prob";
const char kPhantomKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\cfgmgr32\\Phantom";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\UnInstall";
const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// The media resources of the audio devices, one key per kind.
const char* const kMediaResourceKeys[] = {
    "System\\CurrentControlSet\\Control\\MediaResources\\aux",
    "System\\CurrentControlSet\\Control\\MediaResources\\joystick",
    "System\\CurrentControlSet\\Control\\MediaResources\\midi",
    "System\\CurrentControlSet\\Control\\MediaResources\\mixer",
    "System\\CurrentControlSet\\Control\\MediaResources\\wave",
};

const char kDevice0003[] = "VEN_7A3C&DEV_0003";
const char kDevice8803[] = "VEN_7A3C&DEV_8803";
const char kVendor[] = "VEN_7A3C";

// The working path of one profile run: the Windows directory with one suffix at a time
// ("%s\inf", "%s\system", ...), formatted right before the first row that uses it. When there
// is no Windows directory, or it is too long for the buffer with the suffix, the path is not
// usable and the rows of that directory are skipped: a cut path could name another directory.
class WorkingPath {
public:
    explicit WorkingPath(const char* windowsDirectory) : windowsDirectory_(windowsDirectory) {
        text_[0] = '\0';
    }

    void Format(const char* format) {
        usable_ = false;
        text_[0] = '\0';
        if (!windowsDirectory_) return;
        const int length = std::snprintf(text_, sizeof text_, format, windowsDirectory_);
        usable_ = length >= 0 && length < static_cast<int>(sizeof text_);
        if (!usable_) text_[0] = '\0';
    }

    void DeleteFiles(CDriverCleaner& cleaner, const char* pattern) const {
        if (usable_) cleaner.DeleteFilesMatching(text_, pattern);
    }

    void RemoveText(CDriverCleaner& cleaner, const char* text) const {
        if (usable_) cleaner.RemoveTextFromFile(text_, text);
    }

private:
    const char* windowsDirectory_;
    char text_[kPathBufferSize];
    bool usable_ = false;
};

// The values by which the three modem profiles differ; null or false for a row a profile
// does not have.
struct ModemProfile {
    const char* coreDriver;          // row 6
    bool removesHelpFile;            // row 13
    const char* otherInfPattern;     // row 14
    bool removesModemUninstallKey;   // row 18
    bool removesVendorPciKeys;       // row 19
    const char* subsystem;           // rows 20 to 22: the combined card's subsystem, or null
    const char* deviceText;          // row 22
    const char* manufacturer;        // row 23
    bool removesBreloxModemKey;      // row 24
    bool removesSetupRunValue;       // row 27
    const char* problemText;         // row 28
    bool removesMotorolaKey;         // row 29
};

const ModemProfile kLegacyModem = {
    "br10core.vxd", false, "askey*.inf", false, true, nullptr, nullptr,
    "Askey",        true,  false,        "VEN_7A3C", true,
};

const ModemProfile kComboModem3 = {
    "br10corm.vxd", true, "brelox*.inf",       true, false, "SUBSYS_00037A3C",
    "VEN_7A3C&DEV_0003&SUBSYS_00037A3C", "Brelox", true, true,
    "VEN_7A3C&DEV_0003&SUBSYS_00037A3C", false,
};

const ModemProfile kComboModem4 = {
    "br10corm.vxd", true, "brelox*.inf",       true, false, "SUBSYS_00047A3C",
    "VEN_7A3C&DEV_0003&SUBSYS_00047A3C", "Brelox", false, true,
    "VEN_7A3C&DEV_0003&SUBSYS_00047A3C", false,
};

void RunModemRows(CDriverCleaner& c, const char* windowsDirectory, const ModemProfile& p) {
    WorkingPath path(windowsDirectory);
    path.Format("%s\\inf");
    path.DeleteFiles(c, "brmodem.inf");
    path.DeleteFiles(c, "drvdata.bin");
    path.DeleteFiles(c, "drvidx.bin");
    path.Format("%s\\system");
    path.DeleteFiles(c, "kmq4_ctl.vxd");
    path.DeleteFiles(c, "kmq4dfv1.vxd");
    path.DeleteFiles(c, p.coreDriver);
    path.DeleteFiles(c, "br10mod.vxd");
    path.DeleteFiles(c, "motvcd.vxd");
    path.DeleteFiles(c, "wavedial.vxd");
    path.DeleteFiles(c, "wavedial.exe");
    path.DeleteFiles(c, "br10set.exe");
    path.DeleteFiles(c, "tqa.cpl");
    if (p.removesHelpFile) path.DeleteFiles(c, "tqa.hlp");
    path.Format("%s\\inf\\other");
    path.DeleteFiles(c, p.otherInfPattern);
    path.Format("%s\\system.ini");
    path.RemoveText(c, kSystemIniLine);

    c.DeleteSubkey(HKEY_LOCAL_MACHINE, kVxdKey, "MOTVCD");
    c.DeleteSubkey(HKEY_LOCAL_MACHINE, kUninstallKey, "SM56CPQ");
    if (p.removesModemUninstallKey) c.DeleteSubkey(HKEY_LOCAL_MACHINE, kUninstallKey, "SM56BRL");
    if (p.removesVendorPciKeys) c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, kPciKey, kVendor);
    if (p.subsystem) {
        // Windows 95 keeps the instances of all subsystems under one device key; the later
        // versions give each subsystem a device key of its own.
        if (c.IsWindows95()) {
            c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_0003",
                                     "HardwareID", p.subsystem);
            c.DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, kPciKey, kDevice0003);
        } else {
            c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, kPciKey, p.deviceText);
        }
    }
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kModemClassKey, "Manufacturer", p.manufacturer);
    if (p.removesBreloxModemKey) c.DeleteSubkey(HKEY_LOCAL_MACHINE, "Software\\Brelox", "Modem");
    c.DeleteSubkey(HKEY_LOCAL_MACHINE, kServicesKey, "KMQ4_CTL");
    c.DeleteValueAt(HKEY_LOCAL_MACHINE, kRunKey, "WaveDial");
    if (p.removesSetupRunValue) c.DeleteValueAt(HKEY_LOCAL_MACHINE, kRunKey, "BR10SET.EXE");
    c.DeleteValuesNamed(HKEY_LOCAL_MACHINE, kProblemKey, p.problemText);
    if (p.removesMotorolaKey) c.DeleteSubkey(HKEY_LOCAL_MACHINE, "Software\\MOTOROLA", "SM34DFV");
}

// The file rows that begin the three package profiles; the working path is left at
// "%s\inf\other".
void RunPackageFileRows(CDriverCleaner& c, const char* windowsDirectory, WorkingPath& path,
                        const char* familyPattern, const char* infPattern) {
    if (windowsDirectory) c.DeleteFilesMatching(windowsDirectory, familyPattern);
    path.Format("%s\\inf");
    path.DeleteFiles(c, infPattern);
    path.DeleteFiles(c, "drvdata.bin");
    path.DeleteFiles(c, "drvidx.bin");
    path.Format("%s\\system");
    path.DeleteFiles(c, familyPattern);
    path.DeleteFiles(c, "brm42loc.dll");
    path.DeleteFiles(c, "motvcd.vxd");
    path.Format("%s\\inf\\other");
    path.DeleteFiles(c, "brl*.inf");
}

// The registry traces of the two audio devices. withDevice8803Traces adds the phantom and
// problem rows of VEN_7A3C&DEV_8803, which the br10 package leaves alone.
void RunDeviceRows(CDriverCleaner& c, WorkingPath& path, bool withDevice8803Traces) {
    path.Format("%s\\system.ini");
    path.RemoveText(c, kSystemIniLine);

    if (c.IsWindows95()) {
        c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_0003", "HardwareID",
                                 "SUBSYS_00037A3C");
        c.DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, kPciKey, kDevice0003);
        c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_7A3C&DEV_8803", "HardwareID",
                                 "SUBSYS_88037A3C");
        c.DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, kPciKey, kDevice8803);
    } else {
        c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, kPciKey, "VEN_7A3C&DEV_0003&SUBSYS_00037A3C");
        c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, kPciKey, "VEN_7A3C&DEV_8803&SUBSYS_88037A3C");
    }
    c.DeleteSectionsWithValue(HKEY_LOCAL_MACHINE, kMultifunctionKey, "HardwareID", kDevice0003,
                              false);
    c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, kVirtualKey, kDevice0003);
    c.DeleteSectionsWithValue(HKEY_LOCAL_MACHINE, kModemWaveKey, "Mfg", "Brelox", true);
    // "Driver Desc", with the blank, is the value name these modems are registered with.
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kModemClassKey, "Driver Desc", "Brelox");
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kMultifunctionClassKey, "MatchingDeviceId",
                             kDevice0003);
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kMediaClassKey, "MatchingDeviceId", kDevice0003);
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kPortsClassKey, "MatchingDeviceId", kDevice0003);
    c.DeleteSubkey(HKEY_LOCAL_MACHINE, "Software\\Brelox\\Pellam", "BR4410");
    c.DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, "Software\\Brelox", "Pellam");
    c.DeleteSubkey(HKEY_LOCAL_MACHINE, kServicesKey, "KMQ4MODM");
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kPhantomKey, "HardWareKey", kDevice0003);
    if (withDevice8803Traces)
        c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kPhantomKey, "HardWareKey", kDevice8803);
    c.DeleteValuesNamed(HKEY_LOCAL_MACHINE, kProblemKey, kDevice0003);
    if (withDevice8803Traces) c.DeleteValuesNamed(HKEY_LOCAL_MACHINE, kProblemKey, kDevice8803);
    for (const char* resources : kMediaResourceKeys)
        c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, resources, "DeviceID", kDevice0003);
}

// Everything of the vendor's devices and of the manufacturer "Brelox", whatever the device.
void RunVendorWideRows(CDriverCleaner& c, WorkingPath& path) {
    path.Format("%s\\system.ini");
    path.RemoveText(c, kSystemIniLine);

    c.DeleteSectionsWithValue(HKEY_LOCAL_MACHINE, kMultifunctionKey, "Mfg", "Brelox", false);
    c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, kPciKey, kVendor);
    c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, kVirtualKey, kVendor);
    c.DeleteSectionsWithValue(HKEY_LOCAL_MACHINE, kModemWaveKey, "Mfg", "Brelox", true);
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kModemClassKey, "Manufacturer", "Brelox");
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kMultifunctionClassKey, "MatchingDeviceId",
                             kVendor);
    // The media class is matched case-sensitively: "PELLAM" and "Pellam" are two texts.
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kMediaClassKey, "MatchingDeviceId", kVendor);
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kMediaClassKey, "MatchingDeviceId", "PELLAM");
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kMediaClassKey, "DriverDesc", "Pellam");
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kPortsClassKey, "MatchingDeviceId", kVendor);
    c.DeleteSubkey(HKEY_LOCAL_MACHINE, "Software\\Brelox", "Pellam");
    c.DeleteSubkey(HKEY_LOCAL_MACHINE, kServicesKey, "KMQ4MODM");
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kPhantomKey, "HardWareKey", kVendor);
    c.DeleteValuesNamed(HKEY_LOCAL_MACHINE, kProblemKey, kVendor);
    for (const char* resources : kMediaResourceKeys)
        c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, resources, "DeviceID", kVendor);
}

// The SM56 modem of the manufacturer "Motorola"; the two profiles differ only in how the
// device itself is registered (isaDevice: ISA Plug and Play, else PCI).
void RunSm56Rows(CDriverCleaner& c, const char* windowsDirectory, bool isaDevice) {
    WorkingPath path(windowsDirectory);
    path.Format("%s\\inf");
    path.DeleteFiles(c, "drvdata.bin");
    path.DeleteFiles(c, "drvidx.bin");
    // motvcd.vxd is a system driver: the package installs it in the system directory, where
    // the upgrade program places it and every other profile deletes it. The inf directory
    // never holds it, so this row looks in the system directory.
    path.Format("%s\\system");
    path.DeleteFiles(c, "motvcd.vxd");
    path.Format("%s\\system.ini");
    path.RemoveText(c, kSystemIniLine);

    c.DeleteSectionsWithValue(HKEY_LOCAL_MACHINE, kModemWaveKey, "Mfg", "Motorola", true);
    if (isaDevice)
        c.DeleteSectionsWithValue(HKEY_LOCAL_MACHINE, "Enum\\ISAPNP", "FriendlyName", "SM56",
                                  true);
    else
        c.DeleteSubkeysNamed(HKEY_LOCAL_MACHINE, kPciKey, "VEN_11D4");
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kModemClassKey, "Manufacturer", "Motorola");
    c.DeleteSubkeysWithValue(HKEY_LOCAL_MACHINE, kMediaClassKey, "MatchingDeviceId", "SM56");
    c.DeleteSubkey(HKEY_LOCAL_MACHINE, kServicesKey, "SM34DFV");
}

}  // namespace

void CDriverCleaner::RemoveComboModem4() { RunModemRows(*this, WindowsDirectory(), kComboModem4); }

void CDriverCleaner::RemoveComboModem3() { RunModemRows(*this, WindowsDirectory(), kComboModem3); }

void CDriverCleaner::RemoveLegacyModem() { RunModemRows(*this, WindowsDirectory(), kLegacyModem); }

void CDriverCleaner::RemoveAudioDevices() {
    WorkingPath path(WindowsDirectory());
    RunDeviceRows(*this, path, true);
}

void CDriverCleaner::RemoveBr10Package() {
    WorkingPath path(WindowsDirectory());
    RunPackageFileRows(*this, WindowsDirectory(), path, "br10*.*", "br10*.inf");
    RunDeviceRows(*this, path, false);
}

void CDriverCleaner::RemoveKmq4Package() {
    WorkingPath path(WindowsDirectory());
    RunPackageFileRows(*this, WindowsDirectory(), path, "kmq4*.*", "kmq4*.inf");
    RunVendorWideRows(*this, path);
}

void CDriverCleaner::RemoveBr30Package() {
    WorkingPath path(WindowsDirectory());
    RunPackageFileRows(*this, WindowsDirectory(), path, "br30*.*", "br30*.inf");
    RunVendorWideRows(*this, path);
}

void CDriverCleaner::RemoveSm56Isa() { RunSm56Rows(*this, WindowsDirectory(), true); }

void CDriverCleaner::RemoveSm56Pci() { RunSm56Rows(*this, WindowsDirectory(), false); }
