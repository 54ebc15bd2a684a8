// The uninstaller's entry: keywords, the warning texts, the boxes, the removals it selects and
// the restart, observed through a recording cleaner and the machine's journal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "recording_cleaner.h"
#include "hostwin.h"
#include "scratch_machine.h"
#include "unpellam_entry.h"

namespace {

using Lines = std::vector<std::string>;

const char kUninstallKey[] =
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\SM56BRL]\n";

std::string Registry(const std::string& values) {
    return "REGEDIT4\n\n" + std::string(kUninstallKey) + values + "\n";
}

const std::string kBothValues =
    "\"WarningString\"=\"Remove the drivers?\"\n\"WarningTitle\"=\"Driver Removal\"\n";

// Box and restart events of the journal, as short readable lines: a box as
// caption|text|style|answer, its text as the journal escapes it.
Lines Shown(const ScratchMachine& machine) {
    Lines shown;
    for (const std::string& line : machine.Journal()) {
        auto field = [&](const char* key) {
            std::string k = std::string("\"") + key + "\":\"";
            size_t at = line.find(k);
            if (at == std::string::npos) return std::string();
            at += k.size();
            return line.substr(at, line.find('"', at) - at);
        };
        if (line.find("\"event\":\"msgbox\"") != std::string::npos)
            shown.push_back(field("caption") + "|" + field("text") + "|" +
                            std::to_string(std::atoi(line.c_str() + line.find("\"style\":") + 8)) +
                            "|" + field("answer"));
        else if (line.find("\"event\":\"restart\"") != std::string::npos)
            shown.push_back(line.substr(line.find("\"flags\"")));
    }
    return shown;
}

struct EntryRun {
    Lines calls;
    Lines shown;
};

EntryRun RunEntry(const std::string& arguments, const std::string& registry, const char* answers,
             const char* version = "win98") {
    ScratchMachine machine({{"registry.reg", registry},
                            {"machine.ini", std::string("[system]\nversion=") + version + "\n"}});
    if (answers)
        ::setenv("HOSTWIN_ANSWERS", answers, 1);
    else
        ::unsetenv("HOSTWIN_ANSWERS");
    RecordingCleaner cleaner;
    std::string writable = arguments;
    RunUninstaller(cleaner, &writable[0]);
    ::unsetenv("HOSTWIN_ANSWERS");
    EXPECT_EQ(0u, hostwin::OpenRegistryKeyCount()) << "a key left open";
    return EntryRun{cleaner.calls, Shown(machine)};
}

const char* const kRestartRequest = "\"flags\":66,\"reserved\":4294967295}";
std::string Confirmation(const char* answer) {
    return "Driver Removal|Remove the drivers?|1|" + std::string(answer);
}
std::string RestartQuestion(const char* answer) {
    return "Restart Windows?|It is required that you restart Windows\\nDo you wish to do so now?|1|" +
           std::string(answer);
}
const std::string kReminder = "Driver Removal|Please make sure to restart Windows.|0|ok";
const std::string kCompletion = "UnPellam.EXE|Uninstalled correctly.\\n\\nPlease restart Windows.|0|ok";
const std::string kError = "Uninstall|Error while querying uninstall string information|16|ok";

TEST(EntryOutcomes, FollowTheTableOfFlagsReadsAndAnswers) {
    const std::string noTitle = Registry("\"WarningString\"=\"Remove the drivers?\"\n");
    struct Case {
        const char* name;
        std::string arguments;
        std::string registry;
        const char* answers;
        Lines calls;
        Lines shown;
    } cases[] = {
        {"now", "now", Registry(kBothValues), nullptr, {"Win9xRemoveComboModem4", "RemoveComboModem4"},
         {kCompletion}},
        {"now without the key", "now", "REGEDIT4\n", nullptr,
         {"Win9xRemoveComboModem4", "RemoveComboModem4"}, {kCompletion}},
        {"now silent", "now silent", Registry(kBothValues), nullptr,
         {"Win9xRemoveComboModem4", "RemoveComboModem4"}, {}},
        {"no key", "", "REGEDIT4\n", nullptr, {}, {kError}},
        {"no title", "", noTitle, nullptr, {}, {kError}},
        {"silent", "silent", Registry(kBothValues), nullptr, {}, {}},
        {"silent without the key", "silent", "REGEDIT4\n", nullptr, {}, {}},
        {"cancel", "", Registry(kBothValues), "cancel", {}, {Confirmation("cancel")}},
        {"ok then cancel", "", Registry(kBothValues), "ok,cancel",
         {"Win9xRemoveComboModem4", "RemoveComboModem4"},
         {Confirmation("ok"), RestartQuestion("cancel"), kReminder}},
        {"ok then ok", "", Registry(kBothValues), "ok,ok",
         {"Win9xRemoveComboModem4", "RemoveComboModem4"},
         {Confirmation("ok"), RestartQuestion("ok"), kRestartRequest, kReminder}},
        {"unattended", "", Registry(kBothValues), nullptr, {}, {Confirmation("cancel")}},
    };
    for (const Case& c : cases) {
        EntryRun run = RunEntry(c.arguments, c.registry, c.answers);
        EXPECT_EQ(c.calls, run.calls) << c.name;
        EXPECT_EQ(c.shown, run.shown) << c.name;
    }
}

TEST(EntryKeywords, SelectTheGatedOperationsInTheirFixedOrder) {
    struct Case {
        std::string arguments;
        Lines gates;
    } cases[] = {
        {"", {}},  // unattended: the confirmation is cancelled
        {"NOW", {"Win9xRemoveComboModem4"}},
        {"dev_0003 now br10setp TuneLink10",
         {"Win9xRemoveAudioDevices", "Win9xRemoveBr10Package", "Win9xRemoveComboModem3"}},
        {"now folder", {"Win9xRemoveComboModem3"}},                      // "old" inside a word
        {"now /uninstall", {"Win9xRemoveComboModem4", "RemoveEverything"}},  // "all" inside a word
        {"now all old", {"Win9xRemoveComboModem4", "RemoveEverything"}},
        {"now ALL DEV_0003", {"Win9xRemoveComboModem4", "RemoveEverything"}},
        {"nowbr10setpsilent", {"Win9xRemoveAudioDevices", "Win9xRemoveComboModem4"}},
        {"now " + std::string(5000, 'x') + " tunelink10",
         {"Win9xRemoveBr10Package", "Win9xRemoveComboModem4"}},
    };
    for (const Case& c : cases) {
        EntryRun run = RunEntry(c.arguments, Registry(kBothValues), nullptr);
        Lines gates;
        for (const std::string& call : run.calls)
            if (call.rfind("Win9x", 0) == 0 || call == "RemoveEverything") gates.push_back(call);
        EXPECT_EQ(c.gates, gates) << c.arguments.substr(0, 40);
    }
}

TEST(EntryKeywords, OutsideThe9xFamilyTheBoxesStayAndNothingIsRemoved) {
    EntryRun run = RunEntry("all br10setp", Registry(kBothValues), "ok,cancel", "nt4");
    EXPECT_EQ((Lines{"Win9xRemoveAudioDevices", "Win9xRemoveComboModem4", "RemoveEverything"}),
              run.calls);
    EXPECT_EQ((Lines{Confirmation("ok"), RestartQuestion("cancel"), kReminder}), run.shown);
}

// Warning values of every awkward shape: the box text never runs past the 1040-byte buffer.
TEST(EntryWarningValues, AreReadSafelyWhateverTheirTypeAndSize) {
    auto hex = [](const std::string& bytes) {
        std::string out;
        const char* digits = "0123456789abcdef";
        for (size_t i = 0; i < bytes.size(); ++i) {
            unsigned char b = static_cast<unsigned char>(bytes[i]);
            out += (i ? "," : "");
            if (i && i % 24 == 0) out += "\\\n  ";
            out += digits[b >> 4];
            out += digits[b & 15];
        }
        return out;
    };
    const std::string title = "\"WarningTitle\"=\"T\"\n";
    struct Case {
        const char* name;
        std::string value;  // the WarningString line
        bool readFails;
        size_t textLength;  // of the confirmation text shown
    } cases[] = {
        {"empty", "\"WarningString\"=\"\"\n", false, 0},
        {"dword", "\"WarningString\"=dword:00414141\n", false, 3},
        {"binary without zero", "\"WarningString\"=hex:41,42,43\n", false, 3},
        {"1039 characters and zero", "\"WarningString\"=\"" + std::string(1039, 'w') + "\"\n", false, 1039},
        {"1040 bytes, no zero", "\"WarningString\"=hex:" + hex(std::string(1040, 'w')) + "\n", false, 1039},
        {"1040 characters and zero", "\"WarningString\"=\"" + std::string(1040, 'w') + "\"\n", true, 0},
        {"far longer", "\"WarningString\"=\"" + std::string(5000, 'w') + "\"\n", true, 0},
    };
    for (const Case& c : cases) {
        // Unattended: the confirmation is cancelled, the error box acknowledged.
        ScratchMachine machine({{"registry.reg", Registry(c.value + title)}});
        RecordingCleaner cleaner;
        char arguments[] = "";
        RunUninstaller(cleaner, arguments);
        Lines journal = machine.Journal();
        ASSERT_EQ(1u, journal.size()) << c.name;
        if (c.readFails) {
            EXPECT_NE(std::string::npos, journal[0].find("\"caption\":\"Uninstall\"")) << c.name;
        } else {
            std::string expected = "\"text\":\"" + std::string(c.textLength, c.textLength == 3 ? 'A' : 'w');
            if (c.value.find("hex:41") != std::string::npos) expected = "\"text\":\"ABC";
            EXPECT_NE(std::string::npos, journal[0].find(expected + "\"")) << c.name;
        }
    }
}

TEST(Restart, IsRequestedOn9xAndNotWhereTheThreadHasNoToken) {
    for (const char* version : {"win95", "win98", "winme"}) {
        ScratchMachine machine({{"machine.ini", std::string("[system]\nversion=") + version + "\n"}});
        RestartWindows();
        ASSERT_EQ(1u, machine.Journal().size()) << version;
        EXPECT_NE(std::string::npos, machine.Journal()[0].find(kRestartRequest));
    }
    for (const char* version : {"nt4", "win2000", "winxp"}) {
        ScratchMachine machine({{"machine.ini", std::string("[system]\nversion=") + version + "\n"}});
        RestartWindows();
        EXPECT_TRUE(machine.Journal().empty()) << version;
    }
}

}  // namespace
