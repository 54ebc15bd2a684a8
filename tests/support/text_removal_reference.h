// The reference for RemoveTextFromFile: the removal loop step by step, on a copy of the content
// followed by zero bytes (as the mapped view behind the content reads). Cut the leftmost
// occurrence, search again from the start, stop at the first zero byte.
#ifndef TEST_SUPPORT_TEXT_REMOVAL_REFERENCE_H
#define TEST_SUPPORT_TEXT_REMOVAL_REFERENCE_H

#include <cstring>
#include <string>

inline std::string RemoveByRescanning(const std::string& content, const std::string& text) {
    std::string view = content + std::string(text.size() + 1, '\0');
    size_t size = content.size();
    for (const char* found; size > 0 && (found = std::strstr(view.c_str(), text.c_str()));) {
        const size_t at = static_cast<size_t>(found - view.c_str());
        std::memmove(&view[at], &view[at + text.size()], size - at - text.size());
        std::memset(&view[size - text.size()], 0, text.size());
        size -= text.size();
    }
    return view.substr(0, size);
}

#endif
