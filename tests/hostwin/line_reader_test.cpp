// Reading a file a piece at a time gives the same lines as reading the text whole, wherever
// the pieces end: inside a line, between CR and LF, after a last line without LF, and with
// lines longer than the buffer.
#include "hostwin/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostwin/host_file.h"
#include "scratch_machine.h"

namespace {

std::vector<std::string> Lines(hostwin::LineReader& reader) {
    std::vector<std::string> lines;
    const char *b, *e;
    while (reader.Next(b, e)) lines.emplace_back(b, e);
    return lines;
}

}  // namespace

TEST(LineReaderTest, PiecesOfAFileGiveTheLinesOfTheWholeText) {
    const std::string longLine(5000, 'x');
    const std::string texts[] = {
        "",
        "\n",
        "no line end",
        "a\r\nbc\r\n\r\n\ndef\r\n" + longLine + "\r\n" + longLine + longLine + "\nend",
        "first\n" + longLine + "\n\n",
    };
    ScratchMachine m(std::map<std::string, std::string>(), false);
    for (const std::string& text : texts) {
        hostwin::LineReader whole(text.data(), text.size());
        const std::vector<std::string> expected = Lines(whole);
        m.Write("text.txt", text);
        for (size_t piece : {1u, 2u, 3u, 7u, 64u, 4096u, 65536u}) {
            SCOPED_TRACE(text.substr(0, 20) + " / piece " + std::to_string(piece));
            hostwin::MachineFileReader file(m.Path("text.txt"), text.size());
            hostwin::LineReader reader(file, piece);
            EXPECT_EQ(Lines(reader), expected);
        }
    }
    hostwin::MachineFileReader missing(m.Path("missing.txt"), 10);
    EXPECT_FALSE(missing.Exists());
    hostwin::LineReader none(missing);
    EXPECT_TRUE(Lines(none).empty());
}
