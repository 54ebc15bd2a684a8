// RemoveTextFromFile against real files: the bytes it leaves are compared with the plain
// removal loop (cut the leftmost occurrence, search again from the start, stop at the first
// zero byte), on written-out cases and on many random and nested inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "driver_cleaner.h"
#include "scratch_machine.h"
#include "text_removal_reference.h"

namespace {

const char kLine[] = "device=motvcd.vxd\r\n";
const size_t kStep = 98304;

class TextRemoval : public ::testing::Test {
protected:
    // Writes the content to C:\WINDOWS\SYSTEM.INI, removes the text, returns what is left.
    std::string RemoveFrom(const std::string& content, const std::string& text) {
        machine.Write("c/WINDOWS/SYSTEM.INI", content);
        cleaner.RemoveTextFromFile("C:\\WINDOWS\\SYSTEM.INI", text.c_str());
        return machine.Read("c/WINDOWS/SYSTEM.INI");
    }
    void ExpectSameAsRescanning(const std::string& content, const std::string& text) {
        ASSERT_EQ(RemoveByRescanning(content, text), RemoveFrom(content, text))
            << "text: " << testing::PrintToString(text)
            << "\ncontent: " << testing::PrintToString(content);
    }

    ScratchMachine machine{{"machine.ini", "[in use]\nC:\\WINDOWS\\BUSY.INI\n"},
                           {"attributes.txt", "00000001\tC:\\WINDOWS\\RO.INI\n"},
                           {"c/WINDOWS/RO.INI", kLine}, {"c/WINDOWS/BUSY.INI", kLine}};
    CDriverCleaner cleaner;
};

// Each case written out also checks the model.
TEST_F(TextRemoval, WrittenOutCases) {
    const std::string ini = "[boot]\r\nshell=Explorer.exe\r\n[386Enh]\r\n", line = kLine;
    const struct { std::string content, text, expected; } cases[] = {
        {line + ini + line + "keyboard=*vkd\r\n", line, ini + "keyboard=*vkd\r\n"},
        {"device=mot" + line + "vcd.vxd\r\n", line, ""},  // a cut joins another copy
        {"aabb", "ab", ""},
        {"aaabbbb", "ab", "b"},
        {ini + "DEVICE=MOTVCD.VXD\r\n", line, ini + "DEVICE=MOTVCD.VXD\r\n"},
        {ini + "device=motvcd.vxd", line, ini + "device=motvcd.vxd"},
        {std::string("ab\0ab", 5), "ab", std::string("\0ab", 3)},
        {std::string("aab\0b", 5), "ab", std::string("a\0b", 3)},  // no join across the zero
        {std::string("\0ab", 3), "ab", std::string("\0ab", 3)},
        {"", line, ""},
        {"ab", "abc", "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.content));
        EXPECT_EQ(c.expected, RemoveByRescanning(c.content, c.text));
        EXPECT_EQ(c.expected, RemoveFrom(c.content, c.text));
    }
}

TEST_F(TextRemoval, MatchesTheRescanningLoopOnRandomSmallAlphabets) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        const int letters = 1 + static_cast<int>(random() % 3);
        auto letter = [&] { return static_cast<char>('a' + random() % letters); };
        std::string text, content;
        for (size_t i = 1 + random() % 6; i > 0; --i) text += letter();
        for (size_t i = random() % 60; i > 0; --i) {
            const unsigned pick = random() % 16;  // zero bytes, whole copies, single letters
            content += pick == 0 ? std::string(1, '\0') : pick < 4 ? text : std::string(1, letter());
        }
        ExpectSameAsRescanning(content, text);
    }
}

// Copies inserted into one another, so that each cut brings the next copy together.
TEST_F(TextRemoval, MatchesTheRescanningLoopOnNestedCopies) {
    std::mt19937 random(7);
    for (const std::string text : {"ab", "aab", "aba", "abab", "aabaa", kLine}) {
        for (int round = 0; round < 200; ++round) {
            std::string content = round % 2 ? "" : text.substr(0, 1);
            for (size_t i = 1 + random() % 25; i > 0; --i) {
                content.insert(random() % (content.size() + 1), text);
                if (random() % 6 == 0) content.insert(random() % (content.size() + 1), 1, 'a');
            }
            if (random() % 5 == 0) content.insert(random() % (content.size() + 1), 1, '\0');
            ExpectSameAsRescanning(content, text);
        }
        ExpectSameAsRescanning(std::string(500, text[0]) + std::string(500, 'b'), text);
    }
}

// The line at both ends with filler between, and a file of nothing but copies and joins.
TEST_F(TextRemoval, FilesAroundTheCapacityStep) {
    const std::string line = kLine;
    for (size_t size : {kStep - 1, kStep, kStep + 1, 2 * kStep}) {
        SCOPED_TRACE(size);
        std::string filler(size - 2 * line.size(), 'x'), copies;
        for (size_t i = 0; i < filler.size(); i += 61) filler[i] = '\n';
        ExpectSameAsRescanning(line + filler + line, line);
        while (copies.size() + line.size() <= size) copies += line;
        copies.insert(copies.size() / 2, "device=mot");
        copies.insert(copies.size() / 2 + 5, "vcd.vxd\r\n");
        copies.resize(size, 'y');
        ExpectSameAsRescanning(copies, line);
    }
}

TEST_F(TextRemoval, TheLineManyThousandsOfTimesAndTheFileIsReleasedAfterwards) {
    const std::string other = "[386Enh]\r\nkeyboard=*vkd\r\ndevice=vdmad.vxd\r\n";
    std::string content, expected;
    for (int i = 0; i < 20000; ++i) {
        content += other + kLine + (i % 3 ? "" : kLine);
        expected += other;
    }
    EXPECT_EQ(expected, RemoveFrom(content, kLine));
    HANDLE h = CreateFileA("C:\\WINDOWS\\SYSTEM.INI", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);  // nobody holds it
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(expected.size(), GetFileSize(h, nullptr));
    CloseHandle(h);
}

// Another program's mapping keeps the file at its length (Windows refuses to cut a mapped
// file): the bytes freed by the cut then read as zero, never as a second copy of the old end.
TEST_F(TextRemoval, AFileThatCannotBeCutEndsInZeroBytes) {
    const std::string kept = "[386Enh]\r\ndevice=vdmad.vxd\r\n";
    machine.Write("c/WINDOWS/SYSTEM.INI", "[386Enh]\r\n" + std::string(kLine) + "device=vdmad.vxd\r\n");
    HANDLE other = CreateFileA("C:\\WINDOWS\\SYSTEM.INI", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE mapping = CreateFileMappingA(other, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(nullptr, MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\SYSTEM.INI", kLine);
    const std::string after = machine.Read("c/WINDOWS/SYSTEM.INI");
    EXPECT_EQ(kept + std::string(std::max(after.size(), kept.size() + 1) - kept.size(), '\0'), after);
    CloseHandle(mapping);
    CloseHandle(other);
}

// A file that can't be written stays as it is; a missing one is left empty; an empty text or
// a null argument touches nothing.
TEST_F(TextRemoval, FilesThatCantOrNeedNotBeChangedStayAsTheyAre) {
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\NEW.INI", kLine);
    EXPECT_TRUE(machine.Exists("c/WINDOWS/NEW.INI"));
    EXPECT_EQ("", machine.Read("c/WINDOWS/NEW.INI"));
    machine.Write("c/WINDOWS/SYSTEM.INI", kLine);
    const auto before = machine.Snapshot();
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\RO.INI", kLine);    // read-only
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\BUSY.INI", kLine);  // in use elsewhere
    const std::string tooLong = "C:\\WINDOWS\\" + std::string(MAX_PATH - 11, 'n');
    cleaner.RemoveTextFromFile(tooLong.c_str(), kLine);         // 260 characters: refused
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\SYSTEM.INI", "");
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\OTHER.INI", "");
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\SYSTEM.INI", nullptr);
    cleaner.RemoveTextFromFile(nullptr, kLine);
    EXPECT_EQ(before, machine.Snapshot());
}

}  // namespace
