// The argument and buffer helpers of the thunks, and the table of all of them.
#include <algorithm>

#include "thunks.h"

namespace hostwin_pe {

bool Call::String(unsigned i, std::string& out) const {
    const uint32_t address = Arg(i);
    if (!address) return false;
    out = p.memory.ReadString(address);
    return true;
}

const char* Call::OptionalString(unsigned i) {
    std::string text;
    if (!String(i, text)) return nullptr;
    strings_.push_back(std::move(text));
    return strings_.back().c_str();
}

GuestBuffer::GuestBuffer(Call& call, uint32_t address, uint32_t size)
    : p_(call.p), address_(address), size_(size) {
    if (address_) bytes_ = p_.memory.ReadBuffer(address_, size);
    if (address_ && bytes_.empty()) bytes_.resize(1);  // a valid host pointer for a zero size
}

void GuestBuffer::WriteBack(size_t size) {
    if (address_) p_.memory.Write(address_, bytes_.data(), std::min<size_t>(size, size_));
}

GuestDword::GuestDword(Call& call, uint32_t address) : p_(call.p), address_(address) {
    if (address_) value_ = p_.memory.Read32(address_);
}

void GuestDword::WriteBack() {
    if (address_) p_.memory.Write32(address_, value_);
}

const std::vector<Thunk>& AllThunks() {
    static const std::vector<Thunk> table = [] {
        std::vector<Thunk> t;
        AddKernel32FileThunks(t);
        AddKernel32ProcessThunks(t);
        AddKernel32MemoryThunks(t);
        AddAdvapi32Thunks(t);
        AddUser32Thunks(t);
        AddShell32Thunks(t);
        return t;
    }();
    return table;
}

}  // namespace hostwin_pe
