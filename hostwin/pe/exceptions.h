// Faults of the guest as Windows 9x handles them: the filter set with
// SetUnhandledExceptionFilter is called with EXCEPTION_POINTERS, an EXCEPTION_RECORD and an
// i386 CONTEXT on the guest stack; EXCEPTION_CONTINUE_EXECUTION (-1) resumes with the context
// as the filter left it; anything else, or no filter, ends the program with the exception code.
#ifndef HOSTWIN_PE_EXCEPTIONS_H
#define HOSTWIN_PE_EXCEPTIONS_H

#include "pe_process.h"

namespace hostwin_pe {

// Starts the filter for a fault at eip (the guest's registers as they are), or ends the process.
void RaiseInGuest(Process& p, const GuestFault& fault, uint32_t eip);

// The filter has returned to the runner with its answer in EAX.
void FilterReturned(Process& p);

// "exception 0xC000001D at 0x00401234, instruction bytes 0F 44 C1 ..." for the journal.
std::string DescribeFault(Process& p, const GuestFault& fault, uint32_t eip);

}  // namespace hostwin_pe

#endif
