#include "core/highlight/EngineStateTable.h"

namespace morvane::highlight {

std::uint32_t TEngineStateTable::Intern(const TCodeMemoEngine& engine) {
    if (engine.InContainer()) return kUnknown;
    if (const TEngineState* s = Find(last_); s && engine.SameStateOutside(*s)) return last_;
    TEngineState state = engine.SaveState();
    // Outside a container only these fields carry over to the next token.
    state.saved = state.current;
    state.containerEnd = 0;
    state.containerToken = 0;
    std::uint32_t depth = std::uint32_t(state.stack.size());
    std::string key(reinterpret_cast<const char*>(&depth), sizeof depth);
    key.append(reinterpret_cast<const char*>(state.current.bits.data()), 32);
    for (const auto& level : state.stack.items())
        key.append(reinterpret_cast<const char*>(level.bits.data()), 32);
    key += state.customData;
    auto [it, added] = index_.try_emplace(std::move(key), kUnknown);
    if (added) {
        if (states_.size() >= kMaxId) {
            index_.erase(it);
            return kUnknown;
        }
        states_.push_back(std::move(state));
        it->second = std::uint32_t(states_.size());
    }
    last_ = it->second;
    return last_;
}

void TEngineStateTable::Clear() {
    states_.clear();
    index_.clear();
    last_ = kUnknown;
}

} // namespace morvane::highlight
