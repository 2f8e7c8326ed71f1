#include "core/app/ProgramFolder.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
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

fs::path manualIndex(const fs::path& resources) {
    std::error_code ec;
    for (fs::path page :
         {resources / "manual" / "index.html", fs::path(MORVANE_SOURCE_MANUAL) / "index.html"})
        if (fs::is_regular_file(page, ec)) return page;
    return {};
}

namespace {

// The files seeded before, one path relative to the folder a line.
std::set<std::string> readSeeded(const fs::path& list) {
    std::set<std::string> seeded;
    std::ifstream in(list, std::ios::binary);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) seeded.insert(line);
    return seeded;
}

std::string writeSeeded(const fs::path& list, const std::set<std::string>& seeded) {
    std::string text;
    for (auto& name : seeded)
        text.append(name).push_back('\n');
    fs::path temp = list;
    temp += ".tmp-" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(text.data(), std::streamsize(text.size()));
        out.flush();
        if (!out) {
            std::error_code ec;
            fs::remove(temp, ec);
            return "Cannot write \"" + list.string() + "\"";
        }
    }
    std::error_code ec;
    fs::rename(temp, list, ec);
    if (ec) {
        fs::remove(temp, ec);
        return "Cannot write \"" + list.string() + "\": " + ec.message();
    }
    return {};
}

// Replaces target with source's bytes when target is a plain file still exactly as shipped.
std::string refreshUntouched(const fs::path& target, const fs::path& source, std::uint64_t fnv) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(target, ec))) return {};
    std::ifstream in(target, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return {};
    if (fnv1a64(bytes) != fnv) return {};
    fs::path temp = target;
    temp += ".new";
    fs::copy_file(source, temp, fs::copy_options::overwrite_existing, ec);
    if (!ec)
        fs::permissions(temp, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add,
                        ec);
    if (!ec) fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return "Cannot update \"" + target.string() + "\": " + ec.message();
    }
    return {};
}

// The first release's filetypes.txt: before the web and script languages had highlighters.
constexpr SupersededFile kSuperseded[] = {{"filetypes.txt", 0x52e15725e771232fULL}};

} // namespace

std::uint64_t fnv1a64(std::string_view bytes) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::span<const SupersededFile> supersededFiles() {
    return kSuperseded;
}

std::string seedProgramFolder(const fs::path& folder, const fs::path& resources,
                              std::span<const SupersededFile> superseded) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return "Cannot create the program folder \"" + folder.string() + "\": " + ec.message();
    fs::path data = resources / "data";
    if (!fs::is_directory(data, ec)) return "The program's resources are missing: " + data.string();
    fs::path list = folder / kSeededList;
    std::set<std::string> seeded = readSeeded(list);
    std::size_t known = seeded.size();
    for (auto it = fs::recursive_directory_iterator(data, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory()) continue;
        std::string name = fs::relative(it->path(), data).string();
        if (name.find('\n') != std::string::npos) continue;
        // A file given once is the user's: edited, renamed or deleted, it stays that way.
        if (!seeded.insert(name).second) {
            for (const SupersededFile& old : superseded)
                if (name == old.name)
                    if (std::string e = refreshUntouched(folder / name, it->path(), old.fnv1a);
                        !e.empty())
                        return e;
            continue;
        }
        fs::path target = folder / name;
        if (fs::exists(fs::symlink_status(target))) continue;
        fs::create_directories(target.parent_path(), ec);
        if (!ec) fs::copy_file(it->path(), target, fs::copy_options::skip_existing, ec);
        // Installed resources are read-only; the user's copies must be editable.
        if (!ec)
            fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write,
                            fs::perm_options::add, ec);
        if (ec) return "Cannot copy \"" + it->path().string() + "\": " + ec.message();
    }
    if (ec) return "Cannot read the program's resources: " + ec.message();
    return seeded.size() == known ? std::string() : writeSeeded(list, seeded);
}

} // namespace morvane::app
