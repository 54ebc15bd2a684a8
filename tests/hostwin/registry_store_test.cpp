// registry.reg reading and writing: round trips, regedit's layout, malformed files.
#include "hostwin/registry_store.h"  // the store itself, below the API

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

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
        out += "<" + std::string(v.name) + "> " + std::to_string(v.type) + " " +
               std::to_string(v.data.size()) + ":" + std::string(v.data) + "\n";
    }
    for (size_t i = 0; i < key.SubkeyCount(); ++i)
        DumpKey(key.SubkeyAt(i), name + "\\" + std::string(key.SubkeyAt(i).Name()), out);
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
    std::string deep = "REGEDIT4\n[HKEY_USERS";
    for (size_t i = 0; i <= hostwin::kRegistryDepthLimit; ++i) deep += "\\k";
    const struct { std::string text; int line; } cases[] = {
        {"", 1},
        {"REGEDIT5\n[HKEY_USERS\\a]\n", 1},
        {"REGEDIT4\n\"a\"=\"b\"\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a\\\\b]\n", 2},
        {"REGEDIT4\n\n[HKLM\\a]\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=\"b\" x\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=dword:123456789\n", 3},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=hex:01,\\\n  02,\\\n  0g\n", 5},
        {"REGEDIT4\n[HKEY_USERS\\a]\n\"a\"=hex:01,\\\n", 3},
        {deep + "]\n", 2},  // one level deeper than Windows allows
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

// Keys with hundreds of subkeys and values are searched through an index: order, lookups
// without regard to case, deletions from the middle and a key listed twice must all agree
// with the plain lists.
TEST(RegistryStoreTest, LongListsKeepOrderAndLookupsThroughDeletions) {
    std::string text = "REGEDIT4\n";
    auto name = [](const char* kind, int i) { return std::string(kind) + std::to_string(i); };
    for (int half = 0; half < 2; ++half) {  // the key twice, values spread over both
        text += "[HKEY_LOCAL_MACHINE\\Big]\n";
        for (int i = half; i < 300; i += 2) text += "\"" + name("Value", i) + "\"=dword:1\n";
        for (int i = half; i < 300; i += 2) text += "[HKEY_LOCAL_MACHINE\\Big\\" + name("Key", i) + "]\n";
    }
    text += "[HKEY_LOCAL_MACHINE\\Big]\n\"VALUE7\"=dword:2\n";  // replaces Value7 in place
    auto s = RegistryStore::Parse(text, "registry.reg");
    RegistryKey& big = *s->RootNamed(kHklm)->FindSubkey("big");
    ASSERT_EQ(big.SubkeyCount(), 300u);
    ASSERT_EQ(big.ValueCount(), 300u);
    EXPECT_EQ(std::string(big.ValueAt(153).name), "Value7");  // file order: 0, 2, ... 298, 1, 3
    EXPECT_EQ(big.FindValue("value7")->data, std::string_view("\2\0\0\0", 4));

    for (int i = 0; i < 300; i += 3) {
        s->DeleteKey(*big.FindSubkey(name("KEY", i)));
        EXPECT_TRUE(s->DeleteValue(big, name("VALUE", i)));
    }
    s->CreateSubkey(big, "Key0");
    for (int i = 0; i < 300; ++i) {
        SCOPED_TRACE(i);
        const bool kept = i % 3 != 0;
        ASSERT_EQ(big.FindSubkey(name("kEY", i)) != nullptr, kept || i == 0);
        ASSERT_EQ(big.FindValue(name("vALUE", i)) != nullptr, kept);
        if (kept) {
            EXPECT_EQ(std::string(big.FindValue(name("Value", i))->name), name("Value", i));
        }
    }
    EXPECT_EQ(std::string(big.SubkeyAt(big.SubkeyCount() - 1).Name()), "Key0");
    std::string order;
    for (size_t i = 0; i < 6; ++i) order += std::string(big.SubkeyAt(i).Name()) + " ";
    EXPECT_EQ(order, "Key2 Key4 Key8 Key10 Key14 Key16 ");
    EXPECT_EQ(Dump(*RegistryStore::Parse(s->Serialize(), "registry.reg")), Dump(*s));
}

// hostwin import: regedit's deletion lines apply to the registry; registry.reg itself never
// holds them.
TEST(RegistryStoreTest, MergeTakesRegeditDeletions) {
    const char base[] =
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B\\Deep]\n\"v\"=\"1\"\n"
        "[HKEY_LOCAL_MACHINE\\A\\C]\n\"w\"=\"2\"\n\"x\"=\"3\"\n";
    auto s = RegistryStore::Parse(base, "registry.reg");
    s->Merge("REGEDIT4\r\n[-HKEY_LOCAL_MACHINE\\A\\B]\r\n[-HKEY_LOCAL_MACHINE\\No\\Such]\r\n"
             "[hkey_local_machine\\a\\c]\r\n\"w\"=-\r\n\"gone\"=-\r\n\"X\"=\"new\"\r\n"
             "\"y\"=dword:1\r\n",
             "change.reg");
    EXPECT_TRUE(s->HasChanges());
    EXPECT_EQ(s->SerializeKey(*s->RootNamed(kHklm)->FindSubkey("A")),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\r\n[HKEY_LOCAL_MACHINE\\A\\C]\r\n"
              "\"x\"=\"new\"\r\n\"y\"=dword:00000001\r\n\r\n");

    const struct { const char* text; int line; const char* what; } refused[] = {
        {"REGEDIT4\n[-HKEY_LOCAL_MACHINE]\n", 2, "a root key cannot be deleted"},
        {"REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n", 3, "after a [-key] deletion"},
        {"REGEDIT4\n[-HKEY_NOWHERE\\A]\n", 2, "unknown root key"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.text);
        try {
            s->Merge(c.text, "change.reg");
            ADD_FAILURE() << "accepted";
        } catch (const MachineError& e) {
            EXPECT_NE(std::string(e.what()).find("change.reg line " + std::to_string(c.line)),
                      std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.what), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(RegistryStore::Parse("REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n", "registry.reg"),
                 MachineError);
}

// A registry larger than the save's write buffer is written whole and reads back the same.
TEST(RegistryStoreTest, SavesRegistriesLargerThanItsWriteBuffer) {
    ScratchMachine m(std::map<std::string, std::string>(), false);
    std::string text = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < 70000; ++i)
        text += "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_" + std::to_string(i) +
                "]\r\n\"DeviceDesc\"=\"Device " + std::to_string(i) +
                "\"\r\n\"Options\"=hex:01,02\r\n\r\n";
    m.Write("registry.reg", text);
    auto s = RegistryStore::Load(m.Path("registry.reg"));
    s->SetValue(*s->RootNamed(kHklm), "Changed", REG_DWORD, std::string("\1\0\0\0", 4));
    s->Save();
    const std::string saved = m.Read("registry.reg");
    EXPECT_GT(saved.size(), 5u << 20);
    EXPECT_EQ(saved, s->Serialize());
    EXPECT_EQ(Dump(*RegistryStore::Load(m.Path("registry.reg"))), Dump(*s));
}

// Two processes' views of one registry file: each save takes in what the other wrote and
// replays its own changes on top, so a deletion by one and unrelated changes by the other both
// survive; a change to a key that the other deleted goes with the key, and handles follow
// their keys by name.
TEST(RegistryStoreTest, SharedStoresLoseNoChangeOfTheOther) {
    ScratchMachine m({{"registry.reg",
                       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Gone]\r\n\"v\"=\"1\"\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\Kept]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n\r\n"}},
                     false);
    const std::string file = m.Path("registry.reg");
    auto a = RegistryStore::LoadShared(file);
    auto b = RegistryStore::LoadShared(file);
    RegistryKey& hklmA = *a->RootNamed(kHklm);
    const HKEY goneHandle = a->OpenHandle(*hklmA.FindSubkey("Gone"));
    const HKEY keptHandle = a->OpenHandle(*hklmA.FindSubkey("Kept"));

    RegistryKey& hklmB = *b->RootNamed(kHklm);
    b->DeleteValue(*hklmB.FindSubkey("Kept"), "a");
    b->DeleteKey(*hklmB.FindSubkey("Gone"));
    b->Save();

    a->SetValue(*hklmA.FindSubkey("Kept"), "c", REG_SZ, std::string("3\0", 2));
    a->SetValue(*hklmA.FindSubkey("Gone"), "x", REG_SZ, std::string("4\0", 2));
    a->SetValue(Key(*a, kHklm + "\\New\\Deep"), "d", REG_DWORD, std::string("\1\0\0\0", 4));
    a->Save();

    using namespace std::string_literals;
    const std::string expected =
        "[HKEY_LOCAL_MACHINE]\n[HKEY_LOCAL_MACHINE\\Kept]\n<b> 1 2:2\0\n<c> 1 2:3\0\n"
        "[HKEY_LOCAL_MACHINE\\New]\n[HKEY_LOCAL_MACHINE\\New\\Deep]\n<d> 4 4:\1\0\0\0\n"s;
    const std::string onDisk = Dump(*RegistryStore::Load(file));
    EXPECT_NE(onDisk.find(expected), std::string::npos) << onDisk;
    EXPECT_EQ(onDisk.find("Gone"), std::string::npos) << onDisk;
    EXPECT_EQ(Dump(*a), onDisk);
    EXPECT_TRUE(a->KeyOfHandle(goneHandle)->IsDeleted());
    EXPECT_EQ(a->KeyOfHandle(keptHandle), a->RootNamed(kHklm)->FindSubkey("Kept"));

    // A save without changes of its own takes in the other's and writes nothing.
    b->Save();
    EXPECT_EQ(Dump(*b), onDisk);
    EXPECT_EQ(Dump(*RegistryStore::Load(file)), onDisk);
}

// A file is read a piece at a time: what it loads is what the same text parses to, with keys,
// quoted texts with escapes and hex lists (one far longer than a piece) across the pieces'
// ends, and value names that recur in every key kept apart from their data.
TEST(RegistryStoreTest, LoadsAFileAsItParsesItsText) {
    ScratchMachine m(std::map<std::string, std::string>(), false);
    std::string text = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < 20000; ++i) {
        const std::string n = std::to_string(i);
        text += "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_" + n + "]\r\n\"DeviceDesc\"=\"Dev \\\"" + n +
                "\\\"\"\r\n\"Name " + std::to_string(i % 97) + "\"=dword:" + n + "\r\n@=hex:" +
                std::to_string(i % 90 + 10) + ",\\\r\n  00\r\n\r\n";
        if (i == 12345) {
            text += "[HKEY_LOCAL_MACHINE\\Long]\r\n\"Bytes\"=hex:";
            for (int j = 0; j < 200000; ++j) text += j % 25 == 24 ? "ab,\\\r\n  " : "cd,";
            text += "ef\r\n\r\n";
        }
    }
    m.Write("registry.reg", text);
    auto loaded = RegistryStore::Load(m.Path("registry.reg"));
    EXPECT_EQ(Dump(*loaded), Dump(*RegistryStore::Parse(text, "registry.reg")));
    const RegistryKey& pci = *loaded->RootNamed(kHklm)->FindSubkey("Enum")->FindSubkey("PCI");
    ASSERT_EQ(pci.SubkeyCount(), 20000u);
    for (size_t i = 0; i < pci.SubkeyCount(); ++i) {
        const RegistryKey& key = pci.SubkeyAt(i);
        ASSERT_EQ(key.ValueCount(), 3u);
        EXPECT_EQ(std::string(key.ValueAt(1).name), "Name " + std::to_string(i % 97)) << i;
        const size_t digits = i % 90 + 10;  // written as two decimal digits, read as hex
        EXPECT_EQ(key.ValueAt(2).data,
                  std::string(1, static_cast<char>(digits / 10 * 16 + digits % 10)) + '\0')
            << i;
    }
    EXPECT_EQ(pci.SubkeyAt(19999).FindValue("DeviceDesc")->data,
              std::string_view("Dev \"19999\"\0", 12));
    EXPECT_EQ(loaded->RootNamed(kHklm)->FindSubkey("Long")->FindValue("Bytes")->data.size(),
              200001u);
}

// Deletions from a long list renumber its index only now and then: through many such rounds,
// every lookup finds its key and the order stays that of a plain list with the same erasures.
TEST(RegistryStoreTest, IndexPositionsFollowManyDeletions) {
    RegistryStore s;
    RegistryKey& big = Key(s, kHklm + "\\Big");
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) names.push_back("Key" + std::to_string(i));
    for (const std::string& n : names) s.CreateSubkey(big, n);
    unsigned seed = 7;
    for (int round = 0; round < 600; ++round) {
        seed = seed * 1103515245u + 12345u;
        const size_t victim = (seed >> 8) % names.size();
        s.DeleteKey(*big.FindSubkey(names[victim]));
        names.erase(names.begin() + static_cast<long>(victim));
        if (round % 50 == 0) s.CreateSubkey(big, names.emplace_back("New" + std::to_string(round)));
        for (size_t i = round % 7; i < names.size(); i += 7) {
            const RegistryKey* found = big.FindSubkey(names[i]);
            ASSERT_NE(found, nullptr) << round << " " << names[i];
            ASSERT_EQ(&big.SubkeyAt(i), found) << round << " " << names[i];
        }
    }
    ASSERT_EQ(big.SubkeyCount(), names.size());
}
