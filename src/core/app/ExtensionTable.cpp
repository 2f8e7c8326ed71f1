#include "core/app/ExtensionTable.h"

#include "core/platform/Paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::app {

namespace {

std::string lower(std::string_view s) {
    std::string r(s);
    for (auto& c : r)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

std::string_view trim(std::string_view s) {
    // Trimming removes blanks and control characters, as the run-time's Trim does.
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

} // namespace

std::string fileExtension(std::string_view fileName) {
    std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return ".";
    return lower(fileName.substr(dot));
}

std::string interpreterKey(std::string_view line) {
    if (line.substr(0, 2) != "#!") return {};
    line.remove_prefix(2);
    if (std::size_t end = line.find_first_of("\r\n"); end != std::string_view::npos)
        line = line.substr(0, end);
    auto nextWord = [&line]() {
        std::size_t from = line.find_first_not_of(" \t");
        if (from == std::string_view::npos) return std::string_view();
        std::size_t to = line.find_first_of(" \t", from);
        std::string_view word =
            line.substr(from, to == std::string_view::npos ? line.npos : to - from);
        line.remove_prefix(to == std::string_view::npos ? line.size() : to);
        return word;
    };
    auto base = [](std::string_view path) {
        std::size_t slash = path.rfind('/');
        return slash == std::string_view::npos ? path : path.substr(slash + 1);
    };
    std::string_view program = base(nextWord());
    if (program == "env")
        for (std::string_view word = nextWord(); !word.empty(); word = nextWord()) {
            if (word[0] == '-' || word.find('=') != std::string_view::npos) continue;
            program = base(word);
            break;
        }
    if (program.empty() || program == "env") return {};
    return "#!" + lower(program);
}

bool ExtensionTable::load(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        parse({});
        return false;
    }
    parse(std::string(std::istreambuf_iterator<char>(in), {}));
    return true;
}

void ExtensionTable::parse(std::string_view text) {
    headerComments_.clear();
    entries_.clear();
    bool atTop = true;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // "#!name" is an entry (the program a script's first line names), not a comment.
        if (!line.empty() && line[0] == '#' && line.substr(0, 2) != "#!") {
            if (atTop) headerComments_.emplace_back(line);
            continue;
        }
        line = trim(line);
        if (line.empty()) continue;
        atTop = false;
        std::size_t cut = line.find_first_of(std::string_view(" \t\b", 3));
        std::string_view extension = line.substr(0, cut);
        std::string_view language =
            cut == std::string_view::npos ? std::string_view() : trim(line.substr(cut + 1));
        entries_.push_back({lower(extension), std::string(language)});
    }
}

std::optional<std::string> ExtensionTable::languageOf(std::string_view extension) const {
    std::string key = lower(extension);
    for (const Entry& e : entries_)
        if (e.extension == key) return e.language;
    return std::nullopt;
}

std::optional<std::string> ExtensionTable::languageFor(std::string_view fileName,
                                                       std::string_view firstLine) const {
    const std::string extension = fileExtension(fileName);
    if (extension != ".")
        if (auto language = languageOf(extension)) return language;
    std::string key = interpreterKey(firstLine);
    // "python3.11" is listed as "python3" or "python": drop the version from the end.
    while (key.size() > 2) {
        if (auto language = languageOf(key)) return language;
        char last = key.back();
        if ((last < '0' || last > '9') && last != '.') break;
        key.pop_back();
    }
    return extension == "." ? languageOf(".") : std::nullopt;
}

void ExtensionTable::associate(std::string_view extension, std::string_view language) {
    std::string key = lower(extension);
    for (Entry& e : entries_)
        if (e.extension == key) {
            e.language = language;
            return;
        }
    entries_.push_back({key, std::string(language)});
}

std::string ExtensionTable::text() const {
    std::string out;
    for (const std::string& c : headerComments_)
        out.append(c).push_back('\n');
    out.push_back('\n');
    for (const Entry& e : entries_)
        out.append(e.extension).append("\t").append(e.language).push_back('\n');
    return out;
}

std::string ExtensionTable::save(const std::filesystem::path& link) const {
    std::string data = text();
    // Written where a symbolic link points, so the link stays.
    std::filesystem::path file = platform::writeTarget(link.string());
    std::filesystem::path temp = file;
    temp += ".tmp-" + std::to_string(::getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return "Cannot create file \"" + file.string() + "\". " + std::strerror(errno);
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += std::size_t(n);
    }
    ok = ok && ::fsync(fd) == 0;
    int err = errno;
    ::close(fd);
    struct stat st;
    if (ok && ::stat(file.c_str(), &st) == 0) ::chmod(temp.c_str(), st.st_mode & 07777);
    if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
        if (ok) err = errno;
        ::unlink(temp.c_str());
        return "Cannot write file \"" + file.string() + "\". " + std::strerror(err);
    }
    return {};
}

} // namespace morvane::app
