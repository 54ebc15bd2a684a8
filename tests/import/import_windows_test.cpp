// hostwin import-windows: machine folders made from a Windows 98 system drive given as a folder,
// as disk images (made here with mkfs.fat and mtools) and as a REGEDIT4 export; and the sources
// that must be refused without writing anything.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "creg_writer.h"
#include "hive_reader.h"
#include "import_error.h"
#include "import_windows.h"
#include "hostwin/machine.h"
#include "win9x_registry.h"
#include "hostwin/registry_store.h"

using hostwin_import::ImportError;
using hostwin_import::ImportOptions;
using hostwin_import::ImportWindows;
using test_support::CregKey;

namespace {

int Shell(const std::string& command) {
    return std::system(("MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null LC_ALL=C.UTF-8 " + command +
                        " >/dev/null 2>&1").c_str());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    const size_t slash = path.rfind('/');
    Shell("mkdir -p '" + path.substr(0, slash) + "'");
    ASSERT_TRUE(test_support::WriteHostFile(path, bytes)) << path;
}


bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Every file below a folder, path -> bytes (links as "-> target").
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    if (!Exists(root)) return out;
    std::FILE* p = ::popen(("cd '" + root + "' && find . -mindepth 1 | sort").c_str(), "r");
    char line[4096];
    while (std::fgets(line, sizeof line, p)) {
        std::string rel(line);
        rel.pop_back();
        struct stat st;
        const std::string full = root + "/" + rel;
        ::lstat(full.c_str(), &st);
        if (S_ISREG(st.st_mode)) out[rel] = ReadFile(full);
        else if (S_ISLNK(st.st_mode)) out[rel] = "-> link";
        else out[rel] = "<dir>";
    }
    ::pclose(p);
    return out;
}

// SYSTEM.DAT of a Windows 98 machine with the driver installed.
CregKey SystemHive(const std::string& versionNumber = "4.10.2222") {
    CregKey root;
    root.name = "SYSTEMROOT";
    CregKey& software = root.Add("Software");
    CregKey& current = software.Add("Microsoft").Add("Windows").Add("CurrentVersion");
    current.Text("ProductName", "Microsoft Windows 98").Text("SystemRoot", "C:\\WINDOWS");
    if (!versionNumber.empty()) current.Text("VersionNumber", versionNumber);
    current.Add("Uninstall")
        .Add("SM56BRL")
        .Text("WarningTitle", "Pellam Uninstall")
        .Text("WarningString", "Remove the Pellam driver?");
    software.Add("Classes").Add(".inf").Text("", "inffile");
    software.Add("Caf\xe9").Set(3, "Na\xefve", std::string("\x00\xff\x10", 3)).Dword("N", 7);
    root.Add("Enum").Add("PCI").Add("VEN_7A3C&DEV_0003").Add("BUS_00&DEV_0B&FUNC_00")
        .Text("Driver", "MEDIA\\0000");
    CregKey& control = root.Add("System").Add("CurrentControlSet").Add("control");
    control.Add("IDConfigDB").Text("CurrentConfig", "0002");
    CregKey& config = root.Add("Config");
    config.Add("0001").Add("Display").Text("Resolution", "640,480");
    config.Add("0002").Add("Display").Text("Resolution", "800,600");
    return root;
}

// USER.DAT: the default user's tree.
CregKey UserHive() {
    CregKey root;
    root.name = "USERROOT";
    root.Add("AppEvents").Add("Schemes").Text("", ".Default");
    root.Add("Control Panel").Add("Desktop").Text("Wallpaper", "(None)");
    return root;
}

const char kMsdosSys[] =
    "[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\nHostWinBootDrv=C\r\n\r\n"
    "[Options]\r\nBootGUI=1\r\n";

// A Windows 98 system drive as a host folder.
void MakeSystemDrive(const std::string& root, const CregKey& system = SystemHive()) {
    WriteFile(root + "/MSDOS.SYS", kMsdosSys);
    WriteFile(root + "/WINDOWS/SYSTEM.DAT", test_support::WriteCreg(system));
    WriteFile(root + "/WINDOWS/USER.DAT", test_support::WriteCreg(UserHive()));
    WriteFile(root + "/WINDOWS/SYSTEM.INI", "[386Enh]\r\ndevice=motvcd.vxd\r\n");
    WriteFile(root + "/WINDOWS/INF/BR10X.INF", "[Version]\r\n");
    WriteFile(root + "/WINDOWS/INF/OTHER/Pellam Audio.inf", "other");
    WriteFile(root + "/WINDOWS/SYSTEM/MOTVCD.VXD", std::string("MZ\0\x01\xff", 5));
    WriteFile(root + "/PELLAPPS/demo.exe", "demo");
    WriteFile(root + "/My Documents/private.txt", "not imported");
}

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = ::testing::TempDir() + "import_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                std::to_string(::getpid());
        Shell("rm -rf '" + base_ + "'");
        Shell("mkdir -p '" + base_ + "'");
        source_ = base_ + "/source";
        machine_ = base_ + "/machine";
    }
    void TearDown() override { Shell("rm -rf '" + base_ + "'"); }

    ImportOptions Options(const std::string& source, const std::string& windows = "") const {
        ImportOptions o;
        o.machineFolder = machine_;
        o.source = source;
        o.windowsFolder = windows;
        return o;
    }

    std::unique_ptr<hostwin::RegistryStore> Registry() const {
        return hostwin::RegistryStore::Load(machine_ + "/registry.reg");
    }

    // The value's bytes at ROOT\path (empty when missing).
    static std::string Value(const hostwin::RegistryStore& store, const std::string& rootName,
                             const std::string& path, const std::string& name) {
        hostwin::RegistryKey* key = store.RootNamed(rootName);
        std::istringstream levels(path);
        std::string level;
        while (key && std::getline(levels, level, '\\')) key = key->FindSubkey(level);
        const hostwin::RegistryValue* v = key ? key->FindValue(name) : nullptr;
        return v ? std::string(v->data) : std::string("<missing>");
    }

    // The checks every good import of the sample drive passes.
    void ExpectSampleMachine(const std::string& attributes) {
        EXPECT_EQ(ReadFile(machine_ + "/machine.ini"),
                  "[system]\nversion=win98\nwindir=C:\\WINDOWS\n\n[drives]\n" + drives_);
        EXPECT_EQ(ReadFile(machine_ + "/c/WINDOWS/SYSTEM/MOTVCD.VXD"),
                  std::string("MZ\0\x01\xff", 5));
        EXPECT_EQ(ReadFile(machine_ + "/c/WINDOWS/INF/OTHER/Pellam Audio.inf"), "other");
        EXPECT_EQ(ReadFile(machine_ + "/c/PELLAPPS/demo.exe"), "demo");
        EXPECT_FALSE(Exists(machine_ + "/c/My Documents"));
        EXPECT_FALSE(Exists(machine_ + "/c/MSDOS.SYS"));
        EXPECT_EQ(attributes.empty() ? std::string() : ReadFile(machine_ + "/attributes.txt"),
                  attributes);

        const auto store = Registry();
        const std::string version = "Software\\Microsoft\\Windows\\CurrentVersion";
        EXPECT_EQ(Value(*store, "HKEY_LOCAL_MACHINE", version + "\\Uninstall\\SM56BRL",
                        "WarningTitle"),
                  std::string("Pellam Uninstall\0", 17));
        // Names and data keep their 8-bit bytes; types are kept.
        EXPECT_EQ(Value(*store, "HKEY_LOCAL_MACHINE", "Software\\Caf\xe9", "Na\xefve"),
                  std::string("\x00\xff\x10", 3));
        EXPECT_EQ(store->RootNamed("HKEY_LOCAL_MACHINE")
                      ->FindSubkey("Software")->FindSubkey("Caf\xe9")->FindValue("N")->type,
                  static_cast<DWORD>(REG_DWORD));
        // The linked roots show what they stand for.
        EXPECT_EQ(Value(*store, "HKEY_CLASSES_ROOT", ".inf", ""), std::string("inffile\0", 8));
        EXPECT_EQ(Value(*store, "HKEY_USERS", ".DEFAULT\\Control Panel\\Desktop", "Wallpaper"),
                  std::string("(None)\0", 7));
        EXPECT_EQ(Value(*store, "HKEY_CURRENT_USER", "Control Panel\\Desktop", "Wallpaper"),
                  std::string("(None)\0", 7));
        EXPECT_EQ(Value(*store, "HKEY_CURRENT_CONFIG", "Display", "Resolution"),
                  std::string("800,600\0", 8));
        EXPECT_EQ(store->RootNamed("HKEY_DYN_DATA")->SubkeyCount(), 0u);

        // hostwin opens the result as a machine.
        hostwin::Machine machine(machine_);
        EXPECT_TRUE(machine.IsWin9x());
        EXPECT_EQ(machine.WindowsDirectory(), "C:\\WINDOWS");
    }

    std::string base_, source_, machine_;
    std::string drives_ = "c=fixed\n";
};

TEST_F(ImportTest, SystemDriveFolder) {
    MakeSystemDrive(source_);
    // Windows Me's third hive: the classes, seen in both places.
    CregKey classes;
    classes.name = "CLASSESROOT";
    classes.Add(".txt").Text("", "txtfile");
    WriteFile(source_ + "/WINDOWS/CLASSES.DAT", test_support::WriteCreg(classes));
    const auto before = Snapshot(source_);
    const auto summary = ImportWindows(Options(source_));
    EXPECT_EQ(summary.sourceKind, "folder");
    EXPECT_EQ(summary.files, 8u);
    ExpectSampleMachine("");
    const auto store = Registry();
    EXPECT_EQ(Value(*store, "HKEY_LOCAL_MACHINE", "Software\\Classes\\.txt", ""),
              std::string("txtfile\0", 8));
    EXPECT_EQ(Value(*store, "HKEY_CLASSES_ROOT", ".txt", ""), std::string("txtfile\0", 8));
    EXPECT_EQ(Snapshot(source_), before);
}

// Writes a FAT file system holding the sample drive, with attributes set as on a real machine
// (archive bits cleared, so only these show).
std::string MakeFatPartition(const std::string& base, const std::string& drive, int fatBits,
                             int kilobytes) {
    const std::string image = base + "/part" + std::to_string(fatBits) + ".img";
    EXPECT_EQ(Shell("mkfs.fat -C -F " + std::to_string(fatBits) + " '" + image + "' " +
                  std::to_string(kilobytes)),
              0);
    EXPECT_EQ(Shell("cd '" + drive + "' && mcopy -s -i '" + image + "' * ::/"), 0);
    EXPECT_EQ(Shell("mattrib -i '" + image + "' -a -/ ::/"), 0);
    EXPECT_EQ(Shell("mattrib -i '" + image + "' +r ::/WINDOWS/INF/BR10X.INF"), 0);
    EXPECT_EQ(Shell("mattrib -i '" + image + "' +h +s ::/WINDOWS/SYSTEM/MOTVCD.VXD"), 0);
    EXPECT_EQ(Shell("mattrib -i '" + image + "' +h ::/WINDOWS/INF/OTHER"), 0);
    return image;
}

const char kSampleAttributes[] =
    "00000001\tC:\\WINDOWS\\INF\\BR10X.INF\n"
    "00000002\tC:\\WINDOWS\\INF\\OTHER\n"
    "00000006\tC:\\WINDOWS\\SYSTEM\\MOTVCD.VXD\n";

// A disk: MBR with partition entries (type, start sector, bytes), then the partitions.
std::string MakeDisk(const std::string& base, const std::vector<std::pair<int, std::string>>& parts) {
    std::string disk(1024 * 1024, '\0');
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string bytes = parts[i].second.empty() ? std::string(512 * 64, '\0')
                                                          : ReadFile(parts[i].second);
        const uint32_t start = static_cast<uint32_t>(disk.size() / 512);
        const uint32_t count = static_cast<uint32_t>(bytes.size() / 512);
        unsigned char* e = reinterpret_cast<unsigned char*>(&disk[446 + 16 * i]);
        e[0] = i == 0 ? 0x80 : 0x00;
        e[4] = static_cast<unsigned char>(parts[i].first);
        for (int b = 0; b < 4; ++b) {
            e[8 + b] = static_cast<unsigned char>(start >> (8 * b));
            e[12 + b] = static_cast<unsigned char>(count >> (8 * b));
        }
        disk += bytes;
    }
    disk[510] = '\x55';
    disk[511] = '\xAA';
    const std::string path = base + "/disk.img";
    test_support::WriteHostFile(path, disk);
    return path;
}

TEST_F(ImportTest, DiskImages) {
    MakeSystemDrive(source_);
    // A whole disk: FAT32 system partition, a FAT16 data partition (drive D:) and a Linux one.
    const std::string fat32 = MakeFatPartition(base_, source_, 32, 34000);
    const std::string data = base_ + "/data.img";
    ASSERT_EQ(Shell("mkfs.fat -C -F 16 '" + data + "' 20000"), 0);
    const std::string disk = MakeDisk(base_, {{0x0C, fat32}, {0x83, ""}, {0x06, data}});
    const std::string before = ReadFile(disk);
    const auto summary = ImportWindows(Options(disk));
    EXPECT_EQ(summary.sourceKind, "disk image");
    drives_ = "c=fixed\nd=fixed\n";
    ExpectSampleMachine(kSampleAttributes);
    EXPECT_TRUE(Exists(machine_ + "/d"));
    EXPECT_TRUE(ReadFile(disk) == before) << "the image was changed";

    // One FAT16 partition by itself.
    Shell("rm -rf '" + machine_ + "'");
    drives_ = "c=fixed\n";
    const std::string single = MakeFatPartition(base_, source_, 16, 20000);
    // Aliases numbered in the order the files were made, not in name order.
    for (const char* name : {"br10codec2.info", "br10codec.info"})
        Shell("mcopy -i '" + single + "' '" + source_ + "/MSDOS.SYS' ::/WINDOWS/INF/" + name +
              " && mattrib -i '" + single + "' -a ::/WINDOWS/INF/" + name);
    // mtools reads [1] as a wildcard; the import still takes exactly the file of that name.
    WriteFile(base_ + "/one.txt", "one");
    Shell("mcopy -i '" + single + "' '" + base_ + "/one.txt' '::/WINDOWS/Setup[1].log'");
    Shell("mcopy -i '" + single + "' '" + source_ + "/MSDOS.SYS' ::/WINDOWS/Setup1.log");
    Shell("mattrib -i '" + single + "' -a ::/WINDOWS/Setup*");
    ImportWindows(Options(single));
    ExpectSampleMachine(kSampleAttributes);
    EXPECT_EQ(ReadFile(machine_ + "/c/WINDOWS/Setup[1].log"), "one");
    EXPECT_EQ(ReadFile(machine_ + "/c/WINDOWS/Setup1.log"), kMsdosSys);
    // The file system's short names are kept; 8.3 names need none.
    std::istringstream lines(ReadFile(machine_ + "/shortnames.txt"));
    std::map<std::string, std::string> aliases;
    for (std::string line; std::getline(lines, line);)
        aliases[line.substr(line.find('\t') + 1)] = line.substr(0, line.find('\t'));
    EXPECT_EQ(aliases, (std::map<std::string, std::string>{
                           {"C:\\WINDOWS\\INF\\br10codec2.info", "BR10CO~1.INF"},
                           {"C:\\WINDOWS\\INF\\br10codec.info", "BR10CO~2.INF"},
                           {"C:\\WINDOWS\\INF\\OTHER\\Pellam Audio.inf", "PELLAM~1.INF"},
                           {"C:\\WINDOWS\\Setup[1].log", "SETUP_~1.LOG"},
                       }));
}

TEST_F(ImportTest, RegistryExportWithWindowsFolder) {
    MakeSystemDrive(source_);
    // What regedit /e writes: HKEY_LOCAL_MACHINE and HKEY_USERS; a linked root given as well is
    // the key it stands for.
    const std::string exported =
        "REGEDIT4\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\r\n"
        "\"VersionNumber\"=\"4.10.2222\"\r\n\"SystemRoot\"=\"C:\\\\WINDOWS\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SM56BRL]\r\n"
        "\"WarningTitle\"=\"Pellam Uninstall\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Config\\0001\\Display]\r\n\"Resolution\"=\"800,600\"\r\n\r\n"
        "[HKEY_USERS\\.DEFAULT\\Control Panel\\Desktop]\r\n\"Wallpaper\"=\"(None)\"\r\n\r\n"
        "[HKEY_CLASSES_ROOT\\.inf]\r\n@=\"inffile\"\r\n\r\n"
        "[HKEY_DYN_DATA\\PerfStats]\r\n\"x\"=dword:00000001\r\n";
    WriteFile(base_ + "/win98.reg", exported);
    const auto summary = ImportWindows(Options(base_ + "/win98.reg", source_ + "/WINDOWS"));
    EXPECT_EQ(summary.sourceKind, "registry export");
    EXPECT_EQ(ReadFile(machine_ + "/machine.ini"),
              "[system]\nversion=win98\nwindir=C:\\WINDOWS\n\n[drives]\nc=fixed\n");
    EXPECT_EQ(ReadFile(machine_ + "/c/WINDOWS/INF/BR10X.INF"), "[Version]\r\n");
    const auto store = Registry();
    EXPECT_EQ(Value(*store, "HKEY_LOCAL_MACHINE", "Software\\Classes\\.inf", ""),
              std::string("inffile\0", 8));
    EXPECT_EQ(Value(*store, "HKEY_CLASSES_ROOT", ".inf", ""), std::string("inffile\0", 8));
    EXPECT_EQ(Value(*store, "HKEY_CURRENT_USER", "Control Panel\\Desktop", "Wallpaper"),
              std::string("(None)\0", 7));
    EXPECT_EQ(Value(*store, "HKEY_CURRENT_CONFIG", "Display", "Resolution"),
              std::string("800,600\0", 8));
    EXPECT_EQ(store->RootNamed("HKEY_DYN_DATA")->SubkeyCount(), 0u);
}

TEST(Win9xVersion, VersionNumberGivesTheRelease) {
    const struct {
        const char* number;
        const char* word;  // null: refused
    } cases[] = {
        {"4.00.950", "win95"}, {"4.00.1111", "win95"}, {"4.03.1214", "win95"},
        {"4.10.1998", "win98"}, {"4.10.2222", "win98"}, {"4.90.3000", "winme"},
        {"5.00.2195", nullptr}, {"4.1", nullptr},       {"", nullptr},
    };
    for (const auto& c : cases) {
        hostwin::RegistryStore store;
        hostwin::RegistryKey* key = store.Root(HKEY_LOCAL_MACHINE);
        for (const char* level : {"Software", "Microsoft", "Windows", "CurrentVersion"})
            key = &store.CreateSubkey(*key, level);
        if (*c.number) store.SetValue(*key, "VersionNumber", REG_SZ, std::string(c.number) + '\0');
        if (c.word) {
            EXPECT_EQ(hostwin_import::VersionWord(store, "src"), c.word) << c.number;
        } else {
            EXPECT_THROW(hostwin_import::VersionWord(store, "src"), ImportError) << c.number;
        }
    }
}

// Sources that cannot be imported: each gives a clear error, the machine folder is not made
// and the source is not changed.
// Points the directory ::/WINDOWS/LOOP/SUB of a FAT16 image back at LOOP: a directory that
// contains itself, as a damaged disk can hold.
void MakeDirectoryLoop(const std::string& image) {
    std::string bytes = ReadFile(image);
    auto u16 = [&](size_t at) {
        return static_cast<size_t>(static_cast<unsigned char>(bytes[at]) |
                                   static_cast<unsigned char>(bytes[at + 1]) << 8);
    };
    const size_t sector = u16(11), clusterBytes = sector * static_cast<unsigned char>(bytes[13]);
    const size_t root = (u16(14) + static_cast<unsigned char>(bytes[16]) * u16(22)) * sector;
    const size_t data = root + u16(17) * 32;
    auto find = [&](size_t start, size_t length, const char* name) {
        for (size_t at = start; at < start + length; at += 32)
            if (bytes.compare(at, 11, name) == 0) return at;
        ADD_FAILURE() << name;
        return start;
    };
    auto cluster = [&](size_t entry) { return data + (u16(entry + 26) - 2) * clusterBytes; };
    const size_t windows = find(root, u16(17) * 32, "WINDOWS    ");
    const size_t loop = find(cluster(windows), clusterBytes, "LOOP       ");
    const size_t sub = find(cluster(loop), clusterBytes, "SUB        ");
    bytes[sub + 26] = bytes[loop + 26];
    bytes[sub + 27] = bytes[loop + 27];
    WriteFile(image, bytes);
}

TEST_F(ImportTest, BadSourcesWriteNothing) {
    auto hive = [](const CregKey& key) { return test_support::WriteCreg(key); };
    CregKey cyclicParent = SystemHive();
    const std::string good = hive(SystemHive());
    CregKey badName = SystemHive();
    badName.Add("a\\b");

    const struct Case {
        const char* name;
        std::function<std::string(const std::string& src)> setUp;  // returns SOURCE
        const char* message;
    } cases[] = {
        {"missing source", [](const std::string& s) { return s + "/nothing"; }, "does not exist"},
        {"folder without Windows",
         [](const std::string& s) { WriteFile(s + "/DOCS/a.txt", "x"); return s; },
         "is not a Windows 9x system drive"},
        {"NT hive",
         [](const std::string& s) {
             MakeSystemDrive(s);
             WriteFile(s + "/WINDOWS/SYSTEM.DAT", std::string("regf\1\0\0\0", 8) + std::string(4088, '\0'));
             return s;
         },
         "Windows NT registry hive (REGF)"},
        {"truncated hive",
         [&](const std::string& s) {
             MakeSystemDrive(s);
             WriteFile(s + "/WINDOWS/SYSTEM.DAT", good.substr(0, 300));
             return s;
         },
         "corrupt or truncated"},
        {"hive whose key is its own subkey",
         [&](const std::string& s) {
             MakeSystemDrive(s);
             std::string bytes = good;
             // The root's tree entry is at 0x40; its first child (at 0x5C) names itself.
             bytes[0x40 + 0x1C + 16] = 0x3C;
             bytes[0x40 + 0x1C + 17] = 0;
             bytes[0x40 + 0x1C + 18] = 0;
             bytes[0x40 + 0x1C + 19] = 0;
             WriteFile(s + "/WINDOWS/SYSTEM.DAT", bytes);
             return s;
         },
         "corrupt hive"},
        {"hive whose sibling list loops",
         [&](const std::string& s) {
             MakeSystemDrive(s);
             std::string bytes = good;
             // The root's first child (at 0x5C) names itself as its next sibling.
             bytes[0x5C + 20] = 0x3C;
             bytes[0x5C + 21] = bytes[0x5C + 22] = bytes[0x5C + 23] = 0;
             WriteFile(s + "/WINDOWS/SYSTEM.DAT", bytes);
             return s;
         },
         "loops back"},
        {"hive with a key under two parents",
         [&](const std::string& s) {
             MakeSystemDrive(s);
             std::string bytes = good;
             // Software (at 0x5C) and its next sibling Enum share Software's first subkey.
             const size_t sibling = 0x20 + static_cast<unsigned char>(bytes[0x5C + 20]) +
                                    (static_cast<unsigned char>(bytes[0x5C + 21]) << 8);
             bytes.replace(sibling + 16, 4, bytes.substr(0x5C + 16, 4));
             WriteFile(s + "/WINDOWS/SYSTEM.DAT", bytes);
             return s;
         },
         "a key listed twice"},
        {"hive past the size limit (sparse)",
         [&](const std::string& s) {
             MakeSystemDrive(s);
             EXPECT_EQ(::truncate((s + "/WINDOWS/SYSTEM.DAT").c_str(), off_t{300} << 20), 0);
             return s;
         },
         "is larger than 268435456 bytes"},
        {"image with a directory that contains itself",
         [this](const std::string& s) {
             MakeSystemDrive(s);
             const std::string image = MakeFatPartition(base_, s, 16, 20000);
             Shell("mmd -i '" + image + "' ::/WINDOWS/LOOP ::/WINDOWS/LOOP/SUB");
             MakeDirectoryLoop(image);
             return image;
         },
         "contains itself"},
        {"key name with a backslash",
         [&](const std::string& s) { MakeSystemDrive(s, badName); return s; },
         "key name not allowed"},
        {"no VersionNumber",
         [](const std::string& s) { MakeSystemDrive(s, SystemHive("")); return s; },
         "VersionNumber"},
        {"Windows 2000 registry",
         [](const std::string& s) { MakeSystemDrive(s, SystemHive("5.00.2195")); return s; },
         "is not that of Windows 95, 98 or Me"},
        {"WinDir names a missing folder",
         [](const std::string& s) {
             MakeSystemDrive(s);
             WriteFile(s + "/MSDOS.SYS", "[Paths]\r\nWinDir=C:\\WIN98\r\n");
             return s;
         },
         "no such folder"},
        {"device name",
         [](const std::string& s) { MakeSystemDrive(s); WriteFile(s + "/WINDOWS/INF/aux.inf", ""); return s; },
         "a device name"},
        {"control byte in a name",
         [](const std::string& s) { MakeSystemDrive(s); WriteFile(s + "/WINDOWS/a\x01.inf", ""); return s; },
         "control character"},
        {"trailing dot",
         [](const std::string& s) { MakeSystemDrive(s); WriteFile(s + "/WINDOWS/x.", ""); return s; },
         "ending in a dot"},
        {"names that differ only in case",
         [](const std::string& s) {
             MakeSystemDrive(s);
             WriteFile(s + "/WINDOWS/inf/extra.inf", "");
             return s;
         },
         "differ only in letter case"},
        {"link out of the drive",
         [](const std::string& s) {
             MakeSystemDrive(s);
             EXPECT_EQ(::symlink("/etc", (s + "/WINDOWS/etc").c_str()), 0);
             return s;
         },
         "link or special file"},
        {"a hive by itself",
         [](const std::string& s) { MakeSystemDrive(s); return s + "/WINDOWS/SYSTEM.DAT"; },
         "registry hive by itself"},
        {"export without its Windows folder",
         [](const std::string& s) { WriteFile(s + "/x.reg", "REGEDIT4\r\n"); return s + "/x.reg"; },
         "--windows"},
        {"malformed export",
         [](const std::string& s) { WriteFile(s + "/x.reg", "REGEDIT4\r\n[HKEY_NOWHERE\\a]\r\n"); return s + "/x.reg"; },
         "x.reg"},
        {"file that is no disk",
         [](const std::string& s) { WriteFile(s + "/x.img", std::string(4096, 'x')); return s + "/x.img"; },
         "neither a FAT file system nor a disk"},
        {"disk without a FAT partition",
         [this](const std::string& s) {
             Shell("mkdir -p '" + s + "'");
             return MakeDisk(s, {{0x83, ""}});
         },
         "no FAT16 or FAT32 partition"},
        {"image with a device name",
         [this](const std::string& s) {
             MakeSystemDrive(s);
             const std::string image = MakeFatPartition(base_, s, 16, 20000);
             Shell("mcopy -i '" + image + "' '" + s + "/MSDOS.SYS' ::/WINDOWS/AUX.TXT");
             return image;
         },
         "a device name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shell("rm -rf '" + source_ + "' '" + machine_ + "' '" + base_ + "'/*.img");
        const std::string source = c.setUp(source_);
        const auto before = Snapshot(source_);
        try {
            ImportWindows(Options(source, std::string(c.name) == "malformed export"
                                              ? source_
                                              : std::string()));
            ADD_FAILURE() << "imported";
        } catch (const ImportError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_FALSE(Exists(machine_));
        EXPECT_EQ(Snapshot(source_), before);
    }
}

TEST_F(ImportTest, MachineFolderMustBeNewAndOutsideTheSource) {
    MakeSystemDrive(source_);
    // Inside the source: refused, nothing made there.
    ImportOptions inside = Options(source_);
    inside.machineFolder = source_ + "/WINDOWS/machine";
    EXPECT_THROW(ImportWindows(inside), ImportError);
    EXPECT_FALSE(Exists(inside.machineFolder));
    // A folder with something in it is left alone.
    WriteFile(machine_ + "/keep.txt", "mine");
    EXPECT_THROW(ImportWindows(Options(source_)), ImportError);
    EXPECT_EQ(Snapshot(machine_).size(), 1u);
    // An empty one is used.
    Shell("rm '" + machine_ + "/keep.txt'");
    ImportWindows(Options(source_));
    EXPECT_TRUE(Exists(machine_ + "/registry.reg"));
}

}  // namespace
