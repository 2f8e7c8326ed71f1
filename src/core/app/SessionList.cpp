#include "core/app/SessionList.h"

#include <charconv>

namespace morvane::app {

namespace {
constexpr std::string_view kFirstLine = "morvane session 1";

// Tabs, line breaks and backslashes would break the line into wrong fields.
std::string escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string unescape(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char n = s[++i];
        out += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    }
    return out;
}

bool number(std::string_view s, long long& v) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && p == s.data() + s.size() && v >= 1;
}
} // namespace

std::string serializeSession(const std::vector<SessionDocument>& documents) {
    std::string out = std::string(kFirstLine) + "\n";
    for (const SessionDocument& d : documents) {
        out += d.remote ? "remote" : "local";
        for (const std::string* f : {&d.path, &d.account, &d.directory, &d.fileName})
            out += "\t" + escape(*f);
        out += "\t" + std::to_string(d.caretLine) + "\t" + std::to_string(d.caretColumn) + "\t" +
               escape(d.highlighter) + "\n";
    }
    return out;
}

std::vector<SessionDocument> parseSession(std::string_view text) {
    std::vector<SessionDocument> documents;
    std::size_t eol = text.find('\n');
    if (text.substr(0, eol) != kFirstLine) return documents;
    while (eol != std::string_view::npos) {
        text.remove_prefix(eol + 1);
        eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        std::vector<std::string_view> f;
        for (std::size_t at = 0;;) {
            std::size_t tab = line.find('\t', at);
            f.push_back(line.substr(at, tab == std::string_view::npos ? tab : tab - at));
            if (tab == std::string_view::npos) break;
            at = tab + 1;
        }
        if (f.size() != 8 || (f[0] != "local" && f[0] != "remote")) continue;
        SessionDocument d;
        d.remote = f[0] == "remote";
        d.path = unescape(f[1]);
        d.account = unescape(f[2]);
        d.directory = unescape(f[3]);
        d.fileName = unescape(f[4]);
        if (!number(f[5], d.caretLine) || !number(f[6], d.caretColumn)) continue;
        d.highlighter = unescape(f[7]);
        if (d.remote ? d.account.empty() || d.fileName.empty() : d.path.empty()) continue;
        documents.push_back(std::move(d));
    }
    return documents;
}

} // namespace morvane::app
