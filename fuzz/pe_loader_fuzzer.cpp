// The PE loader: any file is either refused with a reason and a Win32 error, or laid out as an
// image whose entry point and import slots lie inside it; moving it by its relocations either
// succeeds inside the image or is refused. Never a crash, a read outside the file or a hang.
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "pe_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);
    hostwin_pe::Image image;
    hostwin_pe::LoadRefusal refusal;
    if (!hostwin_pe::ParseImage(file, image, refusal)) {
        FUZZ_CHECK(refusal.error == 193 && !refusal.reason.empty());
        return 0;
    }
    FUZZ_CHECK(hostwin_pe::LooksLikePe(file));
    FUZZ_CHECK(!image.memory.empty() && image.memory.size() % 0x1000 == 0);
    FUZZ_CHECK(image.memory.size() <= hostwin_pe::kMaxImageSize);
    FUZZ_CHECK(image.entry > 0 && image.entry < image.memory.size());
    for (const hostwin_pe::Import& import : image.imports) {
        FUZZ_CHECK(uint64_t(import.slot) + 4 <= image.memory.size());
        FUZZ_CHECK(!import.dll.empty() && import.dll.size() < 256);
    }
    const size_t before = image.memory.size();
    if (hostwin_pe::Relocate(image, 0x10000000u, refusal)) {
        FUZZ_CHECK(image.base == 0x10000000u);
    } else {
        FUZZ_CHECK(!refusal.reason.empty());
    }
    FUZZ_CHECK(image.memory.size() == before);
    return 0;
}
