#include "pe_image.h"

#include <algorithm>
#include <cstring>

namespace hostwin_pe {

namespace {

constexpr uint32_t kBadExeFormat = 193;  // ERROR_BAD_EXE_FORMAT
constexpr unsigned kMaxSections = 96;
constexpr size_t kMaxImports = 4096;

// Little-endian reads that say whether the bytes were there.
bool Read16(const std::vector<uint8_t>& b, uint64_t at, uint16_t& v) {
    if (at + 2 > b.size()) return false;
    v = static_cast<uint16_t>(b[at] | b[at + 1] << 8);
    return true;
}

bool Read32(const std::vector<uint8_t>& b, uint64_t at, uint32_t& v) {
    if (at + 4 > b.size()) return false;
    v = uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
        uint32_t(b[at + 3]) << 24;
    return true;
}

bool Refuse(LoadRefusal& refusal, const std::string& reason, uint32_t error = kBadExeFormat) {
    refusal.error = error;
    refusal.reason = reason;
    return false;
}

// A zero-terminated name inside the image; false when it runs off the end or is too long.
bool ReadName(const std::vector<uint8_t>& memory, uint32_t rva, std::string& name) {
    name.clear();
    for (uint64_t at = rva; at < memory.size(); ++at) {
        if (memory[at] == 0) return !name.empty();
        if (name.size() >= 255) return false;
        name += static_cast<char>(memory[at]);
    }
    return false;
}

bool ReadImports(Image& image, uint32_t rva, uint32_t size, LoadRefusal& refusal) {
    const std::vector<uint8_t>& m = image.memory;
    if (rva == 0 && size == 0) return true;
    for (uint64_t at = rva;; at += 20) {
        uint32_t lookup = 0, name = 0, slots = 0;
        if (!Read32(m, at, lookup) || !Read32(m, at + 12, name) || !Read32(m, at + 16, slots))
            return Refuse(refusal, "the import directory runs past the image");
        if (name == 0 && slots == 0) return true;
        Import base;
        if (!ReadName(m, name, base.dll)) return Refuse(refusal, "an imported DLL's name is not a name");
        const uint32_t list = lookup ? lookup : slots;
        for (uint64_t i = 0;; ++i) {
            uint32_t entry = 0;
            if (!Read32(m, list + 4 * i, entry) || slots + 4 * i + 4 > m.size())
                return Refuse(refusal, "the imports of " + base.dll + " run past the image");
            if (entry == 0) break;
            if (image.imports.size() >= kMaxImports) return Refuse(refusal, "too many imports");
            Import import = base;
            import.slot = static_cast<uint32_t>(slots + 4 * i);
            if (entry & 0x80000000u) {
                import.ordinal = static_cast<uint16_t>(entry);
            } else if (!ReadName(m, entry + 2, import.function)) {
                return Refuse(refusal, "an import name of " + base.dll + " is not a name");
            }
            image.imports.push_back(import);
        }
    }
}

}  // namespace

bool LooksLikePe(const std::vector<uint8_t>& head) {
    uint32_t at = 0;
    return head.size() >= 0x40 && head[0] == 'M' && head[1] == 'Z' && Read32(head, 0x3C, at) &&
           uint64_t(at) + 4 <= head.size() && std::memcmp(&head[at], "PE\0\0", 4) == 0;
}

bool ParseImage(const std::vector<uint8_t>& file, Image& image, LoadRefusal& refusal) {
    image = Image();
    uint32_t pe = 0;
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z' || !Read32(file, 0x3C, pe))
        return Refuse(refusal, "no MZ header");
    uint32_t signature = 0;
    if (!Read32(file, pe, signature) || signature != 0x00004550u)
        return Refuse(refusal, "no PE header");
    uint16_t machine = 0, sections = 0, optionalSize = 0, characteristics = 0;
    if (!Read16(file, pe + 4, machine) || !Read16(file, pe + 6, sections) ||
        !Read16(file, pe + 20, optionalSize) || !Read16(file, pe + 22, characteristics))
        return Refuse(refusal, "the file header is cut short");
    if (machine != 0x14C) return Refuse(refusal, "not a program for i386");
    if (!(characteristics & 0x0002) || (characteristics & 0x2000))
        return Refuse(refusal, "not an executable program");
    const uint64_t opt = uint64_t(pe) + 24;
    uint16_t magic = 0;
    uint32_t entry = 0, base = 0, sectionAlign = 0, imageSize = 0, headerSize = 0, directories = 0;
    if (optionalSize < 96 || opt + optionalSize > file.size() || !Read16(file, opt, magic) ||
        !Read32(file, opt + 16, entry) || !Read32(file, opt + 28, base) ||
        !Read32(file, opt + 32, sectionAlign) || !Read32(file, opt + 56, imageSize) ||
        !Read32(file, opt + 60, headerSize) || !Read32(file, opt + 72, image.stackReserve) ||
        !Read32(file, opt + 76, image.stackCommit) || !Read32(file, opt + 92, directories))
        return Refuse(refusal, "the optional header is cut short");
    if (magic != 0x10B) return Refuse(refusal, "not a PE32 program");
    if (imageSize == 0 || imageSize > kMaxImageSize) return Refuse(refusal, "image size out of range");
    if (base % 0x10000 != 0 || uint64_t(base) + imageSize > 0x80000000u)
        return Refuse(refusal, "image base out of range");
    if (sectionAlign < 0x1000 || (sectionAlign & (sectionAlign - 1)))
        return Refuse(refusal, "section alignment is not a page multiple");
    if (headerSize > file.size() || headerSize > imageSize)
        return Refuse(refusal, "headers larger than the file or the image");
    if (entry == 0 || entry >= imageSize) return Refuse(refusal, "entry point outside the image");
    if (sections == 0 || sections > kMaxSections) return Refuse(refusal, "section count out of range");
    image.preferredBase = image.base = base;
    image.entry = entry;
    image.relocatable = !(characteristics & 0x0001);
    image.memory.assign((uint64_t(imageSize) + 0xFFF) & ~uint64_t(0xFFF), 0);
    std::copy(file.begin(), file.begin() + headerSize, image.memory.begin());

    // Sections, each at its virtual address; overlapping ones are refused.
    const uint64_t table = opt + optionalSize;
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    for (unsigned i = 0; i < sections; ++i) {
        const uint64_t s = table + 40 * i;
        uint32_t vsize = 0, va = 0, rawSize = 0, rawAt = 0;
        if (!Read32(file, s + 8, vsize) || !Read32(file, s + 12, va) ||
            !Read32(file, s + 16, rawSize) || !Read32(file, s + 20, rawAt))
            return Refuse(refusal, "the section table is cut short");
        const uint64_t span = std::max(vsize, rawSize);
        if (va < headerSize || va % 0x1000 || va + span > imageSize)
            return Refuse(refusal, "a section lies outside the image");
        const uint64_t copy = vsize ? std::min(vsize, rawSize) : rawSize;
        if (copy && uint64_t(rawAt) + copy > file.size())
            return Refuse(refusal, "a section's data lies past the end of the file");
        std::copy(file.begin() + rawAt, file.begin() + rawAt + copy, image.memory.begin() + va);
        spans.emplace_back(va, va + ((span + 0xFFF) & ~uint64_t(0xFFF)));
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second) return Refuse(refusal, "sections overlap");

    uint32_t importRva = 0, importSize = 0, relocRva = 0, relocSize = 0;
    if (directories > 1 && optionalSize >= 112)
        Read32(file, opt + 104, importRva), Read32(file, opt + 108, importSize);
    if (directories > 5 && optionalSize >= 144)
        Read32(file, opt + 136, relocRva), Read32(file, opt + 140, relocSize);
    if (relocSize == 0) image.relocatable = false;
    if (!ReadImports(image, importRva, importSize, refusal)) return false;
    image.relocRva = relocRva;
    image.relocSize = relocSize;
    return true;
}

bool Relocate(Image& image, uint32_t newBase, LoadRefusal& refusal) {
    if (!image.relocatable) return Refuse(refusal, "the image cannot move: it has no relocations");
    if (newBase % 0x10000 || uint64_t(newBase) + image.memory.size() > 0x80000000u)
        return Refuse(refusal, "no room for the image");
    std::vector<uint8_t>& m = image.memory;
    const uint32_t delta = newBase - image.base;
    const uint64_t end = uint64_t(image.relocRva) + image.relocSize;
    if (end > m.size()) return Refuse(refusal, "the relocations run past the image");
    for (uint64_t at = image.relocRva; at + 8 <= end;) {
        uint32_t page = 0, blockSize = 0;
        Read32(m, at, page);
        Read32(m, at + 4, blockSize);
        if (blockSize < 8 || blockSize % 2 || at + blockSize > end)
            return Refuse(refusal, "a relocation block runs past the relocations");
        for (uint64_t e = at + 8; e + 2 <= at + blockSize; e += 2) {
            uint16_t word = 0;
            Read16(m, e, word);
            const unsigned type = word >> 12;
            const uint64_t target = uint64_t(page) + (word & 0xFFF);
            if (type == 0) continue;  // padding
            uint32_t value = 0;
            if (type != 3 || !Read32(m, target, value))
                return Refuse(refusal, "a relocation points outside the image or is of an unknown kind");
            value += delta;
            for (int i = 0; i < 4; ++i) m[target + i] = static_cast<uint8_t>(value >> (8 * i));
        }
        at += blockSize;
    }
    image.base = newBase;
    return true;
}

}  // namespace hostwin_pe
