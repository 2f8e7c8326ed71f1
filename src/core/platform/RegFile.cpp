#include "core/platform/RegFile.h"

#include <algorithm>
#include <cstdio>

namespace morvane::platform {

// ---- tree ----------------------------------------------------------------------------------

bool namesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

std::vector<std::string_view> splitKeyPath(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string joinKeyPath(const std::vector<std::string_view>& parts, std::size_t first,
                        std::size_t last) {
    std::string out;
    for (std::size_t i = first; i < last && i < parts.size(); ++i) {
        if (!out.empty()) out.push_back('\\');
        out.append(parts[i]);
    }
    return out;
}

std::size_t RegistryTree::FoldedHash::operator()(std::string_view name) const {
    std::size_t h = 14695981039346656037ull;
    for (unsigned char c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 32);
        h = (h ^ c) * 1099511628211ull;
    }
    return h;
}

bool RegistryTree::FoldedEqual::operator()(std::string_view a, std::string_view b) const {
    return namesEqual(a, b);
}

namespace {

const std::string& nameOf(const RegistryTree& k) {
    return k.name;
}
const std::string& nameOf(const std::pair<std::string, RegValue>& v) {
    return v.first;
}

// The position of the first entry named like name, or npos. The index catches up with entries
// appended since the last lookup, and is rebuilt when entries went away or one it points to no
// longer carries the name.
template <class Entry>
std::size_t findIn(RegistryTree::NameIndex& ix, const std::vector<Entry>& entries,
                   std::string_view name) {
    if (ix.covered > entries.size()) {
        ix.positions.clear();
        ix.covered = 0;
    }
    for (; ix.covered < entries.size(); ++ix.covered)
        ix.positions.emplace(nameOf(entries[ix.covered]), ix.covered);
    auto it = ix.positions.find(name);
    if (it == ix.positions.end()) return std::string::npos;
    if (it->second < entries.size() && namesEqual(nameOf(entries[it->second]), name))
        return it->second;
    ix.positions.clear();
    ix.covered = 0;
    return findIn(ix, entries, name);
}

template <class Entry>
void eraseFrom(RegistryTree::NameIndex& ix, std::vector<Entry>& entries, std::size_t at) {
    // Removing the last entry moves nothing; otherwise the positions after it are stale.
    if (at + 1 == entries.size() && ix.covered == entries.size()) {
        auto it = ix.positions.find(std::string_view(nameOf(entries[at])));
        if (it != ix.positions.end() && it->second == at) ix.positions.erase(it);
        --ix.covered;
    } else {
        ix.positions.clear();
        ix.covered = 0;
    }
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(at));
}

} // namespace

RegistryTree* RegistryTree::child(std::string_view childName) {
    std::size_t at = findIn(subkeyIndex.get(), subkeys, childName);
    return at == std::string::npos ? nullptr : &subkeys[at];
}

RegistryTree& RegistryTree::childOrCreate(std::string_view childName) {
    if (auto* k = child(childName)) return *k;
    subkeys.push_back(RegistryTree{std::string(childName), {}, {}, {}, {}});
    return subkeys.back();
}

bool RegistryTree::removeChild(std::string_view childName) {
    std::size_t at = findIn(subkeyIndex.get(), subkeys, childName);
    if (at == std::string::npos) return false;
    eraseFrom(subkeyIndex.get(), subkeys, at);
    return true;
}

RegistryTree* RegistryTree::find(std::string_view path) {
    RegistryTree* k = this;
    for (auto part : splitKeyPath(path)) {
        k = k->child(part);
        if (!k) return nullptr;
    }
    return k;
}

RegistryTree& RegistryTree::findOrCreate(std::string_view path) {
    RegistryTree* k = this;
    for (auto part : splitKeyPath(path))
        k = &k->childOrCreate(part);
    return *k;
}

const RegValue* RegistryTree::value(std::string_view valueName) const {
    std::size_t at = findIn(valueIndex.get(), values, valueName);
    return at == std::string::npos ? nullptr : &values[at].second;
}

void RegistryTree::setValue(std::string_view valueName, const RegValue& v) {
    std::size_t at = findIn(valueIndex.get(), values, valueName);
    if (at != std::string::npos)
        values[at].second = v;
    else
        values.emplace_back(std::string(valueName), v);
}

bool RegistryTree::removeValue(std::string_view valueName) {
    std::size_t at = findIn(valueIndex.get(), values, valueName);
    if (at == std::string::npos) return false;
    eraseFrom(valueIndex.get(), values, at);
    return true;
}

void RegistryTree::merge(const RegistryTree& other) {
    for (auto& [n, v] : other.values)
        setValue(n, v);
    for (auto& k : other.subkeys)
        childOrCreate(k.name).merge(k);
}

// ---- text encodings ------------------------------------------------------------------------

namespace {

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp >= 0xDC80 && cp <= 0xDCFF) { // an escaped stray byte
        out.push_back(static_cast<char>(cp - 0xDC00));
    } else if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when it is not valid UTF-8.
std::size_t utf8Sequence(std::string_view s, std::size_t i, std::uint32_t& cp) {
    unsigned char c = s[i];
    std::size_t n;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        n = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        unsigned char d = s[i + k];
        if ((d & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (d & 0x3F);
    }
    static const std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

bool isValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        std::uint32_t cp;
        std::size_t n = utf8Sequence(s, i, cp);
        if (!n) return false;
        i += n;
    }
    return true;
}

std::string utf8ToUtf16le(std::string_view s) {
    std::string out;
    auto unit = [&](std::uint32_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    for (std::size_t i = 0; i < s.size();) {
        std::uint32_t cp;
        std::size_t n = utf8Sequence(s, i, cp);
        if (!n) {
            cp = 0xDC00 + static_cast<unsigned char>(s[i]);
            n = 1;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 + (cp >> 10));
            unit(0xDC00 + (cp & 0x3FF));
        } else {
            unit(cp);
        }
        i += n;
    }
    return out;
}

std::string utf16leToUtf8(std::string_view s) {
    std::string out;
    std::size_t units = s.size() / 2;
    auto at = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(s[2 * i]) |
                                          (static_cast<unsigned char>(s[2 * i + 1]) << 8));
    };
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t u = at(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && at(i + 1) >= 0xDC00 &&
            at(i + 1) <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (at(i + 1) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF && !(u >= 0xDC80 && u <= 0xDCFF)) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

std::string cp1252ToUtf8(std::string_view s) {
    static const std::uint16_t high[32] = {
        // The five bytes the code page leaves unassigned become the control characters of the
        // same number, as the system's conversion does, so they survive a round trip.
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else if (c < 0xA0)
            appendUtf8(out, high[c - 0x80]);
        else
            appendUtf8(out, c);
    }
    return out;
}

// ---- parsing -------------------------------------------------------------------------------

struct Parser {
    std::string text; // UTF-8
    bool ansi = false;
    std::size_t pos = 0;
    int lineNo = 0;
    std::string error;

    bool fail(int line, const std::string& what) {
        error = "line " + std::to_string(line) + ": " + what;
        return false;
    }

    bool nextLine(std::string_view& line) {
        if (pos >= text.size()) return false;
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        line = std::string_view(text).substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = end + 1;
        ++lineNo;
        return true;
    }

    // A quoted string starting at s[i] == '"'; returns the index after the closing quote.
    static std::size_t quoted(std::string_view s, std::size_t i, std::string& out) {
        out.clear();
        for (++i; i < s.size(); ++i) {
            char c = s[i];
            if (c == '"') return i + 1;
            if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
                out.push_back(s[++i]);
                continue;
            }
            out.push_back(c);
        }
        return std::string_view::npos;
    }

    static bool hexBytes(std::string_view s, std::string& out) {
        out.clear();
        std::size_t i = 0;
        auto skipBlank = [&] {
            while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
                ++i;
        };
        skipBlank();
        if (i == s.size()) return true;
        for (;;) {
            skipBlank();
            int v = 0, digits = 0;
            while (i < s.size() && digits < 3) {
                char c = s[i];
                int d = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
                if (d < 0) break;
                v = v * 16 + d;
                ++digits;
                ++i;
            }
            if (digits == 0 || digits > 2) return false;
            out.push_back(static_cast<char>(v));
            skipBlank();
            if (i == s.size()) return true;
            if (s[i] != ',') return false;
            ++i;
            skipBlank();
            if (i == s.size()) return true; // a trailing comma is harmless
        }
    }

    std::string decodeText(std::string_view bytes) const {
        return ansi ? cp1252ToUtf8(bytes) : utf16leToUtf8(bytes);
    }

    bool parseValue(std::string_view valueText, int line, std::optional<RegValue>& out) {
        if (valueText == "-") {
            out.reset();
            return true;
        }
        if (!valueText.empty() && valueText[0] == '"') {
            std::string s;
            std::size_t end = quoted(valueText, 0, s);
            if (end == std::string_view::npos) return fail(line, "unterminated string");
            for (std::size_t k = end; k < valueText.size(); ++k)
                if (valueText[k] != ' ' && valueText[k] != '\t')
                    return fail(line, "text after a string");
            out = RegValue::string(std::move(s));
            return true;
        }
        auto lower = [](std::string_view s) {
            std::string r(s);
            for (auto& c : r)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return r;
        };
        std::size_t colon = valueText.find(':');
        if (colon == std::string_view::npos) return fail(line, "value without a type");
        std::string type = lower(valueText.substr(0, colon));
        std::string_view data = valueText.substr(colon + 1);
        while (!data.empty() && (data.back() == ' ' || data.back() == '\t'))
            data.remove_suffix(1);
        if (type == "dword") {
            if (data.empty() || data.size() > 8) return fail(line, "bad dword value");
            std::uint32_t v = 0;
            for (char c : data) {
                int d = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
                if (d < 0) return fail(line, "bad dword value");
                v = v * 16 + static_cast<std::uint32_t>(d);
            }
            out = RegValue::dword(v);
            return true;
        }
        std::uint32_t kind;
        if (type == "hex") {
            kind = regBinary;
        } else if (type.size() > 5 && type.compare(0, 4, "hex(") == 0 && type.back() == ')') {
            std::string num = type.substr(4, type.size() - 5);
            if (num.empty() || num.size() > 8) return fail(line, "bad value type");
            kind = 0;
            for (char c : num) {
                int d = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                 : -1;
                if (d < 0) return fail(line, "bad value type");
                kind = kind * 16 + static_cast<std::uint32_t>(d);
            }
        } else {
            return fail(line, "unknown value type \"" + type + "\"");
        }
        std::string bytes;
        if (!hexBytes(data, bytes)) return fail(line, "bad hexadecimal data");
        if (kind == regSz || kind == regExpandSz || kind == regMultiSz) {
            std::string text = decodeText(bytes);
            if (kind != regMultiSz && !text.empty() && text.back() == '\0') text.pop_back();
            out = RegValue{kind, std::move(text)};
        } else {
            out = RegValue{kind, std::move(bytes)};
        }
        return true;
    }

    bool parse(std::vector<RegBlock>& blocks) {
        std::string_view line;
        // The header may follow blank lines.
        for (;;) {
            if (!nextLine(line)) return fail(lineNo, "empty file");
            if (!line.empty()) break;
        }
        if (line == "REGEDIT4")
            ansi = true;
        else if (line != "Windows Registry Editor Version 5.00")
            return fail(lineNo, "not a registry file (unknown header)");

        RegBlock* current = nullptr;
        while (nextLine(line)) {
            int start = lineNo;
            std::string_view l = line;
            std::size_t k = l.find_first_not_of(" \t");
            if (k == std::string_view::npos || l[k] == ';') continue;
            l.remove_prefix(k);
            if (l[0] == '[') {
                std::size_t close = l.rfind(']');
                if (close == std::string_view::npos) return fail(start, "key without \"]\"");
                for (std::size_t j = close + 1; j < l.size(); ++j)
                    if (l[j] != ' ' && l[j] != '\t') return fail(start, "text after a key");
                std::string_view name = l.substr(1, close - 1);
                RegBlock b;
                b.line = start;
                if (!name.empty() && name[0] == '-') {
                    b.removeKey = true;
                    name.remove_prefix(1);
                }
                if (splitKeyPath(name).empty()) return fail(start, "empty key name");
                b.fullPath = ansi ? cp1252ToUtf8(name) : std::string(name);
                blocks.push_back(std::move(b));
                current = &blocks.back();
                continue;
            }
            if (!current) return fail(start, "value outside of a key");
            std::string name;
            std::size_t after;
            if (l[0] == '@') {
                after = 1;
            } else if (l[0] == '"') {
                after = quoted(l, 0, name);
                if (after == std::string_view::npos) return fail(start, "unterminated value name");
                if (ansi) name = cp1252ToUtf8(name);
            } else {
                return fail(start, "unexpected text");
            }
            while (after < l.size() && (l[after] == ' ' || l[after] == '\t'))
                ++after;
            if (after >= l.size() || l[after] != '=') return fail(start, "missing \"=\"");
            std::string_view rest = l.substr(after + 1);
            std::size_t s0 = rest.find_first_not_of(" \t");
            std::string valueText(s0 == std::string_view::npos ? std::string_view()
                                                               : rest.substr(s0));
            // Hexadecimal data goes on over the next lines after a final backslash.
            bool hex = valueText.size() >= 3 && (valueText[0] == 'h' || valueText[0] == 'H') &&
                       (valueText[1] == 'e' || valueText[1] == 'E') &&
                       (valueText[2] == 'x' || valueText[2] == 'X');
            while (hex && !valueText.empty() && valueText.back() == '\\') {
                valueText.pop_back();
                std::string_view more;
                if (!nextLine(more)) break;
                std::size_t m = more.find_first_not_of(" \t");
                if (m != std::string_view::npos) valueText.append(more.substr(m));
            }
            std::optional<RegValue> v;
            if (!parseValue(valueText, start, v)) return false;
            if (v && v->isString() && ansi && valueText[0] == '"') v->data = cp1252ToUtf8(v->data);
            current->values.emplace_back(std::move(name), std::move(v));
        }
        return true;
    }
};

// ---- writing -------------------------------------------------------------------------------

bool writableAsQuoted(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return false;
    return isValidUtf8(s);
}

void appendQuoted(std::string& out, std::string_view s) {
    out.push_back('"');
    for (char c : s) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

void appendHex(std::string& out, std::string_view prefix, std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    out.append(prefix);
    std::size_t column = out.size() - out.rfind('\n') - 1;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        unsigned char b = bytes[i];
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
        column += 2;
        if (i + 1 < bytes.size()) {
            out.push_back(',');
            ++column;
            if (column > 76) { // regedit's line width
                out.append("\\\n  ");
                column = 2;
            }
        }
    }
}

void appendValue(std::string& out, const std::string& name, const RegValue& v) {
    if (name.empty())
        out.push_back('@');
    else
        appendQuoted(out, name); // a name with a line break would not read back; none is written
    out.push_back('=');
    if (v.type == regSz && writableAsQuoted(v.data)) {
        appendQuoted(out, v.data);
    } else if (v.type == regDword && v.data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", *v.asDword());
        out.append(buf);
    } else if (v.type == regSz || v.type == regExpandSz || v.type == regMultiSz) {
        std::string units = utf8ToUtf16le(v.data);
        if (v.type != regMultiSz) units.append(2, '\0');
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", v.type);
        appendHex(out, prefix, units);
    } else if (v.type == regBinary) {
        appendHex(out, "hex:", v.data);
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", v.type);
        appendHex(out, prefix, v.data);
    }
    out.push_back('\n');
}

void appendKey(std::string& out, const std::string& path, const RegistryTree& key, bool isRoot) {
    // Keys that only lead to others need no block of their own: reading a subkey creates them.
    if (!key.values.empty() || (!isRoot && key.subkeys.empty())) {
        out.append("[").append(path).append("]\n");
        for (auto& [n, v] : key.values)
            appendValue(out, n, v);
        out.push_back('\n');
    }
    for (auto& k : key.subkeys)
        appendKey(out, path + "\\" + k.name, k, false);
}

} // namespace

int applyRegBlock(RegistryTree& hiveRoot, const RegBlock& block) {
    auto parts = splitKeyPath(block.fullPath);
    if (block.removeKey) {
        if (parts.size() <= 1)
            hiveRoot = RegistryTree{};
        else if (auto* parent = hiveRoot.find(joinKeyPath(parts, 1, parts.size() - 1)))
            parent->removeChild(parts.back());
        return 0;
    }
    RegistryTree& key = hiveRoot.findOrCreate(joinKeyPath(parts, 1, parts.size()));
    for (auto& [name, value] : block.values) {
        if (value)
            key.setValue(name, *value);
        else
            key.removeValue(name);
    }
    return static_cast<int>(block.values.size());
}

RegParseResult parseRegText(std::string_view bytes) {
    Parser p;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        p.text = utf16leToUtf8(bytes.substr(2));
    } else {
        if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
        p.text = std::string(bytes);
    }
    RegParseResult r;
    r.ok = p.parse(r.blocks);
    r.error = p.error;
    if (!r.ok) r.blocks.clear();
    return r;
}

std::string serializeRegTree(std::string_view rootName, const RegistryTree& root) {
    std::string out = "Windows Registry Editor Version 5.00\n\n";
    appendKey(out, std::string(rootName), root, true);
    return out;
}

} // namespace morvane::platform
