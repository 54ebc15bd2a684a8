// Virtual devices: CreateFileA on "\\.\NAME" and DeviceIoControl, as [devices] describes them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "hostwin.h"
#include "scratch_machine.h"

namespace {

HANDLE OpenDevice(const char* name) {
    return CreateFileA(name, 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

class Device : public ::testing::Test {
protected:
    ScratchMachine machine{{"machine.ini",
                            "[devices]\n"
                            "br10core.vxd=installed\n"
                            "br10setp.vxd=INSTALLED\n"
                            "br10old.vxd=missing\n"
                            "br10setp.vxd.answer.0x10004=0x1234\n"
                            "br10setp.vxd.answer.65538=4294967295\n"
                            "br10setp.vxd.fail=0x10003, 0x10001\n"}};
};

// Only installed devices open, by any letter case; a code answers its configured word, else
// echoes its input word, else 0.
TEST_F(Device, InstalledDevicesOpenAndAnswerTheirWordEchoOrZero) {
    for (const char* name : {"\\\\.\\br10old.vxd", "\\\\.\\nosuch.vxd", "\\\\.\\"}) {
        SetLastError(0);
        EXPECT_EQ(INVALID_HANDLE_VALUE, OpenDevice(name)) << name;
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError()) << name;
    }
    HANDLE core = OpenDevice("\\\\.\\br10core.vxd");
    EXPECT_NE(INVALID_HANDLE_VALUE, core);
    EXPECT_TRUE(CloseHandle(core));
    HANDLE h = OpenDevice("\\\\.\\BR10SETP.VXD");
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    struct Case { DWORD code; bool withInput; DWORD expected; } cases[] = {
        {0x10004, false, 0x1234},
        {0x10004, true, 0x1234},
        {0x10002, true, 0xFFFFFFFF},  // configured in decimal
        {0x10009, true, 0xCAFE},
        {0x10009, false, 0},
    };
    for (const Case& c : cases) {
        DWORD in = 0xCAFE, out = 0x5555, bytes = 99;
        EXPECT_TRUE(DeviceIoControl(h, c.code, c.withInput ? &in : nullptr, c.withInput ? 4 : 0,
                                    &out, sizeof out, &bytes, nullptr));
        EXPECT_EQ(c.expected, out) << std::hex << c.code;
        EXPECT_EQ(4u, bytes);
    }
    DWORD in = 7, bytes = 99;  // without an output buffer no bytes are returned
    EXPECT_TRUE(DeviceIoControl(h, 0x10005, &in, sizeof in, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(0u, bytes);
    EXPECT_TRUE(CloseHandle(h));
}

// Failures leave the output word as it was: the caller hands it on.
TEST_F(Device, RefusedCodesAndBadCallsFailWithTheirErrors) {
    HANDLE h = OpenDevice("\\\\.\\br10setp.vxd");
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD in = 1, out = 0x5555, bytes = 99;
    char small[2];
    struct Case { const char* what; DWORD code; LPVOID input, output; DWORD inSize, outSize, error; }
        cases[] = {
            {"refused code", 0x10001, &in, &out, 4, 4, ERROR_GEN_FAILURE},
            {"output shorter than a word", 0x10004, nullptr, small, 0, 2, ERROR_INSUFFICIENT_BUFFER},
            {"input shorter than a word", 0x10004, small, &out, 2, 4, ERROR_INVALID_PARAMETER},
            {"an input size without input", 0x10004, nullptr, &out, 4, 4, ERROR_NOACCESS},
            {"an output size without output", 0x10003, &in, nullptr, 4, 4, ERROR_NOACCESS},
        };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        out = 0x5555;
        bytes = 99;
        EXPECT_FALSE(DeviceIoControl(h, c.code, c.input, c.inSize, c.output, c.outSize, &bytes,
                                     nullptr));
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_EQ(0x5555u, out);
        EXPECT_EQ(0u, bytes);
    }
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    for (HANDLE bad : {h, reinterpret_cast<HANDLE>(0x7777), INVALID_HANDLE_VALUE}) {
        EXPECT_FALSE(DeviceIoControl(bad, 0x10004, nullptr, 0, &out, 4, &bytes, nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    }
    EXPECT_EQ(0x5555u, out);
}

}  // namespace
