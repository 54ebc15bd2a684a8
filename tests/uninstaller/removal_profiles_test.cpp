// The nine removal profiles as sequences of primitive calls: what each row removes is checked on
// the sample machine (sample_machine_test.cpp); here, what a run there cannot show: the order of
// the rows, where the platform test is asked (once, before the first row that needs it), how
// many rows run on each platform, and which rows are skipped when the Windows directory is too
// long for the working path.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <string>

#include "driver_cleaner.h"
#include "scratch_machine.h"

namespace {

// Records one letter per primitive call, none of which reaches the machine. File rows are
// written as their directory: w, i, s, o for "%s", "%s\inf", "%s\system", "%s\inf\other";
// t is the line removed from "%s\system.ini" (! any other path). Registry rows: K subkey,
// V value at a key, E key if empty, W subkeys with a value, S sections, N subkeys named,
// A values named, I IsKeyEmpty, D DeleteValue; ? is IsWindows95.
class Recorder : public CDriverCleaner {
public:
    Recorder(const std::string& windir, bool is95) : is95_(is95) {
        for (const char* s : {"w", "i\\inf", "s\\system", "o\\inf\\other", "t\\system.ini"})
            dirs_[windir + (s + 1)] = s[0];
    }
    std::string calls;

    void DeleteFilesMatching(const char* d, const char*) override { calls += Dir(d, "wiso"); }
    void RemoveTextFromFile(const char* f, const char*) override { calls += Dir(f, "t"); }
    void DeleteSubkey(HKEY, const char*, const char*) override { calls += 'K'; }
    void DeleteValue(HKEY, const char*) override { calls += 'D'; }
    void DeleteValueAt(HKEY, const char*, const char*) override { calls += 'V'; }
    bool IsKeyEmpty(HKEY, const char*) override { calls += 'I'; return false; }
    void DeleteKeyIfEmpty(HKEY, const char*, const char*) override { calls += 'E'; }
    int DeleteSubkeysWithValue(HKEY, const char*, const char*, const char*) override {
        calls += 'W';
        return 0;
    }
    void DeleteSectionsWithValue(HKEY, const char*, const char*, const char*, bool) override { calls += 'S'; }
    void DeleteSubkeysNamed(HKEY, const char*, const char*) override { calls += 'N'; }
    void DeleteValuesNamed(HKEY, const char*, const char*) override { calls += 'A'; }
    bool IsWindows95() override { calls += '?'; return is95_; }

private:
    char Dir(const char* path, const char* allowed) const {
        const auto found = dirs_.find(path);
        if (found == dirs_.end() || !std::strchr(allowed, found->second)) return '!';
        return found->second;
    }
    std::map<std::string, char> dirs_;
    bool is95_;
};

using C = CDriverCleaner;
const struct Profile {
    void (C::*run)();
    const char* name;
    const char* on95;
    const char* onOthers;
} kProfiles[] = {
    {&C::RemoveComboModem4, "ComboModem4", "iiissssssssssotKKK?WEWKVVA", "iiissssssssssotKKK?NWKVVA"},
    {&C::RemoveComboModem3, "ComboModem3", "iiissssssssssotKKK?WEWKKVVA", "iiissssssssssotKKK?NWKKVVA"},
    {&C::RemoveAudioDevices, "AudioDevices", "t?WEWESNSWWWWKEKWWAAWWWWW", "t?NNSNSWWWWKEKWWAAWWWWW"},
    {&C::RemoveLegacyModem, "LegacyModem", "iiisssssssssotKKNWKKVAK", "iiisssssssssotKKNWKKVAK"},
    {&C::RemoveBr10Package, "Br10Package", "wiiisssot?WEWESNSWWWWKEKWAWWWWW", "wiiisssot?NNSNSWWWWKEKWAWWWWW"},
    {&C::RemoveKmq4Package, "Kmq4Package", "wiiisssotSNNSWWWWWWKKWAWWWWW", "wiiisssotSNNSWWWWWWKKWAWWWWW"},
    {&C::RemoveBr30Package, "Br30Package", "wiiisssotSNNSWWWWWWKKWAWWWWW", "wiiisssotSNNSWWWWWWKKWAWWWWW"},
    {&C::RemoveSm56Isa, "Sm56Isa", "iistSSWWK", "iistSSWWK"},
    {&C::RemoveSm56Pci, "Sm56Pci", "iistSNWWK", "iistSNWWK"},
};

// Every row in order, the platform asked once in place; with a long Windows directory, a row
// whose working path would not fit is skipped rather than run on a cut path.
TEST(RemovalProfiles, RunTheirRowsInOrderAndSkipDirectoriesThatDoNotFitTheWorkingPath) {
    const struct {
        size_t length;     // of the Windows directory, C:\ included
        const char* runs;  // directories whose rows run
    } windirs[] = {
        {10, "wisot"},
        {249, "wiso"},  // "%s\system.ini" needs 261 characters
        {250, "wis"},
        {259, "w"},  // the cleaner's own buffer still holds it
        {300, ""},   // too long for the cleaner: no Windows directory at all
    };
    for (const auto& w : windirs) {
        const std::string windir = "C:\\" + std::string(w.length - 3, 'W');
        ScratchMachine machine({{"machine.ini", "[system]\nwindir=" + windir + "\n"}});
        for (const Profile& p : kProfiles)
            for (bool is95 : {true, false}) {
                Recorder recorder(windir, is95);
                (recorder.*p.run)();
                std::string expected;
                for (const char* c = is95 ? p.on95 : p.onOthers; *c; ++c)
                    if (!std::islower(static_cast<unsigned char>(*c)) || std::strchr(w.runs, *c)) expected += *c;
                EXPECT_EQ(expected, recorder.calls)
                    << p.name << (is95 ? " on 95" : "") << " with a Windows directory of " << w.length;
            }
    }
}

}  // namespace
