// A machine folder for fuzz targets that run the Win32 layer: made once in a fresh temporary
// folder, opened, and removed when the fuzzer exits.
#ifndef FUZZ_FUZZ_MACHINE_H
#define FUZZ_FUZZ_MACHINE_H

#include <string>

// The open machine's folder; the first call makes it (with c/WINDOWS) and opens it.
const std::string& FuzzMachineRoot();

// Writes a file of the machine folder (relative host path), creating its folders.
void WriteFuzzFile(const std::string& relative, const std::string& contents);
// The contents of a file of the machine folder; "" when it cannot be read.
std::string ReadFuzzFile(const std::string& relative);

#endif
