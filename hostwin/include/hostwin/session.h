// The session: everything one program process holds of hostwin, owned by one object.
//
// A process has one session. It is made when the process first needs it (the start of a
// program, of "hostwin run" or of a test) and ended by Session::End(), which destroys its parts
// in one stated order:
//   the machine (registry and attributes, written back by whoever closes it first), the kernel
//   handle table, the open files and their share locks, the descriptor that walks start from,
//   the file mappings, the running programs, the folder lock, the short names.
// The folder lock outlives everything that may write the folder back, and the short names
// everything that may resolve a path. Parts of the layer above the engine (the handle table,
// the mappings, the program's identity) are kept as SessionPart objects in their slots, so the
// engine knows nothing of their types.
#ifndef HOSTWIN_SESSION_H
#define HOSTWIN_SESSION_H

#include <array>
#include <memory>
#include <string>

namespace hostwin {

class Machine;

// A piece of process state kept by the session.
class SessionPart {
public:
    virtual ~SessionPart() = default;
};

class Session {
public:
    // The slots of the session's parts, in the order in which End() destroys them after the
    // machine.
    enum Slot {
        kHandles,          // the kernel handle table
        kOpenFiles,        // open files of the machine and their share locks
        kFolderWalk,       // the descriptor of the machine folder that every walk starts from
        kMappings,         // file mappings and their views
        kRunningPrograms,  // the programs this process knows to be running
        kFolderLock,       // the lock on the machine folder, with its nesting depth
        kShortNames,       // the short-name aliases of the open machine
        kProgram,          // the running program's identity and command line
        kFaultPlan,        // the injected fault of HOSTWIN_FAULT, read once
        kSlotCount
    };

    // The process's session, made on first use.
    static Session& Current();
    // Destroys the process's session, its parts in the stated order (the machine is not written
    // back: CloseMachine does that). A later Current() makes a new one.
    static void End();

    // The open machine. When none is open yet, opens the folder that HOSTWIN_MACHINE names;
    // throws MachineError when that is unset or unusable.
    Machine& CurrentMachine();
    // The open machine, or null; never opens one.
    Machine* MachineIfOpen() const { return machine_.get(); }
    // Replaces the open machine (null closes it without writing back).
    void SetMachine(std::unique_ptr<Machine> machine);
    // The journal.jsonl of the open machine; empty while none is open (nothing is journaled).
    const std::string& JournalFile() const { return journalFile_; }

    // The part in a slot, made on first use.
    template <class T>
    T& Part(Slot slot) {
        std::unique_ptr<SessionPart>& part = parts_[slot];
        if (!part) part = std::make_unique<T>();
        return static_cast<T&>(*part);
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

private:
    Session();
    ~Session();

    std::unique_ptr<Machine> machine_;
    std::string journalFile_;
    std::array<std::unique_ptr<SessionPart>, kSlotCount> parts_;
};

}  // namespace hostwin

#endif
