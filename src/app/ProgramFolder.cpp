#include "app/ProgramFolder.h"

#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace morvane::app {

namespace fs = std::filesystem;

fs::path defaultProgramFolder() {
    if (const char* d = std::getenv("MORVANE_HOME"); d && *d) return d;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return fs::path(x) / "morvane";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "share" / "morvane";
}

fs::path resourcesFolder() {
    if (const char* r = std::getenv("MORVANE_RESOURCES"); r && *r) return r;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        fs::path installed = exe.parent_path().parent_path() / "share" / "morvane";
        if (fs::is_directory(installed / "data", ec)) return installed;
    }
    return MORVANE_SOURCE_RESOURCES;
}

std::string seedProgramFolder(const fs::path& folder, const fs::path& resources) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return "Cannot create the program folder \"" + folder.string() + "\": " + ec.message();
    fs::path data = resources / "data";
    if (!fs::is_directory(data, ec)) return "The program's resources are missing: " + data.string();
    for (auto it = fs::recursive_directory_iterator(data, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::path target = folder / fs::relative(it->path(), data);
        if (it->is_directory()) {
            fs::create_directories(target, ec);
        } else if (!fs::exists(fs::symlink_status(target))) {
            fs::copy_file(it->path(), target, fs::copy_options::skip_existing, ec);
            // Installed resources are read-only; the user's copies must be editable.
            fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write,
                            fs::perm_options::add, ec);
        }
        if (ec) return "Cannot copy \"" + it->path().string() + "\": " + ec.message();
    }
    return ec ? "Cannot read the program's resources: " + ec.message() : std::string();
}

} // namespace morvane::app
