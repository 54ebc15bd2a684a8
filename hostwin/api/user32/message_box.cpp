// MessageBoxA (user32): a box is printed to standard error as one block and answered from
// HOSTWIN_ANSWERS (a comma-separated list consumed in order), then from the terminal when
// standard input is one, else as the Escape key would answer it, so that an unattended run
// never confirms anything by itself.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "hostwin.h"
#include "hostwin/journal.h"
#include "hostwin/machine.h"
#include "hostwin/text_util.h"

using namespace hostwin;

namespace {

struct Button {
    const char* word;
    const char* label;
    int id;
};
const Button kOk{"ok", "OK", IDOK}, kCancel{"cancel", "Cancel", IDCANCEL},
    kAbort{"abort", "Abort", IDABORT}, kRetry{"retry", "Retry", IDRETRY},
    kIgnore{"ignore", "Ignore", IDIGNORE}, kYes{"yes", "Yes", IDYES}, kNo{"no", "No", IDNO};

// The buttons of each kind of box, and the one that Escape (or closing the box) chooses.
const struct {
    UINT type;
    Button buttons[3];
    int count;
    int escape;
} kBoxes[] = {
    {MB_OK, {kOk}, 1, 0},
    {MB_OKCANCEL, {kOk, kCancel}, 2, 1},
    {MB_ABORTRETRYIGNORE, {kAbort, kRetry, kIgnore}, 3, 0},
    {MB_YESNOCANCEL, {kYes, kNo, kCancel}, 3, 2},
    {MB_YESNO, {kYes, kNo}, 2, 1},
    {MB_RETRYCANCEL, {kRetry, kCancel}, 2, 1},
};

bool ButtonsOf(UINT type, std::vector<Button>& buttons, Button& escape) {
    for (const auto& box : kBoxes) {
        if (box.type != (type & MB_TYPEMASK)) continue;
        buttons.clear();
        for (int i = 0; i < box.count; ++i) buttons.push_back(box.buttons[i]);
        escape = box.buttons[box.escape];
        return true;
    }
    return false;
}

std::string ButtonList(const std::vector<Button>& buttons) {
    std::string list;
    for (const Button& b : buttons) list += (list.empty() ? "" : ", ") + std::string(b.word);
    return list;
}

// The next word of HOSTWIN_ANSWERS, or false when the list is used up.
bool NextScriptedAnswer(std::string& word) {
    size_t& consumed = Machine::Current().answersConsumed;
    const char* env = std::getenv("HOSTWIN_ANSWERS");
    if (!env || !*env) return false;
    std::vector<std::string> words;
    std::string all = env;
    size_t pos = 0;
    while (pos <= all.size()) {
        size_t comma = all.find(',', pos);
        if (comma == std::string::npos) comma = all.size();
        words.push_back(ToLowerAscii(Trim(all.substr(pos, comma - pos))));
        pos = comma + 1;
    }
    if (consumed >= words.size()) return false;
    word = words[consumed++];
    return true;
}

const Button* FindButton(const std::vector<Button>& buttons, const std::string& word) {
    for (const Button& b : buttons)
        if (word == b.word) return &b;
    return nullptr;
}

void PrintBox(LPCSTR caption, LPCSTR text, UINT type, const std::vector<Button>& buttons) {
    std::string block = "+--- MessageBox: ";
    block += caption;
    block += " ---\n";
    std::string body = text;
    size_t pos = 0;
    while (pos <= body.size()) {
        size_t nl = body.find('\n', pos);
        if (nl == std::string::npos) nl = body.size();
        block += "| " + body.substr(pos, nl - pos) + "\n";
        pos = nl + 1;
    }
    char style[32];
    std::snprintf(style, sizeof style, "0x%X", type);
    block += "| buttons: ";
    for (const Button& b : buttons) block += std::string("[") + b.label + "] ";
    block += "(style " + std::string(style) + ")\n";
    std::fputs(block.c_str(), stderr);
}

}  // namespace

extern "C" int WINAPI MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    std::vector<Button> buttons;
    Button escape{};
    if (!ButtonsOf(uType, buttons, escape)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* caption = lpCaption ? lpCaption : "Error";
    const char* text = lpText ? lpText : "";
    // Everything the program changed so far reaches the folder before the box waits.
    SyncMachine();
    PrintBox(caption, text, uType, buttons);

    const Button* answer = nullptr;
    std::string source;
    std::string word;
    if (NextScriptedAnswer(word)) {
        answer = FindButton(buttons, word);
        if (!answer)
            throw MachineError("HOSTWIN_ANSWERS: '" + word + "' is not a button of the box '" +
                               caption + "' (" + ButtonList(buttons) + ")");
        source = "HOSTWIN_ANSWERS";
    } else if (::isatty(STDIN_FILENO)) {
        while (!answer) {
            std::fprintf(stderr, "| answer (%s): ", ButtonList(buttons).c_str());
            std::fflush(stderr);
            if (!std::getline(std::cin, word)) break;
            answer = FindButton(buttons, ToLowerAscii(Trim(word)));
        }
        source = "terminal";
    }
    if (!answer) {
        answer = &escape;
        source = "no answer given: Escape";
    }
    std::fprintf(stderr, "| answer: %s (%s)\n+---\n", answer->label, source.c_str());

    JournalEvent("msgbox")
        .Text("caption", caption)
        .Text("text", text)
        .Number("style", static_cast<long long>(uType))
        .Text("answer", answer->word)
        .Write();
    return answer->id;
}
