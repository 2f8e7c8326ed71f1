#include "core/platform/Registry.h"

#include "core/platform/Paths.h"
#include "core/platform/RegFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::platform {

namespace fs = std::filesystem;

namespace {

// Larger hive files are not settings a user wrote: they are set aside instead of read.
constexpr std::uintmax_t maxHiveSize = 64u << 20;

const char* rootName(Hive hive) {
    return hive == Hive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

struct Stamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const Stamp&) const = default;
};

Stamp stampOf(const fs::path& file) {
    struct stat st;
    Stamp s;
    if (::stat(file.c_str(), &st) != 0) return s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

std::string errnoText(const std::string& what, const fs::path& file) {
    return what + " \"" + file.string() + "\": " + std::strerror(errno);
}

// An exclusive or shared lock on the hive's lock file; the hive file itself is replaced by
// rename, so it cannot carry the lock.
class FileLock {
public:
    FileLock(const fs::path& lockFile, bool exclusive) {
        fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return;
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_); // closing releases the lock
    }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string timestampText() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

// Reads a hive or export file whole. False with an empty problem and errno set when the file
// cannot be opened or read (it may become readable again); false with a problem when it is
// not a file of settings.
bool readHiveBytes(const fs::path& file, std::string& bytes, std::string& problem) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer, and a device
    // could block forever. Only a regular file is read, and for those the flag changes nothing.
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        problem = "is not a regular file";
        return false;
    }
    if (std::uintmax_t(st.st_size) > maxHiveSize) {
        ::close(fd);
        problem = "is too large (" + std::to_string(st.st_size) + " bytes) to be a settings file";
        return false;
    }
    bytes.resize(std::size_t(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            // Half a hive would be taken for the whole and written back short.
            int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return true;
}

// Names with line breaks or NULs could not be read back from the hive file.
bool storableName(std::string_view name) {
    return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

} // namespace

RegValue RegValue::dword(std::uint32_t v) {
    std::string d(4, '\0');
    for (int i = 0; i < 4; ++i)
        d[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return {regDword, std::move(d)};
}

std::optional<std::uint32_t> RegValue::asDword() const {
    if (type != regDword || data.size() != 4) return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(data[i]);
    return v;
}

struct Registry::HiveState {
    Hive hive;
    fs::path file;
    fs::path lockFile;
    RegistryTree tree;
    Stamp stamp;
    bool loaded = false;
    bool damaged = false; // a damaged file that could not be set aside: never written over
    // The file exists but cannot be read: never written over, read again at every access, and
    // reported once until it can be read.
    bool unreadable = false;
};

Registry::Registry(fs::path dir) : dir_(std::move(dir)) {
    user_ = std::make_unique<HiveState>();
    user_->hive = Hive::CurrentUser;
    user_->file = dir_ / "user.reg";
    machine_ = std::make_unique<HiveState>();
    machine_->hive = Hive::LocalMachine;
    machine_->file = dir_ / "machine.reg";
    for (auto* hs : {user_.get(), machine_.get()}) {
        hs->lockFile = hs->file;
        hs->lockFile += ".lock";
    }
}

Registry::~Registry() = default;

fs::path Registry::defaultDir() {
    if (const char* d = std::getenv("MORVANE_CONFIG_DIR"); d && *d) return d;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return fs::path(x) / "morvane";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".config" / "morvane";
}

fs::path Registry::hiveFile(Hive hive) const {
    return hive == Hive::CurrentUser ? user_->file : machine_->file;
}

std::vector<std::string> Registry::takeProblems() {
    std::vector<std::string> r;
    r.swap(problems_);
    return r;
}

Registry::HiveState& Registry::state(Hive hive) {
    HiveState& hs = hive == Hive::CurrentUser ? *user_ : *machine_;
    refresh(hs);
    return hs;
}

// Loads the hive file when it changed since it was last read. A file that cannot be used is
// renamed aside (never rewritten) and the hive starts empty.
void Registry::refresh(HiveState& hs, bool lockHeld) {
    Stamp now = stampOf(hs.file);
    // A change of permissions leaves the stamp alone, so an unreadable file is tried each time.
    if (hs.loaded && now == hs.stamp && !hs.unreadable) return;
    bool wasUnreadable = hs.unreadable;
    hs.loaded = true;
    hs.stamp = now;
    hs.damaged = false;
    hs.unreadable = false;
    hs.tree = RegistryTree{};
    if (!now.exists) {
        // stat() also fails on a file in a folder that cannot be searched: if anything is
        // there, it is not ours to replace.
        if (errno == ENOENT || errno == ENOTDIR) return;
        now.exists = true;
    }

    std::string problem;
    std::string bytes;
    if (!readHiveBytes(hs.file, bytes, problem)) {
        if (problem.empty()) {
            // Settings that cannot be read now (permissions, a file left by a run as another
            // user) are still the user's: the store keeps off the file until it can be read.
            std::string reason = std::strerror(errno);
            hs.unreadable = true;
            hs.damaged = true;
            if (wasUnreadable) return;
            std::string message =
                "The settings file \"" + hs.file.string() + "\" cannot be read (" + reason +
                "). It was left unchanged, and settings are not saved until it can be read.";
            if (onProblem)
                onProblem(message);
            else
                problems_.push_back(message);
            return;
        }
    } else {
        RegParseResult parsed = parseRegText(bytes);
        if (!parsed.ok) problem = "is damaged (" + parsed.error + ")";
        std::string root = rootName(hs.hive);
        for (auto& block : parsed.blocks) {
            if (!namesEqual(splitKeyPath(block.fullPath)[0], root)) {
                problem = "is damaged (line " + std::to_string(block.line) + ": a key outside " +
                          root + ")";
                break;
            }
            applyRegBlock(hs.tree, block);
        }
    }
    if (problem.empty()) return;

    hs.tree = RegistryTree{};
    // Set the file aside under the write lock, and only if it is still the file we read.
    std::optional<FileLock> lock;
    if (!lockHeld) lock.emplace(hs.lockFile, true);
    fs::path aside = hs.file;
    aside += ".damaged-" + timestampText();
    std::string message = "The settings file \"" + hs.file.string() + "\" " + problem + ".";
    if ((!lock || lock->ok()) && stampOf(hs.file) == now &&
        ::rename(hs.file.c_str(), aside.c_str()) == 0) {
        message += " It was kept as \"" + aside.string() +
                   "\" and the program starts with empty settings in its place.";
        hs.stamp = stampOf(hs.file);
    } else {
        message += " It was left unchanged, and settings are not saved until it is repaired.";
        hs.damaged = true;
    }
    if (onProblem)
        onProblem(message);
    else
        problems_.push_back(message);
}

bool Registry::mutate(Hive hive, const std::function<bool(RegistryTree&)>& change) {
    HiveState& hs = hive == Hive::CurrentUser ? *user_ : *machine_;
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (ec) {
        lastError_ = "Cannot create the settings folder \"" + dir_.string() + "\": " + ec.message();
        return false;
    }
    ::chmod(dir_.c_str(), 0700);
    FileLock lock(hs.lockFile, true);
    if (!lock.ok()) {
        lastError_ = errnoText("Cannot lock the settings file", hs.lockFile);
        return false;
    }
    refresh(hs, true);
    if (hs.unreadable) {
        lastError_ = "The settings file \"" + hs.file.string() +
                     "\" cannot be read and is not replaced until it can be read.";
        return false;
    }
    if (hs.damaged) {
        lastError_ = "The settings file \"" + hs.file.string() +
                     "\" is damaged and is not replaced until it is repaired.";
        return false;
    }
    RegistryTree updated = hs.tree;
    if (!change(updated)) return false;

    std::string text = serializeRegTree(rootName(hive), updated);
    // A hive behind a symbolic link is replaced where the link points, and the link stays.
    fs::path target = writeTarget(hs.file.string());
    fs::path targetDir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    fs::path temp = target;
    temp += ".tmp-" + std::to_string(::getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        lastError_ = errnoText("Cannot write the settings file", temp);
        return false;
    }
    ::fchmod(fd, 0600);
    std::size_t half = text.size() / 2;
    bool ok = writeAll(fd, text.data(), half);
    if (ok && testHookMidWrite) testHookMidWrite();
    ok = ok && writeAll(fd, text.data() + half, text.size() - half) && ::fsync(fd) == 0;
    int savedErrno = errno;
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        if (ok) savedErrno = errno;
        ::unlink(temp.c_str());
        errno = savedErrno;
        lastError_ = errnoText("Cannot write the settings file", hs.file);
        return false;
    }
    if (int dfd = ::open(targetDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    hs.tree = std::move(updated);
    hs.stamp = stampOf(hs.file);
    return true;
}

bool Registry::keyExists(Hive hive, std::string_view path) {
    return state(hive).tree.find(path) != nullptr;
}

bool Registry::createKey(Hive hive, std::string_view path) {
    if (splitKeyPath(path).empty()) return true;
    if (!storableName(path)) {
        lastError_ = "A key name may not contain line breaks.";
        return false;
    }
    if (keyExists(hive, path)) return true;
    return mutate(hive, [&](RegistryTree& t) {
        t.findOrCreate(path);
        return true;
    });
}

bool Registry::deleteKey(Hive hive, std::string_view path) {
    auto parts = splitKeyPath(path);
    if (parts.empty() || !keyExists(hive, path)) return false;
    return mutate(hive, [&](RegistryTree& t) {
        RegistryTree* parent = &t;
        for (std::size_t i = 0; i + 1 < parts.size() && parent; ++i)
            parent = parent->child(parts[i]);
        return parent && parent->removeChild(parts.back());
    });
}

std::vector<std::string> Registry::subKeyNames(Hive hive, std::string_view path) {
    std::vector<std::string> names;
    if (auto* k = state(hive).tree.find(path))
        for (auto& s : k->subkeys)
            names.push_back(s.name);
    return names;
}

std::vector<std::string> Registry::valueNames(Hive hive, std::string_view path) {
    std::vector<std::string> names;
    if (auto* k = state(hive).tree.find(path))
        for (auto& v : k->values)
            names.push_back(v.first);
    return names;
}

std::optional<RegValue> Registry::readValue(Hive hive, std::string_view path,
                                            std::string_view name) {
    if (auto* k = state(hive).tree.find(path))
        if (auto* v = k->value(name)) return *v;
    return std::nullopt;
}

bool Registry::valueExists(Hive hive, std::string_view path, std::string_view name) {
    return readValue(hive, path, name).has_value();
}

std::optional<std::size_t> Registry::valueSize(Hive hive, std::string_view path,
                                               std::string_view name) {
    auto v = readValue(hive, path, name);
    if (!v) return std::nullopt;
    // Strings count their terminating NUL, as the system reports them.
    return v->data.size() + (v->isString() ? 1 : 0);
}

bool Registry::writeValue(Hive hive, std::string_view path, std::string_view name,
                          const RegValue& value) {
    if (!storableName(path) || !storableName(name)) {
        lastError_ = "A key or value name may not contain line breaks.";
        return false;
    }
    if (auto existing = readValue(hive, path, name); existing && *existing == value) return true;
    return mutate(hive, [&](RegistryTree& t) {
        t.findOrCreate(path).setValue(name, value);
        return true;
    });
}

bool Registry::deleteValue(Hive hive, std::string_view path, std::string_view name) {
    if (!valueExists(hive, path, name)) return false;
    return mutate(hive, [&](RegistryTree& t) {
        auto* k = t.find(path);
        return k && k->removeValue(name);
    });
}

bool Registry::writeValues(Hive hive, std::string_view path, const RegValueList& values) {
    bool storable = storableName(path);
    for (auto& v : values)
        storable = storable && storableName(v.first);
    if (!storable) {
        lastError_ = "A key or value name may not contain line breaks.";
        return false;
    }
    return mutate(hive, [&](RegistryTree& t) {
        RegistryTree& key = t.findOrCreate(path);
        for (auto& [name, value] : values)
            key.setValue(name, value);
        return true;
    });
}

bool Registry::replaceKey(Hive hive, std::string_view path, const std::vector<RegSubkey>& subkeys) {
    auto parts = splitKeyPath(path);
    bool valid = !parts.empty() && storableName(path);
    for (std::size_t i = 0; valid && i < subkeys.size(); ++i) {
        const std::string& name = subkeys[i].name;
        valid = !name.empty() && storableName(name) && name.find('\\') == std::string::npos;
        for (std::size_t j = 0; valid && j < i; ++j)
            valid = !namesEqual(subkeys[j].name, name);
        for (auto& v : subkeys[i].values)
            valid = valid && storableName(v.first);
    }
    if (!valid) {
        lastError_ = "The key names to store are empty, repeated or contain a backslash or a "
                     "line break.";
        return false;
    }
    return mutate(hive, [&](RegistryTree& t) {
        RegistryTree fresh;
        fresh.name = std::string(parts.back());
        for (const RegSubkey& s : subkeys) {
            RegistryTree& child = fresh.childOrCreate(s.name);
            for (auto& [name, value] : s.values)
                child.setValue(name, value);
        }
        RegistryTree* parent = &t;
        if (parts.size() > 1) parent = &t.findOrCreate(joinKeyPath(parts, 0, parts.size() - 1));
        if (RegistryTree* old = parent->child(parts.back())) {
            fresh.name = old->name; // the key keeps its first spelling
            *old = std::move(fresh);
        } else {
            parent->subkeys.push_back(std::move(fresh));
        }
        return true;
    });
}

bool Registry::moveKey(Hive fromHive, std::string_view from, Hive toHive, std::string_view to) {
    if (splitKeyPath(from).empty() || splitKeyPath(to).empty() || !storableName(to)) return false;
    if (!keyExists(fromHive, from) || keyExists(toHive, to)) return false;
    RegistryTree copy = *state(fromHive).tree.find(from);
    bool copied = mutate(toHive, [&](RegistryTree& t) {
        if (t.find(to)) return false; // another process was quicker
        t.findOrCreate(to).merge(copy);
        return true;
    });
    return copied && deleteKey(fromHive, from);
}

Registry::ImportResult Registry::importFile(const fs::path& file,
                                            const std::vector<std::string>& allowedPrefixes) {
    ImportResult result;
    std::string bytes, problem;
    if (!readHiveBytes(file, bytes, problem)) {
        result.error = problem.empty() ? errnoText("Cannot read", file)
                                       : "\"" + file.string() + "\" " + problem + ".";
        return result;
    }
    RegParseResult parsed = parseRegText(bytes);
    if (!parsed.ok) {
        result.error = "\"" + file.string() + "\" is not a registry export (" + parsed.error + ").";
        return result;
    }
    auto allowed = [&](const std::vector<std::string_view>& parts) {
        for (auto& prefix : allowedPrefixes) {
            auto pp = splitKeyPath(prefix);
            if (pp.size() > parts.size()) continue;
            bool match = true;
            for (std::size_t i = 0; i < pp.size() && match; ++i)
                match = namesEqual(pp[i], parts[i]);
            if (match) return true;
        }
        return false;
    };
    for (Hive hive : {Hive::CurrentUser, Hive::LocalMachine}) {
        std::vector<const RegBlock*> mine;
        for (auto& block : parsed.blocks) {
            auto parts = splitKeyPath(block.fullPath);
            if (!namesEqual(parts[0], rootName(hive))) continue;
            if (allowed(parts)) mine.push_back(&block);
        }
        if (mine.empty()) continue;
        int keys = 0, values = 0;
        bool ok = mutate(hive, [&](RegistryTree& t) {
            for (const RegBlock* block : mine) {
                if (!block->removeKey) ++keys;
                values += applyRegBlock(t, *block);
            }
            return true;
        });
        if (!ok) {
            result.error = lastError_;
            return result;
        }
        result.keys += keys;
        result.values += values;
    }
    for (auto& block : parsed.blocks)
        if (!allowed(splitKeyPath(block.fullPath))) ++result.skippedKeys;
    result.ok = true;
    return result;
}

std::string RegKey::readString(std::string_view name) const {
    auto v = registry_->readValue(hive_, path_, name);
    return v && v->isString() ? v->data : std::string();
}

std::optional<std::uint32_t> RegKey::readDword(std::string_view name) const {
    auto v = registry_->readValue(hive_, path_, name);
    return v ? v->asDword() : std::nullopt;
}

bool RegKey::valueExists(std::string_view name) const {
    return registry_->valueExists(hive_, path_, name);
}

bool RegKey::writeString(std::string_view name, std::string_view text) const {
    return registry_->writeValue(hive_, path_, name, RegValue::string(std::string(text)));
}

bool RegKey::writeDword(std::string_view name, std::uint32_t value) const {
    return registry_->writeValue(hive_, path_, name, RegValue::dword(value));
}

} // namespace morvane::platform
