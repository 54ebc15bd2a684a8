// Reading registry.reg: REGEDIT4 text as regedit on Windows 9x exports it.
//
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
// - Merging a file into a registry (hostwin import) also takes regedit's deletions:
//   [-ROOT\key] deletes a key with everything below it, "name"=- deletes a value.
//
// The parser reads the text a line at a time (a file a piece at a time, see LineReader) and
// copies what it keeps into the store's pooled blocks, so the text itself is never held whole:
// a key's name, a value's data, and a value's name once for all the values that share it (every
// device's "DeviceDesc"). Quoted texts without escapes are copied straight from the line.
// Consecutive [key] lines usually share their leading levels, so the keys of the previous
// line's levels are reused without a lookup as far as the two paths agree byte for byte.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "hostwin/machine_error.h"
#include "hostwin/line_reader.h"
#include "hostwin/registry_store.h"
#include "hostwin/text_util.h"

namespace hostwin {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses 1 to maxDigits hex digits making up all of text.
bool ParseHex(std::string_view text, size_t maxDigits, uint32_t& value) {
    if (text.empty() || text.size() > maxDigits) return false;
    value = 0;
    for (char c : text) {
        const int d = HexDigit(c);
        if (d < 0) return false;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return true;
}

bool StartsWithNoCase(const char* p, const char* end, const char* prefix) {
    for (; *prefix; ++p, ++prefix)
        if (p >= end || FoldCase(*p) != FoldCase(*prefix)) return false;
    return true;
}

}  // namespace

class RegistryParser {
public:
    RegistryParser(RegistryStore& store, LineReader& lines, const std::string& fileName,
                   bool merge)
        : store_(store), lines_(lines), file_(fileName), merge_(merge) {}

    void Run() {
        const char *b, *e;
        if (!NextLine(b, e) || std::string_view(b, static_cast<size_t>(e - b)) != "REGEDIT4")
            Fail(1, "expected the header line REGEDIT4");
        while (NextLine(b, e)) {
            if (b == e || *b == ';') continue;
            if (*b == '[')
                KeyLine(b, e);
            else if (*b == '"' || *b == '@')
                ValueLine(b, e);
            else
                Fail(line_, "expected a [key] line, a value line, a comment or a blank line");
        }
        FlushValues();
    }

private:
    [[noreturn]] void Fail(int line, const std::string& what) const {
        throw MachineError(file_ + " line " + std::to_string(line) + ": " + what);
    }

    // The next line without its line end and outer blanks as [b, e), valid until the next
    // call; false at the end.
    bool NextLine(const char*& b, const char*& e) {
        if (!lines_.Next(b, e)) return false;
        ++line_;
        if (e > b && e[-1] == '\r') --e;
        while (b < e && IsBlank(*b)) ++b;
        while (e > b && IsBlank(e[-1])) --e;
        return true;
    }

    // ---- Keys ----

    void KeyLine(const char* b, const char* e) {
        if (e - b < 2 || e[-1] != ']') Fail(line_, "a key line must end with ']'");
        FlushValues();
        if (merge_ && b[1] == '-') {
            DeletionLine(std::string_view(b + 2, static_cast<size_t>(e - b - 3)));
            return;
        }
        const std::string_view path(b + 1, static_cast<size_t>(e - b - 2));
        // Reuse the levels this path shares byte for byte with the previous key line's: a
        // level is the same when the text up to its end is and the new path has a level
        // boundary there too.
        const size_t same = CommonPrefix(path, previous_);
        size_t level = 0;
        size_t start = 0;  // where the next level's name starts in path
        bool complete = false;
        while (level < levels_.size()) {
            const size_t stop = levels_[level].end;
            if (stop > same || (stop != path.size() && path[stop] != '\\')) break;
            ++level;
            if (stop == path.size()) {
                complete = true;
                break;
            }
            start = stop + 1;
        }
        levels_.resize(level);
        RegistryKey* key = level ? levels_.back().key : nullptr;
        while (!complete) {
            size_t stop = path.find('\\', start);
            if (stop == std::string_view::npos) stop = path.size();
            const std::string_view name = path.substr(start, stop - start);
            if (!key) {
                key = store_.RootNamed(name);
                if (!key) Fail(line_, "unknown root key '" + std::string(name) + "'");
            } else {
                if (name.empty()) Fail(line_, "empty key name in '" + std::string(path) + "'");
                key = &Subkey(*key, name);
            }
            levels_.push_back(Level{stop, key});
            if (levels_.size() > kRegistryDepthLimit + 1)
                Fail(line_, "key nested deeper than " + std::to_string(kRegistryDepthLimit) +
                                " levels below its root, which Windows cannot hold");
            complete = stop == path.size();
            start = stop + 1;
        }
        previous_.assign(path.data(), path.size());
        current_ = key;
        afterDeletion_ = false;
        if (levels_.size() >= 2) PrefetchNextSibling(*levels_[levels_.size() - 2].key);
    }

    // Long lists of subkeys come one [key] line after another: the next sibling's slot in the
    // parent's index is fetched while this key's values are read, so its lookup does not wait
    // for memory. Only a guess: the next [key] line is looked for in the text at hand.
    void PrefetchNextSibling(const RegistryKey& parent) {
        if (!parent.subkeyIndex_) return;
        const std::string_view ahead = lines_.Unread().substr(0, kLookAhead);
        size_t open = 0;  // where the next line that starts with '[' starts
        if (ahead.empty() || ahead[0] != '[') {
            open = ahead.find("\n[");
            if (open == std::string_view::npos) return;
            ++open;
        }
        const std::string_view path = ahead.substr(open + 1);
        const size_t parentEnd = previous_.rfind('\\');  // levels_ has two levels, so one '\'
        if (path.size() <= parentEnd + 1 ||
            path.compare(0, parentEnd + 1, previous_, 0, parentEnd + 1) != 0)
            return;
        const size_t nameEnd = path.find_first_of("\\]\r\n", parentEnd + 1);
        if (nameEnd == std::string_view::npos || path[nameEnd] != ']') return;
        parent.subkeyIndex_->Prefetch(
            NameIndex::Hash(path.substr(parentEnd + 1, nameEnd - parentEnd - 1)));
    }

    static size_t CommonPrefix(std::string_view a, std::string_view b) {
        const size_t n = a.size() < b.size() ? a.size() : b.size();
        size_t i = 0;
        while (i < n && a[i] == b[i]) ++i;
        return i;
    }

    // The subkey of parent, created (with its name copied into the store) when missing.
    RegistryKey& Subkey(RegistryKey& parent, std::string_view name) {
        const uint32_t hash = NameIndex::Hash(name);
        const long i = parent.SubkeyPosition(name, hash);
        if (i >= 0) return *parent.subkeys_[static_cast<size_t>(i)].key;
        RegistryKey* key = store_.NewKey(store_.KeepKeyName(name), &parent);
        parent.AddSubkey(key, hash);
        store_.dirty_ = true;
        return *key;
    }

    // [-ROOT\level...]: deletes the key with everything below it; a missing key is no error.
    void DeletionLine(std::string_view path) {
        size_t end = path.find('\\');
        const std::string_view rootName = path.substr(0, end);
        RegistryKey* key = store_.RootNamed(rootName);
        if (!key) Fail(line_, "unknown root key '" + std::string(rootName) + "'");
        if (end == std::string_view::npos) Fail(line_, "a root key cannot be deleted");
        while (key && end != std::string_view::npos) {
            const size_t start = end + 1;
            end = path.find('\\', start);
            key = key->FindSubkey(
                path.substr(start, end == std::string_view::npos ? std::string_view::npos
                                                                 : end - start));
        }
        if (key) store_.DeleteKey(*key);
        current_ = nullptr;
        afterDeletion_ = true;
        levels_.clear();  // the cached levels may be among the deleted keys
        previous_.clear();
    }

    // ---- Values ----

    // The quoted text starting at *p ('"'): sets out to its bytes, which lie in the line when
    // it has no escapes and are decoded into scratch otherwise; returns the position after its
    // end quote.
    const char* QuotedText(const char* p, const char* e, std::string& scratch,
                           std::string_view& out) const {
        const char* q = p + 1;
        while (q < e && *q != '"' && *q != '\\') ++q;
        if (q < e && *q == '"') {
            out = std::string_view(p + 1, static_cast<size_t>(q - p - 1));
            return q + 1;
        }
        scratch.assign(p + 1, static_cast<size_t>(q - p - 1));
        for (p = q; p < e; ++p) {
            char c = *p;
            if (c == '"') {
                out = scratch;
                return p + 1;
            }
            if (c == '\\') {
                if (p + 1 >= e) break;
                c = *++p;
                if (c != '\\' && c != '"')
                    Fail(line_, std::string("unknown escape '\\") + c + "' in quoted text");
            }
            scratch += c;
        }
        Fail(line_, "unterminated quoted text");
    }

    void ValueLine(const char* b, const char* e) {
        if (!current_)
            Fail(line_, afterDeletion_ ? "value line after a [-key] deletion line"
                                       : "value line before any [key] line");
        std::string_view name;
        const char* p = b + 1;
        if (*b == '"') p = QuotedText(b, e, nameScratch_, name);
        while (p < e && IsBlank(*p)) ++p;
        if (p >= e || *p != '=') Fail(line_, "expected '=' after the value name");
        ++p;
        while (p < e && IsBlank(*p)) ++p;
        const std::string_view data(p, static_cast<size_t>(e - p));
        // Kept before anything else is read: a continuation line may move the line's bytes.
        name = KeptName(name);

        if (merge_ && data == "-") {
            FlushValues();
            store_.DeleteValue(*current_, name);
        } else if (!data.empty() && data[0] == '"') {
            std::string_view text;
            const char* after = QuotedText(p, e, dataScratch_, text);
            if (after != e) Fail(line_, "unexpected text after the closing quote");
            // The data are the text's bytes and one zero byte.
            char* own = store_.NewBytes(text.size() + 1);
            if (!text.empty()) std::memcpy(own, text.data(), text.size());
            own[text.size()] = '\0';
            Add(name, REG_SZ, std::string_view(own, text.size() + 1));
        } else if (StartsWithNoCase(p, e, "dword:")) {
            uint32_t v = 0;
            if (!ParseHex(data.substr(6), 8, v))
                Fail(line_, "bad dword value '" + std::string(data.substr(6)) +
                                "' (1 to 8 hex digits)");
            char* own = store_.NewBytes(4);
            for (int i = 0; i < 4; ++i) own[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
            Add(name, REG_DWORD, std::string_view(own, 4));
        } else if (StartsWithNoCase(p, e, "hex:")) {
            Add(name, REG_BINARY, HexBytes(p + 4, e));
        } else if (StartsWithNoCase(p, e, "hex(")) {
            const size_t close = data.find(')');
            uint32_t type = 0;
            if (close == std::string_view::npos || close + 1 >= data.size() ||
                data[close + 1] != ':' || !ParseHex(data.substr(4, close - 4), 8, type))
                Fail(line_, "bad value type in '" +
                                std::string(data.substr(
                                    0, close == std::string_view::npos ? data.size() : close + 1)) +
                                "' (expected hex(N): with N in hex)");
            Add(name, type, HexBytes(p + close + 2, e));
        } else {
            Fail(line_, "expected \"text\", dword:, hex: or hex(N): after '='");
        }
    }

    // The comma-separated bytes from p to e, following '\' continuation lines, copied into the
    // store.
    std::string_view HexBytes(const char* p, const char* e) {
        std::string& bytes = dataScratch_;
        bytes.clear();
        for (;;) {
            while (p < e && IsBlank(*p)) ++p;
            const bool continues = e > p && e[-1] == '\\';
            if (continues) {
                --e;
                while (e > p && IsBlank(e[-1])) --e;
            }
            while (p < e) {
                const char* item = p;
                while (p < e && *p != ',') ++p;
                const char* itemEnd = p;
                while (item < itemEnd && IsBlank(*item)) ++item;
                while (itemEnd > item && IsBlank(itemEnd[-1])) --itemEnd;
                const bool comma = p < e;
                if (comma) ++p;
                uint32_t v = 0;
                if (!ParseHex(std::string_view(item, static_cast<size_t>(itemEnd - item)), 2, v))
                    Fail(line_, "bad hex byte '" +
                                    std::string(item, static_cast<size_t>(itemEnd - item)) + "'");
                bytes += static_cast<char>(v);
                // One comma may end the list: "01,02," (nothing after it on this line).
                if (comma && p >= e) break;
            }
            if (!continues) return store_.Keep(bytes);
            if (!NextLine(p, e))
                Fail(line_, "'\\' continues the hex bytes past the end of the file");
        }
    }

    // A value name as the store keeps it: names that recur (the same few names in every key of
    // a kind) are copied once and shared.
    std::string_view KeptName(std::string_view name) {
        if (name.empty()) return std::string_view();
        const size_t slot = (name.size() * 31 + static_cast<unsigned char>(name[0]) * 7 +
                             static_cast<unsigned char>(name.back())) %
                            kKeptNames;
        if (keptNames_[slot] != name) keptNames_[slot] = store_.Keep(name);
        return keptNames_[slot];
    }

    // Values of the key selected last are gathered in pending_ and handed to the key in one
    // piece when its lines end, so that every key's list is allocated once, at its size.
    void Add(std::string_view name, DWORD type, std::string_view data) {
        if (!current_->values_.empty()) {  // a key listed twice, or with many values
            FlushValues();
            Set(*current_, RegistryValue{name, data, type});
            store_.dirty_ = true;
            return;
        }
        for (RegistryValue& v : pending_)
            if (v.name.size() == name.size() && SameNameAt(v.name, name)) {
                v.type = type;
                v.data = data;
                return;
            }
        pending_.push_back(RegistryValue{name, data, type});
        if (pending_.size() > kPendingLimit) FlushValues();
    }
    static bool SameNameAt(std::string_view a, std::string_view b) {
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
        return true;
    }

    void FlushValues() {
        if (pending_.empty()) return;
        RegistryKey& key = *current_;
        if (key.values_.empty()) {
            key.valueIndex_.reset();  // rebuilt from the new list when needed
            key.values_.Adopt(store_.NewValues(pending_.size()), pending_.data(),
                              pending_.data() + pending_.size());
        } else {
            for (const RegistryValue& v : pending_) Set(key, v);
        }
        pending_.clear();
        store_.dirty_ = true;
    }

    // Replaces the value of that name or adds it last.
    static void Set(RegistryKey& key, const RegistryValue& v) {
        const uint32_t hash = NameIndex::Hash(v.name);
        const long i = key.ValuePosition(v.name, hash);
        if (i < 0) {
            key.AddValue(v, hash);
        } else {
            key.values_[static_cast<size_t>(i)].type = v.type;
            key.values_[static_cast<size_t>(i)].data = v.data;
        }
    }

    // A key with more values than this goes on through the key's own index.
    static constexpr size_t kPendingLimit = 16;

    struct Level {
        size_t end;  // where the level's name ends in the path
        RegistryKey* key;
    };

    static constexpr size_t kKeptNames = 61;
    static constexpr size_t kLookAhead = 1024;

    RegistryStore& store_;
    LineReader& lines_;
    const std::string& file_;
    const bool merge_;
    bool afterDeletion_ = false;
    int line_ = 0;
    RegistryKey* current_ = nullptr;
    std::string previous_;  // the path of the last [key] line
    std::vector<Level> levels_;
    std::vector<RegistryValue> pending_;
    std::string nameScratch_, dataScratch_;  // decoded texts and bytes
    std::string_view keptNames_[kKeptNames];
};

void RegistryStore::ParseText(const char* text, size_t size, const std::string& fileName,
                              bool merge) {
    LineReader lines(text, size);
    RegistryParser(*this, lines, fileName, merge).Run();
}

void RegistryStore::ParseFile(MachineFileReader& file, bool merge) {
    LineReader lines(file);
    RegistryParser(*this, lines, file.Path(), merge).Run();
}

}  // namespace hostwin
