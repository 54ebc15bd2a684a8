// Import thunks: each imported function is a stub in the guest that traps to the runner, which
// reads the stdcall arguments from the guest stack, calls hostwin's own implementation with host
// pointers and structures, copies results back in the 32-bit Windows layouts and returns.
#ifndef HOSTWIN_PE_THUNKS_H
#define HOSTWIN_PE_THUNKS_H

#include <cstdint>
#include <string>
#include <deque>
#include <vector>

#include "pe_process.h"

namespace hostwin_pe {

// One call of an imported function, seen from inside its thunk.
class Call {
public:
    Call(Process& process, uint32_t esp) : p(process), esp_(esp) {}
    Process& p;
    // The i-th 32-bit argument (0-based), above the return address.
    uint32_t Arg(unsigned i) const { return p.memory.Read32(esp_ + 4 + 4 * i); }
    HANDLE Handle(unsigned i) const { return p.HostHandle(Arg(i)); }
    // A string argument; a null pointer gives false.
    bool String(unsigned i, std::string& out) const;
    // The string, or null for a null pointer, kept alive in this call.
    const char* OptionalString(unsigned i);

private:
    uint32_t esp_;
    std::deque<std::string> strings_;  // deque: pointers stay valid as it grows
};

// A guest buffer copied in before the host call and out after it; null stays null.
class GuestBuffer {
public:
    GuestBuffer(Call& call, uint32_t address, uint32_t size);
    char* Get() { return address_ ? bytes_.data() : nullptr; }
    void WriteBack(size_t size = SIZE_MAX);

private:
    Process& p_;
    uint32_t address_;
    uint32_t size_;  // as the guest gave it; nothing past it is written back
    std::vector<char> bytes_;
};

// A DWORD in/out argument.
class GuestDword {
public:
    GuestDword(Call& call, uint32_t address);
    DWORD* Get() { return address_ ? &value_ : nullptr; }
    void WriteBack();

private:
    Process& p_;
    uint32_t address_;
    DWORD value_ = 0;
};

using ThunkFunction = uint32_t (*)(Call&);

struct Thunk {
    const char* dll;
    const char* name;
    unsigned argumentCount;  // dwords the callee pops (stdcall); 0 for cdecl functions
    ThunkFunction function;
};

// The functions of each DLL family that the runner provides.
void AddKernel32FileThunks(std::vector<Thunk>& table);
void AddKernel32ProcessThunks(std::vector<Thunk>& table);
void AddKernel32MemoryThunks(std::vector<Thunk>& table);
void AddAdvapi32Thunks(std::vector<Thunk>& table);
void AddUser32Thunks(std::vector<Thunk>& table);
void AddShell32Thunks(std::vector<Thunk>& table);

// Every thunk, in a fixed order (its index is its stub's).
const std::vector<Thunk>& AllThunks();

// Runner-kept objects closed through CloseHandle and waited for with WaitForSingleObject; false
// when the handle is not one of them.
bool CloseOwnHandle(Process& p, uint32_t handle);
bool WaitOwnHandle(Process& p, uint32_t handle, uint32_t& result);

}  // namespace hostwin_pe

#endif
