#include "hostwin/session.h"

#include <cstdlib>

#include "hostwin/machine.h"
#include "hostwin/machine_error.h"

namespace hostwin {

namespace {

// The process's session. A plain pointer at namespace scope, not a static object: nothing is
// destroyed behind the program's back at exit, only by Session::End().
Session* current = nullptr;

}  // namespace

Session::Session() = default;

Session::~Session() {
    machine_.reset();
    for (std::unique_ptr<SessionPart>& part : parts_) part.reset();
}

Session& Session::Current() {
    if (!current) current = new Session;
    return *current;
}

void Session::End() {
    delete current;
    current = nullptr;
}

Machine& Session::CurrentMachine() {
    if (!machine_) {
        const char* folder = std::getenv("HOSTWIN_MACHINE");
        if (!folder || !*folder)
            throw MachineError(
                "HOSTWIN_MACHINE is not set: set it to the machine folder to work on "
                "(a folder holding registry.reg and the drive folders c, d, ...)");
        SetMachine(std::make_unique<Machine>(folder));
    }
    return *machine_;
}

void Session::SetMachine(std::unique_ptr<Machine> machine) {
    machine_ = std::move(machine);
    journalFile_ = machine_ ? machine_->HostPath("journal.jsonl") : std::string();
}

}  // namespace hostwin
