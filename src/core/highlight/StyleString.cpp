// The style string kept in the settings store: "Corvix6:" followed by keyed entries
// (format versions 5 to 9), or the older positional form (versions 1 to 4).
#include "core/highlight/SM_Settings.h"

#include "core/editor/CodeMemoError.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace morvane::highlight {

using editor::ECodeMemo;

namespace {

[[noreturn]] void invalid() {
    throw ECodeMemo("Invalid data in style string");
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Decimal integer of a keyed value; the whole value must be a number.
std::int32_t toInt(std::string_view v) {
    std::size_t i = 0;
    bool neg = false;
    if (i < v.size() && (v[i] == '-' || v[i] == '+')) neg = v[i++] == '-';
    if (i >= v.size()) invalid();
    std::int64_t n = 0;
    for (; i < v.size(); ++i) {
        if (!isDigit(v[i])) invalid();
        n = n * 10 + (v[i] - '0');
        if (n > 0xFFFFFFFFLL) invalid();
    }
    return std::int32_t(std::uint32_t(neg ? -n : n));
}

struct Cursor {
    std::string_view s;
    std::size_t i = 0;
    bool atEnd() const { return i >= s.size(); }
    // An optional signed decimal number; missing gives def.
    std::int64_t number(std::int64_t def) {
        std::size_t start = i;
        bool neg = false;
        if (i < s.size() && s[i] == '-') {
            neg = true;
            ++i;
        }
        if (i >= s.size() || !isDigit(s[i])) {
            i = start;
            return def;
        }
        std::int64_t n = 0;
        while (i < s.size() && isDigit(s[i])) {
            n = std::min<std::int64_t>(n * 10 + (s[i] - '0'), 0xFFFFFFFFLL);
            ++i;
        }
        return neg ? -n : n;
    }
    void skip(char c) {
        if (i < s.size() && s[i] == c) ++i;
    }
    std::string chars(std::int64_t n) {
        n = std::clamp<std::int64_t>(n, 0, std::int64_t(s.size() - i));
        std::string r(s.substr(i, std::size_t(n)));
        i += std::size_t(n);
        return r;
    }
};

const std::array<const char*, 24> kKeys{"OPT", "GWD", "GCL", "WRC", "IDS", "WRO", "FON", "FOS",
                                        "STC", "STB", "TBC", "TBD", "EFF", "GDF", "MDF", "SDF",
                                        "BDF", "FOC", "RMG", "LNN", "LNS", "LNC", "LNT", "LNE"};

void readEffects(Cursor& c, std::array<StyleEffect, 256>& effects) {
    std::int64_t count = c.number(0);
    c.skip(',');
    for (std::int64_t k = 0; k < count && !c.atEnd(); ++k) {
        std::int64_t style = c.number(255);
        if (style < 0 || style > 255) invalid();
        c.skip(',');
        std::int64_t fg = c.number(0);
        c.skip(',');
        std::int64_t bg = c.number(16777215);
        c.skip(',');
        StyleEffect& e = effects[std::size_t(style)];
        e.fontStyle = 0;
        e.foregroundDefault = e.backgroundDefault = 0;
        e.foreground = std::int32_t(std::uint32_t(fg));
        e.background = std::int32_t(std::uint32_t(bg));
        while (!c.atEnd() && c.s[c.i] != ';') {
            switch (c.s[c.i++]) {
            case 'b':
            case 'B':
                e.fontStyle |= fsBoldBit;
                break;
            case 'i':
            case 'I':
                e.fontStyle |= fsItalicBit;
                break;
            case 'u':
            case 'U':
                e.fontStyle |= fsUnderlineBit;
                break;
            case 'x':
            case 'X':
                e.backgroundDefault = 1;
                break;
            case 'y':
            case 'Y':
                e.foregroundDefault = 1;
                break;
            default:
                break;
            }
        }
        c.skip(';');
        e.inUse = 1;
    }
}

std::string effectsText(const std::array<StyleEffect, 256>& effects) {
    int used = 0;
    for (const auto& e : effects)
        used += e.inUse ? 1 : 0;
    std::string t = std::to_string(std::min(used, 255));
    if (used > 0) t += ',';
    for (int s = 0; s < 256; ++s) {
        const auto& e = effects[std::size_t(s)];
        if (!e.inUse) continue;
        t += std::to_string(s) + ',' + std::to_string(e.foreground) + ',' +
             std::to_string(e.background) + ',';
        if (e.backgroundDefault) t += 'X';
        if (e.foregroundDefault) t += 'Y';
        if (e.fontStyle & fsBoldBit) t += 'B';
        if (e.fontStyle & fsItalicBit) t += 'I';
        if (e.fontStyle & fsUnderlineBit) t += 'U';
        t += ';';
    }
    return t;
}

} // namespace

std::string TSM_Settings::styleString() const {
    auto flag = [](std::uint8_t f) { return std::string(f ? "1" : "0"); };
    std::string lne;
    if (gutterFont_.style & fsItalicBit) lne += 'I';
    if (gutterFont_.style & fsBoldBit) lne += 'B';
    if (gutterFont_.style & fsUnderlineBit) lne += 'U';
    if (gutterFont_.style & fsStrikeBit) lne += 'S';
    const std::array<std::string, 24> values{std::to_string(options),
                                             std::to_string(gutterWidth),
                                             std::to_string(gutterColor),
                                             std::to_string(wordWrapColumn),
                                             std::to_string(indentStep),
                                             wrapOverride,
                                             fontName,
                                             std::to_string(fontSize),
                                             std::to_string(selTextColor),
                                             std::to_string(selTextBack),
                                             tabColumnsText(),
                                             std::to_string(defaultTab),
                                             effectsText(effects),
                                             flag(gutterColorDefault),
                                             flag(marginColorDefault),
                                             flag(selTextColorDefault),
                                             flag(selTextBackDefault),
                                             std::to_string(fontCharset),
                                             std::to_string(rightMargin),
                                             gutterFont_.name,
                                             std::to_string(gutterFont_.size),
                                             std::to_string(gutterFont_.color),
                                             std::to_string(gutterFont_.charset),
                                             lne};
    std::string s = "Corvix6:";
    for (std::size_t k = 0; k < kKeys.size(); ++k)
        s += std::string(kKeys[k]) + '#' + std::to_string(values[k].size()) + '#' + values[k];
    return s + "#END#";
}

void TSM_Settings::applyStyleString(std::string_view text) {
    if (text.size() < 7 || text.substr(0, 6) != "Corvix" || text[6] < '1' || text[6] > '9')
        invalid();
    const int version = text[6] - '0';
    if (version >= 5) {
        std::size_t i = 8;
        while (i < text.size()) {
            std::string key;
            while (i < text.size() && key.size() < 4 &&
                   (std::isalnum(static_cast<unsigned char>(text[i]))))
                key += text[i++];
            if (i >= text.size() || text[i] != '#') break;
            ++i;
            std::size_t len = 0;
            bool digits = false;
            while (i < text.size() && isDigit(text[i]) && len < text.size()) {
                len = len * 10 + std::size_t(text[i++] - '0');
                digits = true;
            }
            if (!digits || i >= text.size() || text[i] != '#') break;
            ++i;
            if (len > text.size() - i) break;
            std::string_view v = text.substr(i, len);
            i += len;
            if (key == "END") break;
            auto k =
                std::find_if(kKeys.begin(), kKeys.end(), [&](const char* x) { return key == x; });
            if (k == kKeys.end()) break;
            switch (k - kKeys.begin()) {
            case 0:
                options = toInt(v);
                break;
            case 1:
                gutterWidth = toInt(v);
                break;
            case 2:
                gutterColor = toInt(v);
                break;
            case 3:
                wordWrapColumn = toInt(v);
                break;
            case 4:
                indentStep = toInt(v);
                break;
            case 5:
                wrapOverride = std::string(v);
                break;
            case 6:
                fontName = std::string(v);
                break;
            case 7:
                fontSize = toInt(v);
                break;
            case 8:
                selTextColor = toInt(v);
                break;
            case 9:
                selTextBack = toInt(v);
                break;
            case 10:
                tabColumns = parseTabColumns(v);
                break;
            case 11:
                defaultTab = toInt(v);
                break;
            case 12: {
                try {
                    Cursor c{v};
                    readEffects(c, effects);
                } catch (...) {
                    resetEffects();
                    throw;
                }
                break;
            }
            case 13:
                gutterColorDefault = v == "1";
                break;
            case 14:
                marginColorDefault = v == "1";
                break;
            case 15:
                selTextColorDefault = v == "1";
                break;
            case 16:
                selTextBackDefault = v == "1";
                break;
            case 17:
                fontCharset = std::uint8_t(toInt(v));
                break;
            case 18:
                rightMargin = toInt(v);
                break;
            case 19:
                gutterFont_.name = std::string(v);
                break;
            case 20:
                gutterFont_.size = toInt(v);
                break;
            case 21:
                gutterFont_.color = toInt(v);
                break;
            case 22:
                gutterFont_.charset = std::uint8_t(toInt(v));
                break;
            case 23: {
                std::uint8_t st = 0;
                if (v.find('I') != v.npos) st |= fsItalicBit;
                if (v.find('S') != v.npos) st |= fsStrikeBit;
                if (v.find('U') != v.npos) st |= fsUnderlineBit;
                if (v.find('B') != v.npos) st |= fsBoldBit;
                gutterFont_.style = st;
                break;
            }
            }
        }
        return;
    }

    // Positional form.
    try {
        Cursor c{text, std::min<std::size_t>(8, text.size())};
        auto num = [&](std::int64_t def) {
            auto n = c.number(def);
            c.skip(',');
            return std::int32_t(std::uint32_t(n));
        };
        options = num(kDefaultOptions);
        gutterWidth = num(34);
        wordWrapColumn = num(0);
        indentStep = num(0);
        std::string wro = c.chars(num(0));
        wrapOverride = wro.substr(0, 20);
        if (!c.atEnd()) ++c.i; // separator
        selTextColor = kSysColorHighlightText;
        selTextBack = kSysColorHighlight;
        if (version == 1) {
            fontName = "Courier New";
            fontSize = 10;
        } else {
            fontName = c.chars(num(0));
            c.skip(',');
            fontSize = num(10);
            if (version >= 3) {
                selTextColor = num(kSysColorHighlightText);
                selTextBack = num(kSysColorHighlight);
            }
            if (version == 4) {
                std::string tabs = c.chars(num(0));
                c.skip(',');
                tabColumns = parseTabColumns(tabs);
                defaultTab = num(4);
            }
        }
        readEffects(c, effects);
    } catch (...) {
        reset();
        throw;
    }
}

} // namespace morvane::highlight
