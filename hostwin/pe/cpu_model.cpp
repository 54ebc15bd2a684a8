// The processor model: what CPUID answers, and the instructions of the Pentium Pro (conditional
// moves) raising an illegal instruction on the 486 and the Pentium, which lack them. The engine
// itself runs every model with them, so the runner refuses them where they start.
#include "cpu_model.h"

#include <algorithm>
#include <cstring>

#include "exceptions.h"

namespace hostwin_pe {

namespace {

// The instructions of the Pentium Pro and later that the 486 and the Pentium lack.
bool IsPentiumProInstruction(const uint8_t* b, size_t n) {
    size_t i = 0;
    while (i < n && std::strchr("\x66\x67\xF2\xF3\xF0\x2E\x36\x3E\x26\x64\x65", b[i]) && b[i]) ++i;
    if (i + 1 >= n) return false;
    if (b[i] == 0x0F) return (b[i + 1] & 0xF0) == 0x40 || b[i + 1] == 0x1F;  // CMOVcc, long NOP
    const uint8_t modrm = b[i + 1];
    if ((b[i] == 0xDA || b[i] == 0xDB) && modrm >= 0xC0 && modrm <= 0xDF) return true;  // FCMOVcc
    return (b[i] == 0xDB || b[i] == 0xDF) && modrm >= 0xE8 && modrm <= 0xF7;  // F(U)COMI(P)
}

// CPUID answers as the chosen processor: a 486 DX4 with a floating-point unit, a Pentium
// (P54C), or a Pentium II; only the first two leaves. The engine's own answer lists the
// conditional moves on every model.
int OnCpuid(uc_engine*, void* data) {
    Process& p = *static_cast<Process*>(data);
    const uint32_t leaf = p.Reg(UC_X86_REG_EAX);
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (leaf == 0) {
        eax = 1;
        ebx = 0x756E6547;  // "GenuineIntel"
        edx = 0x49656E69;
        ecx = 0x6C65746E;
    } else if (leaf == 1) {
        switch (p.options.cpu) {
        case CpuModel::i486: eax = 0x0480, edx = 0x00000001; break;  // FPU
        case CpuModel::Pentium: eax = 0x0525, edx = 0x000001BF; break;  // FPU..CX8, no CMOV
        case CpuModel::PentiumPro: eax = 0x0633, edx = 0x0080FBFF; break;  // with CMOV and MMX
        }
    }
    p.SetReg(UC_X86_REG_EAX, eax);
    p.SetReg(UC_X86_REG_EBX, ebx);
    p.SetReg(UC_X86_REG_ECX, ecx);
    p.SetReg(UC_X86_REG_EDX, edx);
    return 1;  // the instruction is done
}

// Called only where an instruction of the Pentium Pro may start (see CandidateRanges).
void OnCandidate(uc_engine*, uint64_t address, uint32_t size, void* data) {
    Process& p = *static_cast<Process*>(data);
    uint8_t bytes[16];
    const size_t n = std::min<size_t>(size, sizeof bytes);
    if (uc_mem_read(p.uc, address, bytes, n) != UC_ERR_OK) return;
    // Moving EIP is how Unicorn lets a hook refuse the instruction: it does not execute.
    if (IsPentiumProInstruction(bytes, n))
        RaiseInGuest(p, GuestFault{kStatusIllegalInstruction, 0, false}, static_cast<uint32_t>(address));
}

// Where in the image an instruction of the Pentium Pro may start: each place its opcode bytes
// occur, and the prefix bytes before it. Hooking only these keeps every other instruction at
// full speed; a hook there sees whether an instruction really starts at that address.
std::vector<std::pair<uint32_t, uint32_t>> CandidateRanges(const Image& image) {
    const std::vector<uint8_t>& m = image.memory;
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    for (size_t i = 0; i + 1 < m.size(); ++i) {
        const uint8_t pair[2] = {m[i], m[i + 1]};
        if (!IsPentiumProInstruction(pair, 2)) continue;
        size_t first = i;
        while (first > 0 && i - first < 4 && std::strchr("\x66\x67\xF2\xF3\xF0\x2E\x36\x3E\x26\x64\x65", m[first - 1]) && m[first - 1])
            --first;
        const uint32_t from = image.base + static_cast<uint32_t>(first), to = image.base + static_cast<uint32_t>(i);
        if (!ranges.empty() && from <= ranges.back().second + 1) ranges.back().second = to;
        else ranges.emplace_back(from, to);
    }
    return ranges;
}

}  // namespace

void InstallCpuModel(Process& p) {
    uc_hook hook;
    uc_hook_add(p.uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(OnCpuid), &p, 1, 0,
                UC_X86_INS_CPUID);
    if (p.options.cpu == CpuModel::PentiumPro) return;
    for (const auto& range : CandidateRanges(p.image))
        uc_hook_add(p.uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(OnCandidate), &p,
                    range.first, range.second);
}

}  // namespace hostwin_pe
