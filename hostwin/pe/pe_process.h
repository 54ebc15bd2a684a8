// One PE32 program running in the Unicorn engine: its guest memory, heap, handles, thread
// state and how it ended. The thunks and the exception delivery work on this.
#ifndef HOSTWIN_PE_PE_PROCESS_H
#define HOSTWIN_PE_PE_PROCESS_H

#include <windows.h>
#include <unicorn/unicorn.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "guest_heap.h"
#include "guest_memory.h"
#include "pe_image.h"

namespace hostwin_pe {

// The processor the program runs on. The 486 and the Pentium lack the conditional moves of the
// Pentium Pro (CMOVcc, FCMOVcc, FCOMI, long NOP); on them those raise an illegal instruction.
enum class CpuModel { i486, Pentium, PentiumPro };

struct RunOptions {
    std::string file;       // host path of the .exe
    std::string arguments;  // the command-line tail as the caller gave it
    CpuModel cpu = CpuModel::i486;
    // A run longer than this many seconds of emulation (a guest that loops forever) is ended.
    // Time, not a count: counting every block costs a third of a run.
    uint32_t timeBudgetSeconds = 1800;
    // With a count (--budget), a run that executes more translated blocks than this is ended.
    uint64_t blockBudget = 0;
    bool countBlocks = false;  // count the blocks for the figures
    bool countInstructions = false;  // exact instruction count for the figures (slow)
    bool exactFaultAddresses = true;  // exact EIP of memory faults (costs memory speed)
    std::function<void()> onStart;  // called once the program is loaded, before it runs
};

// How the run ended.
enum class Outcome { Exited, Faulted, BudgetSpent, Refused };

struct RunResult {
    Outcome outcome = Outcome::Exited;
    uint32_t exitCode = 0;
    std::string detail;  // the fault or refusal, for the journal and standard error
    uint64_t instructions = 0;  // counted only when asked
    uint64_t blocks = 0;
    uint64_t thunkCalls = 0;
    uint64_t filterCalls = 0;
};

// Fixed places in the guest address space: the import thunks where Windows 95 keeps
// KERNEL32, and the thread and process blocks below 2 GiB.
constexpr uint32_t kThunkBase = 0xBFF70000u;
constexpr uint32_t kThunkSize = 0x10000u;
constexpr uint32_t kThunkStride = 8;  // each stub: int 0x80, then padding
// Where the program's filter returns to, and where its entry point returns to (ExitProcess).
constexpr uint32_t kFilterReturnStub = kThunkBase + kThunkSize - 2 * kThunkStride;
constexpr uint32_t kEntryReturnStub = kThunkBase + kThunkSize - kThunkStride;
constexpr uint32_t kSystemBase = 0x7FFD0000u;  // GDT, TEB, PEB
constexpr uint32_t kHeapSize = 64u << 20;

class Process {
public:
    Process(uc_engine* uc, const RunOptions& options);

    uc_engine* uc;
    RunOptions options;
    GuestMemory memory;
    std::unique_ptr<GuestHeap> heap;
    Image image;

    uint32_t Reg(uc_x86_reg reg) const;
    void SetReg(uc_x86_reg reg, uint32_t value);

    // Handles and keys between the host's 64-bit values and the guest's 32-bit ones: values
    // that fit (hostwin's handles, the predefined keys, pseudo handles) stay as they are.
    HANDLE HostHandle(uint32_t guest) const;
    uint32_t GuestHandle(HANDLE host);
    // Handles of objects the runner keeps itself (semaphores) come from their own range.
    uint32_t NewOwnHandle();
    static bool IsOwnHandle(uint32_t guest) { return guest >= 0x7E000000u && guest < 0x7F000000u; }

    // Per-process state the thunks keep.
    uint32_t exceptionFilter = 0;
    uint32_t commandLine = 0;  // guest copy of GetCommandLineA
    std::vector<uint32_t> tlsSlots;  // values; tlsUsed marks allocated slots
    std::vector<bool> tlsUsed;
    struct Semaphore {
        int32_t count, maximum;
    };
    std::map<uint32_t, Semaphore> semaphores;
    std::map<uint32_t, uint64_t> mappingSizes;  // guest mapping handle -> its size
    struct View {
        void* host;
        uint32_t size;
    };
    std::map<uint32_t, View> views;  // guest address -> host view

    // The fault being handed to the program's filter, and where its records are.
    bool inFilter = false;
    GuestFault activeFault;
    uint32_t faultEip = 0;
    uint32_t filterContext = 0;
    // A fault Unicorn reported by stopping (a bad memory access), and its address.
    bool memoryFault = false;
    GuestFault lastMemoryFault;

    // An exception of hostwin itself (a machine error) met inside a thunk: the run stops and
    // it is thrown again once out of the engine, which cannot unwind C++ frames.
    std::exception_ptr hostError;

    // How the run stands.
    bool ended = false;
    RunResult result;
    void End(Outcome outcome, uint32_t code, const std::string& detail);

private:
    std::map<uint32_t, HANDLE> wideHandles_;  // guest value -> host value that does not fit
    uint32_t nextWide_ = 0x7F000000u;
    uint32_t nextOwn_ = 0x7E000000u;
};

// Loads and runs the program to its end. Never throws for anything the guest does.
RunResult RunPe(const RunOptions& options);

}  // namespace hostwin_pe

#endif
