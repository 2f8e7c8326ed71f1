#pragma once
// The main window's values in the Settings key and the rules for reading them: which texts count
// as on, how geometry and toolbars are saved at close and restored at start.

#include "core/platform/Registry.h"

#include <optional>
#include <string>
#include <vector>

namespace morvane::app {

// The run-time's integer conversion: optional blanks, an optional sign, decimal digits.
std::optional<int> parseInteger(std::string_view text);
std::string conversionErrorText(std::string_view text); // "'abc' is not a valid integer value"

// "Version 2.21 build 155" for the file version "2.2.1.155".
std::string aboutVersionLabel(std::string_view fileVersion);

struct WindowPlacement {
    enum State { Normal, Maximized, Minimized } state = Normal;
    int left = 0, top = 0, width = 0, height = 0;
};

struct GeometryToRestore {
    bool maximize = false;
    // Applied in this order, each only when present; the first text that is not an integer
    // stops the rest and its message is in error.
    std::optional<int> left, top, height, width;
    std::string error;
};

struct ScreenRect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const ScreenRect&) const = default;
};

// Where a restored window goes. It stays where it was stored while some screen shows its top
// edge well enough to take hold of it; otherwise (the screen it was on has gone) it is moved
// onto the first screen, shrunk to fit it when larger. Without screens nothing changes.
ScreenRect keepOnScreen(ScreenRect window, const std::vector<ScreenRect>& screens);

// Where the window opens when no size is stored, frame included: centred on the screen, three
// quarters of it each way, wider when the menu or toolbar row needs more, and never smaller
// than a small fixed size unless the screen itself is.
ScreenRect firstWindowPlace(const ScreenRect& screen, int rowWidth);

struct ToolbarPlacement {
    bool visible = true;
    bool floating = false;
    std::optional<int> left, top; // absent: keep the layout's position
};

class MainFormSettings {
public:
    explicit MainFormSettings(platform::RegKey key) : key_(std::move(key)) {}

    const platform::RegKey& key() const { return key_; }
    std::string read(std::string_view name) const { return key_.readString(name); }
    bool write(std::string_view name, std::string_view text) const {
        return key_.writeString(name, text);
    }

    bool showOutputAtStart() const { return read("Show output") == "True"; }
    bool restoreWindowSettings() const { return read("Restore window settings") != "False"; }
    bool saveWindowSettings() const { return read("Save window settings") != "False"; }
    bool noDefaultAccount() const { return read("No default account") == "1"; }

    GeometryToRestore geometryToRestore() const;
    void saveGeometry(const WindowPlacement& placement) const;

    // name: "Main", "Edit" or "HTML".
    ToolbarPlacement toolbar(std::string_view name) const;
    void saveToolbar(std::string_view name, const ToolbarPlacement& placement) const;

private:
    platform::RegKey key_;
};

} // namespace morvane::app
