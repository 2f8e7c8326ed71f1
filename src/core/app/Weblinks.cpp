#include "core/app/Weblinks.h"

#include "core/app/AppRegistry.h"
#include "core/editor/CustomCodeMemo.h"
#include "core/editor/TextEncoding.h"
#include "core/highlight/ParserSlots.h"
#include "core/platform/Registry.h"
#include "core/platform/UiServices.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>

namespace morvane::app {

using platform::Hive;
using platform::RegValue;

namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Calls line(text) for each line, without its CR LF or LF; false from line stops.
template <class F> void forEachLine(std::string_view text, F line) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t lf = text.find('\n', pos);
        std::string_view l = text.substr(pos, lf == std::string_view::npos ? lf : lf - pos);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        if (!line(l)) return;
        if (lf == std::string_view::npos) break;
        pos = lf + 1;
    }
}

std::optional<long long> decimal(std::string_view s) {
    s = trim(s);
    long long v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

std::string keyOf(int n) {
    return std::string(kWeblinksKey) + "\\" + std::to_string(n);
}

std::optional<std::string> readLimited(const std::string& path) {
    constexpr std::uintmax_t kMaxLookupFile = 16u << 20;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxLookupFile) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(static_cast<std::size_t>(size), '\0');
    in.read(text.data(), std::streamsize(size));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// Long words are shortened in messages; the address always gets the whole word.
std::string shownWord(const std::string& word) {
    if (word.size() <= 80) return word;
    std::size_t cut = 77;
    while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80)
        --cut;
    return word.substr(0, cut) + "...";
}

} // namespace

std::optional<TWeblink> loadWeblink(platform::Registry& registry, int n) {
    const std::string key = keyOf(n);
    if (!registry.keyExists(Hive::CurrentUser, key)) return std::nullopt;
    auto read = [&](const char* name) { return registry.readValue(Hive::CurrentUser, key, name); };
    TWeblink link;
    link.number = n;
    if (auto v = read(""); v && v->isString()) link.caption = v->data;
    std::string data;
    if (auto v = read("Data"); v && v->isString()) data = v->data;
    auto kind = read("Kind");
    std::optional<std::uint32_t> k = kind ? kind->asDword() : std::nullopt;
    if (!k || *k > 1) {
        link.problem = "The weblink \"" + link.caption + "\" has no valid \"Kind\" value.";
    } else {
        link.kind = TWeblinkKind(*k);
    }
    (link.kind == wkLookup ? link.lookupFile : link.address) = data;
    if (auto v = read("Languages"); v && v->isString())
        forEachLine(v->data, [&](std::string_view l) {
            if (!trim(l).empty()) link.languages.emplace_back(trim(l));
            return true;
        });
    if (auto v = read("Shortcut"))
        if (auto s = v->asDword()) link.shortcut = std::uint16_t(*s);
    return link;
}

std::vector<TWeblink> loadWeblinks(platform::Registry& registry) {
    std::vector<TWeblink> links;
    const auto count = registry.subKeyNames(Hive::CurrentUser, kWeblinksKey).size();
    for (std::size_t n = 0; n < count; ++n)
        if (auto link = loadWeblink(registry, int(n))) links.push_back(std::move(*link));
    return links;
}

bool saveWeblinks(platform::Registry& registry, const std::vector<TWeblink>& links) {
    std::vector<platform::RegSubkey> keys;
    for (std::size_t i = 0; i < links.size(); ++i) {
        const TWeblink& l = links[i];
        std::string languages;
        for (const std::string& language : l.languages)
            languages += language + "\r\n";
        keys.push_back({std::to_string(i),
                        {{"", RegValue::string(l.caption)},
                         {"Shortcut", RegValue::dword(l.shortcut)},
                         {"Languages", RegValue::string(languages)},
                         {"Data", RegValue::string(l.kind == wkLookup ? l.lookupFile : l.address)},
                         {"Kind", RegValue::dword(l.kind)}}});
    }
    return registry.replaceKey(Hive::CurrentUser, kWeblinksKey, keys);
}

TCaretWord wordAtCaret(editor::TCustomCodeMemo& memo, highlight::TParserSlots* slots) {
    TCaretWord result;
    editor::TextOffset at = memo.Caret();
    if (slots) slots->EnsureHighlightedThrough(memo.LineFromOffset(at) + 1);
    int token = -1;
    auto run = memo.TokenRunAt(at, token);
    if (token < 0 && at > 0) {
        // At a line's end the word just typed is meant.
        at = memo.PrevCharBoundary(at);
        run = memo.TokenRunAt(at, token);
    }
    if (token < 0) return result;
    std::string text = std::move(run.text);
    if (text.size() > kMaxWord) {
        // Keep kMaxWord characters around the caret, whole characters at both ends.
        auto offset = std::size_t(at - run.start);
        std::size_t from = offset > kMaxWord / 2 ? offset - kMaxWord / 2 : 0;
        from = std::min(from, text.size() - kMaxWord);
        std::size_t to = from + kMaxWord;
        while (from > 0 && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80)
            --from;
        while (to < text.size() && (static_cast<unsigned char>(text[to]) & 0xC0) == 0x80)
            --to;
        text = text.substr(from, to - from);
    }
    result.word = editor::ToUtf8(memo.Encoding(), text);
    result.tokenClass = token;
    return result;
}

TLookupAnswer lookupWord(std::string_view fileText, std::string_view word, int tokenClass) {
    TLookupAnswer answer;
    const std::string name = upper(word);
    enum { Before, Inside, After } state = Before;
    int lineNumber = 0;
    forEachLine(fileText, [&](std::string_view line) {
        ++lineNumber;
        if (!line.empty() && line.front() == '[') {
            if (state == Inside) {
                state = After;
                return false;
            }
            std::string_view header = line.substr(1);
            if (!header.empty() && header.back() == ']') header.remove_suffix(1);
            std::optional<long long> low, high;
            // A range's dash follows its first digit, so "-3" stays a number.
            std::size_t dash = header.find('-', header.find_first_not_of(" \t-"));
            if (dash == std::string_view::npos) {
                low = high = decimal(header);
            } else {
                low = decimal(header.substr(0, dash));
                high = decimal(header.substr(dash + 1));
            }
            if (!low || !high) {
                answer.error = "Line " + std::to_string(lineNumber) + ": the section header \"" +
                               std::string(line) + "\" is not a number or a range of numbers.";
                return false;
            }
            if (*low <= tokenClass && tokenClass <= *high) state = Inside;
            return true;
        }
        if (state != Inside) return true;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return true; // not a WORD=ADDRESS line
        if (equalNoCase(trim(line.substr(0, eq)), name)) {
            answer.address = std::string(trim(line.substr(eq + 1)));
            return false;
        }
        return true;
    });
    return answer;
}

std::string percentEncode(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(char(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

std::string substituteWord(std::string_view address, std::string_view word) {
    static constexpr std::string_view kPlaceholder = "%WORD%";
    const std::string encoded = percentEncode(word);
    std::string out;
    std::size_t pos = 0;
    while (pos < address.size()) {
        if (address.size() - pos >= kPlaceholder.size() &&
            equalNoCase(address.substr(pos, kPlaceholder.size()), kPlaceholder)) {
            out += encoded;
            pos += kPlaceholder.size();
        } else {
            out.push_back(address[pos++]);
        }
    }
    return out;
}

bool openableAddress(std::string_view address) {
    for (char ch : address)
        if (static_cast<unsigned char>(ch) < 32 || ch == 127) return false;
    std::size_t colon = address.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view scheme = address.substr(0, colon);
    for (std::string_view allowed : {"http", "https", "ftp", "file", "mailto"})
        if (equalNoCase(scheme, allowed)) return true;
    return false;
}

TWeblinkResult
resolveWeblink(const TWeblink& link, const TWeblinkDocument* document,
               const std::function<std::optional<std::string>(const std::string& path)>& readFile) {
    if (!link.problem.empty()) return {{}, link.problem};
    static constexpr std::string_view kNeedsWindow = "This weblink requires an open window";
    const bool needsWord =
        link.kind == wkLookup || substituteWord(link.address, "") != link.address;
    if (needsWord && !document) return {{}, std::string(kNeedsWindow)};
    if (!link.languages.empty()) {
        if (!document) return {{}, std::string(kNeedsWindow)};
        bool supported =
            std::any_of(link.languages.begin(), link.languages.end(),
                        [&](const std::string& l) { return equalNoCase(l, document->language); });
        if (!supported) return {{}, "The selected language is not supported by this lookup"};
    }
    TCaretWord word;
    if (needsWord && document->word) word = document->word();
    if (link.kind == wkStatic) return {substituteWord(link.address, word.word), {}};

    auto text = readFile ? readFile(link.lookupFile) : readLimited(link.lookupFile);
    if (!text) return {{}, "Error loading file " + link.lookupFile};
    TLookupAnswer answer = lookupWord(*text, word.word, word.tokenClass);
    if (!answer.error.empty())
        return {{}, "Error in file " + link.lookupFile + ". " + answer.error};
    if (!answer.address)
        return {{},
                "The selected word (" + shownWord(upper(word.word)) + ") does not have a link."};
    return {*answer.address, {}};
}

void runWeblink(const TWeblink& link, const TWeblinkDocument* document, platform::Dialogs& dialogs,
                platform::Shell& shell) {
    TWeblinkResult result = resolveWeblink(link, document);
    if (!result.error.empty()) {
        dialogs.error(result.error);
        return;
    }
    if (!openableAddress(result.address)) {
        dialogs.error("The address \"" + shownWord(result.address) +
                      "\" is not opened: only http, https, ftp, file and mailto addresses are.");
        return;
    }
    if (!shell.openUrl(result.address))
        dialogs.error("No program could open the address " + shownWord(result.address));
}

} // namespace morvane::app
