#include "core/platform/Paths.h"

#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace morvane::platform {

namespace fs = std::filesystem;

std::string absolutePath(std::string_view path) {
    if (path.empty()) return {};
    std::string joined;
    if (path.front() != '/') {
        std::error_code ec;
        fs::path cwd = fs::current_path(ec);
        // Without a working folder (it was removed) nothing better than "/" can be said; the
        // open then fails with the file's own name in the message.
        joined = ec ? std::string("/") : cwd.string();
        joined.push_back('/');
    }
    joined.append(path);
    std::string out;
    out.reserve(joined.size());
    std::size_t pos = 0;
    while (pos < joined.size()) {
        std::size_t end = joined.find('/', pos);
        if (end == std::string::npos) end = joined.size();
        std::string_view part(joined.data() + pos, end - pos);
        if (!part.empty() && part != ".") out.append("/").append(part);
        pos = end + 1;
    }
    if (out.empty()) out.push_back('/');
    // A trailing slash says "a folder"; keep it so that opening fails as it would have.
    if (joined.back() == '/' && out != "/") out.push_back('/');
    return out;
}

bool isRemoteReference(std::string_view argument) {
    static constexpr std::string_view head = "MORVANE://";
    if (argument.size() < head.size()) return false;
    for (std::size_t i = 0; i < head.size(); ++i) {
        char c = argument[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != head[i]) return false;
    }
    return true;
}

std::string writeTarget(const std::string& path) {
    fs::path p(path);
    std::error_code ec;
    for (int depth = 0; depth < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++depth) {
        fs::path link = fs::read_symlink(p, ec);
        if (ec) break;
        p = link.is_absolute() ? link : p.parent_path() / link;
    }
    return p.string();
}

fs::path defaultStateDir() {
    if (const char* d = std::getenv("MORVANE_STATE_DIR"); d && *d) return d;
    if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x) return fs::path(x) / "morvane";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "state" / "morvane";
}

} // namespace morvane::platform
