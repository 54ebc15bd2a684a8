#include "ini_file.h"

#include "hostwin.h"
#include "text_util.h"

namespace hostwin {

const IniSection* IniFile::find(const std::string& name) const {
    for (const IniSection& s : sections)
        if (EqualsNoCase(s.name, name)) return &s;
    return nullptr;
}

IniFile ParseIni(const std::string& text, const std::string& fileLabel) {
    IniFile ini;
    int lineNo = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNo;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            if (close == std::string::npos)
                throw MachineError(fileLabel + " line " + std::to_string(lineNo) +
                                   ": section header without ']'");
            ini.sections.push_back(IniSection{Trim(line.substr(1, close - 1)), lineNo, {}});
            continue;
        }
        if (ini.sections.empty())
            throw MachineError(fileLabel + " line " + std::to_string(lineNo) +
                               ": a line outside any [section]");
        IniEntry entry;
        entry.line = lineNo;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            entry.key = line;
        } else {
            entry.key = Trim(line.substr(0, eq));
            entry.value = Trim(line.substr(eq + 1));
            entry.hasValue = true;
        }
        ini.sections.back().entries.push_back(entry);
    }
    return ini;
}

}  // namespace hostwin
