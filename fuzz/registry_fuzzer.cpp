// registry.reg: any text is either refused with a MachineError or read into a registry that,
// written and read again, is the same registry and is written again byte for byte.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "hostwin.h"
#include "hostwin/registry_store.h"

namespace {

const char* const kRoots[] = {"HKEY_CLASSES_ROOT",  "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE",
                              "HKEY_USERS",         "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};

// Both keys have the same names, values and subkeys, in the same order.
void ExpectSameKey(const hostwin::RegistryKey& a, const hostwin::RegistryKey& b) {
    FUZZ_CHECK(a.Name() == b.Name());
    FUZZ_CHECK(a.ValueCount() == b.ValueCount());
    for (size_t i = 0; i < a.ValueCount(); ++i) {
        FUZZ_CHECK(a.ValueAt(i).name == b.ValueAt(i).name);
        FUZZ_CHECK(a.ValueAt(i).type == b.ValueAt(i).type);
        FUZZ_CHECK(a.ValueAt(i).data == b.ValueAt(i).data);
    }
    FUZZ_CHECK(a.SubkeyCount() == b.SubkeyCount());
    for (size_t i = 0; i < a.SubkeyCount(); ++i) ExpectSameKey(a.SubkeyAt(i), b.SubkeyAt(i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<hostwin::RegistryStore> first;
    try {
        first = hostwin::RegistryStore::Parse(text, "registry.reg");
    } catch (const hostwin::MachineError&) {
        return 0;
    }
    const std::string written = first->Serialize();
    std::unique_ptr<hostwin::RegistryStore> second;
    try {
        second = hostwin::RegistryStore::Parse(written, "registry.reg");
    } catch (const hostwin::MachineError& e) {
        FUZZ_FAIL(std::string("the written registry does not read back: ") + e.what());
    }
    for (const char* root : kRoots) ExpectSameKey(*first->RootNamed(root), *second->RootNamed(root));
    FUZZ_CHECK(second->Serialize() == written);
    return 0;
}
