// The batch interpreter on any batch file: it ends (by its end, exit, a missing label or its
// limits) with 0 or 1 and never crashes. Each input runs on the same small tree, written
// afresh.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "fuzz_machine.h"
#include "kernel32/process_batch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzMachineRoot();
    WriteFuzzFile("journal.jsonl", "");
    WriteFuzzFile("c/WINDOWS/TEMP/PELLAM/UPGRADE.EXE", "MZ");
    WriteFuzzFile("c/WINDOWS/SYSTEM.INI", "[386Enh]\r\n");
    WriteFuzzFile("c/PELLAMUPGRADEDELUS.BAT", std::string(reinterpret_cast<const char*>(data), size));
    // Short limits: a loop is cut off quickly, as the interpreter's own limits would.
    hostwin::BatchLimits limits;
    limits.seconds = 0.05;
    limits.lines = 400;
    const int code = hostwin::RunBatch("C:\\PellamUpgradeDelUS.bat", ::getpid(), limits);
    FUZZ_CHECK(code == 0 || code == 1);
    return 0;
}
