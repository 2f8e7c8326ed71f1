#pragma once
// Engine states at record starts, numbered, so that a record keeps the state scanning had at its
// first character in the highlighter bits of its flags. Re-highlighting restarts from such a
// state exactly, and stops where a record's new state equals the one it had: every token after
// it is then what it was (equal state plus equal text give equal tokens).

#include "core/highlight/CodeMemoEngine.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace morvane::highlight {

class TEngineStateTable {
public:
    // Numbers live in flag bits 5-31 of a record; 0 means not known.
    static constexpr unsigned kShift = 5;
    static constexpr std::uint32_t kUnknown = 0;
    static constexpr std::uint32_t kMaxId = (1u << (32 - kShift)) - 1;

    // The number of the engine's current state; kUnknown inside a container (its end is an
    // offset that moves with edits) or when the table is full.
    std::uint32_t Intern(const TCodeMemoEngine& engine);
    // Null for an unknown number.
    const TEngineState* Find(std::uint32_t id) const {
        return id == kUnknown || id > states_.size() ? nullptr : &states_[id - 1];
    }
    std::size_t Size() const { return states_.size(); }
    void Clear();

    static std::uint32_t IdOf(std::uint32_t flags) { return flags >> kShift; }
    static std::uint32_t WithId(std::uint32_t flags, std::uint32_t id) {
        return (flags & ((1u << kShift) - 1)) | (id << kShift);
    }

private:
    std::vector<TEngineState> states_;
    std::unordered_map<std::string, std::uint32_t> index_;
    std::uint32_t last_ = kUnknown; // consecutive records mostly share a state
};

} // namespace morvane::highlight
