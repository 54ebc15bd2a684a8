#include "large_registry.h"

#include <cstdio>

std::string LargeRegistry(const std::string& sampleRegistry, size_t keys) {
    std::string text = sampleRegistry;
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    text.reserve(text.size() + keys * 170);
    char buffer[512];
    // Vendor ids well away from the driver package's own (7A3C, 11D4); the subsystem field
    // holds the running number, so every key name is unique.
    for (size_t i = 0; i < keys; ++i) {
        const unsigned vendor = 0x2000 + static_cast<unsigned>(i % 0x3000);
        const unsigned device = 0x1000 + static_cast<unsigned>((i / 0x3000) % 0xE000);
        const unsigned subsys = static_cast<unsigned>(i);
        const int n = std::snprintf(
            buffer, sizeof buffer,
            "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_%04X&DEV_%04X&SUBSYS_%08X&REV_01]\r\n"
            "\"DeviceDesc\"=\"Device %04X:%04X\"\r\n"
            "\"ConfigFlags\"=dword:%08x\r\n"
            "\"Options\"=hex:%02x,00,00,00\r\n"
            "\r\n",
            vendor, device, subsys, vendor, device, static_cast<unsigned>(i % 7),
            static_cast<unsigned>(i % 251));
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}
