// The error of a machine folder that cannot be used.
#ifndef HOSTWIN_MACHINE_ERROR_H
#define HOSTWIN_MACHINE_ERROR_H

#include <stdexcept>

namespace hostwin {

// A machine folder that cannot be used: missing, or with a malformed registry.reg,
// machine.ini or attributes.txt. The message names the file and, where it helps, the line.
class MachineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace hostwin

#endif
