// registry.reg: the machine's whole registry as REGEDIT4 text, the way regedit on Windows 9x
// exports it.
//
// Reading:
// - Lines end in LF or CR LF. The first line is the header REGEDIT4 (trailing blanks allowed).
//   An empty file has no header and is malformed; a missing file is an empty registry.
// - Leading and trailing blanks (spaces, tabs) of a line are ignored. Blank lines and lines
//   starting with ';' are skipped.
// - [ROOT\level\level] selects a key, creating it and any missing parent. ROOT is one of
//   HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG,
//   HKEY_DYN_DATA (case ignored); [ROOT] alone selects the root itself. Levels must not be
//   empty; everything between '[' and the last ']' is the path, so names keep their blanks.
//   A key listed twice is one key.
// - "name"=data or @=data (the default value) sets a value of the key selected last. In quoted
//   texts (names and string data) \\ stands for a backslash and \" for a quote; any other
//   escape is malformed. Blanks around '=' are allowed. A value set twice keeps the last data.
// - data is one of
//     "text"            REG_SZ, the text's bytes and one zero byte
//     dword:xxxxxxxx    REG_DWORD, 1 to 8 hex digits, stored as 4 bytes little-endian
//     hex:xx,xx,...     REG_BINARY
//     hex(N):xx,xx,...  type N (hex, up to 8 digits), e.g. hex(2) REG_EXPAND_SZ, hex(7)
//                       REG_MULTI_SZ, hex(0) REG_NONE
//   A byte is 1 or 2 hex digits; the list may be empty and may end with one comma. A line of
//   hex bytes that ends with '\' continues on the next line (its leading blanks ignored).
// - Texts are 8-bit and kept byte for byte.
// - Anything else (bad header, bad key line, unknown root, value before any key, unterminated
//   quote, bad escape, bad dword, bad hex byte, continuation at end of file, stray text) is
//   malformed: Load throws MachineError with the file name and the line number.
//
// Writing (Save, only when something changed, atomically through a temporary file):
// - CR LF line ends, like regedit: "REGEDIT4", a blank line, then every key in tree order
//   (roots in the order above, each key before its subkeys, subkeys and values in their
//   order), each as its [key] line, its value lines and a blank line. A root appears only when
//   it has values; keys without values appear too, so Load(Save(x)) gives x back.
// - A value is written as "text" only when that reads back exactly (type 1, data ending in its
//   only zero byte, no CR or LF); as dword: for type 4 with exactly 4 bytes (lower-case hex);
//   as hex: for type 3; everything else as hex(N): with N in lower-case hex. Byte lists wrap
//   like regedit's: lines up to 78 columns ending in '\', continuation lines indented by two
//   spaces.
// - Key and value names holding LF cannot be written in this format; the registry functions
//   refuse to create them.
#include "registry_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "host_file.h"
#include "hostwin.h"
#include "text_util.h"

namespace hostwin {

namespace {

// Stored roots in file order; slot 4 (HKEY_PERFORMANCE_DATA) holds no tree.
const char* const kRootNames[] = {
    "HKEY_CLASSES_ROOT",   "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS", nullptr,
    "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
constexpr uintptr_t kPredefinedBase = 0x80000000u;

// Registry handles are numbered apart from kernel handles and from the predefined roots, and
// never repeat within a process (so a handle of a closed machine can't reach a new one's key).
constexpr uintptr_t kFirstHandle = 0x20000000u;
constexpr uintptr_t kLastHandle = 0x7FFFFFF0u;
uintptr_t nextHandle = kFirstHandle;

std::string Fold(const std::string& name) { return ToUpperAscii(name); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimBlanks(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses 1 to maxDigits hex digits making up all of text.
bool ParseHex(const std::string& text, size_t maxDigits, uint32_t& value) {
    if (text.empty() || text.size() > maxDigits) return false;
    value = 0;
    for (char c : text) {
        int d = HexDigit(c);
        if (d < 0) return false;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return true;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t n = std::strlen(prefix);
    return text.size() >= n && EqualsNoCase(text.substr(0, n), prefix);
}

// ---- Reading -------------------------------------------------------------------------------

class Parser {
public:
    Parser(RegistryStore& store, const std::string& text, const std::string& fileName,
           bool merge)
        : store_(store), text_(text), file_(fileName), merge_(merge) {}

    void Run() {
        std::string line;
        if (!NextLine(line) || TrimBlanks(line) != "REGEDIT4")
            Fail(1, "expected the header line REGEDIT4");
        while (NextLine(line)) {
            std::string content = TrimBlanks(line);
            if (content.empty() || content[0] == ';') continue;
            if (content[0] == '[')
                KeyLine(content);
            else if (content[0] == '"' || content[0] == '@')
                ValueLine(content);
            else
                Fail(line_, "expected a [key] line, a value line, a comment or a blank line");
        }
    }

private:
    [[noreturn]] void Fail(int line, const std::string& what) const {
        throw MachineError(file_ + " line " + std::to_string(line) + ": " + what);
    }

    // The next line without its line end; false at the end of the text.
    bool NextLine(std::string& line) {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string::npos) end = text_.size();
        line.assign(text_, pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos_ = end + 1;
        ++line_;
        return true;
    }

    void KeyLine(const std::string& content) {
        if (content.size() < 2 || content.back() != ']')
            Fail(line_, "a key line must end with ']'");
        if (merge_ && content[1] == '-') {
            DeletionLine(content.substr(2, content.size() - 3));
            return;
        }
        const std::string path = content.substr(1, content.size() - 2);
        size_t end = path.find('\\');
        const std::string rootName = path.substr(0, end);
        RegistryKey* key = store_.RootNamed(rootName);
        if (!key) Fail(line_, "unknown root key '" + rootName + "'");
        while (end != std::string::npos) {
            size_t start = end + 1;
            end = path.find('\\', start);
            std::string level =
                path.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (level.empty()) Fail(line_, "empty key name in '" + path + "'");
            key = &store_.CreateSubkey(*key, level);
        }
        current_ = key;
        afterDeletion_ = false;
    }

    // [-ROOT\level...]: deletes the key with everything below it; a missing key is no error.
    void DeletionLine(const std::string& path) {
        size_t end = path.find('\\');
        const std::string rootName = path.substr(0, end);
        RegistryKey* key = store_.RootNamed(rootName);
        if (!key) Fail(line_, "unknown root key '" + rootName + "'");
        if (end == std::string::npos) Fail(line_, "a root key cannot be deleted");
        while (key && end != std::string::npos) {
            size_t start = end + 1;
            end = path.find('\\', start);
            key = key->FindSubkey(
                path.substr(start, end == std::string::npos ? std::string::npos : end - start));
        }
        if (key) store_.DeleteKey(*key);
        current_ = nullptr;
        afterDeletion_ = true;
    }

    // A quoted text starting at content[pos] ('"'); returns the position after its end quote.
    size_t QuotedText(const std::string& content, size_t pos, std::string& out) const {
        out.clear();
        for (++pos; pos < content.size(); ++pos) {
            char c = content[pos];
            if (c == '"') return pos + 1;
            if (c == '\\') {
                if (pos + 1 >= content.size()) break;
                char next = content[++pos];
                if (next != '\\' && next != '"')
                    Fail(line_, std::string("unknown escape '\\") + next + "' in quoted text");
                c = next;
            }
            out += c;
        }
        Fail(line_, "unterminated quoted text");
    }

    void ValueLine(const std::string& content) {
        if (!current_)
            Fail(line_, afterDeletion_ ? "value line after a [-key] deletion line"
                                       : "value line before any [key] line");
        std::string name;
        size_t pos = 1;
        if (content[0] == '"') pos = QuotedText(content, 0, name);
        while (pos < content.size() && IsBlank(content[pos])) ++pos;
        if (pos >= content.size() || content[pos] != '=')
            Fail(line_, "expected '=' after the value name");
        ++pos;
        while (pos < content.size() && IsBlank(content[pos])) ++pos;
        const std::string data = content.substr(pos);

        if (merge_ && data == "-") {
            store_.DeleteValue(*current_, name);
        } else if (!data.empty() && data[0] == '"') {
            std::string text;
            size_t after = QuotedText(data, 0, text);
            if (after != data.size()) Fail(line_, "unexpected text after the closing quote");
            text += '\0';
            store_.SetValue(*current_, name, REG_SZ, text);
        } else if (StartsWithNoCase(data, "dword:")) {
            uint32_t v = 0;
            if (!ParseHex(data.substr(6), 8, v))
                Fail(line_, "bad dword value '" + data.substr(6) + "' (1 to 8 hex digits)");
            std::string bytes(4, '\0');
            for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
            store_.SetValue(*current_, name, REG_DWORD, bytes);
        } else if (StartsWithNoCase(data, "hex:")) {
            store_.SetValue(*current_, name, REG_BINARY, HexBytes(data.substr(4)));
        } else if (StartsWithNoCase(data, "hex(")) {
            size_t close = data.find(')');
            uint32_t type = 0;
            if (close == std::string::npos || close + 1 >= data.size() || data[close + 1] != ':' ||
                !ParseHex(data.substr(4, close - 4), 8, type))
                Fail(line_,
                     "bad value type in '" +
                         data.substr(0, close == std::string::npos ? data.size() : close + 1) +
                         "' (expected hex(N): with N in hex)");
            store_.SetValue(*current_, name, type, HexBytes(data.substr(close + 2)));
        } else {
            Fail(line_, "expected \"text\", dword:, hex: or hex(N): after '='");
        }
    }

    // The comma-separated bytes of a hex: value, following '\' continuation lines.
    std::string HexBytes(std::string segment) {
        std::string bytes;
        for (;;) {
            segment = TrimBlanks(segment);
            const bool continues = !segment.empty() && segment.back() == '\\';
            if (continues) segment = TrimBlanks(segment.substr(0, segment.size() - 1));
            if (!segment.empty()) {
                size_t start = 0;
                for (;;) {
                    size_t comma = segment.find(',', start);
                    std::string item = TrimBlanks(segment.substr(
                        start, comma == std::string::npos ? std::string::npos : comma - start));
                    const bool trailingComma =
                        item.empty() && comma == std::string::npos && start > 0;
                    if (!trailingComma) {
                        uint32_t b = 0;
                        if (!ParseHex(item, 2, b)) Fail(line_, "bad hex byte '" + item + "'");
                        bytes += static_cast<char>(b);
                    }
                    if (comma == std::string::npos) break;
                    start = comma + 1;
                }
            }
            if (!continues) return bytes;
            if (!NextLine(segment))
                Fail(line_, "'\\' continues the hex bytes past the end of the file");
        }
    }

    RegistryStore& store_;
    const std::string& text_;
    const std::string& file_;
    const bool merge_;
    bool afterDeletion_ = false;
    size_t pos_ = 0;
    int line_ = 0;
    RegistryKey* current_ = nullptr;
};

// ---- Writing -------------------------------------------------------------------------------

void AppendQuoted(std::string& out, const char* text, size_t size) {
    out += '"';
    for (size_t i = 0; i < size; ++i) {
        if (text[i] == '\\' || text[i] == '"') out += '\\';
        out += text[i];
    }
    out += '"';
}

bool WritableAsText(const RegistryValue& v) {
    const std::string& d = v.data;
    return v.type == REG_SZ && !d.empty() && d.find('\0') == d.size() - 1 &&
           d.find_first_of("\r\n") == std::string::npos;
}

// wrap: break byte lists as regedit does and end the line with CR LF; else one line, no end.
void AppendValue(std::string& out, const RegistryValue& v, bool wrap = true) {
    const size_t lineStart = out.size();
    if (v.name.empty())
        out += '@';
    else
        AppendQuoted(out, v.name.data(), v.name.size());
    out += '=';
    char buffer[32];
    if (WritableAsText(v)) {
        AppendQuoted(out, v.data.data(), v.data.size() - 1);
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        uint32_t n = 0;
        for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(v.data[i]);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(n));
        out += buffer;
    } else {
        if (v.type == REG_BINARY) {
            out += "hex:";
        } else {
            std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(v.type));
            out += buffer;
        }
        // Wrap like regedit: at most 77 columns of bytes, then '\'.
        const size_t kIndent = 2, kWidth = 77;
        size_t column = out.size() - lineStart;
        for (size_t i = 0; i < v.data.size(); ++i) {
            const size_t piece = i + 1 < v.data.size() ? 3 : 2;
            if (wrap && column + piece > kWidth && column > kIndent) {
                out += "\\\r\n  ";
                column = kIndent;
            }
            std::snprintf(buffer, sizeof buffer, "%02x",
                          static_cast<unsigned>(static_cast<unsigned char>(v.data[i])));
            out += buffer;
            if (piece == 3) out += ',';
            column += piece;
        }
    }
    if (wrap) out += "\r\n";
}

}  // namespace

std::string ValueLine(const RegistryValue& value) {
    std::string line;
    AppendValue(line, value, false);
    return line;
}

// ---- RegistryKey ---------------------------------------------------------------------------

RegistryKey::RegistryKey(std::string name, RegistryKey* parent, bool isRoot)
    : name_(std::move(name)), parent_(parent), isRoot_(isRoot) {}

// Frees the subtree without recursion, so that very deep trees can't exhaust the stack.
RegistryKey::~RegistryKey() {
    std::vector<std::shared_ptr<RegistryKey>> pending = std::move(subkeys_);
    while (!pending.empty()) {
        std::shared_ptr<RegistryKey> key = std::move(pending.back());
        pending.pop_back();
        if (key.use_count() == 1) {
            for (auto& sub : key->subkeys_) pending.push_back(std::move(sub));
            key->subkeys_.clear();
            key->subkeyIndex_.clear();
        }
    }
}

std::string RegistryKey::FullName() const {
    std::vector<const RegistryKey*> chain;
    for (const RegistryKey* k = this; k; k = k->parent_) chain.push_back(k);
    std::string name;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!name.empty()) name += '\\';
        name += (*it)->name_;
    }
    return name;
}

RegistryKey* RegistryKey::FindSubkey(const std::string& name) const {
    auto it = subkeyIndex_.find(Fold(name));
    return it == subkeyIndex_.end() ? nullptr : it->second;
}

const RegistryValue* RegistryKey::FindValue(const std::string& name) const {
    auto it = valueIndex_.find(Fold(name));
    return it == valueIndex_.end() ? nullptr : it->second;
}

// ---- RegistryStore -------------------------------------------------------------------------

RegistryStore::RegistryStore() {
    for (int i = 0; i < kRootSlots; ++i)
        if (kRootNames[i])
            roots_[i] = std::shared_ptr<RegistryKey>(new RegistryKey(kRootNames[i], nullptr, true));
}

RegistryStore::~RegistryStore() = default;

std::unique_ptr<RegistryStore> RegistryStore::Load(const std::string& hostFile) {
    std::string text;
    if (!ReadMachineFile(hostFile, kRegistryFileLimit, text)) {
        auto store = std::make_unique<RegistryStore>();
        store->file_ = hostFile;
        return store;
    }
    auto store = Parse(text, hostFile);
    store->file_ = hostFile;
    return store;
}

std::unique_ptr<RegistryStore> RegistryStore::Parse(const std::string& text,
                                                    const std::string& fileName) {
    auto store = std::make_unique<RegistryStore>();
    Parser(*store, text, fileName, false).Run();
    store->dirty_ = false;
    return store;
}

void RegistryStore::Merge(const std::string& text, const std::string& fileName) {
    Parser(*this, text, fileName, true).Run();
}

void RegistryStore::Save() {
    if (!dirty_ || file_.empty()) return;
    WriteHostFileAtomically(file_, Serialize());
    dirty_ = false;
}

namespace {

// Appends key and everything below it in tree order. A root's line appears only when the root
// has values (regedit writes none for an empty root); with always, the first key's line appears
// in any case.
void AppendTree(std::string& out, const RegistryKey& top, bool always) {
    std::vector<std::pair<const RegistryKey*, std::string>> pending;
    pending.emplace_back(&top, top.FullName());
    while (!pending.empty()) {
        const RegistryKey* key = pending.back().first;
        std::string name = std::move(pending.back().second);
        pending.pop_back();
        if (!key->IsRoot() || key->ValueCount() > 0 || (always && key == &top)) {
            out += '[';
            out += name;
            out += "]\r\n";
            for (size_t i = 0; i < key->ValueCount(); ++i) AppendValue(out, key->ValueAt(i));
            out += "\r\n";
        }
        for (size_t i = key->SubkeyCount(); i-- > 0;)
            pending.emplace_back(&key->SubkeyAt(i), name + '\\' + key->SubkeyAt(i).Name());
    }
}

}  // namespace

std::string RegistryStore::Serialize() const {
    std::string out = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < kRootSlots; ++i)
        if (roots_[i]) AppendTree(out, *roots_[i], false);
    return out;
}

std::string RegistryStore::SerializeKey(const RegistryKey& key) const {
    std::string out = "REGEDIT4\r\n\r\n";
    AppendTree(out, key, true);
    return out;
}

RegistryKey* RegistryStore::Root(HKEY predefined) const {
    const uintptr_t value = reinterpret_cast<uintptr_t>(predefined);
    for (int i = 0; i < kRootSlots; ++i)
        if (value == static_cast<uintptr_t>(static_cast<intptr_t>(
                         static_cast<int32_t>(static_cast<uint32_t>(kPredefinedBase + i)))))
            return roots_[i].get();
    return nullptr;
}

RegistryKey* RegistryStore::RootNamed(const std::string& name) const {
    for (int i = 0; i < kRootSlots; ++i)
        if (kRootNames[i] && EqualsNoCase(name, kRootNames[i])) return roots_[i].get();
    return nullptr;
}

RegistryKey& RegistryStore::CreateSubkey(RegistryKey& parent, const std::string& name,
                                         bool* created) {
    std::string folded = Fold(name);
    auto it = parent.subkeyIndex_.find(folded);
    if (created) *created = it == parent.subkeyIndex_.end();
    if (it != parent.subkeyIndex_.end()) return *it->second;
    std::shared_ptr<RegistryKey> key(new RegistryKey(name, &parent, false));
    parent.subkeys_.push_back(key);
    parent.subkeyIndex_.emplace(std::move(folded), key.get());
    dirty_ = true;
    return *key;
}

void RegistryStore::SetValue(RegistryKey& key, const std::string& name, DWORD type,
                             const std::string& data) {
    std::string folded = Fold(name);
    auto it = key.valueIndex_.find(folded);
    if (it != key.valueIndex_.end()) {
        RegistryValue& v = *it->second;
        if (v.type == type && v.data == data) return;
        v.type = type;
        v.data = data;
    } else {
        auto v = std::make_unique<RegistryValue>();
        v->name = name;
        v->type = type;
        v->data = data;
        key.valueIndex_.emplace(std::move(folded), v.get());
        key.values_.push_back(std::move(v));
    }
    dirty_ = true;
}

bool RegistryStore::DeleteValue(RegistryKey& key, const std::string& name) {
    auto it = key.valueIndex_.find(Fold(name));
    if (it == key.valueIndex_.end()) return false;
    const RegistryValue* value = it->second;
    key.valueIndex_.erase(it);
    for (auto v = key.values_.begin(); v != key.values_.end(); ++v)
        if (v->get() == value) {
            key.values_.erase(v);
            break;
        }
    dirty_ = true;
    return true;
}

void RegistryStore::DeleteKey(RegistryKey& key) {
    RegistryKey* parent = key.parent_;
    if (key.isRoot_ || !parent) return;
    std::vector<std::shared_ptr<RegistryKey>> pending;
    for (auto it = parent->subkeys_.begin(); it != parent->subkeys_.end(); ++it)
        if (it->get() == &key) {
            pending.push_back(std::move(*it));
            parent->subkeys_.erase(it);
            break;
        }
    parent->subkeyIndex_.erase(Fold(key.name_));
    // Mark the whole subtree and take it apart; keys that handles still hold stay alive,
    // empty and deleted.
    while (!pending.empty()) {
        std::shared_ptr<RegistryKey> k = std::move(pending.back());
        pending.pop_back();
        k->deleted_ = true;
        k->parent_ = nullptr;
        for (auto& sub : k->subkeys_) pending.push_back(std::move(sub));
        k->subkeys_.clear();
        k->subkeyIndex_.clear();
        k->values_.clear();
        k->valueIndex_.clear();
    }
    dirty_ = true;
}

HKEY RegistryStore::OpenHandle(RegistryKey& key) {
    uintptr_t value;
    do {
        value = nextHandle;
        nextHandle = nextHandle >= kLastHandle ? kFirstHandle : nextHandle + 4;
    } while (handles_.count(value));
    handles_.emplace(value, key.shared_from_this());
    return reinterpret_cast<HKEY>(value);
}

RegistryKey* RegistryStore::KeyOfHandle(HKEY handle) const {
    if (RegistryKey* root = Root(handle)) return root;
    auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    return it == handles_.end() ? nullptr : it->second.get();
}

bool RegistryStore::CloseHandle(HKEY handle) {
    return handles_.erase(reinterpret_cast<uintptr_t>(handle)) > 0;
}

}  // namespace hostwin
