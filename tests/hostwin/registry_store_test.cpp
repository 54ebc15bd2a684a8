// registry.reg reading and writing: round trips, regedit's layout, malformed files.
#include "registry_store.h"  // the store itself, below the API

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "hostwin.h"
#include "scratch_machine.h"

using hostwin::MachineError;
using hostwin::RegistryKey;
using hostwin::RegistryStore;

namespace {

// Every key and value with names, types and bytes, independent of the file format.
void DumpKey(const RegistryKey& key, const std::string& name, std::string& out) {
    out += "[" + name + "]\n";
    for (size_t i = 0; i < key.ValueCount(); ++i) {
        const hostwin::RegistryValue& v = key.ValueAt(i);
        char type[16];
        std::snprintf(type, sizeof type, "%lx", static_cast<unsigned long>(v.type));
        out +=
            "<" + v.name + "> " + type + " " + std::to_string(v.data.size()) + ":" + v.data + "\n";
    }
    for (size_t i = 0; i < key.SubkeyCount(); ++i)
        DumpKey(key.SubkeyAt(i), name + "\\" + key.SubkeyAt(i).Name(), out);
}

std::string Dump(const RegistryStore& store) {
    std::string out;
    for (const char* root : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                             "HKEY_USERS", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"})
        DumpKey(*store.RootNamed(root), root, out);
    return out;
}

RegistryKey& Key(RegistryStore& s, const std::string& path) {
    RegistryKey* key = s.RootNamed(path.substr(0, path.find('\\')));
    for (size_t start = path.find('\\'); start != std::string::npos;) {
        size_t end = path.find('\\', start + 1);
        key = &s.CreateSubkey(
            *key,
            path.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1));
        start = end;
    }
    return *key;
}

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

const std::string kHklm = "HKEY_LOCAL_MACHINE";

#ifdef __SANITIZE_ADDRESS__
const int kSlack = 6;  // sanitizer builds run about ten times slower
#else
const int kSlack = 1;
#endif

}  // namespace

TEST(RegistryStoreTest, RoundTripKeepsEveryTree) {
    std::string allBytes, longText;
    for (int i = 0; i < 5000; ++i) allBytes += static_cast<char>(i % 256);
    for (int i = 1; i < 256; ++i)
        if (i != '\r' && i != '\n') longText += static_cast<char>(i);
    const struct {
        const char* what;
        std::function<void(RegistryStore&)> build;
    } cases[] = {
        {"empty registry", [](RegistryStore&) {}},
        {"keys without values",
         [](RegistryStore& s) {
             Key(s, kHklm + "\\A\\B\\C\\D");
             Key(s, "HKEY_DYN_DATA\\X");
         }},
        {"all roots, values on roots",
         [](RegistryStore& s) {
             for (const char* r : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                   "HKEY_USERS", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"}) {
                 s.SetValue(Key(s, r), "", REG_SZ, std::string(r) + '\0');
                 Key(s, std::string(r) + "\\Sub");
             }
         }},
        {"string forms",
         [&longText](RegistryStore& s) {
             RegistryKey& k = Key(s, kHklm + "\\Strings");
             s.SetValue(k, "", REG_SZ, std::string(1, '\0'));
             s.SetValue(k, "no zero", REG_SZ, "abc");
             s.SetValue(k, "empty data", REG_SZ, "");
             s.SetValue(k, "inner zero", REG_SZ, Bytes({'a', 0, 'b', 0}));
             s.SetValue(k, "two zeros", REG_SZ, Bytes({'a', 0, 0}));
             s.SetValue(k, "crlf", REG_SZ, Bytes({'a', '\r', '\n', 'b', 0}));
             s.SetValue(k, "escapes", REG_SZ, std::string("C:\\a \"q\" \\\\") + '\0');
             s.SetValue(k, "bytes", REG_SZ, longText + '\0');
         }},
        {"dwords and odd types",
         [&allBytes](RegistryStore& s) {
             RegistryKey& k = Key(s, kHklm + "\\Types");
             s.SetValue(k, "dword", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12}));
             s.SetValue(k, "short dword", REG_DWORD, Bytes({1, 2, 3}));
             s.SetValue(k, "long dword", REG_DWORD, Bytes({1, 2, 3, 4, 5}));
             s.SetValue(k, "binary empty", REG_BINARY, "");
             s.SetValue(k, "none", REG_NONE, "");
             s.SetValue(k, "expand", REG_EXPAND_SZ, std::string("%windir%\0", 9));
             s.SetValue(k, "multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
             s.SetValue(k, "big type", 0xFFFFFFFF, "x");
             s.SetValue(k, "long binary", REG_BINARY, allBytes);
             s.SetValue(k, "long odd", 0x20, allBytes.substr(0, 77));
         }},
        {"awkward names",
         [](RegistryStore& s) {
             RegistryKey& k = Key(s, kHklm + "\\ sp ace \\a]b[c\\;semi\\q\"uote\\\xE9t\xE9\\cr\r");
             for (const char* name : {"\"", "\\", "@", "a\\\"b", " lead", "trail ", "\xFF", "c\rr"})
                 s.SetValue(k, name, REG_SZ, std::string(name) + '\0');
         }},
        {"file order of subkeys and values",
         [](RegistryStore& s) {
             for (const char* n : {"zeta", "Alpha", "mid", "BETA"}) {
                 Key(s, kHklm + "\\Order\\" + n);
                 s.SetValue(Key(s, kHklm + "\\Order"), n, REG_DWORD, "\1\0\0\0");
             }
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RegistryStore built;
        c.build(built);
        const std::string text = built.Serialize();
        auto loaded = RegistryStore::Parse(text, "registry.reg");
        EXPECT_EQ(Dump(*loaded), Dump(built));
        EXPECT_EQ(loaded->Serialize(), text);
        EXPECT_FALSE(loaded->HasChanges());
    }
}

TEST(RegistryStoreTest, WritesRegeditLayout) {
    RegistryStore s;
    RegistryKey& k = Key(s, kHklm + "\\Software\\Pellam");
    s.SetValue(k, "", REG_SZ, std::string("C:\\x\0", 5));
    s.SetValue(k, "Flags", REG_DWORD, Bytes({0xEF, 0xBE, 0xAD, 0xDE}));
    s.SetValue(k, "Multi", REG_MULTI_SZ, std::string("a\0\0", 3));
    s.SetValue(k, "Big", REG_BINARY, std::string(60, '\x11'));
    EXPECT_EQ(s.Serialize(),
              "REGEDIT4\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Pellam]\r\n"
              "@=\"C:\\\\x\"\r\n"
              "\"Flags\"=dword:deadbeef\r\n"
              "\"Multi\"=hex(7):61,00,00\r\n"
              "\"Big\"=hex:11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,\\\r\n"
              "  11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,\\\r\n"
              "  11,11,11,11,11,11,11,11,11,11,11,11,11\r\n\r\n");
}

TEST(RegistryStoreTest, ReadsRegeditText) {
    const std::string text =
        "REGEDIT4 \n"
        "; exported\n\n"
        "[hkey_local_machine\\Enum\\PCI\\VEN_7A3C&DEV_0003]\n"
        "\"DeviceDesc\"=\"Pellam \\\"Audio\\\" C:\\\\\"\n"
        "  @ = dword:1F\n"
        "\"Data\"=hex:01,02,\\\n"
        "\t  fe,FF,\\\n"
        "  0\n"
        "\"Empty\"=hex(2):\n"
        "\"Trailing\"=hex:0a,\n"
        "[HKEY_LOCAL_MACHINE\\Enum]\n"
        "\"Later\"=\"x\"\n"
        "[HKEY_LOCAL_MACHINE\\ENUM\\Root]\n"
        "[HKEY_LOCAL_MACHINE\\enum\\pci\\VEN_7A3C&DEV_0003]\n"
        "\"deviceDESC\"=\"replaced\"\n";
    auto s = RegistryStore::Parse(text, "registry.reg");
    auto crlf = RegistryStore::Parse(
        [&] {
            std::string t;
            for (char c : text) t += c == '\n' ? std::string("\r\n") : std::string(1, c);
            return t;
        }(),
        "registry.reg");
    EXPECT_EQ(Dump(*s), Dump(*crlf));
    EXPECT_EQ(Dump(*s),
              "[HKEY_CLASSES_ROOT]\n[HKEY_CURRENT_USER]\n[HKEY_LOCAL_MACHINE]\n"
              "[HKEY_LOCAL_MACHINE\\Enum]\n<Later> 1 2:x" +
                  std::string(1, '\0') +
                  "\n"
                  "[HKEY_LOCAL_MACHINE\\Enum\\PCI]\n"
                  "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003]\n"
                  "<DeviceDesc> 1 9:replaced" +
                  std::string(1, '\0') +
                  "\n"
                  "<> 4 4:" +
                  Bytes({0x1F, 0, 0, 0}) +
                  "\n"
                  "<Data> 3 5:" +
                  Bytes({1, 2, 0xFE, 0xFF, 0}) +
                  "\n"
                  "<Empty> 2 0:\n<Trailing> 3 1:\n\n"
                  "[HKEY_LOCAL_MACHINE\\Enum\\Root]\n"
                  "[HKEY_USERS]\n[HKEY_CURRENT_CONFIG]\n[HKEY_DYN_DATA]\n");
}

TEST(RegistryStoreTest, MalformedTextNamesFileAndLine) {
    const struct {
        const char* text;
        int line;
    } cases[] = {
        {"", 1},
        {"REGEDIT5\n[HKEY_USERS\\a]\n", 1},
        {"\nREGEDIT4\n", 1},
        {"REGEDIT4\n\"a\"=\"b\"\n", 2},
        {"REGEDIT4\n[HKEY_USERS\\a\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a\\\\b]\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\]\n", 2},
        {"REGEDIT4\n[HKEY_PERFORMANCE_DATA\\a]\n", 2},
        {"REGEDIT4\n\n[HKLM\\a]\n", 3},
        {"REGEDIT4\n[-HKEY_USERS\\a]\n", 2},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a=\"b\"\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=\"b\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\\n\"=\"b\"\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=\"b\" x\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\" \"b\"\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=-\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=dword:\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=dword:123456789\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=dword:12g4\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=hex:01,2x\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=hex:01,,02\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=hex:100\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=hex(7:00\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=hex(z):00\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=hex:01,\\\n  02,\\\n  0g\n", 5},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=hex:01,\\\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\nname=\"b\"\n", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            RegistryStore::Parse(c.text, "/m/registry.reg");
            ADD_FAILURE() << "accepted";
        } catch (const MachineError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(
                          "/m/registry.reg line " + std::to_string(c.line) + ": ", 0),
                      0u)
                << e.what();
        }
    }
}

TEST(RegistryStoreTest, SavesOnlyChangesAndNeverAMissingFileUnchanged) {
    ScratchMachine m(std::map<std::string, std::string>(), false);
    const std::string file = m.Path("registry.reg");
    auto s = RegistryStore::Load(file);
    s->Save();
    EXPECT_FALSE(m.Exists("registry.reg"));

    s->SetValue(Key(*s, kHklm + "\\A"), "v", REG_SZ, std::string("1\0", 2));
    s->Save();
    const std::string saved = m.Read("registry.reg");
    EXPECT_EQ(Dump(*RegistryStore::Load(file)), Dump(*s));

    m.Write("registry.reg", "REGEDIT4\n");  // stands for "someone else's file"
    s->SetValue(Key(*s, kHklm + "\\A"), "v", REG_SZ, std::string("1\0", 2));  // same data
    s->Save();
    EXPECT_EQ(m.Read("registry.reg"), "REGEDIT4\n");
    EXPECT_EQ(saved.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n", 0), 0u);
}

TEST(RegistryStoreTest, TenThousandKeysLoadEnumerateAndSaveFast) {
    RegistryStore built;
    RegistryKey& pci = Key(built, kHklm + "\\Enum\\PCI");
    for (int i = 0; i < 10000; ++i) {
        RegistryKey& k = built.CreateSubkey(pci, "VEN_" + std::to_string(i) + "&DEV_0003");
        built.SetValue(k, "Mfg", REG_SZ, std::string("Pellam\0", 7));
    }
    const std::string text = built.Serialize();
    const auto start = std::chrono::steady_clock::now();
    auto s = RegistryStore::Parse(text, "registry.reg");
    RegistryKey& loaded = *s->RootNamed(kHklm)->FindSubkey("enum")->FindSubkey("pci");
    size_t found = 0;
    for (size_t i = 0; i < loaded.SubkeyCount(); ++i)
        found += loaded.FindSubkey(loaded.SubkeyAt(i).Name()) != nullptr;
    EXPECT_EQ(s->Serialize().size(), text.size());
    EXPECT_EQ(found, 10000u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kSlack * 500));
}

TEST(RegistryStoreTest, DeepTreesAreFreedWithoutRecursion) {
    auto s = std::make_unique<RegistryStore>();
    for (const char* top : {"a", "b"}) {
        RegistryKey* key = &Key(*s, kHklm + "\\" + top);
        for (int i = 0; i < 100000; ++i) key = &s->CreateSubkey(*key, "k");
    }
    s->DeleteKey(*s->RootNamed(kHklm)->FindSubkey("a"));
    EXPECT_EQ(s->RootNamed(kHklm)->SubkeyCount(), 1u);
    s.reset();  // frees the other chain
}
