// Message text shared by the remote session's source files; not part of its interface.
#pragma once

#include <initializer_list>
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

} // namespace morvane::app::session_text
