// What the runner needs of hostwin beyond the Win32 functions: the machine, Windows paths and
// the journal. hostwin_bridge.cpp is the one file that reaches hostwin's internals for these.
#ifndef HOSTWIN_PE_HOSTWIN_BRIDGE_H
#define HOSTWIN_PE_HOSTWIN_BRIDGE_H

#include <cstdint>
#include <string>

namespace hostwin_pe {

// Opens the machine that HOSTWIN_MACHINE names; throws hostwin::MachineError.
void OpenRunMachine();

// The host file of a program given as a host path or as a Windows path on the machine
// (C:\WINDOWS\UNPELLAM.EXE); false with the Win32 error when there is no such file.
bool ProgramHostFile(const std::string& word, std::string& host, uint32_t& error);

// Journal lines of the run, in the host build's form where it has one.
void JournalStart(const std::string& program, const std::string& commandLine);
void JournalExit(const std::string& program, uint32_t code);
void JournalFault(const std::string& program, uint32_t code, const std::string& detail);
void JournalHostError(const std::string& program, const std::string& message);
void JournalRefused(const std::string& file, uint32_t error, const std::string& reason);

void CloseRunMachine();

}  // namespace hostwin_pe

#endif
