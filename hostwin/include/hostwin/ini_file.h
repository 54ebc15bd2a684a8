// A strict reader for the INI text of machine.ini: [sections], key=value lines and bare lines,
// with ';' comments.
#ifndef HOSTWIN_INI_FILE_H
#define HOSTWIN_INI_FILE_H

#include <string>
#include <vector>

namespace hostwin {

struct IniEntry {
    std::string key;    // text before '=', trimmed; the whole text when there is no '='
    std::string value;  // text after '=', trimmed
    std::string text;   // the whole line without its comment, trimmed
    bool hasValue = false;
    int line = 0;
};

struct IniSection {
    std::string name;
    int line = 0;
    std::vector<IniEntry> entries;
};

struct IniFile {
    std::vector<IniSection> sections;
    // The section of that name (case-insensitive), or null.
    const IniSection* find(const std::string& name) const;
};

// Parses INI text:
//   - blank lines, and lines whose first non-blank character is ';' or '#', are skipped;
//   - a blank (space or tab) followed by ';' starts a comment that runs to the line's end, so
//     "windir=C:\WINDOWS   ; the Windows directory" has the value C:\WINDOWS;
//   - "[name]" opens a section; only a comment may follow the ']';
//   - other lines are "key=value" or bare text, inside a section.
// Throws MachineError naming fileLabel and the line for text outside a section, a header
// without ']' or with text after it, an empty key or section name, a control character, and a
// section (ASCII case ignored) that appears twice, naming both lines.
IniFile ParseIni(const std::string& text, const std::string& fileLabel);

// Throws MachineError naming both lines when a key appears twice in the section (ASCII case
// ignored), for sections of key=value settings.
void RequireUniqueKeys(const IniSection& section, const std::string& fileLabel);

}  // namespace hostwin

#endif
