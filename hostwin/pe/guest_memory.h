// The guest's 32-bit address space in the Unicorn engine: every read and write of guest memory
// by the runner goes through here, so a bad guest pointer becomes an access violation in the
// guest and never a host read or write.
#ifndef HOSTWIN_PE_GUEST_MEMORY_H
#define HOSTWIN_PE_GUEST_MEMORY_H

#include <unicorn/unicorn.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace hostwin_pe {

constexpr uint32_t kStatusBreakpoint = 0x80000003u;
constexpr uint32_t kStatusAccessViolation = 0xC0000005u;
constexpr uint32_t kStatusIllegalInstruction = 0xC000001Du;
constexpr uint32_t kStatusIntegerDivideByZero = 0xC0000094u;
constexpr uint32_t kStatusPrivilegedInstruction = 0xC0000096u;

// A fault of the guest: raised by a guest access the runner makes for it, or by its own code.
struct GuestFault {
    uint32_t code = kStatusAccessViolation;
    uint32_t address = 0;  // the memory address for an access violation
    bool write = false;
};

// The runner cannot go on (the host refused memory); not the guest's doing.
class HostFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class GuestMemory {
public:
    explicit GuestMemory(uc_engine* uc) : uc_(uc) {}

    // Maps [address, address + size) (page multiples) with zero bytes; throws HostFailure.
    void Map(uint32_t address, uint32_t size, uint32_t protection);
    // Maps host memory the guest then shares (a file view); size rounded up to pages.
    void MapHost(uint32_t address, uint32_t size, void* host);
    void Unmap(uint32_t address, uint32_t size);
    // The lowest free range of size bytes at or above from, on 64 KiB boundaries; 0 when none.
    uint32_t FindFree(uint32_t size, uint32_t from, uint32_t below = 0x80000000u) const;
    bool IsMapped(uint32_t address) const;

    void Read(uint32_t address, void* out, size_t size) const;
    void Write(uint32_t address, const void* data, size_t size);
    uint32_t Read32(uint32_t address) const;
    void Write32(uint32_t address, uint32_t value);
    // A zero-terminated string of at most limit bytes (longer ones are an access violation).
    std::string ReadString(uint32_t address, size_t limit = 1 << 20) const;
    // size bytes at address, or an empty vector for a null pointer with size 0.
    std::vector<char> ReadBuffer(uint32_t address, size_t size) const;

private:
    uc_engine* uc_;
    std::map<uint32_t, uint32_t> regions_;  // start -> end (exclusive, 64-bit safe below 4 GiB)
};

}  // namespace hostwin_pe

#endif
