#include "windows_names.h"

#include <iconv.h>

#include <cstring>
#include <vector>

namespace hostwin_import {

namespace {

bool IsValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = s[i];
        size_t follow = 0;
        if (c < 0x80) follow = 0;
        else if (c >= 0xC2 && c <= 0xDF) follow = 1;
        else if (c >= 0xE0 && c <= 0xEF) follow = 2;
        else if (c >= 0xF0 && c <= 0xF4) follow = 3;
        else return false;
        if (s.size() - i - 1 < follow) return false;
        for (size_t k = 1; k <= follow; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += follow + 1;
    }
    return true;
}

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

bool EqualsUpper(const std::string& a, const char* upper) {
    if (a.size() != std::strlen(upper)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char c = a[i];
        if (c >= 'a' && c <= 'z') c -= 0x20;
        if (c != static_cast<unsigned char>(upper[i])) return false;
    }
    return true;
}

}  // namespace

AnsiNames::AnsiNames(int codePage) : codePage_(codePage) {
    const std::string target = "CP" + std::to_string(codePage);
    iconv_t cd = ::iconv_open(target.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        codePage_ = 1252;
        cd = ::iconv_open("CP1252", "UTF-8");
    }
    converter_ = cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd;
}

AnsiNames::~AnsiNames() {
    if (converter_) ::iconv_close(static_cast<iconv_t>(converter_));
}

bool AnsiNames::ToAnsi(const std::string& name, std::string& ansi) const {
    if (IsAscii(name) || !IsValidUtf8(name)) {
        ansi = name;
        return true;
    }
    if (!converter_) return false;
    iconv_t cd = static_cast<iconv_t>(converter_);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string in = name;
    std::vector<char> out(name.size() + 8);
    char* inPtr = &in[0];
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    if (::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
        return false;
    ansi.assign(out.data(), out.size() - outLeft);
    return true;
}

std::string WindowsNameProblem(const std::string& name) {
    if (name.empty()) return "an empty name";
    if (name == "." || name == "..") return "a name that points to another folder";
    if (name.size() > 255) return "a name longer than 255 characters";
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) return "a control character in the name";
        if (std::strchr("\\/:*?\"<>|", c)) return "a character Windows does not allow in names";
    }
    if (name.back() == '.' || name.back() == ' ') return "a name ending in a dot or blank";
    // Device names stand for devices in every folder, with or without an extension.
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$"};
    for (const char* d : kDevices)
        if (EqualsUpper(base, d)) return "a device name";
    if (base.size() == 4 && (EqualsUpper(base.substr(0, 3), "COM") || EqualsUpper(base.substr(0, 3), "LPT")) &&
        base[3] >= '1' && base[3] <= '9')
        return "a device name";
    return "";
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    return s;
}

}  // namespace hostwin_import
