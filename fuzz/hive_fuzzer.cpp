// SYSTEM.DAT, USER.DAT, CLASSES.DAT as the importer reads them: any bytes are either refused
// with an ImportError or read into a registry, and either way the read ends, within the
// fuzzer's time and memory limits (a key tree that loops or shares keys must not hold it).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "hive_reader.h"
#include "import_error.h"
#include "hostwin/registry_store.h"

// libcreg itself leaks a 24-byte data block entry on some corrupt hives; an import reads at
// most three hives, so that is no fault of ours to report.
extern "C" const char* __lsan_default_suppressions() { return "leak:libcreg_\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The importer hands libcreg an in-memory file by its /proc path; so does this target.
    const int fd = ::memfd_create("hive", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0);
        done += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    hostwin::RegistryStore store;
    try {
        const size_t keys = hostwin_import::ReadHive(path, "SYSTEM.DAT", store,
                                                     *store.Root(HKEY_LOCAL_MACHINE));
        // Every key read is one entry of the navigation block, which the input holds.
        FUZZ_CHECK(keys <= size / 28 + 1);
    } catch (const hostwin_import::ImportError&) {
    }
    ::close(fd);
    return 0;
}
