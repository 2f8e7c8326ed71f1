#include "core/app/MainFormSettings.h"

#include <algorithm>
#include <climits>

namespace morvane::app {

std::optional<int> parseInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
    }
    if (negative) v = -v;
    if (v > INT_MAX || v < INT_MIN) return std::nullopt;
    return static_cast<int>(v);
}

std::string conversionErrorText(std::string_view text) {
    return "'" + std::string(text) + "' is not a valid integer value";
}

std::string aboutVersionLabel(std::string_view fileVersion) {
    if (fileVersion.empty()) return "Cannot determine version";
    std::size_t last = fileVersion.rfind('.');
    if (last == std::string_view::npos) return "Cannot determine version";
    std::string build(fileVersion.substr(last + 1));
    std::string version(fileVersion.substr(0, last));
    if (std::size_t dot = version.rfind('.'); dot != std::string::npos) version.erase(dot, 1);
    return "Version " + version + " build " + build;
}

ScreenRect keepOnScreen(ScreenRect window, const std::vector<ScreenRect>& screens) {
    if (screens.empty()) return window;
    // The strip along the window's top, where its title bar is, must show on one screen: at
    // least this much of it in both directions.
    const int needX = std::min(window.width, 64), needY = std::min(window.height, 24);
    for (const ScreenRect& s : screens) {
        const long x0 = std::max<long>(window.left, s.left);
        const long x1 = std::min<long>(long(window.left) + window.width, long(s.left) + s.width);
        const long y0 = std::max<long>(window.top, s.top);
        const long y1 = std::min<long>(long(window.top) + needY, long(s.top) + s.height);
        if (window.top >= s.top && x1 - x0 >= needX && y1 - y0 >= needY) return window;
    }
    const ScreenRect& s = screens.front();
    window.width = std::clamp(window.width, 1, std::max(1, s.width));
    window.height = std::clamp(window.height, 1, std::max(1, s.height));
    window.left = std::clamp(window.left, s.left, s.left + s.width - window.width);
    window.top = std::clamp(window.top, s.top, s.top + s.height - window.height);
    return window;
}

ScreenRect firstWindowPlace(const ScreenRect& screen, int rowWidth) {
    constexpr int kLeastWidth = 640, kLeastHeight = 480;
    const int sw = std::max(1, screen.width), sh = std::max(1, screen.height);
    ScreenRect r;
    r.width = std::min(sw, std::max({sw * 3 / 4, rowWidth, kLeastWidth}));
    r.height = std::min(sh, std::max(sh * 3 / 4, kLeastHeight));
    r.left = screen.left + (sw - r.width) / 2;
    r.top = screen.top + (sh - r.height) / 2;
    return r;
}

GeometryToRestore MainFormSettings::geometryToRestore() const {
    GeometryToRestore g;
    if (read("Window state") == "Maximized") {
        g.maximize = true;
        return g;
    }
    struct Field {
        const char* name;
        std::optional<int> GeometryToRestore::*member;
    };
    static const Field order[] = {{"Left", &GeometryToRestore::left},
                                  {"Top", &GeometryToRestore::top},
                                  {"Height", &GeometryToRestore::height},
                                  {"Width", &GeometryToRestore::width}};
    for (const Field& f : order) {
        std::string text = read(f.name);
        if (text.empty()) continue;
        auto v = parseInteger(text);
        if (!v) {
            g.error = conversionErrorText(text);
            break;
        }
        g.*f.member = *v;
    }
    return g;
}

void MainFormSettings::saveGeometry(const WindowPlacement& p) const {
    write("Window state", p.state == WindowPlacement::Maximized ? "Maximized" : "Normal");
    if (p.state != WindowPlacement::Normal) return; // geometry of a normal window only
    write("Top", std::to_string(p.top));
    write("Left", std::to_string(p.left));
    write("Width", std::to_string(p.width));
    write("Height", std::to_string(p.height));
}

namespace {
std::string showValueName(std::string_view name) {
    std::string lower(name);
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "html") lower = "HTML";
    return "Show " + lower + " toolbar";
}
} // namespace

ToolbarPlacement MainFormSettings::toolbar(std::string_view name) const {
    ToolbarPlacement t;
    std::string prefix = std::string(name) + " Toolbar";
    t.visible = read(showValueName(name)) != "False";
    t.floating = read(prefix + " float") == "True";
    std::string left = read(prefix + " left");
    // A docked toolbar keeps its layout position unless a left value is stored.
    if (t.floating || !left.empty()) {
        t.left = parseInteger(left);
        t.top = parseInteger(read(prefix + " top"));
    }
    return t;
}

void MainFormSettings::saveToolbar(std::string_view name, const ToolbarPlacement& t) const {
    std::string prefix = std::string(name) + " Toolbar";
    write(showValueName(name), t.visible ? "True" : "False");
    write(prefix + " float", t.floating ? "True" : "False");
    write(prefix + " left", std::to_string(t.left.value_or(0)));
    write(prefix + " top", std::to_string(t.top.value_or(0)));
}

} // namespace morvane::app
