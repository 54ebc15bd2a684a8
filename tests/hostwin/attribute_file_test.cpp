// A large attributes.txt: lookups, changes and removals by the Win32 calls keep their results
// and take time that does not grow with the number of lines.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "scratch_machine.h"

namespace {

TEST(LargeAttributeFile, CallsFindTheirLinesAmongManyInBoundedTime) {
    // 200,000 lines of missing files below C:\GONE, then the lines of real files.
    std::string text;
    for (int i = 0; i < 200000; ++i) text += "00000001\tC:\\GONE\\D" + std::to_string(i % 50) + "\\F" + std::to_string(i) + ".DLL\n";
    text += "00000002\tC:\\WINDOWS\\hidden.vxd\n00000001\tC:\\PKG\\ro.inf\n00000004\tC:\\PKG\\SUB\\sys.vxd\n";
    ScratchMachine machine({{"attributes.txt", text}, {"c/WINDOWS/hidden.vxd", "h"}, {"c/WINDOWS/plain.vxd", "p"},
                            {"c/PKG/ro.inf", "r"}, {"c/PKG/SUB/sys.vxd", "s"}});
    const auto start = std::chrono::steady_clock::now();
    // Case and kind of slash do not matter; a file without a line reads as normal.
    const struct { const char* path; DWORD expected; } lookups[] = {
        {"c:\\windows\\HIDDEN.VXD", FILE_ATTRIBUTE_HIDDEN},
        {"C:/WINDOWS/hidden.vxd", FILE_ATTRIBUTE_HIDDEN},
        {"C:\\WINDOWS\\plain.vxd", FILE_ATTRIBUTE_NORMAL},
        {"C:\\PKG\\SUB\\SYS.VXD", FILE_ATTRIBUTE_SYSTEM},
    };
    for (int round = 0; round < 50; ++round)
        for (const auto& l : lookups) ASSERT_EQ(l.expected, GetFileAttributesA(l.path)) << l.path;
    // A change, a line removed by a change to normal, a new line, a deleted file's line and a
    // moved folder's lines, each written to the file at once.
    ASSERT_TRUE(SetFileAttributesA("C:\\windows\\hidden.vxd", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA("C:\\PKG\\RO.INF", FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\plain.vxd", FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(DeleteFileA("C:\\PKG\\ro.inf"));
    ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\plain.vxd", FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(MoveFileA("C:\\PKG", "C:\\MOVED"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM), GetFileAttributesA("C:\\MOVED\\SUB\\sys.vxd"));
    // Searching every line on each call took minutes here (ASan build); an index takes
    // milliseconds.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    // The lines of missing files stay as they were, in their order.
    EXPECT_EQ(text.substr(0, text.find("00000002")) + "00000001\tC:\\WINDOWS\\hidden.vxd\n" +
                  "00000004\tC:\\MOVED\\SUB\\sys.vxd\n",
              machine.Read("attributes.txt"));
}

}  // namespace
