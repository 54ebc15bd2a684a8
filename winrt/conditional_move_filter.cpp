// Lets programs that use the C++ exception support run on processors without conditional moves
// (see conditional_move.h): an unhandled-exception filter, installed before the static
// constructors of the program, carries out a CMOVcc that raised an illegal-instruction exception
// and resumes after it. Every other exception goes on to the filter that was there before, so
// Windows reports a real fault as it always does.
#include <windows.h>

#include "conditional_move.h"

namespace {

LPTOP_LEVEL_EXCEPTION_FILTER PreviousFilter = nullptr;

uint32_t ReadProgramMemory(uint32_t address, unsigned size) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(address));
    uint32_t value = 0;
    for (unsigned i = 0; i < size; ++i) value |= uint32_t(p[i]) << (8 * i);
    return value;
}

}  // namespace

extern "C" LONG WINAPI ConditionalMoveFilter(EXCEPTION_POINTERS* exception) {
    if (exception->ExceptionRecord->ExceptionCode == STATUS_ILLEGAL_INSTRUCTION) {
        CONTEXT& context = *exception->ContextRecord;
        winrt::IntegerRegisters registers = {
            {context.Eax, context.Ecx, context.Edx, context.Ebx, context.Esp, context.Ebp,
             context.Esi, context.Edi},
            context.EFlags};
        const unsigned length = winrt::EmulateConditionalMove(
            reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(context.Eip)), registers,
            ReadProgramMemory);
        if (length) {
            context.Eax = registers.reg[0];
            context.Ecx = registers.reg[1];
            context.Edx = registers.reg[2];
            context.Ebx = registers.reg[3];
            context.Esp = registers.reg[4];
            context.Ebp = registers.reg[5];
            context.Esi = registers.reg[6];
            context.Edi = registers.reg[7];
            context.Eip += length;
            return EXCEPTION_CONTINUE_EXECUTION;
        }
    }
    return PreviousFilter ? PreviousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

namespace {

__attribute__((constructor(101))) void InstallConditionalMoveFilter() {
    PreviousFilter = SetUnhandledExceptionFilter(&ConditionalMoveFilter);
}

}  // namespace
