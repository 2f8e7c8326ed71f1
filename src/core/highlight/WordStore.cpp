#include "core/highlight/WordStore.h"

#include <algorithm>

namespace morvane::highlight {

std::int32_t TWordStore::child(std::int32_t n, char c) const {
    const auto& ch = nodes_[std::size_t(n)].children;
    auto it = std::lower_bound(ch.begin(), ch.end(), c,
                               [](const auto& p, char x) { return p.first < x; });
    return (it != ch.end() && it->first == c) ? it->second : -1;
}

void TWordStore::set(std::string_view word, std::int32_t value) {
    std::int32_t n = 0;
    for (char raw : word) {
        char c = fold(raw);
        std::int32_t next = child(n, c);
        if (next < 0) {
            next = std::int32_t(nodes_.size());
            nodes_.emplace_back();
            auto& ch = nodes_[std::size_t(n)].children;
            auto it = std::lower_bound(ch.begin(), ch.end(), c,
                                       [](const auto& p, char x) { return p.first < x; });
            ch.insert(it, {c, next});
        }
        n = next;
    }
    nodes_[std::size_t(n)].terminal = true;
    nodes_[std::size_t(n)].value = value;
}

std::optional<std::int32_t> TWordStore::find(std::string_view word) const {
    std::int32_t n = 0;
    for (char c : word) {
        n = child(n, fold(c));
        if (n < 0) return std::nullopt;
    }
    if (!nodes_[std::size_t(n)].terminal) return std::nullopt;
    return nodes_[std::size_t(n)].value;
}

std::vector<std::pair<std::size_t, std::int32_t>>
TWordStore::prefixesOf(std::string_view text) const {
    std::vector<std::pair<std::size_t, std::int32_t>> found;
    std::int32_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        n = child(n, fold(text[i]));
        if (n < 0) break;
        if (nodes_[std::size_t(n)].terminal)
            found.emplace_back(i + 1, nodes_[std::size_t(n)].value);
    }
    std::reverse(found.begin(), found.end());
    return found;
}

} // namespace morvane::highlight
