// Software CMOVcc for processors without conditional moves: decoding of every addressing form
// the compiler emits, the sixteen conditions, and refusal of anything else.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <vector>

#include "conditional_move.h"

namespace {

// A sparse little-endian memory: 32-bit words at 4-aligned addresses.
std::map<uint32_t, uint8_t> Memory;

uint32_t ReadMemory(uint32_t address, unsigned size) {
    uint32_t value = 0;
    for (unsigned i = 0; i < size; ++i) {
        auto byte = Memory.find(address + i);
        EXPECT_NE(byte, Memory.end()) << "read of unset memory at " << address + i;
        if (byte != Memory.end()) value |= uint32_t(byte->second) << (8 * i);
    }
    return value;
}

void Store(uint32_t address, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) Memory[address + i] = static_cast<uint8_t>(value >> (8 * i));
}

enum { EAX, ECX, EDX, EBX, ESP, EBP, ESI, EDI };
const uint32_t CF = 0x001, PF = 0x004, ZF = 0x040, SF = 0x080, OF = 0x800;

winrt::IntegerRegisters Registers(uint32_t flags) {
    winrt::IntegerRegisters r = {{0xA0A0A0A0, 0x11111111, 0x22222222, 0x00003000, 0x00004000,
                                  0x00005000, 0x00000003, 0x77777777},
                                 flags};
    return r;
}

TEST(ConditionalMove, AddressingForms) {
    Memory.clear();
    Store(0x3008, 0xCAFE0001);              // [ebx+8]
    Store(0x100C, 0xCAFE0002);              // [esi*4+0x1000]
    Store(0x4010, 0xCAFE0003);              // [esp+0x10]
    Store(0x11223344, 0xCAFE0004);          // [0x11223344]
    Store(0x5000 - 16, 0xCAFE0005);         // [ebp-16]
    Store(0x3000 + 3 * 2 + 0x20, 0xBEEF);   // [ebx+esi*2+0x20], 16-bit
    struct Case {
        std::vector<unsigned char> code;
        unsigned length;
        int target;
        uint32_t expected;
    } cases[] = {
        {{0x0F, 0x44, 0xC1}, 3, EAX, 0x11111111},                                // cmove eax, ecx
        {{0x0F, 0x44, 0x43, 0x08}, 4, EAX, 0xCAFE0001},                          // cmove eax, [ebx+8]
        {{0x0F, 0x44, 0x14, 0xB5, 0x00, 0x10, 0x00, 0x00}, 8, EDX, 0xCAFE0002},  // [esi*4+disp32]
        {{0x0F, 0x44, 0x7C, 0x24, 0x10}, 5, EDI, 0xCAFE0003},                    // cmove edi, [esp+0x10]
        {{0x0F, 0x44, 0x05, 0x44, 0x33, 0x22, 0x11}, 7, EAX, 0xCAFE0004},        // [disp32]
        {{0x0F, 0x44, 0x8D, 0xF0, 0xFF, 0xFF, 0xFF}, 7, ECX, 0xCAFE0005},        // [ebp+disp32(-16)]
        {{0x3E, 0x0F, 0x44, 0x4D, 0xF0}, 5, ECX, 0xCAFE0005},                    // ds: [ebp-16]
        {{0x66, 0x0F, 0x44, 0xC8}, 4, ECX, 0x1111A0A0},                          // cmove cx, ax
        {{0x66, 0x0F, 0x44, 0x44, 0x73, 0x20}, 6, EAX, 0xA0A0BEEF},              // ax, [ebx+esi*2+0x20]
        {{0x0F, 0x44, 0xE0}, 3, ESP, 0xA0A0A0A0},                                // cmove esp, eax
    };
    for (const Case& c : cases) {
        winrt::IntegerRegisters taken = Registers(ZF);
        EXPECT_EQ(c.length, winrt::EmulateConditionalMove(c.code.data(), taken, ReadMemory));
        EXPECT_EQ(c.expected, taken.reg[c.target]) << "case of length " << c.length;
        for (int r = 0; r < 8; ++r) {
            if (r != c.target) {
                EXPECT_EQ(Registers(ZF).reg[r], taken.reg[r]) << "register " << r;
            }
        }

        // The same instruction with its condition false: same length, nothing changes.
        winrt::IntegerRegisters skipped = Registers(0);
        EXPECT_EQ(c.length, winrt::EmulateConditionalMove(c.code.data(), skipped, ReadMemory));
        for (int r = 0; r < 8; ++r) EXPECT_EQ(Registers(0).reg[r], skipped.reg[r]);
    }
}

TEST(ConditionalMove, SixteenConditions) {
    // For each flag setting, whether cmovo, cmovno, cmovb, cmovae, cmove, cmovne, cmovbe, cmova,
    // cmovs, cmovns, cmovp, cmovnp, cmovl, cmovge, cmovle, cmovg move.
    struct Case {
        uint32_t flags;
        const char* moves;
    } cases[] = {
        {0, "0101010101010101"},
        {CF, "0110011001010101"},
        {ZF, "0101101001010110"},
        {SF, "0101010110011010"},
        {SF | OF, "1001010110010101"},
        {OF, "1001010101011010"},
        {PF | CF | ZF, "0110101001100110"},
    };
    for (const Case& c : cases) {
        for (unsigned condition = 0; condition < 16; ++condition) {
            const unsigned char code[] = {0x0F, static_cast<unsigned char>(0x40 + condition), 0xC1};
            winrt::IntegerRegisters r = Registers(c.flags);
            ASSERT_EQ(3u, winrt::EmulateConditionalMove(code, r, ReadMemory));
            const bool moved = r.reg[EAX] == 0x11111111;
            EXPECT_EQ(c.moves[condition] == '1', moved)
                << "flags " << std::hex << c.flags << " condition " << condition;
        }
    }
}

TEST(ConditionalMove, RefusesOtherInstructions) {
    const std::vector<unsigned char> others[] = {
        {0x0F, 0x1F, 0x00},              // nopl
        {0x0F, 0xB1, 0x0A},              // cmpxchg
        {0x0F, 0x94, 0xC0},              // sete
        {0x64, 0x0F, 0x44, 0xC1},        // fs: segment with its own base
        {0x67, 0x0F, 0x44, 0x07},        // 16-bit addressing
        {0xF0, 0x0F, 0x44, 0xC1},        // lock
        {0x66, 0x66, 0x66, 0x66, 0x0F},  // prefixes only
    };
    for (const auto& code : others) {
        winrt::IntegerRegisters r = Registers(ZF);
        EXPECT_EQ(0u, winrt::EmulateConditionalMove(code.data(), r, ReadMemory));
        for (int i = 0; i < 8; ++i) EXPECT_EQ(Registers(ZF).reg[i], r.reg[i]);
    }
}

}  // namespace
