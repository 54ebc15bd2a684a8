// Shared set-up of the upgrade program's tests: fresh process-wide state, a current directory
// inside the machine, the journal read back by event.
#ifndef TESTS_UPGRADE_UPGRADE_FIXTURE_H
#define TESTS_UPGRADE_UPGRADE_FIXTURE_H

#include <windows.h>

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "hostwin.h"
#include "scratch_machine.h"
#include "setup_launch.h"
#include "upgrade_state.h"

class UpgradeTest : public ::testing::Test {
protected:
    // The process-wide state as the program starts with it, read before any test changes it.
    struct State {
        bool cleanup;
        std::string windir, setup, root;
        LONG error;
        HANDLE device;
        DWORD word, bytes, wait;
    };
    static const State& Initial() {
        static const State initial{CleanupMode,        WindowsDir,   SetupProgramPath,
                                   FixedDriveRoot,     LastHandshakeError, DeviceHandle,
                                   DriverWord,         BytesReturned, SetupWaitMilliseconds};
        return initial;
    }
    void SetUp() override {
        char buffer[PATH_MAX];
        ASSERT_NE(nullptr, ::getcwd(buffer, sizeof buffer));
        savedDirectory_ = buffer;
        ResetState();
    }
    void TearDown() override {
        ::unsetenv("HOSTWIN_CMDLINE");
        ::unsetenv("HOSTWIN_ANSWERS");
        ResetState();
        hostwin::SetProgram("program", "");
        EXPECT_EQ(0, ::chdir(savedDirectory_.c_str()));
    }
    static void ResetState() {
        const State& s = Initial();
        CleanupMode = s.cleanup;
        strcpy(WindowsDir, s.windir.c_str());
        strcpy(SetupProgramPath, s.setup.c_str());
        strcpy(FixedDriveRoot, s.root.c_str());
        LastHandshakeError = s.error;
        DeviceHandle = s.device;
        DriverWord = s.word;
        BytesReturned = s.bytes;
        SetupWaitMilliseconds = s.wait;
    }
    static void EnterFolder(const ScratchMachine& machine, const std::string& relative) {
        ASSERT_EQ(0, ::chdir(machine.Path(relative).c_str())) << relative;
    }

private:
    std::string savedDirectory_;
};

inline std::vector<std::string> EventsOf(const ScratchMachine& machine, const std::string& event) {
    std::vector<std::string> lines;
    for (const std::string& line : machine.Journal())
        if (line.find("{\"event\":\"" + event + "\"") == 0) lines.push_back(line);
    return lines;
}

// The text of a "key":"value" field of a journal line ("" when absent).
inline std::string FieldOf(const std::string& line, const std::string& key) {
    const std::string start = "\"" + key + "\":\"";
    size_t at = line.find(start);
    if (at == std::string::npos) return "";
    std::string value;
    for (size_t i = at + start.size(); i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        value += line[i];
    }
    return value;
}

// A journal line in short: the event, then every value but process ids, blank-separated
// (texts without their quotes and escapes), e.g. "wait br10setp.exe 100000 ended".
inline std::string Compact(const std::string& line) {
    static const std::regex field("\"([a-z-]+)\":(\"((?:[^\"\\\\]|\\\\.)*)\"|[^,}]*)");
    std::string out;
    for (std::sregex_iterator m(line.begin(), line.end(), field), end; m != end; ++m) {
        if ((*m)[1] == "pid") continue;
        static const std::regex escape("\\\\(.)");
        out += (out.empty() ? "" : " ") +
               ((*m)[3].matched ? std::regex_replace((*m)[3].str(), escape, "$1") : (*m)[2].str());
    }
    return out;
}

template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

#endif
