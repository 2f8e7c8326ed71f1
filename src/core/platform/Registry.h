#pragma once
// The settings store: a tree of keys and typed values with the rules of the Windows registry
// (case-insensitive names, the unnamed default value "", enumeration in insertion order), kept
// as one regedit-format text file per hive.
//
// Every write takes an exclusive lock, reloads the file if another process changed it, applies
// the change, and replaces the file atomically (temporary file, fsync, rename), so concurrent
// writers lose nothing and a writer killed midway leaves the previous file intact. Reads reload
// when the file changed. A file that does not parse is moved aside, never overwritten, and the
// problem is reported through onProblem.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::platform {

enum class Hive { CurrentUser, LocalMachine };

// Value types carry the Windows numbers so that imported values keep their meaning.
enum RegType : std::uint32_t {
    regNone = 0,
    regSz = 1,
    regExpandSz = 2,
    regBinary = 3,
    regDword = 4,
    regMultiSz = 7,
    regQword = 11,
};

struct RegValue {
    std::uint32_t type = regSz;
    // regSz/regExpandSz: the text without a terminating NUL; regDword: 4 bytes little-endian;
    // every other type: the raw bytes.
    std::string data;

    static RegValue string(std::string text) { return {regSz, std::move(text)}; }
    static RegValue dword(std::uint32_t v);
    static RegValue binary(std::string bytes) { return {regBinary, std::move(bytes)}; }

    bool isString() const { return type == regSz || type == regExpandSz; }
    std::optional<std::uint32_t> asDword() const; // only for regDword values of 4 bytes
    bool operator==(const RegValue&) const = default;
};

struct RegistryTree; // the in-memory form of one key and everything below it

using RegValueList = std::vector<std::pair<std::string, RegValue>>;

// One subkey and its values, for Registry::replaceKey.
struct RegSubkey {
    std::string name;
    RegValueList values;
};

class Registry {
public:
    // Hive files live in dir: user.reg (current user) and machine.reg (local machine).
    explicit Registry(std::filesystem::path dir);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // MORVANE_CONFIG_DIR, else $XDG_CONFIG_HOME/morvane, else ~/.config/morvane.
    static std::filesystem::path defaultDir();

    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path hiveFile(Hive hive) const;

    // Called once for each problem met while loading (a file set aside); the text is for the user.
    // Without a handler the problems are kept until takeProblems().
    std::function<void(const std::string& message)> onProblem;
    std::vector<std::string> takeProblems();

    // Key paths are relative to the hive root and separated by backslashes,
    // e.g. "Software\\Orvandel\\Morvane\\2.1\\Settings". Writes return false when the store
    // cannot be written (the reason is kept in lastError()).
    bool keyExists(Hive hive, std::string_view path);
    bool createKey(Hive hive, std::string_view path); // creates missing parents too
    bool deleteKey(Hive hive, std::string_view path); // the key and everything below it
    std::vector<std::string> subKeyNames(Hive hive, std::string_view path);
    std::vector<std::string> valueNames(Hive hive, std::string_view path);

    std::optional<RegValue> readValue(Hive hive, std::string_view path, std::string_view name);
    bool valueExists(Hive hive, std::string_view path, std::string_view name);
    std::optional<std::size_t> valueSize(Hive hive, std::string_view path, std::string_view name);
    // Creates the key when it does not exist.
    bool writeValue(Hive hive, std::string_view path, std::string_view name, const RegValue& value);
    bool deleteValue(Hive hive, std::string_view path, std::string_view name);
    // Sets several values of one key (creating it) in one write: all of them or none.
    bool writeValues(Hive hive, std::string_view path, const RegValueList& values);
    // Replaces the key and everything below it by these subkeys, in this order, in one write:
    // either the new tree is stored or the old one stays untouched. Subkey names must be
    // distinct (case-insensitively) and may not contain a backslash or a line break.
    bool replaceKey(Hive hive, std::string_view path, const std::vector<RegSubkey>& subkeys);

    // Copies the key with all its values and subkeys to the target, then deletes the source.
    // Does nothing and returns false when the source is missing or the target exists already.
    bool moveKey(Hive fromHive, std::string_view from, Hive toHive, std::string_view to);

    // Imports a regedit export (REGEDIT4 in the ANSI code page, or version 5.00 in UTF-16LE or
    // UTF-8). Only keys below one of allowedPrefixes (full paths such as
    // "HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane") are taken; the rest are counted as skipped.
    struct ImportResult {
        bool ok = false;
        std::string error; // why nothing was imported
        int keys = 0;
        int values = 0;
        int skippedKeys = 0;
    };
    ImportResult importFile(const std::filesystem::path& file,
                            const std::vector<std::string>& allowedPrefixes);

    const std::string& lastError() const { return lastError_; }

    // For tests of crash safety: called after half of a hive file's new contents are written.
    static inline void (*testHookMidWrite)() = nullptr;

private:
    struct HiveState;
    HiveState& state(Hive hive);
    // lockHeld: the caller holds the hive's write lock already (a second flock on the same file
    // from this process would wait for itself).
    void refresh(HiveState& hs, bool lockHeld = false);
    bool mutate(Hive hive, const std::function<bool(RegistryTree&)>& change);

    std::filesystem::path dir_;
    std::unique_ptr<HiveState> user_;
    std::unique_ptr<HiveState> machine_;
    std::string lastError_;
    std::vector<std::string> problems_;
};

// An open key: a hive and a path, read and written through the store. Reading an absent value,
// or one that is not a string, as text gives the empty text.
class RegKey {
public:
    RegKey(Registry& registry, Hive hive, std::string path)
        : registry_(&registry), hive_(hive), path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    Hive hive() const { return hive_; }
    Registry& registry() const { return *registry_; }

    std::string readString(std::string_view name) const;
    std::optional<std::uint32_t> readDword(std::string_view name) const;
    bool valueExists(std::string_view name) const;
    bool writeString(std::string_view name, std::string_view text) const;
    bool writeDword(std::string_view name, std::uint32_t value) const;

private:
    Registry* registry_;
    Hive hive_;
    std::string path_;
};

} // namespace morvane::platform
