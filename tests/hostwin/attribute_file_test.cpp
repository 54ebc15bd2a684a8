// A large attributes.txt: the Win32 calls find, change and drop its lines in time that does not
// grow with the number of lines, and keep the other lines as they were, in their order.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "scratch_machine.h"

TEST(LargeAttributeFile, CallsFindTheirLinesAmongManyInBoundedTime) {
    std::string text;  // 200,000 lines of missing files, then those of two real ones
    for (int i = 0; i < 200000; ++i) text += "00000001\tC:\\GONE\\D" + std::to_string(i % 50) + "\\F" + std::to_string(i) + "\n";
    ScratchMachine machine({{"attributes.txt", text + "00000002\tC:\\WINDOWS\\hid.vxd\n00000004\tC:\\PKG\\SUB\\sys.vxd\n"},
                            {"c/WINDOWS/hid.vxd", ""}, {"c/WINDOWS/plain.vxd", ""}, {"c/PKG/SUB/sys.vxd", ""}});
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 200; ++round) {  // a search of every line per call took minutes
        ASSERT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA("c:/windows/HID.VXD"));
        ASSERT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), GetFileAttributesA("C:\\WINDOWS\\plain.vxd"));
    }
    ASSERT_TRUE(SetFileAttributesA("C:\\windows\\hid.vxd", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\plain.vxd", FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(DeleteFileA("C:\\WINDOWS\\plain.vxd"));
    ASSERT_TRUE(MoveFileA("C:\\PKG", "C:\\MOVED"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM), GetFileAttributesA("C:\\MOVED\\SUB\\sys.vxd"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(text + "00000001\tC:\\WINDOWS\\hid.vxd\n00000004\tC:\\MOVED\\SUB\\sys.vxd\n", machine.Read("attributes.txt"));
}
