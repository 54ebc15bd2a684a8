// Carrying out a conditional move (CMOVcc) in software, for processors that lack it.
//
// The compiler's C++ exception support library (libsupc++, libgcc's unwinder) comes built for the
// Pentium Pro and uses CMOVcc, which the Pentium, Pentium MMX, AMD K6 and 486 do not have; there
// the instruction raises an illegal-instruction exception. conditional_move_filter.cpp catches
// that exception and calls EmulateConditionalMove to carry it out. Free of Windows headers so that
// it can be tested anywhere.
#ifndef WINRT_CONDITIONAL_MOVE_H
#define WINRT_CONDITIONAL_MOVE_H

#include <stdint.h>

namespace winrt {

// The integer registers in their encoding order (EAX, ECX, EDX, EBX, ESP, EBP, ESI, EDI) and
// EFLAGS.
struct IntegerRegisters {
    uint32_t reg[8];
    uint32_t flags;
};

// Reads size (2 or 4) bytes at a linear address of the program, little-endian.
using MemoryReader = uint32_t (*)(uint32_t address, unsigned size);

// If code starts with a 32-bit-mode CMOVcc r16/r32, r/m16/r/m32 (with an operand-size prefix or
// a flat segment prefix at most), carries it out on registers, reading a memory operand through
// read when the condition holds, and returns the instruction's length in bytes. Returns 0, and
// changes nothing, for anything else.
unsigned EmulateConditionalMove(const unsigned char* code, IntegerRegisters& registers,
                                MemoryReader read);

}  // namespace winrt

#endif
