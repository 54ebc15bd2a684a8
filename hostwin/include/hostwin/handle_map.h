// Open handles and what they stand for, for tables that are looked up on every call: open
// addressing over the handle values themselves. Handles that are given out one after another
// (a step of 4 apart, as the registry's are) fall into neighbouring slots, so a lookup is one
// probe and no hashing or division.
#ifndef HOSTWIN_HANDLE_MAP_H
#define HOSTWIN_HANDLE_MAP_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hostwin {

template <class T>
class HandleMap {
public:
    // What handle stands for, or null. Handle 0 is never stored.
    T* Find(uintptr_t handle) const {
        if (slots_.empty() || !handle) return nullptr;
        for (size_t i = Home(handle);; i = (i + 1) & mask_) {
            if (slots_[i].handle == handle) return slots_[i].value;
            if (!slots_[i].handle) return nullptr;
        }
    }
    bool Contains(uintptr_t handle) const { return Find(handle) != nullptr; }

    // Adds a handle that is not in the map yet (not 0) for a value that is not null.
    void Insert(uintptr_t handle, T* value) {
        if ((count_ + 1) * 2 > slots_.size()) Grow();
        size_t i = Home(handle);
        while (slots_[i].handle) i = (i + 1) & mask_;
        slots_[i] = Slot{handle, value};
        ++count_;
    }

    // False when the handle is not in the map.
    bool Erase(uintptr_t handle) {
        if (slots_.empty() || !handle) return false;
        size_t i = Home(handle);
        while (slots_[i].handle != handle) {
            if (!slots_[i].handle) return false;
            i = (i + 1) & mask_;
        }
        // Backward-shift deletion keeps every probe sequence unbroken without tombstones.
        for (size_t j = (i + 1) & mask_; slots_[j].handle; j = (j + 1) & mask_) {
            const size_t home = Home(slots_[j].handle);
            const bool movable = i <= j ? (home <= i || home > j) : (home <= i && home > j);
            if (movable) {
                slots_[i] = slots_[j];
                i = j;
            }
        }
        slots_[i] = Slot{0, nullptr};
        --count_;
        return true;
    }

    size_t Size() const { return count_; }

    // Calls f(handle, value) for every handle in the map.
    template <class F>
    void ForEach(F f) const {
        for (const Slot& s : slots_)
            if (s.handle) f(s.handle, s.value);
    }

    void Clear() {
        slots_.clear();
        mask_ = 0;
        count_ = 0;
    }

private:
    struct Slot {
        uintptr_t handle;  // 0 when free
        T* value;
    };
    size_t Home(uintptr_t handle) const { return static_cast<size_t>(handle >> 2) & mask_; }
    void Grow() {
        std::vector<Slot> old(slots_.empty() ? 16 : slots_.size() * 2, Slot{0, nullptr});
        old.swap(slots_);
        mask_ = slots_.size() - 1;
        for (const Slot& s : old) {
            if (!s.handle) continue;
            size_t i = Home(s.handle);
            while (slots_[i].handle) i = (i + 1) & mask_;
            slots_[i] = s;
        }
    }

    std::vector<Slot> slots_;  // a power of two of them, at most half in use
    size_t mask_ = 0;
    size_t count_ = 0;
};

}  // namespace hostwin

#endif
