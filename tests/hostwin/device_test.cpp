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

TEST_F(Device, OnlyInstalledDevicesOpen) {
    struct Case {
        const char* name;
        bool opens;
    } cases[] = {
        {"\\\\.\\br10core.vxd", true}, {"\\\\.\\BR10SETP.VXD", true},
        {"\\\\.\\br10old.vxd", false}, {"\\\\.\\nosuch.vxd", false},
        {"\\\\.\\", false},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        HANDLE h = OpenDevice(c.name);
        EXPECT_EQ(c.opens, h != INVALID_HANDLE_VALUE) << c.name;
        if (h != INVALID_HANDLE_VALUE)
            EXPECT_TRUE(CloseHandle(h));
        else
            EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError()) << c.name;
    }
}

TEST_F(Device, ControlCodesAnswerTheirWordEchoOrZero) {
    HANDLE h = OpenDevice("\\\\.\\br10setp.vxd");
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    struct Case {
        DWORD code;
        bool withInput;
        DWORD expected;
    } cases[] = {
        {0x10004, false, 0x1234},      // its configured word
        {0x10004, true, 0x1234},       // whatever the input
        {0x10002, true, 0xFFFFFFFF},   // configured in decimal
        {0x10009, true, 0xCAFE},       // no answer configured: the input comes back
        {0x10009, false, 0},           // and without input, 0
    };
    for (const Case& c : cases) {
        DWORD in = 0xCAFE, out = 0x5555, bytes = 99;
        EXPECT_TRUE(DeviceIoControl(h, c.code, c.withInput ? &in : nullptr, c.withInput ? 4 : 0,
                                    &out, sizeof out, &bytes, nullptr));
        EXPECT_EQ(c.expected, out) << std::hex << c.code;
        EXPECT_EQ(4u, bytes);
    }
    // Without an output buffer nothing is written and no bytes are returned.
    DWORD in = 7, bytes = 99;
    EXPECT_TRUE(DeviceIoControl(h, 0x10005, &in, sizeof in, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(0u, bytes);
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Device, RefusedCodesAndBadCallsFailWithTheirErrors) {
    HANDLE h = OpenDevice("\\\\.\\br10setp.vxd");
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD in = 1, out = 0x5555, bytes = 99;
    char small[2];
    struct Case {
        const char* what;
        HANDLE device;
        DWORD code;
        LPVOID input;
        DWORD inputSize;
        LPVOID output;
        DWORD outputSize;
        DWORD error;
    } cases[] = {
        {"refused code", h, 0x10001, &in, 4, &out, 4, ERROR_GEN_FAILURE},
        {"refused code without buffers", h, 0x10003, &in, 4, nullptr, 0, ERROR_GEN_FAILURE},
        {"output shorter than a word", h, 0x10004, nullptr, 0, small, 2, ERROR_INSUFFICIENT_BUFFER},
        {"input shorter than a word", h, 0x10004, small, 2, &out, 4, ERROR_INVALID_PARAMETER},
        {"not a handle", reinterpret_cast<HANDLE>(0x7777), 0x10004, nullptr, 0, &out, 4,
         ERROR_INVALID_HANDLE},
        {"invalid handle", INVALID_HANDLE_VALUE, 0x10004, nullptr, 0, &out, 4,
         ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        out = 0x5555;
        bytes = 99;
        EXPECT_FALSE(DeviceIoControl(c.device, c.code, c.input, c.inputSize, c.output,
                                     c.outputSize, &bytes, nullptr))
            << c.what;
        EXPECT_EQ(c.error, GetLastError()) << c.what;
        EXPECT_EQ(0x5555u, out) << c.what;  // the output is left as it was
        if (c.device == h) {
            EXPECT_EQ(0u, bytes) << c.what;
        }
    }
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_FALSE(DeviceIoControl(h, 0x10004, nullptr, 0, &out, 4, &bytes, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST(DeviceSettings, BadLinesNameTheFileAndLine) {
    struct Case {
        const char* devices;
        const char* expected;
    } cases[] = {
        {"br10core.vxd=present", "line 2: a device is installed or missing, not 'present'"},
        {"br10core.vxd", "line 2: expected key=value in [devices]"},
        {"br10core.vxd=installed\nbr10core.vxd=missing", "line 3: device 'br10core.vxd' listed twice"},
        {"br10core.vxd.fail=0x1D2A68", "line 2: 'br10core.vxd.fail' names device 'br10core.vxd'"},
        {"br10core.vxd=installed\nbr10core.vxd.fail=0x1D2A68,", "line 3: expected control codes"},
        {"br10core.vxd=installed\nbr10core.vxd.fail=0xZZ", "line 3: expected control codes"},
        {"br10core.vxd=installed\nbr10core.vxd.answer.0x1=0x100000000",
         "line 3: expected a 32-bit word"},
        {"br10core.vxd=installed\nbr10core.vxd.answer.x=1", "line 3: expected a control code"},
        {"br10core.vxd=installed\nbr10core.vxd.answer.1=1\nbr10core.vxd.answer.0x1=2",
         "line 4: a second answer for control code 0x1"},
        {"bad name.vxd=installed", "line 2: 'bad name.vxd' is not a device name"},
    };
    for (const Case& c : cases) {
        ScratchMachine machine{{"machine.ini", std::string("[devices]\n") + c.devices + "\n"}};
        std::string error;
        try {
            OpenDevice("\\\\.\\br10core.vxd");
        } catch (const hostwin::MachineError& e) {
            error = e.what();
        }
        EXPECT_NE(std::string::npos, error.find("machine.ini " + std::string(c.expected)))
            << c.devices << " -> " << error;
    }
}

}  // namespace
