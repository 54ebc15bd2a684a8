// journal.jsonl: one JSON object per line for every event a person or a test wants to see.
#ifndef HOSTWIN_JOURNAL_H
#define HOSTWIN_JOURNAL_H

#include <string>

namespace hostwin {

// Builds one journal line; Write() appends it to the journal.jsonl of the session's machine.
//   JournalEvent("file-delete").Text("path", p).Flag("ok", ok).Write();
// Texts are 8-bit; bytes above 0x7F and control bytes are written as \u00XX escapes.
class JournalEvent {
public:
    explicit JournalEvent(const char* event);
    JournalEvent& Text(const char* key, const std::string& value);
    JournalEvent& Number(const char* key, long long value);
    JournalEvent& Flag(const char* key, bool value);
    // The Win32 error code of a failed change, as "error":N; nothing on success.
    JournalEvent& Result(bool ok, unsigned long error);
    void Write();
    const std::string& Line() const { return line_; }

private:
    void Key(const char* key);
    std::string line_;
};

// JSON string literal for an 8-bit text.
std::string JsonQuote(const std::string& text);

}  // namespace hostwin

#endif
