// Reply and message text shared by the remote session's source files; not part of its interface.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

namespace morvane::app::session_text {

// printf's "%s" filled in order; the arguments are bytes, never formats themselves.
inline std::string Format(const char* format, std::initializer_list<std::string> args) {
    std::string out;
    auto next = args.begin();
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && next != args.end()) {
            out += *next++;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

// The text after a reply's code ("213 20240101120000" gives "20240101120000").
inline std::string ReplyText(const std::string& reply) {
    std::size_t start = reply.size() > 4 ? 4 : reply.size();
    std::string text = reply.substr(start);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

inline std::optional<std::int64_t> ParseSize(const std::string& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

} // namespace morvane::app::session_text
