#include "hostwin/text_util.h"

#include "hostwin/fault_injection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hostwin/host_file.h"
#include "hostwin/machine_error.h"

namespace hostwin {

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

std::string ToLowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string ToUpperAscii(std::string s) {
    for (char& c : s) c = FoldCase(c);
    return s;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return s.substr(b, e - b);
}

bool ReadHostFile(const std::string& path, std::string& contents) {
    // Non-blocking, so that a FIFO in place of a file never hangs the reader; only regular
    // files are read, and only up to a limit.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<unsigned long long>(st.st_size) <= kHostFileLimit;
    std::string text;
    while (ok) {
        char buffer[65536];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
        ok = text.size() <= kHostFileLimit;
    }
    ::close(fd);
    if (ok) contents.swap(text);
    return ok;
}

void WriteHostFileOrRemove(const std::string& path, const std::string& contents) {
    if (contents.empty())
        ::unlink(path.c_str());
    else
        WriteHostFileAtomically(path, contents);
}

void WriteHostFileAtomically(const std::string& path, const std::string& contents) {
    std::string temp;
    int fd = CreateTemporaryBeside(path, temp);
    size_t done = 0;
    while (done < contents.size()) {
        ssize_t n = HostWrite(fd, contents.data() + done, contents.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            throw MachineError("cannot write " + temp + ": " + std::strerror(err));
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        throw MachineError("cannot write " + temp + ": " + std::strerror(err));
    }
    if (HostRename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        throw MachineError("cannot replace " + path + ": " + std::strerror(err));
    }
}

}  // namespace hostwin
