#pragma once
// The regedit text format: parsing (REGEDIT4 and version 5.00, UTF-8 or UTF-16LE) into blocks
// of key changes, and writing a key tree back as version 5.00 text in UTF-8.
//
// Text values are 8-bit strings that the program treats as UTF-8. A string that cannot be
// written between quotes (control characters, bytes that are not UTF-8) is written as hex(1):
// UTF-16LE in which each stray byte b is the lone surrogate U+DC00 + b, so every byte string
// survives the round trip.

#include "core/platform/Registry.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace morvane::platform {

// A key with its values and subkeys in insertion order. Lookups by name go through an index
// (name to position, without case) so that a key with a million children loads in linear time; a
// vector changed from outside is indexed again on its next lookup when its size changed.
struct RegistryTree {
    std::string name;
    std::vector<std::pair<std::string, RegValue>> values; // insertion order
    std::vector<RegistryTree> subkeys;                    // insertion order

    // Hashes and compares names as namesEqual does, also for a string_view looked up.
    struct FoldedHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const;
    };
    struct FoldedEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    struct NameIndex {
        std::unordered_map<std::string, std::size_t, FoldedHash, FoldedEqual> positions;
        std::size_t covered = 0; // entries of the vector indexed so far
    };
    // Made on the first lookup, so leaves cost one pointer; a copy starts without one and
    // indexes again when it is first searched.
    struct LazyIndex {
        std::unique_ptr<NameIndex> index;
        LazyIndex() = default;
        LazyIndex(const LazyIndex&) {}
        LazyIndex(LazyIndex&&) noexcept = default;
        LazyIndex& operator=(const LazyIndex& other) {
            if (this != &other) index.reset();
            return *this;
        }
        LazyIndex& operator=(LazyIndex&&) noexcept = default;
        NameIndex& get() {
            if (!index) index = std::make_unique<NameIndex>();
            return *index;
        }
    };
    mutable LazyIndex valueIndex;
    mutable LazyIndex subkeyIndex;

    RegistryTree* child(std::string_view childName);
    RegistryTree& childOrCreate(std::string_view childName);
    bool removeChild(std::string_view childName);
    // Null when the path (backslash-separated, relative to this key) does not exist.
    RegistryTree* find(std::string_view path);
    RegistryTree& findOrCreate(std::string_view path);
    const RegValue* value(std::string_view valueName) const;
    void setValue(std::string_view valueName, const RegValue& v);
    bool removeValue(std::string_view valueName);
    // Copies values and subkeys of other into this key, replacing values of the same name.
    void merge(const RegistryTree& other);
};

bool namesEqual(std::string_view a, std::string_view b); // ASCII case-insensitive
std::vector<std::string_view> splitKeyPath(std::string_view path);
// Joins parts[first, last) with backslashes.
std::string joinKeyPath(const std::vector<std::string_view>& parts, std::size_t first,
                        std::size_t last);

struct RegBlock {
    std::string fullPath; // with its root, e.g. "HKEY_CURRENT_USER\\Software\\X"
    bool removeKey = false;
    // nullopt: delete the value
    std::vector<std::pair<std::string, std::optional<RegValue>>> values;
    int line = 0;
};

struct RegParseResult {
    bool ok = false;
    std::string error; // "line N: what is wrong"
    std::vector<RegBlock> blocks;
};

// Applies one block to the tree of its hive (the block's root name is not checked here): deletes
// the key, or creates it and sets or deletes its values. Returns the number of values touched.
int applyRegBlock(RegistryTree& hiveRoot, const RegBlock& block);

// Accepts a UTF-16LE file (with its byte-order mark) or an 8-bit file; REGEDIT4 text is taken as
// Windows-1252 and converted to UTF-8.
RegParseResult parseRegText(std::string_view bytes);

// Writes the tree as a version 5.00 file whose keys are rootName followed by the key paths.
std::string serializeRegTree(std::string_view rootName, const RegistryTree& root);

} // namespace morvane::platform
