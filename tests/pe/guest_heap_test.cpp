// The process heap in guest memory against a model of what it hands out: over a long random run
// of allocations, frees and reallocations (in place or not, zeroed or not), blocks stay inside
// the heap, never overlap, keep their bytes when they grow, shrink or move, and zeroed bytes are
// zero. A freed or unknown block is refused, and once all is freed the heap is whole again.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "guest_heap.h"

namespace {

using hostwin_pe::GuestHeap;
using hostwin_pe::GuestMemory;

constexpr uint32_t kBase = 0x01000000, kSize = 1 << 20;

struct Engine {
    Engine() { uc_open(UC_ARCH_X86, UC_MODE_32, &uc); }
    ~Engine() { uc_close(uc); }
    uc_engine* uc = nullptr;
};

std::vector<char> Pattern(uint32_t seed, uint32_t size) {
    std::vector<char> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed * 31 + i * 7 + 1);
    return bytes;
}

TEST(GuestHeap, KeepsEveryBlockApartAndItsBytesAcrossARandomRun) {
    Engine engine;
    GuestMemory memory(engine.uc);
    memory.Map(kBase, kSize, UC_PROT_READ | UC_PROT_WRITE);
    GuestHeap heap(memory, kBase, kSize);
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> model;  // block -> size, seed
    std::mt19937 random(7);
    for (uint32_t step = 0; step < 4000; ++step) {
        const uint32_t size = random() % 3 == 0 ? random() % 20000 : random() % 64;
        const unsigned op = model.empty() ? 0 : random() % 3;
        auto some = model.begin();
        if (op) std::advance(some, random() % model.size());
        if (op == 0) {
            const bool zero = random() % 2;
            const uint32_t block = heap.Alloc(size, zero);
            if (!block) continue;  // full: fine, nothing changed
            if (zero) {
                EXPECT_EQ(memory.ReadBuffer(block, size), std::vector<char>(size, 0));
            }
            memory.Write(block, Pattern(step, size).data(), size);
            model[block] = {size, step};
        } else if (op == 1) {
            ASSERT_TRUE(heap.Free(some->first));
            EXPECT_FALSE(heap.Free(some->first));
            model.erase(some);
        } else {
            const auto [oldSize, seed] = some->second;
            const bool zero = random() % 2, inPlace = random() % 4 == 0;
            const uint32_t block = heap.ReAlloc(some->first, size, zero, inPlace);
            if (!block) continue;  // refused: the old block stands as it was
            if (inPlace) {
                EXPECT_EQ(block, some->first);
            }
            const uint32_t kept = std::min(oldSize, size);
            const std::vector<char> old = Pattern(seed, oldSize);
            EXPECT_EQ(memory.ReadBuffer(block, kept), std::vector<char>(old.begin(), old.begin() + kept));
            if (zero && size > oldSize) {
                EXPECT_EQ(memory.ReadBuffer(block + oldSize, size - oldSize),
                          std::vector<char>(size - oldSize, 0));
            }
            memory.Write(block, Pattern(step, size).data(), size);
            model.erase(some);
            model[block] = {size, step};
        }
        // Apart, inside the heap, and each still holding what was written to it.
        uint64_t end = kBase + 1;
        for (const auto& [block, entry] : model) {
            ASSERT_GE(block, end);
            ASSERT_EQ(block % 8, 0u);
            end = uint64_t(block) + std::max(entry.first, 1u);
            ASSERT_LE(end, uint64_t(kBase) + kSize);
            ASSERT_EQ(heap.SizeOf(block), entry.first);
        }
    }
    for (const auto& [block, entry] : model) {
        ASSERT_EQ(memory.ReadBuffer(block, entry.first), Pattern(entry.second, entry.first));
        ASSERT_TRUE(heap.Free(block));
    }
    // Everything freed comes back together: the whole heap is one block again.
    EXPECT_NE(heap.Alloc(kSize - 16, false), 0u);
    EXPECT_FALSE(heap.Free(kBase + 4));
    EXPECT_EQ(heap.ReAlloc(kBase + 4, 16, false), 0u);
    EXPECT_EQ(heap.SizeOf(kBase + 4), 0xFFFFFFFFu);
}

}  // namespace
