#include "exceptions.h"

#include <cstdio>

namespace hostwin_pe {

namespace {

// i386 CONTEXT offsets.
constexpr uint32_t kContextSize = 0x2CC;
constexpr uint32_t kContextFull = 0x10007;  // CONTEXT_i386 | CONTROL | INTEGER | SEGMENTS
struct ContextSlot {
    uint32_t offset;
    uc_x86_reg reg;
};
constexpr ContextSlot kSlots[] = {
    {0x8C, UC_X86_REG_GS},  {0x90, UC_X86_REG_FS},  {0x94, UC_X86_REG_ES},
    {0x98, UC_X86_REG_DS},  {0x9C, UC_X86_REG_EDI}, {0xA0, UC_X86_REG_ESI},
    {0xA4, UC_X86_REG_EBX}, {0xA8, UC_X86_REG_EDX}, {0xAC, UC_X86_REG_ECX},
    {0xB0, UC_X86_REG_EAX}, {0xB4, UC_X86_REG_EBP}, {0xB8, UC_X86_REG_EIP},
    {0xBC, UC_X86_REG_CS},  {0xC0, UC_X86_REG_EFLAGS}, {0xC4, UC_X86_REG_ESP},
    {0xC8, UC_X86_REG_SS},
};
// What a filter may change and the runner takes back: the general registers, EIP and flags.
constexpr uc_x86_reg kResumed[] = {UC_X86_REG_EDI, UC_X86_REG_ESI, UC_X86_REG_EBX,
                                   UC_X86_REG_EDX, UC_X86_REG_ECX, UC_X86_REG_EAX,
                                   UC_X86_REG_EBP, UC_X86_REG_EIP, UC_X86_REG_EFLAGS,
                                   UC_X86_REG_ESP};

constexpr uint32_t kRecordSize = 0x50;

void EndFaulted(Process& p, const GuestFault& fault, uint32_t eip) {
    p.End(Outcome::Faulted, fault.code, DescribeFault(p, fault, eip));
}

}  // namespace

std::string DescribeFault(Process& p, const GuestFault& fault, uint32_t eip) {
    char text[160];
    std::snprintf(text, sizeof text, "exception 0x%08X at 0x%08X", fault.code, eip);
    std::string out = text;
    if (fault.code == kStatusAccessViolation) {
        std::snprintf(text, sizeof text, ", %s 0x%08X", fault.write ? "writing" : "reading",
                      fault.address);
        out += text;
    }
    uint8_t bytes[8];
    out += ", instruction bytes";
    for (uint32_t i = 0; i < sizeof bytes; ++i) {
        try {
            p.memory.Read(eip + i, &bytes[i], 1);
        } catch (const GuestFault&) {
            if (i == 0) out += " (unreadable)";
            break;
        }
        std::snprintf(text, sizeof text, " %02X", bytes[i]);
        out += text;
    }
    return out;
}

void RaiseInGuest(Process& p, const GuestFault& fault, uint32_t eip) {
    if (p.ended) return;
    // A fault inside the filter, or with no filter, ends the program as Windows does.
    if (p.inFilter || !p.exceptionFilter) return EndFaulted(p, fault, eip);
    const uint32_t esp = p.Reg(UC_X86_REG_ESP);
    // Below the faulting stack: return address and argument of the filter, EXCEPTION_POINTERS,
    // EXCEPTION_RECORD and CONTEXT, written in one go.
    const uint32_t frame = ((esp - 0x400) & ~0xFu) - (kContextSize + kRecordSize + 16 + 16);
    const uint32_t pointers = frame + 8, record = frame + 16, context = record + kRecordSize;
    std::vector<uint8_t> bytes(16 + kRecordSize + kContextSize, 0);
    auto put = [&](uint32_t address, uint32_t v) {
        for (uint32_t i = 0; i < 4; ++i) bytes[address - frame + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(frame, kFilterReturnStub);
    put(frame + 4, pointers);
    put(pointers, record);
    put(pointers + 4, context);
    put(record + 0x00, fault.code);
    put(record + 0x0C, eip);
    if (fault.code == kStatusAccessViolation) {
        put(record + 0x10, 2);
        put(record + 0x14, fault.write ? 1 : 0);
        put(record + 0x18, fault.address);
    }
    put(context, kContextFull);
    constexpr int kCount = sizeof kSlots / sizeof kSlots[0];
    int regs[kCount];
    uint32_t values[kCount] = {};
    void* out[kCount];
    for (int i = 0; i < kCount; ++i) {
        regs[i] = kSlots[i].reg;
        out[i] = &values[i];
    }
    uc_reg_read_batch(p.uc, regs, out, kCount);
    for (int i = 0; i < kCount; ++i)
        put(context + kSlots[i].offset, kSlots[i].reg == UC_X86_REG_EIP ? eip : values[i]);
    try {
        p.memory.Write(frame, bytes.data(), bytes.size());
    } catch (const GuestFault&) {
        return EndFaulted(p, fault, eip);  // no stack left to report on
    }
    p.inFilter = true;
    p.activeFault = fault;
    p.faultEip = eip;
    p.filterContext = context;
    ++p.result.filterCalls;
    p.SetReg(UC_X86_REG_ESP, frame);
    p.SetReg(UC_X86_REG_EIP, p.exceptionFilter);
}

void FilterReturned(Process& p) {
    const int32_t disposition = static_cast<int32_t>(p.Reg(UC_X86_REG_EAX));
    p.inFilter = false;
    if (disposition != -1) return EndFaulted(p, p.activeFault, p.faultEip);
    // The general registers, EBP, EIP, flags and ESP lie together from EDI (0x9C) to ESP (0xC4).
    uint8_t saved[0xC8 - 0x9C];
    try {
        p.memory.Read(p.filterContext + 0x9C, saved, sizeof saved);
    } catch (const GuestFault&) {
        return EndFaulted(p, p.activeFault, p.faultEip);
    }
    for (uc_x86_reg reg : kResumed)
        for (const ContextSlot& s : kSlots)
            if (s.reg == reg) {
                const uint8_t* at = saved + (s.offset - 0x9C);
                p.SetReg(reg, uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 |
                                  uint32_t(at[3]) << 24);
            }
}

}  // namespace hostwin_pe
