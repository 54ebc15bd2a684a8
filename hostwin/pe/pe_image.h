// Reading a PE32 program for i386 the way the Windows 95 loader does: headers and sections laid
// out at their virtual addresses, base relocations applied when the image must move, and the
// list of imports by DLL and name. Works on bytes only; the runner maps the result.
#ifndef HOSTWIN_PE_PE_IMAGE_H
#define HOSTWIN_PE_PE_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace hostwin_pe {

struct Import {
    std::string dll;       // as the file names it (KERNEL32.dll)
    std::string function;  // empty for an import by ordinal
    uint16_t ordinal = 0;
    uint32_t slot = 0;     // RVA of its import address table entry
};

struct Image {
    uint32_t preferredBase = 0;
    uint32_t base = 0;  // where the bytes below belong
    uint32_t entry = 0;  // RVA
    uint32_t stackReserve = 0;
    uint32_t stackCommit = 0;
    bool relocatable = false;  // has base relocations, so it may load elsewhere
    uint32_t relocRva = 0, relocSize = 0;
    std::vector<uint8_t> memory;  // SizeOfImage bytes, as mapped
    std::vector<Import> imports;
};

// Why a file cannot be loaded: the Win32 error Windows gives (ERROR_BAD_EXE_FORMAT for what is
// not a PE32 i386 program) and a sentence saying what is wrong.
struct LoadRefusal {
    uint32_t error = 0;
    std::string reason;
};

// Largest image accepted; Windows 95 user space is below 2 GiB and our programs are tiny.
constexpr uint32_t kMaxImageSize = 64u << 20;

// Lays out the file; false with the refusal filled when it is no loadable PE32 i386 program.
bool ParseImage(const std::vector<uint8_t>& file, Image& image, LoadRefusal& refusal);

// Moves a parsed image to newBase by its base relocations; false when it has none or one
// points outside the image.
bool Relocate(Image& image, uint32_t newBase, LoadRefusal& refusal);

// True when the first bytes are "MZ" and the header they point to starts with "PE\0\0".
bool LooksLikePe(const std::vector<uint8_t>& head);

}  // namespace hostwin_pe

#endif
