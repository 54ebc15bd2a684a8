// RemoveTextFromFile against real files: the bytes it leaves are compared with the plain
// removal loop (cut the leftmost occurrence, search again from the start, stop at the first
// zero byte), on written-out cases and on many random and nested inputs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "driver_cleaner.h"
#include "scratch_machine.h"

namespace {

const char kLine[] = "device=motvcd.vxd\r\n";
const size_t kStep = 98304;

// The removal loop, step by step, on a copy of the content followed by zero bytes (as the
// mapped view behind the content reads).
std::string RemoveByRescanning(const std::string& content, const std::string& text) {
    std::string view = content + std::string(text.size() + 1, '\0');
    size_t size = content.size();
    while (size > 0) {
        const char* found = std::strstr(view.c_str(), text.c_str());
        if (!found) break;
        const size_t at = static_cast<size_t>(found - view.c_str());
        std::memmove(&view[at], &view[at + text.size()], size - at - text.size());
        std::memset(&view[size - text.size()], 0, text.size());
        size -= text.size();
    }
    return view.substr(0, size);
}

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
                            {"c/WINDOWS/RO.INI", std::string("a") + kLine},
                            {"c/WINDOWS/BUSY.INI", std::string("b") + kLine}};
    CDriverCleaner cleaner;
};

TEST_F(TextRemoval, WrittenOutCases) {
    const std::string ini = "[boot]\r\nshell=Explorer.exe\r\n[386Enh]\r\n";
    const std::string line = kLine;
    struct Case {
        std::string content, text, expected;
    } cases[] = {
        {ini + line + "keyboard=*vkd\r\n", line, ini + "keyboard=*vkd\r\n"},
        {line + ini + line, line, ini},
        {"device=mot" + line + "vcd.vxd\r\n", line, ""},  // a cut joins another copy
        {"aabb", "ab", ""},
        {"aaabbbb", "ab", "b"},
        {"abXab", "ab", "X"},
        {"banana", "a", "bnn"},
        {ini + "DEVICE=MOTVCD.VXD\r\n", line, ini + "DEVICE=MOTVCD.VXD\r\n"},
        {ini + "device=motvcd.vxd", line, ini + "device=motvcd.vxd"},
        {std::string("ab\0ab", 5), "ab", std::string("\0ab", 3)},
        {std::string("aab\0b", 5), "ab", std::string("a\0b", 3)},  // no join across the zero
        {std::string("\0ab", 3), "ab", std::string("\0ab", 3)},
        {"", line, ""},
        {"ab", "abc", "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.content));
        EXPECT_EQ(c.expected, RemoveByRescanning(c.content, c.text));  // the model agrees
        EXPECT_EQ(c.expected, RemoveFrom(c.content, c.text));
    }
}

TEST_F(TextRemoval, MatchesTheRescanningLoopOnRandomSmallAlphabets) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        const int letters = 1 + static_cast<int>(random() % 3);
        auto letter = [&] { return static_cast<char>('a' + random() % letters); };
        std::string text;
        for (size_t i = 1 + random() % 6; i > 0; --i) text += letter();
        std::string content;
        for (size_t i = random() % 60; i > 0; --i) {
            const unsigned pick = random() % 16;
            if (pick == 0)
                content += '\0';
            else if (pick < 4)
                content += text;
            else
                content += letter();
        }
        ExpectSameAsRescanning(content, text);
    }
}

TEST_F(TextRemoval, MatchesTheRescanningLoopOnNestedCopies) {
    // Copies inserted into one another, so that each cut brings the next copy together.
    std::mt19937 random(7);
    const std::string texts[] = {"ab", "aab", "aba", "abab", "aabaa", kLine};
    for (const std::string& text : texts) {
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
    EXPECT_EQ("", RemoveFrom("aaabbb", "ab"));
}

TEST_F(TextRemoval, FilesAroundTheCapacityStep) {
    const std::string line = kLine;
    for (size_t size : {kStep - 1, kStep, kStep + 1, 2 * kStep}) {
        SCOPED_TRACE(size);
        // The line at both ends, filler between; and a file of nothing but copies and joins.
        std::string filler(size - 2 * line.size(), 'x');
        for (size_t i = 0; i < filler.size(); i += 61) filler[i] = '\n';
        ExpectSameAsRescanning(line + filler + line, line);
        std::string copies;
        while (copies.size() + line.size() <= size) copies += line;
        copies.insert(copies.size() / 2, "device=mot");
        copies.insert(copies.size() / 2 + 5, "vcd.vxd\r\n");
        copies.resize(size, 'y');
        ExpectSameAsRescanning(copies, line);
    }
    const std::string exact = std::string(kStep - line.size(), 'z') + line;
    EXPECT_EQ(std::string(kStep - line.size(), 'z'), RemoveFrom(exact, line));
}

TEST_F(TextRemoval, TheLineManyThousandsOfTimes) {
    const std::string other = "[386Enh]\r\nkeyboard=*vkd\r\ndevice=vdmad.vxd\r\n";
    std::string content, expected;
    for (int i = 0; i < 20000; ++i) {
        content += other;
        expected += other;
        content += kLine;
        if (i % 3 == 0) content += kLine;
    }
    EXPECT_EQ(expected, RemoveFrom(content, kLine));
}

TEST_F(TextRemoval, FilesThatCantBeWrittenStayAsTheyAre) {
    const auto before = machine.Snapshot();
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\RO.INI", kLine);    // read-only
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\BUSY.INI", kLine);  // in use elsewhere
    const std::string tooLong = "C:\\WINDOWS\\" + std::string(MAX_PATH - 11, 'n');
    cleaner.RemoveTextFromFile(tooLong.c_str(), kLine);         // 260 characters: refused
    EXPECT_EQ(before, machine.Snapshot());
}

TEST_F(TextRemoval, AMissingFileIsLeftEmptyAnEmptyTextTouchesNothing) {
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\NEW.INI", kLine);
    EXPECT_TRUE(machine.Exists("c/WINDOWS/NEW.INI"));
    EXPECT_EQ("", machine.Read("c/WINDOWS/NEW.INI"));

    machine.Write("c/WINDOWS/SYSTEM.INI", kLine);
    const auto before = machine.Snapshot();
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\SYSTEM.INI", "");
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\OTHER.INI", "");
    cleaner.RemoveTextFromFile("C:\\WINDOWS\\SYSTEM.INI", nullptr);
    cleaner.RemoveTextFromFile(nullptr, kLine);
    EXPECT_EQ(before, machine.Snapshot());
}

TEST_F(TextRemoval, TheFileIsReleasedAfterwards) {
    RemoveFrom(std::string("x") + kLine, kLine);
    HANDLE h = CreateFileA("C:\\WINDOWS\\SYSTEM.INI", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(1u, GetFileSize(h, nullptr));
    CloseHandle(h);
}

}  // namespace
