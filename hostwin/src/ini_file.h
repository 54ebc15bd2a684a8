// A small reader for the INI text of machine.ini: [sections], key=value lines and bare lines.
#ifndef HOSTWIN_INI_FILE_H
#define HOSTWIN_INI_FILE_H

#include <string>
#include <vector>

namespace hostwin {

struct IniEntry {
    std::string key;    // text before '=', trimmed; the whole trimmed line when there is no '='
    std::string value;  // text after '=', trimmed
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

// Parses INI text. Blank lines and lines starting with ';' or '#' are skipped. Throws
// MachineError naming fileLabel and the line for text outside a section or an unclosed '['.
IniFile ParseIni(const std::string& text, const std::string& fileLabel);

}  // namespace hostwin

#endif
