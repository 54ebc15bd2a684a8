#include "hostwin_bridge.h"

#include "hostwin.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "hostwin/session.h"
#include "hostwin/win_path.h"

namespace hostwin_pe {

void OpenRunMachine() { hostwin::Machine::Current(); }

bool ProgramHostFile(const std::string& word, std::string& host, uint32_t& error) {
    const bool windowsPath = word.size() >= 3 && word[1] == ':' && (word[2] == '\\' || word[2] == '/');
    if (!windowsPath) {
        host = word;
        return true;
    }
    hostwin::ResolvedPath resolved;
    error = hostwin::ResolvePath(hostwin::Machine::Current(), word.c_str(), resolved);
    if (error == 0 && (!resolved.exists || resolved.isDirectory))
        error = resolved.isDirectory ? 5 : resolved.parentExists ? 2 : 3;
    host = resolved.host;
    return error == 0;
}

void JournalStart(const std::string& program, const std::string& commandLine) {
    hostwin::JournalEvent("start").Text("program", program).Text("cmdline", commandLine).Write();
}

void JournalExit(const std::string& program, uint32_t code) {
    hostwin::JournalEvent("exit")
        .Text("program", program)
        .Number("code", static_cast<int32_t>(code))
        .Write();
}

void JournalFault(const std::string& program, uint32_t code, const std::string& detail) {
    hostwin::JournalEvent("program-fault")
        .Text("program", program)
        .Number("code", code)
        .Text("message", detail)
        .Write();
}

void JournalHostError(const std::string& program, const std::string& message) {
    if (hostwin::Machine::IfOpen())
        hostwin::JournalEvent("fault").Text("program", program).Text("message", message).Write();
}

void JournalRefused(const std::string& file, uint32_t error, const std::string& reason) {
    hostwin::JournalEvent("program-refused")
        .Text("file", file)
        .Text("message", reason)
        .Result(false, error)
        .Write();
}

void CloseRunMachine() {
    if (hostwin::Machine::IfOpen()) hostwin::CloseMachine();
    hostwin::Session::End();
}

}  // namespace hostwin_pe
