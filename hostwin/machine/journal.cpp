#include "hostwin/journal.h"

#include <unistd.h>

#include <cstdio>

#include "hostwin/host_file.h"
#include "hostwin/session.h"

namespace hostwin {

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c > 0x7E) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04X", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

JournalEvent::JournalEvent(const char* event) { line_ = "{\"event\":" + JsonQuote(event); }

void JournalEvent::Key(const char* key) {
    line_ += ',';
    line_ += JsonQuote(key);
    line_ += ':';
}

JournalEvent& JournalEvent::Text(const char* key, const std::string& value) {
    Key(key);
    line_ += JsonQuote(value);
    return *this;
}

JournalEvent& JournalEvent::Number(const char* key, long long value) {
    Key(key);
    line_ += std::to_string(value);
    return *this;
}

JournalEvent& JournalEvent::Flag(const char* key, bool value) {
    Key(key);
    line_ += value ? "true" : "false";
    return *this;
}

JournalEvent& JournalEvent::Result(bool ok, unsigned long error) {
    Flag("ok", ok);
    if (!ok) Number("error", static_cast<long long>(error));
    return *this;
}

void JournalEvent::Write() {
    const std::string& file = Session::Current().JournalFile();
    if (file.empty()) return;
    std::string text = line_ + "}\n";
    // O_APPEND keeps lines of concurrent processes (the program and its batch) whole; a link,
    // FIFO or device in the journal's place is never written to.
    int fd = OpenForAppend(file);
    if (fd < 0) return;
    ssize_t written = ::write(fd, text.data(), text.size());
    (void)written;
    ::close(fd);
}

}  // namespace hostwin
