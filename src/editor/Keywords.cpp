#include "editor/Keywords.h"

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

// Siblings stay in ascending character order.
std::int32_t TKeywords::insertChild(std::int32_t* link, char c) {
    while (*link >= 0 && std::uint8_t(nodes_[*link].ch) < std::uint8_t(c))
        link = &nodes_[*link].sibling;
    if (*link >= 0 && nodes_[*link].ch == c) return *link;
    Node node;
    node.ch = c;
    node.sibling = *link;
    nodes_.push_back(std::move(node));
    *link = std::int32_t(nodes_.size() - 1);
    return *link;
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
        // The link lives inside nodes_, which insertChild may grow: copy it out first.
        std::int32_t first = nodes_[n].child;
        std::int32_t child = insertChild(&first, word[i]);
        nodes_[n].child = first;
        n = child;
        nodes_[n].states |= states;
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
    std::optional<Match> best;
    if (pos >= text.size()) return best;
    auto fold = [&](char c) { return caseSensitive_ ? c : lower(c); };
    std::int32_t n = index_[std::uint8_t(fold(text[pos]))];
    std::size_t i = pos;
    while (n >= 0 && nodes_[n].states.meets(states)) {
        ++i;
        int next = i < text.size() ? std::uint8_t(text[i]) : -1;
        for (const auto& e : nodes_[n].entries) {
            if (!e.states.meets(states)) continue;
            if (e.followGroup >= 0 && follow && !follow(e.followGroup, next)) continue;
            best = Match{i - pos, e};
            break;
        }
        if (i >= text.size()) break;
        n = findChild(nodes_[n].child, fold(text[i]));
    }
    return best;
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
