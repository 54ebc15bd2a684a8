// Importing a Windows 9x registry of 100,000 keys: reading SYSTEM.DAT through libcreg into the
// registry store, and the whole import of a system drive holding it, next to loading the same
// registry from a machine folder's registry.reg.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "creg_writer.h"
#include "hive_reader.h"
#include "import_windows.h"
#include "hostwin/registry_store.h"

namespace {

constexpr int kKeys = 100000;

// 100 vendor keys of 1,000 device keys each, every device key with two values, under the
// Windows version key the importer needs.
struct LargeRegistry {
    std::string folder;
    std::string hive;
    std::string registryReg;

    LargeRegistry() {
        folder = "/tmp/hive_import_benchmark_" + std::to_string(::getpid());
        std::system(("rm -rf " + folder + " && mkdir -p " + folder + "/drive/WINDOWS").c_str());
        test_support::CregKey root;
        root.name = "ROOT";
        root.Add("Software").Add("Microsoft").Add("Windows").Add("CurrentVersion")
            .Text("VersionNumber", "4.10.2222");
        test_support::CregKey& enumKey = root.Add("Enum");
        int made = 5;
        for (int v = 0; made < kKeys; ++v) {
            test_support::CregKey& vendor = enumKey.Add("VEN_" + std::to_string(1000 + v));
            ++made;
            for (int d = 0; d < 999 && made < kKeys; ++d, ++made)
                vendor.Add("DEV_" + std::to_string(d))
                    .Text("DeviceDesc", "Device " + std::to_string(d))
                    .Dword("ConfigFlags", static_cast<uint32_t>(d));
        }
        hive = folder + "/drive/WINDOWS/SYSTEM.DAT";
        test_support::WriteHostFile(hive, test_support::WriteCreg(root));
        test_support::WriteHostFile(folder + "/drive/MSDOS.SYS", "[Paths]\r\nWinDir=C:\\WINDOWS\r\n");
        hostwin::RegistryStore store;
        hostwin_import::ReadHive(hive, "SYSTEM.DAT", store, *store.Root(HKEY_LOCAL_MACHINE));
        registryReg = folder + "/registry.reg";
        test_support::WriteHostFile(registryReg, store.Serialize());
    }
    ~LargeRegistry() { std::system(("rm -rf " + folder).c_str()); }
};

LargeRegistry& Registry() {
    static LargeRegistry registry;
    return registry;
}

void BM_ReadHive100kKeys(benchmark::State& state) {
    const LargeRegistry& r = Registry();
    for (auto _ : state) {
        hostwin::RegistryStore store;
        benchmark::DoNotOptimize(hostwin_import::ReadHive(r.hive, "SYSTEM.DAT", store,
                                                          *store.Root(HKEY_LOCAL_MACHINE)));
    }
}
BENCHMARK(BM_ReadHive100kKeys)->Unit(benchmark::kMillisecond);

void BM_ImportWindowsFolder100kKeys(benchmark::State& state) {
    const LargeRegistry& r = Registry();
    hostwin_import::ImportOptions options;
    options.source = r.folder + "/drive";
    options.machineFolder = r.folder + "/machine";
    for (auto _ : state) {
        state.PauseTiming();
        std::system(("rm -rf " + options.machineFolder).c_str());
        state.ResumeTiming();
        benchmark::DoNotOptimize(hostwin_import::ImportWindows(options));
    }
}
BENCHMARK(BM_ImportWindowsFolder100kKeys)->Unit(benchmark::kMillisecond);

void BM_LoadRegistryReg100kKeys(benchmark::State& state) {
    const LargeRegistry& r = Registry();
    for (auto _ : state) benchmark::DoNotOptimize(hostwin::RegistryStore::Load(r.registryReg));
}
BENCHMARK(BM_LoadRegistryReg100kKeys)->Unit(benchmark::kMillisecond);

}  // namespace
