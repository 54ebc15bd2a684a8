// File names from a source drive as Windows 9x names: converted to the machine's ANSI code page
// and checked against what a Windows file name may be.
#ifndef HOSTWIN_IMPORT_WINDOWS_NAMES_H
#define HOSTWIN_IMPORT_WINDOWS_NAMES_H

#include <string>

namespace hostwin_import {

// Converts names to the ANSI bytes of one Windows code page (e.g. 1252).
class AnsiNames {
public:
    explicit AnsiNames(int codePage);
    ~AnsiNames();
    AnsiNames(const AnsiNames&) = delete;
    AnsiNames& operator=(const AnsiNames&) = delete;

    int CodePage() const { return codePage_; }
    // A name in UTF-8 (mtools' listing, most host folders) becomes its ANSI bytes; a name that
    // is not valid UTF-8 is taken as ANSI bytes already. False when a character has no place
    // in the code page.
    bool ToAnsi(const std::string& name, std::string& ansi) const;

private:
    int codePage_;
    void* converter_;  // iconv_t
};

// Why name cannot be a Windows file or folder name ("" when it can): empty, "." or "..",
// control bytes, \ / : * ? " < > |, a trailing dot or blank, a device name (CON, NUL, COM1,
// ...), longer than 255 bytes.
std::string WindowsNameProblem(const std::string& name);

// ASCII letters in upper case, as Windows compares names.
std::string Upper(std::string s);

}  // namespace hostwin_import

#endif
