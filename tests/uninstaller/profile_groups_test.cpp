// Groups and gates: which profiles run, in which order, on which platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_cleaner.h"
#include "scratch_machine.h"

namespace {

using Calls = std::vector<std::string>;

ScratchMachine MachineOf(const char* version) {
    return ScratchMachine({{"machine.ini", std::string("[system]\nversion=") + version + "\n"}});
}

const Calls kEverythingOn9x = {
    "RemoveSm56Isa",      "RemoveSm56Pci",     "RemoveComboModem4", "RemoveAudioDevices",
    "RemoveComboModem3",  "RemoveLegacyModem", "RemoveBr10Package", "RemoveKmq4Package",
    "RemoveBr30Package",  "RemoveLegacyModem", "RemoveSm56Isa",     "RemoveSm56Pci",
    "RemoveAudioDevices", "RemoveBr10Package"};

// Profiles only: the recorded gate names are left out.
Calls ProfilesOf(const Calls& calls) {
    Calls out;
    for (const std::string& c : calls)
        if (c.rfind("Win9x", 0) != 0 && c != "RemoveEverything") out.push_back(c);
    return out;
}

TEST(PlatformTests, AnswerByReleaseAsTheVersionRecordSays) {
    struct Case {
        const char* version;
        bool is9x;
        bool is95;
    } cases[] = {{"win95", true, true},   {"win98", true, false},    {"winme", true, false},
                 {"nt4", false, false},   {"win2000", false, false}, {"winxp", false, false}};
    for (const Case& c : cases) {
        ScratchMachine machine = MachineOf(c.version);
        CDriverCleaner cleaner;
        EXPECT_EQ(c.is9x, cleaner.IsWindows9x()) << c.version;
        EXPECT_EQ(c.is95, cleaner.IsWindows95()) << c.version;
    }
}

TEST(Groups, RemoveEverythingRunsFourteenProfilesInOrderOn9x) {
    for (const char* version : {"win95", "win98", "winme"}) {
        ScratchMachine machine = MachineOf(version);
        RecordingCleaner cleaner;
        cleaner.RemoveEverything();
        EXPECT_EQ(kEverythingOn9x, ProfilesOf(cleaner.calls)) << version;
        RecordingCleaner cards;  // the first two gates only
        cards.RemoveCardsAndSm56();
        EXPECT_EQ(Calls(kEverythingOn9x.begin(), kEverythingOn9x.begin() + 9), ProfilesOf(cards.calls));
    }
}

TEST(Groups, NothingRunsOutsideThe9xFamily) {
    for (const char* version : {"nt4", "win2000", "winxp"}) {
        ScratchMachine machine = MachineOf(version);
        RecordingCleaner cleaner;
        cleaner.RemoveEverything();
        cleaner.RemoveCardsAndSm56();
        cleaner.Win9xRemoveAllCardPackages();
        cleaner.Win9xRemoveAudioDevices();
        cleaner.Win9xRemoveComboModem4();
        cleaner.Win9xRemoveComboModem3();
        cleaner.Win9xRemoveBr10Package();
        cleaner.Win9xRemoveLegacySet();
        cleaner.Win9xRemoveSm56Packages();
        EXPECT_EQ(Calls{}, ProfilesOf(cleaner.calls)) << version;
    }
}

// A replaced platform test decides every gate, and IsWindows95 asks it too.
class ForcedPlatformCleaner : public RecordingCleaner {
public:
    bool answer = false;
    int asked = 0;
    bool IsWindows9x() override {
        ++asked;
        return answer;
    }
};

TEST(Groups, AReplacedPlatformTestDecidesEveryGate) {
    ScratchMachine machine = MachineOf("win95");
    ForcedPlatformCleaner cleaner;
    cleaner.RemoveEverything();
    EXPECT_EQ(Calls{}, ProfilesOf(cleaner.calls));
    EXPECT_EQ(3, cleaner.asked);  // one query at each of the three gates
    EXPECT_FALSE(cleaner.IsWindows95());

    ScratchMachine nt = MachineOf("nt4");
    ForcedPlatformCleaner forced;
    forced.answer = true;
    forced.RemoveEverything();
    EXPECT_EQ(kEverythingOn9x, ProfilesOf(forced.calls));
}

}  // namespace
