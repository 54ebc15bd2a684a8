// A cleaner whose profiles only record that they ran, for tests of the groups, the gates and
// the entry.
#ifndef TESTS_RECORDING_CLEANER_H
#define TESTS_RECORDING_CLEANER_H

#include <string>
#include <vector>

#include "driver_cleaner.h"

class RecordingCleaner : public CDriverCleaner {
public:
    std::vector<std::string> calls;

    void RemoveComboModem4() override { calls.push_back("RemoveComboModem4"); }
    void RemoveComboModem3() override { calls.push_back("RemoveComboModem3"); }
    void RemoveAudioDevices() override { calls.push_back("RemoveAudioDevices"); }
    void RemoveLegacyModem() override { calls.push_back("RemoveLegacyModem"); }
    void RemoveBr10Package() override { calls.push_back("RemoveBr10Package"); }
    void RemoveKmq4Package() override { calls.push_back("RemoveKmq4Package"); }
    void RemoveBr30Package() override { calls.push_back("RemoveBr30Package"); }
    void RemoveSm56Isa() override { calls.push_back("RemoveSm56Isa"); }
    void RemoveSm56Pci() override { calls.push_back("RemoveSm56Pci"); }

    // Gates record themselves too, so that tests see which gated operation the entry chose.
    void Win9xRemoveAudioDevices() override {
        calls.push_back("Win9xRemoveAudioDevices");
        CDriverCleaner::Win9xRemoveAudioDevices();
    }
    void Win9xRemoveComboModem4() override {
        calls.push_back("Win9xRemoveComboModem4");
        CDriverCleaner::Win9xRemoveComboModem4();
    }
    void Win9xRemoveComboModem3() override {
        calls.push_back("Win9xRemoveComboModem3");
        CDriverCleaner::Win9xRemoveComboModem3();
    }
    void Win9xRemoveBr10Package() override {
        calls.push_back("Win9xRemoveBr10Package");
        CDriverCleaner::Win9xRemoveBr10Package();
    }
    void RemoveEverything() override {
        calls.push_back("RemoveEverything");
        CDriverCleaner::RemoveEverything();
    }

};

#endif
