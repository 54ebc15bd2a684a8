// The processor the program runs on (see CpuModel): its CPUID and the instructions it lacks.
#ifndef HOSTWIN_PE_CPU_MODEL_H
#define HOSTWIN_PE_CPU_MODEL_H

#include "pe_process.h"

namespace hostwin_pe {

// Hooks the engine so the loaded program sees the processor of p.options.cpu.
void InstallCpuModel(Process& p);

}  // namespace hostwin_pe

#endif
