#include "hostwin/ini_file.h"

#include <unordered_map>

#include "hostwin/machine_error.h"
#include "hostwin/text_util.h"

namespace hostwin {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The line without a trailing comment (a blank followed by ';').
std::string WithoutComment(const std::string& line) {
    for (size_t i = 1; i < line.size(); ++i)
        if (line[i] == ';' && IsBlank(line[i - 1])) return line.substr(0, i);
    return line;
}

}  // namespace

const IniSection* IniFile::find(const std::string& name) const {
    for (const IniSection& s : sections)
        if (EqualsNoCase(s.name, name)) return &s;
    return nullptr;
}

IniFile ParseIni(const std::string& text, const std::string& fileLabel) {
    IniFile ini;
    ForEachLine(text, [&](int lineNo, const std::string& raw) {
        const std::string where = fileLabel + " line " + std::to_string(lineNo) + ": ";
        for (unsigned char c : raw)
            if ((c < 0x20 && c != '\t') || c == 0x7F)
                throw MachineError(where + "a control character in the line");
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') return;
        line = Trim(WithoutComment(line));
        if (line[0] == '[') {
            size_t close = line.find(']');
            if (close == std::string::npos)
                throw MachineError(where + "section header without ']'");
            if (close + 1 != line.size())
                throw MachineError(where + "text after the section header");
            std::string name = Trim(line.substr(1, close - 1));
            if (name.empty()) throw MachineError(where + "a section without a name");
            if (const IniSection* first = ini.find(name))
                throw MachineError(where + "section [" + name + "] appears twice, in line " +
                                   std::to_string(first->line) + " and line " +
                                   std::to_string(lineNo));
            ini.sections.push_back(IniSection{name, lineNo, {}});
            return;
        }
        if (ini.sections.empty()) throw MachineError(where + "a line outside any [section]");
        IniEntry entry;
        entry.line = lineNo;
        entry.text = line;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            entry.key = line;
        } else {
            entry.key = Trim(line.substr(0, eq));
            entry.value = Trim(line.substr(eq + 1));
            entry.hasValue = true;
            if (entry.key.empty()) throw MachineError(where + "a setting without a name before '='");
        }
        ini.sections.back().entries.push_back(entry);
    });
    return ini;
}

void RequireUniqueKeys(const IniSection& section, const std::string& fileLabel) {
    std::unordered_map<std::string, int> lines;  // by upper-cased key
    for (const IniEntry& e : section.entries) {
        auto first = lines.emplace(ToUpperAscii(e.key), e.line);
        if (!first.second)
            throw MachineError(fileLabel + " line " + std::to_string(e.line) + ": '" + e.key +
                               "' appears twice in [" + section.name + "], in line " +
                               std::to_string(first.first->second) + " and line " +
                               std::to_string(e.line));
    }
}

}  // namespace hostwin
