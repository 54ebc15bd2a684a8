// The test hive writer is checked against libcreg's own export tool before any importer test
// relies on it: every key path in order, every value's name, type and bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "creg_writer.h"

using test_support::CregKey;

namespace {

std::string Latin1ToUtf8(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02x ", c);
        out += b;
    }
    return out;
}

// What cregexport prints, reduced to one line per key ("K path") and per value
// ("V name type-size hex-bytes").
void Expect(const CregKey& key, const std::string& path, std::vector<std::string>& out) {
    out.push_back("K " + Latin1ToUtf8(path));
    for (const auto& v : key.values)
        out.push_back("V " + (v.name.empty() ? std::string("(default)") : Latin1ToUtf8(v.name)) +
                      " " + std::to_string(v.data.size()) + " " +
                      (v.type == 4 ? std::string() : Hex(v.data)));
    for (const auto& sub : key.subkeys) Expect(*sub, path + "\\" + sub->name, out);
}

std::vector<std::string> Exported(const std::string& file) {
    const std::string command = "cregexport -c windows-1252 '" + file + "' 2>&1";
    std::FILE* p = ::popen(command.c_str(), "r");
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) text.append(buffer, n);
    EXPECT_EQ(::pclose(p), 0) << text;
    std::vector<std::string> out;
    std::istringstream lines(text);
    std::string line, name, size, hex;
    size_t remaining = 0;
    auto flush = [&] {
        if (!name.empty()) out.push_back("V " + name + " " + size + " " + hex);
        name.clear();
    };
    while (std::getline(lines, line)) {
        if (line.rfind("Key path: ", 0) == 0) {
            flush();
            out.push_back("K " + line.substr(10));
        } else if (line.rfind("Value: ", 0) == 0) {
            flush();
            name = line.substr(line.find(' ', 7) + 1);
            hex.clear();
        } else if (line.rfind("Data size: ", 0) == 0) {
            size = line.substr(11);
            remaining = std::stoul(size);
        } else if (line.size() > 10 && line[8] == ':' && remaining > 0 &&
                   line.find("Type:") == std::string::npos) {
            std::istringstream bytes(line.substr(10));
            std::string token;
            for (int i = 0; i < 16 && remaining > 0 && bytes >> token; ++i, --remaining)
                hex += token + " ";
        }
    }
    flush();
    return out;
}

TEST(CregWriter, LibcregExportsExactlyWhatWasWritten) {
    CregKey root;
    root.name = "ROOT";
    CregKey& software = root.Add("Software");
    software.Text("Name", "hello").Dword("", 0x12345678);
    software.Set(3, "Bin", std::string("\x00\x01\xff\x7f", 4));
    software.Set(7, "Multi", std::string("a\0bc\0\0", 6));
    software.Set(2, "Expand", std::string("%windir%\0", 9));
    software.Set(0, "None", "");
    software.Set(3, "Long", std::string(300, '\x5a'));
    software.Add("Caf\xe9").Text("Nom\xe9", "d\xe9j\xe0");
    CregKey& many = root.Add("Enum");
    for (int i = 0; i < 40; ++i)
        many.Add("Dev" + std::to_string(i)).Add("Sub").Dword("N", static_cast<uint32_t>(i));
    root.Add("Empty");

    // Three keys a block: the hive spans many data blocks.
    const std::string file = ::testing::TempDir() + "writer_check.dat";
    ASSERT_TRUE(test_support::WriteHostFile(file, test_support::WriteCreg(root, 3)));
    std::vector<std::string> expected;
    Expect(root, "ROOT", expected);
    EXPECT_EQ(Exported(file), expected);
    std::remove(file.c_str());
}

}  // namespace
