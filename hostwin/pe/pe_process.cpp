// Loading the program into the Unicorn engine and running it: the image at its base, the
// import thunks, the thread block behind FS, the stack and the heap; then the run, with the
// import traps, faults and the budget.
#include "pe_process.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>

#include "cpu_model.h"
#include "exceptions.h"
#include "thunks.h"
#include "win95_exports.h"

namespace hostwin_pe {

Process::Process(uc_engine* engine, const RunOptions& runOptions)
    : uc(engine), options(runOptions), memory(engine) {}

uint32_t Process::Reg(uc_x86_reg reg) const {
    uint32_t value = 0;
    uc_reg_read(uc, reg, &value);
    return value;
}

void Process::SetReg(uc_x86_reg reg, uint32_t value) { uc_reg_write(uc, reg, &value); }

HANDLE Process::HostHandle(uint32_t guest) const {
    auto it = wideHandles_.find(guest);
    if (it != wideHandles_.end()) return it->second;
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(guest)));
}

uint32_t Process::GuestHandle(HANDLE host) {
    const intptr_t value = reinterpret_cast<intptr_t>(host);
    if (value == static_cast<int32_t>(value)) return static_cast<uint32_t>(value);
    for (const auto& known : wideHandles_)
        if (known.second == host) return known.first;
    wideHandles_[nextWide_] = host;
    return nextWide_++;
}

uint32_t Process::NewOwnHandle() {
    nextOwn_ += 4;
    return nextOwn_;
}

void Process::End(Outcome outcome, uint32_t code, const std::string& detail) {
    if (ended) return;
    ended = true;
    result.outcome = outcome;
    result.exitCode = code;
    result.detail = detail;
    uc_emu_stop(uc);
}

namespace {

constexpr uint32_t kImageLowest = 0x00010000u;

RunResult Refused(uint32_t error, const std::string& reason) {
    RunResult r;
    r.outcome = Outcome::Refused;
    r.exitCode = error;
    r.detail = reason;
    return r;
}

// Blocks run, against the budget.
void OnBlock(uc_engine*, uint64_t, uint32_t, void* data) {
    Process& p = *static_cast<Process*>(data);
    if (++p.result.blocks > p.options.blockBudget && p.options.blockBudget != 0)
        p.End(Outcome::BudgetSpent, 124,
              "budget of " + std::to_string(p.options.blockBudget) + " blocks spent");
}

void CountInstruction(uc_engine*, uint64_t, uint32_t, void* data) {
    ++static_cast<Process*>(data)->result.instructions;
}

void NoMemoryAccess(uc_engine*, uc_mem_type, uint64_t, int, int64_t, void*) {}

void CallThunk(Process& p, const Thunk& thunk) {
    const uint32_t esp = p.Reg(UC_X86_REG_ESP);
    Call call(p, esp);
    const uint32_t back = p.memory.Read32(esp);
    ++p.result.thunkCalls;
    const uint32_t value = thunk.function(call);
    if (p.ended) return;
    p.SetReg(UC_X86_REG_EAX, value);
    p.SetReg(UC_X86_REG_ESP, esp + 4 + 4 * thunk.argumentCount);
    p.SetReg(UC_X86_REG_EIP, back);
}

void OnInterrupt(uc_engine*, uint32_t number, void* data) {
    Process& p = *static_cast<Process*>(data);
    const uint32_t eip = p.Reg(UC_X86_REG_EIP);
    const uint32_t stub = eip - 2;
    if (number == 0x80 && stub >= kThunkBase && stub < kThunkBase + kThunkSize &&
        (stub - kThunkBase) % kThunkStride == 0) {
        if (stub == kFilterReturnStub) return FilterReturned(p);
        if (stub == kEntryReturnStub) return p.End(Outcome::Exited, p.Reg(UC_X86_REG_EAX), "");
        const std::vector<Thunk>& thunks = AllThunks();
        const uint32_t index = (stub - kThunkBase) / kThunkStride;
        if (index < thunks.size()) {
            try {
                CallThunk(p, thunks[index]);
            } catch (const GuestFault& fault) {
                // A bad pointer handed to the system faults in the caller, as on Windows 9x.
                RaiseInGuest(p, fault, stub);
            } catch (...) {
                p.hostError = std::current_exception();
                p.End(Outcome::Exited, 2, "");
            }
            return;
        }
    }
    // Faults report the faulting instruction; a software interrupt the one after it.
    switch (number) {
    case 0:
        return RaiseInGuest(p, GuestFault{kStatusIntegerDivideByZero, 0, false}, eip);
    case 3:  // INT3 reports the instruction after it
        return RaiseInGuest(p, GuestFault{kStatusBreakpoint, 0, false}, eip - 1);
    case 6:
        return RaiseInGuest(p, GuestFault{kStatusIllegalInstruction, 0, false}, eip);
    default:
        return RaiseInGuest(p, GuestFault{kStatusAccessViolation, 0xFFFFFFFFu, false}, eip);
    }
}

bool OnInvalidMemory(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* data) {
    Process& p = *static_cast<Process*>(data);
    p.memoryFault = true;
    p.lastMemoryFault = GuestFault{kStatusAccessViolation, static_cast<uint32_t>(address),
                                   type == UC_MEM_WRITE_UNMAPPED || type == UC_MEM_WRITE_PROT};
    return false;
}

bool OnInvalidInstruction(uc_engine*, void* data) {
    Process& p = *static_cast<Process*>(data);
    RaiseInGuest(p, GuestFault{kStatusIllegalInstruction, 0, false}, p.Reg(UC_X86_REG_EIP));
    return true;
}

// A 32-bit segment descriptor; flat ones count their limit in pages.
uint64_t Descriptor(uint32_t base, uint32_t limit, uint8_t access, bool pages) {
    return (limit & 0xFFFFull) | (uint64_t(base & 0xFFFFFF) << 16) | (uint64_t(access) << 40) |
           (uint64_t((limit >> 16) & 0xF) << 48) | (uint64_t(pages ? 0xC : 0x4) << 52) |
           (uint64_t(base >> 24) << 56);
}

// The thread block behind FS (exception list, stack bounds, self pointer, process block) and
// the descriptor table that gives FS its base.
void SetUpThread(Process& p, uint32_t stackBase, uint32_t stackTop) {
    const uint32_t gdt = kSystemBase, teb = kSystemBase + 0x1000, peb = kSystemBase + 0x2000;
    p.memory.Map(kSystemBase, 0x3000, UC_PROT_READ | UC_PROT_WRITE);
    // Flat code and data for CS, DS, ES and SS; FS reaches the thread block.
    const uint64_t table[4] = {0, Descriptor(0, 0xFFFFF, 0x9A, true),
                               Descriptor(0, 0xFFFFF, 0x92, true), Descriptor(teb, 0xFFF, 0x92, false)};
    p.memory.Write(gdt, table, sizeof table);
    p.memory.Write32(teb + 0x00, 0xFFFFFFFFu);
    p.memory.Write32(teb + 0x04, stackTop);
    p.memory.Write32(teb + 0x08, stackBase);
    p.memory.Write32(teb + 0x18, teb);
    p.memory.Write32(teb + 0x30, peb);
    p.memory.Write32(peb + 0x08, p.image.base);
    uc_x86_mmr gdtr{};
    gdtr.base = gdt;
    gdtr.limit = sizeof table - 1;
    uc_reg_write(p.uc, UC_X86_REG_GDTR, &gdtr);
    p.SetReg(UC_X86_REG_CS, 1 << 3);
    for (uc_x86_reg reg : {UC_X86_REG_DS, UC_X86_REG_ES, UC_X86_REG_SS, UC_X86_REG_GS})
        p.SetReg(reg, 2 << 3);
    p.SetReg(UC_X86_REG_FS, 3 << 3);
}

// Binds every import to its thunk; a refusal names the first DLL and function Windows 95
// does not export (or the runner lacks).
bool BindImports(Process& p, RunResult& refusal) {
    const std::vector<Thunk>& thunks = AllThunks();
    for (const Import& import : p.image.imports) {
        const std::string name = import.function.empty()
                                     ? "ordinal " + std::to_string(import.ordinal)
                                     : import.function;
        if (!Windows95Exports(import.dll, import.function)) {
            refusal = Refused(127, "the program is linked to missing export " + import.dll + ":" + name);
            return false;
        }
        size_t index = thunks.size();
        for (size_t i = 0; i < thunks.size(); ++i)
            if (EqualDllNames(thunks[i].dll, import.dll) && import.function == thunks[i].name)
                index = i;
        if (index == thunks.size()) {
            refusal = Refused(127, "hostwin-pe does not provide " + import.dll + ":" + name);
            return false;
        }
        const uint32_t stub = kThunkBase + static_cast<uint32_t>(index) * kThunkStride;
        for (int i = 0; i < 4; ++i)
            p.image.memory[import.slot + i] = static_cast<uint8_t>(stub >> (8 * i));
    }
    return true;
}

void WriteStubs(Process& p) {
    p.memory.Map(kThunkBase, kThunkSize, UC_PROT_READ | UC_PROT_EXEC);
    std::vector<uint8_t> page(kThunkSize, 0xCC);
    for (uint32_t at = 0; at < kThunkSize; at += kThunkStride) {
        page[at] = 0xCD;
        page[at + 1] = 0x80;
    }
    p.memory.Write(kThunkBase, page.data(), page.size());
}

RunResult Run(uc_engine* uc, const RunOptions& options, std::vector<uint8_t>& file) {
    Process p(uc, options);
    LoadRefusal refusal;
    if (!ParseImage(file, p.image, refusal)) return Refused(refusal.error, refusal.reason);
    file.clear();
    const uint32_t size = static_cast<uint32_t>(p.image.memory.size());
    if (p.image.base < kImageLowest || uint64_t(p.image.base) + size > kSystemBase) {
        const uint32_t base = p.memory.FindFree(size, 0x00400000u, kSystemBase);
        if (!base || !Relocate(p.image, base, refusal)) return Refused(refusal.error, refusal.reason);
    }
    RunResult bindRefusal;
    if (!BindImports(p, bindRefusal)) return bindRefusal;
    try {
        p.memory.Map(p.image.base, size, UC_PROT_ALL);
        p.memory.Write(p.image.base, p.image.memory.data(), size);
        WriteStubs(p);
        const uint32_t stackSize =
            std::min<uint32_t>(std::max<uint32_t>(p.image.stackReserve, 0x10000u), 16u << 20);
        const uint32_t stack = p.memory.FindFree(stackSize, kImageLowest, kSystemBase);
        if (!stack) return Refused(8, "no room for the stack");
        p.memory.Map(stack, stackSize, UC_PROT_READ | UC_PROT_WRITE);
        const uint32_t heap = p.memory.FindFree(kHeapSize, 0x01000000u, kSystemBase);
        if (!heap) return Refused(8, "no room for the heap");
        p.memory.Map(heap, kHeapSize, UC_PROT_READ | UC_PROT_WRITE);
        p.heap = std::make_unique<GuestHeap>(p.memory, heap, kHeapSize);
        SetUpThread(p, stack, stack + stackSize);
        // The entry point is called like a function that returns to ExitProcess.
        const uint32_t esp = stack + stackSize - 16;
        p.memory.Write32(esp, kEntryReturnStub);
        p.SetReg(UC_X86_REG_ESP, esp);
    } catch (const GuestFault&) {
        return Refused(8, "cannot set up the program's memory");
    }

    uc_hook hook;
    if (options.blockBudget != 0 || options.countBlocks)
        uc_hook_add(uc, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(OnBlock), &p, 1, 0);
    InstallCpuModel(p);
    if (options.countInstructions)
        uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(CountInstruction), &p, 1, 0);
    // With a memory hook present Unicorn keeps EIP exact at every access, so a fault reports
    // its own instruction; the hook itself covers one unused byte and never fires.
    if (options.exactFaultAddresses)
        uc_hook_add(uc, &hook, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE,
                    reinterpret_cast<void*>(NoMemoryAccess), &p, 0xFFFFFFFFu, 0xFFFFFFFFu);
    uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(OnInterrupt), &p, 1, 0);
    uc_hook_add(uc, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(OnInvalidMemory), &p, 1, 0);
    uc_hook_add(uc, &hook, UC_HOOK_INSN_INVALID, reinterpret_cast<void*>(OnInvalidInstruction),
                &p, 1, 0);
    uint32_t eip = p.image.base + p.image.entry;
    if (options.onStart) options.onStart();
    // The time budget: Unicorn stops the run when the time left is spent.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::seconds(options.timeBudgetSeconds);
    while (!p.ended) {
        p.memoryFault = false;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        // "until" is the last address of the 4 GiB, which no program reaches: with 0 there, a
        // call through a null pointer would end the run instead of faulting.
        const uc_err error = uc_emu_start(uc, eip, 0xFFFFFFFFu,
                                          left.count() > 1 ? static_cast<uint64_t>(left.count()) : 1, 0);
        if (p.ended) break;
        size_t timedOut = 0;
        if (uc_query(uc, UC_QUERY_TIMEOUT, &timedOut) == UC_ERR_OK && timedOut) {
            p.End(Outcome::BudgetSpent, 124,
                  "time budget of " + std::to_string(options.timeBudgetSeconds) + " s spent");
            break;
        }
        eip = p.Reg(UC_X86_REG_EIP);
        if (p.memoryFault) {
            RaiseInGuest(p, p.lastMemoryFault, eip);
        } else if (error != UC_ERR_OK) {
            RaiseInGuest(p, GuestFault{kStatusAccessViolation, eip, false}, eip);
        } else {
            // Stopped with nothing pending: a HLT, which user code may not execute.
            uint8_t previous = 0;
            const bool halted = uc_mem_read(uc, eip - 1, &previous, 1) == UC_ERR_OK && previous == 0xF4;
            RaiseInGuest(p, halted ? GuestFault{kStatusPrivilegedInstruction, 0, false}
                                   : GuestFault{kStatusAccessViolation, eip, false},
                         halted ? eip - 1 : eip);
        }
        eip = p.Reg(UC_X86_REG_EIP);
    }
    if (p.hostError) std::rethrow_exception(p.hostError);
    return p.result;
}

}  // namespace

RunResult RunPe(const RunOptions& options) {
    std::ifstream in(options.file, std::ios::binary);
    if (!in) return Refused(2, "cannot read " + options.file);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() > kMaxImageSize) return Refused(193, "the file is too large for a program");
    uc_engine* uc = nullptr;
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc) != UC_ERR_OK) throw HostFailure("cannot start the x86 engine");
    const int model = options.cpu == CpuModel::i486      ? UC_CPU_X86_486
                      : options.cpu == CpuModel::Pentium ? UC_CPU_X86_PENTIUM
                                                         : UC_CPU_X86_PENTIUM2;
    uc_ctl_set_cpu_model(uc, model);
    RunResult result;
    try {
        result = Run(uc, options, file);
    } catch (...) {
        uc_close(uc);
        throw;
    }
    uc_close(uc);
    return result;
}

}  // namespace hostwin_pe
