// registry.reg reading and writing: round trips, regedit's layout, malformed files.
#include "registry_store.h"  // the store itself, below the API

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "hostwin.h"
#include "scratch_machine.h"

using hostwin::MachineError;
using hostwin::RegistryKey;
using hostwin::RegistryStore;

namespace {

const char* const kRoots[] = {"HKEY_CLASSES_ROOT",  "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE",
                              "HKEY_USERS",         "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};

// Every key and value with names, types and bytes, independent of the file format.
void DumpKey(const RegistryKey& key, const std::string& name, std::string& out) {
    out += "[" + name + "]\n";
    for (size_t i = 0; i < key.ValueCount(); ++i) {
        const hostwin::RegistryValue& v = key.ValueAt(i);
        out += "<" + v.name + "> " + std::to_string(v.type) + " " + std::to_string(v.data.size()) +
               ":" + v.data + "\n";
    }
    for (size_t i = 0; i < key.SubkeyCount(); ++i)
        DumpKey(key.SubkeyAt(i), name + "\\" + key.SubkeyAt(i).Name(), out);
}

std::string Dump(const RegistryStore& store) {
    std::string out;
    for (const char* root : kRoots) DumpKey(*store.RootNamed(root), root, out);
    return out;
}

// The key at "ROOT\a\b", created as needed.
RegistryKey& Key(RegistryStore& s, const std::string& path) {
    std::istringstream parts(path);
    std::string part;
    std::getline(parts, part, '\\');
    RegistryKey* key = s.RootNamed(part);
    while (std::getline(parts, part, '\\')) key = &s.CreateSubkey(*key, part);
    return *key;
}

const std::string kHklm = "HKEY_LOCAL_MACHINE";

}  // namespace

// Whatever the values hold, the text written reads back to the same trees and is written again
// byte for byte.
TEST(RegistryStoreTest, RoundTripKeepsEveryTree) {
    std::string allBytes;
    for (int i = 0; i < 5000; ++i) allBytes += static_cast<char>(i % 256);
    RegistryStore s, empty;
    for (const char* r : kRoots) s.SetValue(Key(s, r), "", REG_SZ, std::string(r) + '\0');
    RegistryKey& k = Key(s, kHklm + "\\ sp ace \\a]b[c\\;semi\\q\"uote\\\xE9t\xE9\\cr\r");
    for (const char* name : {"\"", "\\", "@", "a\\\"b", " lead", "trail ", "\xFF", "c\rr"})
        s.SetValue(k, name, REG_SZ, std::string(name) + '\0');
    s.SetValue(k, "no zero", REG_SZ, "abc");
    s.SetValue(k, "empty data", REG_SZ, "");
    s.SetValue(k, "inner zeros", REG_SZ, std::string("a\0b\0\0", 5));
    s.SetValue(k, "crlf", REG_SZ, std::string("a\r\nb\0", 5));
    s.SetValue(k, "escapes", REG_SZ, std::string("C:\\a \"q\" \\\\") + '\0');
    s.SetValue(k, "bytes", REG_SZ, allBytes.substr(1, 255) + '\0');
    s.SetValue(k, "short dword", REG_DWORD, "\1\2\3");
    s.SetValue(k, "long dword", REG_DWORD, "\1\2\3\4\5");
    s.SetValue(k, "multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
    s.SetValue(k, "big type", 0xFFFFFFFF, "x");
    s.SetValue(k, "long binary", REG_BINARY, allBytes);
    for (const char* n : {"zeta", "Alpha", "mid", "BETA"}) {  // file order, not sorted
        Key(s, kHklm + "\\Order\\" + n);
        s.SetValue(Key(s, kHklm + "\\Order"), n, REG_DWORD, "\1\0\0\0");
    }
    for (const RegistryStore* built : {&s, &empty}) {
        const std::string text = built->Serialize();
        auto loaded = RegistryStore::Parse(text, "registry.reg");
        EXPECT_EQ(Dump(*loaded), Dump(*built));
        EXPECT_EQ(loaded->Serialize(), text);
        EXPECT_FALSE(loaded->HasChanges());
    }
}

TEST(RegistryStoreTest, WritesRegeditLayout) {
    RegistryStore s;
    RegistryKey& k = Key(s, kHklm + "\\Software\\Pellam");
    s.SetValue(k, "", REG_SZ, std::string("C:\\x\0", 5));
    s.SetValue(k, "Flags", REG_DWORD, "\xEF\xBE\xAD\xDE");
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

TEST(RegistryStoreTest, ReadsRegeditTextWithEitherLineEnd) {
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
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::string expected =
        "[HKEY_CLASSES_ROOT]\n[HKEY_CURRENT_USER]\n[HKEY_LOCAL_MACHINE]\n"
        "[HKEY_LOCAL_MACHINE\\Enum]\n<Later> 1 2:x" + std::string(1, '\0') + "\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\PCI]\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_7A3C&DEV_0003]\n"
        "<DeviceDesc> 1 9:replaced" + std::string(1, '\0') + "\n"
        "<> 4 4:" + std::string("\x1F\0\0\0", 4) + "\n"
        "<Data> 3 5:" + std::string("\1\2\xFE\xFF\0", 5) + "\n"
        "<Empty> 2 0:\n<Trailing> 3 1:\n\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\Root]\n"
        "[HKEY_USERS]\n[HKEY_CURRENT_CONFIG]\n[HKEY_DYN_DATA]\n";
    EXPECT_EQ(Dump(*RegistryStore::Parse(text, "registry.reg")), expected);
    EXPECT_EQ(Dump(*RegistryStore::Parse(crlf, "registry.reg")), expected);
}

TEST(RegistryStoreTest, MalformedTextNamesFileAndLine) {
    const struct { const char* text; int line; } cases[] = {
        {"", 1},
        {"REGEDIT5\n[HKEY_USERS\\a]\n", 1},
        {"REGEDIT4\n\"a\"=\"b\"\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a\\\\b]\n", 2},
        {"REGEDIT4\n\n[HKLM\\a]\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=\"b\" x\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=dword:123456789\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=hex:01,\\\n  02,\\\n  0g\n", 5},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=hex:01,\\\n", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            RegistryStore::Parse(c.text, "/m/registry.reg");
            ADD_FAILURE() << "accepted";
        } catch (const MachineError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(
                          "/m/registry.reg line " + std::to_string(c.line) + ": ", 0), 0u)
                << e.what();
        }
    }
}

// A missing file is an empty registry and stays missing; a save writes only real changes.
TEST(RegistryStoreTest, SavesOnlyChangesAndNeverAMissingFileUnchanged) {
    ScratchMachine m(std::map<std::string, std::string>(), false);
    const std::string file = m.Path("registry.reg");
    auto s = RegistryStore::Load(file);
    s->Save();
    EXPECT_FALSE(m.Exists("registry.reg"));

    s->SetValue(Key(*s, kHklm + "\\A"), "v", REG_SZ, std::string("1\0", 2));
    s->Save();
    EXPECT_EQ(m.Read("registry.reg").rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n", 0), 0u);
    EXPECT_EQ(Dump(*RegistryStore::Load(file)), Dump(*s));

    m.Write("registry.reg", "REGEDIT4\n");  // stands for "someone else's file"
    s->SetValue(Key(*s, kHklm + "\\A"), "v", REG_SZ, std::string("1\0", 2));  // same data
    s->Save();
    EXPECT_EQ(m.Read("registry.reg"), "REGEDIT4\n");
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
