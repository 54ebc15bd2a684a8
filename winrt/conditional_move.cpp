// Decoding and carrying out CMOVcc; see conditional_move.h.
#include "conditional_move.h"

namespace winrt {

namespace {

const uint32_t CarryFlag = 0x001, ParityFlag = 0x004, ZeroFlag = 0x040, SignFlag = 0x080,
               OverflowFlag = 0x800;

// The condition of CMOVcc (and Jcc, SETcc): pairs of a test and its negation.
bool ConditionHolds(unsigned condition, uint32_t flags) {
    const bool carry = flags & CarryFlag, parity = flags & ParityFlag, zero = flags & ZeroFlag,
               sign = flags & SignFlag, overflow = flags & OverflowFlag;
    bool holds;
    switch (condition >> 1) {
    case 0: holds = overflow; break;                      // O / NO
    case 1: holds = carry; break;                         // B / AE
    case 2: holds = zero; break;                          // E / NE
    case 3: holds = carry || zero; break;                 // BE / A
    case 4: holds = sign; break;                          // S / NS
    case 5: holds = parity; break;                        // P / NP
    case 6: holds = sign != overflow; break;              // L / GE
    default: holds = zero || sign != overflow; break;     // LE / G
    }
    return (condition & 1) ? !holds : holds;
}

uint32_t Read32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

unsigned EmulateConditionalMove(const unsigned char* code, IntegerRegisters& registers,
                                MemoryReader read) {
    unsigned at = 0;
    bool wide = true;  // 32-bit operands unless an operand-size prefix says 16
    for (;; ++at) {
        if (at == 4) return 0;
        const unsigned char prefix = code[at];
        if (prefix == 0x66)
            wide = false;
        else if (prefix != 0x26 && prefix != 0x2E && prefix != 0x36 && prefix != 0x3E)
            break;  // ES, CS, SS and DS all have base 0 in a Win32 program
    }
    if (code[at] != 0x0F || (code[at + 1] & 0xF0) != 0x40) return 0;
    const unsigned condition = code[at + 1] & 0x0F;
    const unsigned modrm = code[at + 2];
    at += 3;
    const unsigned mod = modrm >> 6, target = (modrm >> 3) & 7, rm = modrm & 7;

    uint32_t address = 0;
    if (mod != 3) {
        if (rm == 4) {
            const unsigned sib = code[at++];
            const unsigned scale = sib >> 6, index = (sib >> 3) & 7, base = sib & 7;
            if (index != 4) address += registers.reg[index] << scale;
            if (base == 5 && mod == 0) {
                address += Read32(code + at);
                at += 4;
            } else {
                address += registers.reg[base];
            }
        } else if (rm == 5 && mod == 0) {
            address = Read32(code + at);
            at += 4;
        } else {
            address = registers.reg[rm];
        }
        if (mod == 1) {
            address += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(code[at])));
            at += 1;
        } else if (mod == 2) {
            address += Read32(code + at);
            at += 4;
        }
    }

    if (ConditionHolds(condition, registers.flags)) {
        const uint32_t value = mod == 3 ? registers.reg[rm] : read(address, wide ? 4 : 2);
        uint32_t& destination = registers.reg[target];
        destination = wide ? value : (destination & 0xFFFF0000u) | (value & 0xFFFFu);
    }
    return at;
}

}  // namespace winrt
