// Writing registry.reg (Save, only when something changed, atomically through a temporary
// file) in regedit's layout:
// - CR LF line ends: "REGEDIT4", a blank line, then every key in tree order (roots in the
//   order HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
//   HKEY_CURRENT_CONFIG, HKEY_DYN_DATA; each key before its subkeys, subkeys and values in
//   their order), each as its [key] line, its value lines and a blank line. A root appears only
//   when it has values; keys without values appear too, so Load(Save(x)) gives x back.
// - A value is written as "text" only when that reads back exactly (type 1, data ending in its
//   only zero byte, no CR or LF); as dword: for type 4 with exactly 4 bytes (lower-case hex);
//   as hex: for type 3; everything else as hex(N): with N in lower-case hex. Byte lists wrap
//   like regedit's: lines up to 78 columns ending in '\', continuation lines indented by two
//   spaces.
// - Key and value names holding LF cannot be written in this format; the registry functions
//   refuse to create them.
//
// The text goes out through a buffer of a few megabytes straight to the file, so saving needs
// no second copy of the registry in memory.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostwin/fault_injection.h"
#include "hostwin/folder_lock.h"
#include "hostwin/host_file.h"
#include "hostwin/machine_error.h"
#include "hostwin/registry_store.h"

#include "hostwin/folder_lock.h"

namespace hostwin {

namespace {

const char kHexDigits[] = "0123456789abcdef";

// Collects text, and when it writes to a file, passes it on whenever the buffer is full.
class TextSink {
public:
    explicit TextSink(int fd = -1) : fd_(fd) {
        if (fd_ >= 0) text_.reserve(kFlushAt + 4096);
    }
    void Put(const char* p, size_t n) {
        if (n == 0) return;
        if (fd_ >= 0 && text_.size() + n > kFlushAt) Flush();
        text_.append(p, n);
    }
    void Put(std::string_view s) { Put(s.data(), s.size()); }
    void Put(char c) {
        if (fd_ >= 0 && text_.size() >= kFlushAt) Flush();
        text_ += c;
    }
    void Flush() {
        size_t done = 0;
        while (done < text_.size()) {
            const ssize_t n = HostWrite(fd_, text_.data() + done, text_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw std::runtime_error(std::strerror(n < 0 ? errno : ENOSPC));
            done += static_cast<size_t>(n);
        }
        text_.clear();
    }
    std::string& Text() { return text_; }

private:
    static constexpr size_t kFlushAt = 4u << 20;
    int fd_;
    std::string text_;
};

// "text" with \ and " escaped.
void PutQuoted(TextSink& out, std::string_view text) {
    out.Put('"');
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' && text[i] != '"') continue;
        out.Put(text.data() + run, i - run);
        out.Put('\\');
        run = i;
    }
    out.Put(text.data() + run, text.size() - run);
    out.Put('"');
}

bool WritableAsText(const RegistryValue& v) {
    const std::string_view d = v.data;
    if (v.type != REG_SZ || d.empty() || d.back() != '\0') return false;
    const size_t n = d.size() - 1;
    return !std::memchr(d.data(), '\0', n) && !std::memchr(d.data(), '\n', n) &&
           !std::memchr(d.data(), '\r', n);
}

// wrap: break byte lists as regedit does and end the line with CR LF; else one line, no end.
void PutValue(TextSink& out, const RegistryValue& v, bool wrap) {
    size_t column;
    if (v.name.empty()) {
        out.Put('@');
        column = 1;
    } else {
        PutQuoted(out, v.name);
        column = v.name.size() + 2;
        for (char c : v.name) column += c == '\\' || c == '"';
    }
    out.Put('=');
    ++column;
    char buffer[32];
    if (WritableAsText(v)) {
        PutQuoted(out, v.data.substr(0, v.data.size() - 1));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        std::memcpy(buffer, "dword:", 6);
        for (int i = 0; i < 4; ++i) {
            const auto b = static_cast<unsigned char>(v.data[3 - i]);
            buffer[6 + 2 * i] = kHexDigits[b >> 4];
            buffer[7 + 2 * i] = kHexDigits[b & 15];
        }
        out.Put(buffer, 14);
    } else {
        int n = v.type == REG_BINARY
                    ? std::snprintf(buffer, sizeof buffer, "hex:")
                    : std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(v.type));
        out.Put(buffer, static_cast<size_t>(n));
        column += static_cast<size_t>(n);
        // Wrap like regedit: at most 77 columns of bytes, then '\'.
        const size_t kIndent = 2, kWidth = 77;
        for (size_t i = 0; i < v.data.size(); ++i) {
            const size_t piece = i + 1 < v.data.size() ? 3 : 2;
            if (wrap && column + piece > kWidth && column > kIndent) {
                out.Put("\\\r\n  ", 5);
                column = kIndent;
            }
            const auto b = static_cast<unsigned char>(v.data[i]);
            const char digits[3] = {kHexDigits[b >> 4], kHexDigits[b & 15], ','};
            out.Put(digits, piece);
            column += piece;
        }
    }
    if (wrap) out.Put("\r\n", 2);
}

// Writes top and everything below it in tree order, depth first without recursion. A root's
// line appears only when the root has values; with always, top's line appears in any case.
void PutTree(TextSink& out, const RegistryKey& top, bool always) {
    struct Frame {
        const RegistryKey* key;
        size_t pathSize;
        size_t next;  // the next subkey to write
    };
    std::string path = top.FullName();
    auto putKey = [&](const RegistryKey& key) {
        if (key.IsRoot() && key.ValueCount() == 0 && !(always && &key == &top)) return;
        out.Put('[');
        out.Put(path);
        out.Put("]\r\n", 3);
        for (size_t i = 0; i < key.ValueCount(); ++i) PutValue(out, key.ValueAt(i), true);
        out.Put("\r\n", 2);
    };
    putKey(top);
    std::vector<Frame> stack{{&top, path.size(), 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.key->SubkeyCount()) {
            stack.pop_back();
            continue;
        }
        const RegistryKey& child = frame.key->SubkeyAt(frame.next++);
        path.resize(frame.pathSize);
        path += '\\';
        path.append(child.Name().data(), child.Name().size());
        putKey(child);
        stack.push_back(Frame{&child, path.size(), 0});
    }
}

const char* const kRootOrder[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                  "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                                  "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};

void PutRegistry(TextSink& out, const RegistryStore& store) {
    out.Put("REGEDIT4\r\n\r\n", 12);
    for (const char* root : kRootOrder) PutTree(out, *store.RootNamed(root), false);
}

// Replaces path with what produce writes to a temporary file beside it: written, flushed to
// disk, then renamed over the old file, so that a crash leaves the old file or the new one,
// never a mix. The temporary file is removed when anything fails.
void ReplaceFileAtomically(const std::string& path, const std::function<void(int fd)>& produce) {
    std::string temp;
    const int fd = CreateTemporaryBeside(path, temp);
    try {
        produce(fd);
        if (::fsync(fd) != 0) throw std::runtime_error(std::strerror(errno));
    } catch (const std::exception& e) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw MachineError("cannot write " + temp + ": " + e.what());
    }
    if (::close(fd) != 0 || HostRename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw MachineError("cannot replace " + path + ": " + std::strerror(err));
    }
}

}  // namespace

std::string ValueLine(const RegistryValue& value) {
    TextSink out;
    PutValue(out, value, false);
    return std::move(out.Text());
}

std::string RegistryStore::Serialize() const {
    TextSink out;
    PutRegistry(out, *this);
    return std::move(out.Text());
}

std::string RegistryStore::SerializeKey(const RegistryKey& key) const {
    TextSink out;
    out.Put("REGEDIT4\r\n\r\n", 12);
    PutTree(out, key, true);
    return std::move(out.Text());
}

void RegistryStore::Save() {
    if (file_.empty()) return;
    if (!shared_) {
        if (dirty_) WriteFile();
        return;
    }
    FolderLock lock(FolderLock::FolderOf(file_));
    if (FileStamp(file_) != fileStamp_) Reload();
    if (dirty_) WriteFile();
    changes_.clear();
}

void RegistryStore::WriteFile() {
    ReplaceFileAtomically(file_, [this](int fd) {
        TextSink out(fd);
        PutRegistry(out, *this);
        out.Flush();
    });
    dirty_ = false;
    fileStamp_ = FileStamp(file_);
}

}  // namespace hostwin
