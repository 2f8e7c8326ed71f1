#include "core/editor/Keywords.h"

namespace morvane::editor {

std::string TKeywords::lowered(std::string_view s) {
    std::string r(s);
    for (auto& c : r)
        c = lower(c);
    return r;
}

void TKeywords::clear() {
    index_.fill(-1);
    nodes_.clear();
    words_.clear();
}

std::int32_t TKeywords::findChild(std::int32_t n, char c) const {
    while (n >= 0 && nodes_[n].ch != c)
        n = nodes_[n].sibling;
    return n;
}

// Siblings stay in ascending character order. Works on indexes: adding a node may move nodes_.
std::int32_t TKeywords::insertChild(std::int32_t parent, char c) {
    std::int32_t prev = -1;
    std::int32_t n = nodes_[std::size_t(parent)].child;
    while (n >= 0 && std::uint8_t(nodes_[std::size_t(n)].ch) < std::uint8_t(c)) {
        prev = n;
        n = nodes_[std::size_t(n)].sibling;
    }
    if (n >= 0 && nodes_[std::size_t(n)].ch == c) return n;
    Node node;
    node.ch = c;
    node.sibling = n;
    nodes_.push_back(std::move(node));
    auto added = std::int32_t(nodes_.size() - 1);
    if (prev < 0)
        nodes_[std::size_t(parent)].child = added;
    else
        nodes_[std::size_t(prev)].sibling = added;
    return added;
}

std::int32_t TKeywords::walk(std::string_view word) const {
    if (word.empty()) return -1;
    std::int32_t n = index_[std::uint8_t(word[0])];
    for (std::size_t i = 1; n >= 0 && i < word.size(); ++i)
        n = findChild(nodes_[n].child, word[i]);
    return n;
}

void TKeywords::add(std::string_view rawWord, std::uint8_t token, const StateSet& states,
                    std::int32_t followGroup) {
    if (rawWord.empty()) return;
    std::string word = caseSensitive_ ? std::string(rawWord) : lowered(rawWord);
    if (std::int32_t end = walk(word); end >= 0) {
        for (const auto& e : nodes_[end].entries)
            if (e.states.meets(states)) throw EKeywords("Duplicate keyword - '" + word + "'");
    }
    std::uint8_t c0 = std::uint8_t(word[0]);
    if (index_[c0] < 0) {
        Node node;
        node.ch = word[0];
        nodes_.push_back(std::move(node));
        index_[c0] = std::int32_t(nodes_.size() - 1);
    }
    std::int32_t n = index_[c0];
    nodes_[n].states |= states;
    for (std::size_t i = 1; i < word.size(); ++i) {
        n = insertChild(n, word[i]);
        nodes_[std::size_t(n)].states |= states;
    }
    KeywordEntry entry{states, token, followGroup};
    nodes_[n].entries.push_back(entry);
    words_.emplace_back(word, entry);
}

std::optional<KeywordEntry> TKeywords::find(std::string_view rawWord,
                                            const StateSet& states) const {
    std::string word = caseSensitive_ ? std::string(rawWord) : lowered(rawWord);
    std::int32_t n = walk(word);
    if (n < 0) return std::nullopt;
    for (const auto& e : nodes_[n].entries)
        if (e.states.meets(states)) return e;
    return std::nullopt;
}

std::optional<TKeywords::Match> TKeywords::matchForward(std::string_view text, std::size_t pos,
                                                        const StateSet& states,
                                                        const FollowTest& follow) const {
    Hit h = matchAt(text, pos, states,
                    [&](std::int32_t group, int ch) { return !follow || follow(group, ch); });
    if (!h.entry) return std::nullopt;
    return Match{h.length, *h.entry};
}

std::optional<TKeywords::Match> TKeywords::matchBackward(std::string_view text, std::size_t end,
                                                         const StateSet& states) const {
    std::optional<Match> best;
    if (end == 0 || end > text.size()) return best;
    auto fold = [&](char c) { return caseSensitive_ ? c : lower(c); };
    std::size_t i = end;
    std::int32_t n = index_[std::uint8_t(fold(text[i - 1]))];
    while (n >= 0 && nodes_[n].states.meets(states)) {
        --i;
        for (const auto& e : nodes_[n].entries)
            if (e.states.meets(states)) {
                best = Match{end - i, e};
                break;
            }
        if (i == 0) break;
        n = findChild(nodes_[n].child, fold(text[i - 1]));
    }
    return best;
}

void TKeywords::forEach(
    const std::function<void(const std::string&, const KeywordEntry&)>& fn) const {
    for (const auto& [w, e] : words_)
        fn(w, e);
}

} // namespace morvane::editor
