// A large registry for the benchmarks: the sample Windows 98 machine's registry.reg followed by
// other vendors' PCI devices, three values each (a text, a dword and a binary), in regedit's
// layout. About 164 bytes a key, so 10^6 keys make a 164 MB file.
#ifndef TESTS_BENCHMARKS_LARGE_REGISTRY_H
#define TESTS_BENCHMARKS_LARGE_REGISTRY_H

#include <cstddef>
#include <string>

// sampleRegistry is the text of the sample's registry.reg; keys is the number of device keys
// added. The same arguments always give the same text.
std::string LargeRegistry(const std::string& sampleRegistry, size_t keys);

#endif
