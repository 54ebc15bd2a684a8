// RemoveTextFromFile on a 64 MiB system.ini, with the device line 1,000,000 times among other
// lines and without it, next to the time of copying the same file once.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver_cleaner.h"
#include "scratch_machine.h"

namespace {

const char kLine[] = "device=motvcd.vxd\r\n";
const size_t kFileSize = 64u << 20;
const int kLineCount = 1000000;

// Lines of a busy system.ini, some of them close to the device line.
const char* const kOtherLines[] = {
    "[386Enh]\r\n",
    "device=*vmm\r\n",
    "keyboard=*vkd\r\n",
    "device=vdmad.vxd\r\n",
    "ebios=*ebios\r\n",
    "device=motvcd.386\r\n",
    "woafont=dosapp.fon\r\n",
    "display=*vdd,*vflatd\r\n",
    "mouse=*vmouse, msmouse.vxd\r\n",
    "DEVICE=MOTVCD.VXD\r\n",
};

// kFileSize bytes of other lines, with the device line at every kFileSize / kLineCount bytes
// when withLine is set.
std::string BuildIni(bool withLine) {
    const size_t otherCount = sizeof kOtherLines / sizeof kOtherLines[0];
    std::string content;
    content.reserve(kFileSize + 64);
    size_t next = 0;
    auto addOther = [&] {
        content += kOtherLines[next];
        next = (next + 1) % otherCount;
    };
    if (withLine) {
        const size_t block = kFileSize / kLineCount;
        for (size_t i = 1; i <= static_cast<size_t>(kLineCount); ++i) {
            content += kLine;
            while (content.size() + 10 < i * block) addOther();
        }
    }
    while (content.size() < kFileSize) addOther();
    content.resize(kFileSize);
    return content;
}

void WriteHostFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

void RemoveText(benchmark::State& state, bool withLine) {
    const std::string content = BuildIni(withLine);
    ScratchMachine machine;
    CDriverCleaner cleaner;
    const std::string path = machine.Path("c/WINDOWS/SYSTEM.INI");
    for (auto _ : state) {
        state.PauseTiming();
        WriteHostFile(path, content);
        state.ResumeTiming();
        cleaner.RemoveTextFromFile("C:\\WINDOWS\\SYSTEM.INI", kLine);
    }
    const auto left = std::filesystem::file_size(path);
    state.counters["removed_bytes"] = static_cast<double>(content.size() - left);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(content.size()));
}

void BM_RemoveTextFromFile_WithLine(benchmark::State& state) { RemoveText(state, true); }
void BM_RemoveTextFromFile_WithoutLine(benchmark::State& state) { RemoveText(state, false); }

// The yardsticks: copying the same file once, by the library and by a read/write loop.
void CopyFile(benchmark::State& state, bool byLoop) {
    const std::string content = BuildIni(true);
    ScratchMachine machine;
    const std::string from = machine.Path("c/from.ini");
    const std::string to = machine.Path("c/to.ini");
    WriteHostFile(from, content);
    std::vector<char> buffer(1 << 16);
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(to);
        state.ResumeTiming();
        if (byLoop) {
            std::FILE* in = std::fopen(from.c_str(), "rb");
            std::FILE* out = std::fopen(to.c_str(), "wb");
            size_t got;
            while (in && out && (got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
                std::fwrite(buffer.data(), 1, got, out);
            if (in) std::fclose(in);
            if (out) std::fclose(out);
        } else {
            std::filesystem::copy_file(from, to);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(content.size()));
}

void BM_CopyFile_Library(benchmark::State& state) { CopyFile(state, false); }
void BM_CopyFile_ReadWrite(benchmark::State& state) { CopyFile(state, true); }

BENCHMARK(BM_RemoveTextFromFile_WithLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveTextFromFile_WithoutLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyFile_Library)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyFile_ReadWrite)->Unit(benchmark::kMillisecond);

}  // namespace
