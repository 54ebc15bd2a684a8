#include "guest_memory.h"

#include <algorithm>
#include <cstring>

namespace hostwin_pe {

namespace {

constexpr uint64_t kPage = 0x1000;
constexpr uint64_t kGranularity = 0x10000;

uint64_t PageUp(uint64_t n) { return (n + kPage - 1) & ~(kPage - 1); }

}  // namespace

void GuestMemory::Map(uint32_t address, uint32_t size, uint32_t protection) {
    const uint64_t length = PageUp(size);
    if (uc_mem_map(uc_, address, length, protection) != UC_ERR_OK)
        throw HostFailure("cannot map guest memory at " + std::to_string(address));
    regions_[address] = static_cast<uint32_t>(std::min<uint64_t>(address + length, 0xFFFFFFFFu));
}

void GuestMemory::MapHost(uint32_t address, uint32_t size, void* host) {
    const uint64_t length = PageUp(size);
    if (uc_mem_map_ptr(uc_, address, length, UC_PROT_READ | UC_PROT_WRITE, host) != UC_ERR_OK)
        throw HostFailure("cannot share a file view with the guest");
    regions_[address] = static_cast<uint32_t>(address + length);
}

void GuestMemory::Unmap(uint32_t address, uint32_t size) {
    uc_mem_unmap(uc_, address, PageUp(size));
    regions_.erase(address);
}

uint32_t GuestMemory::FindFree(uint32_t size, uint32_t from, uint32_t below) const {
    uint64_t candidate = (uint64_t(from) + kGranularity - 1) & ~(kGranularity - 1);
    const uint64_t length = PageUp(size);
    for (const auto& r : regions_) {
        if (r.second <= candidate) continue;
        if (candidate + length <= r.first) break;
        candidate = (uint64_t(r.second) + kGranularity - 1) & ~(kGranularity - 1);
    }
    return candidate + length <= below ? static_cast<uint32_t>(candidate) : 0;
}

bool GuestMemory::IsMapped(uint32_t address) const {
    auto it = regions_.upper_bound(address);
    if (it == regions_.begin()) return false;
    --it;
    return address < it->second;
}

void GuestMemory::Read(uint32_t address, void* out, size_t size) const {
    if (size == 0) return;
    if (uint64_t(address) + size > 0x100000000ull ||
        uc_mem_read(uc_, address, out, size) != UC_ERR_OK)
        throw GuestFault{kStatusAccessViolation, address, false};
}

void GuestMemory::Write(uint32_t address, const void* data, size_t size) {
    if (size == 0) return;
    if (uint64_t(address) + size > 0x100000000ull ||
        uc_mem_write(uc_, address, data, size) != UC_ERR_OK)
        throw GuestFault{kStatusAccessViolation, address, true};
}

uint32_t GuestMemory::Read32(uint32_t address) const {
    uint8_t b[4];
    Read(address, b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

void GuestMemory::Write32(uint32_t address, uint32_t value) {
    const uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                          uint8_t(value >> 24)};
    Write(address, b, 4);
}

std::string GuestMemory::ReadString(uint32_t address, size_t limit) const {
    std::string text;
    char chunk[256];
    uint64_t at = address;
    while (text.size() < limit) {
        // Never read across a page boundary in one go: the next page may be unmapped although
        // the string ends before it.
        const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, kPage - at % kPage));
        Read(static_cast<uint32_t>(at), chunk, n);
        const void* zero = std::memchr(chunk, 0, n);
        if (zero) return text.append(chunk, static_cast<const char*>(zero) - chunk);
        text.append(chunk, n);
        at += n;
    }
    throw GuestFault{kStatusAccessViolation, static_cast<uint32_t>(at), false};
}

std::vector<char> GuestMemory::ReadBuffer(uint32_t address, size_t size) const {
    // The whole range must be mapped before a host buffer of its size is made.
    for (uint64_t at = address; at < uint64_t(address) + size;) {
        auto it = regions_.upper_bound(static_cast<uint32_t>(at));
        if (at > 0xFFFFFFFFu || it == regions_.begin() || at >= std::prev(it)->second)
            throw GuestFault{kStatusAccessViolation, static_cast<uint32_t>(std::min<uint64_t>(at, 0xFFFFFFFFu)), false};
        at = std::prev(it)->second;
    }
    std::vector<char> buffer(size);
    Read(address, buffer.data(), size);
    return buffer;
}

}  // namespace hostwin_pe
