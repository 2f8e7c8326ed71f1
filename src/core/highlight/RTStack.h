#pragma once
// TRTStack: the engine's stack of state sets for push and pop.

#include "core/editor/StateSet.h"

#include <cstddef>
#include <deque>
#include <stdexcept>

namespace morvane::highlight {

class EStackUnderflow : public std::runtime_error {
public:
    EStackUnderflow() : std::runtime_error("Stack underflow") {}
};

class TRTStack {
public:
    // A text that pushes on every token and never pops would otherwise grow the stack with the
    // text; past this depth the oldest level is dropped. Re-highlighting keeps one state per
    // distinct record start, each with its stack, so the depth also bounds what a file of
    // unclosed brackets (CSS, JSON) costs: a few MB, where 4096 levels cost a GB.
    static constexpr std::size_t kMaxDepth = 256;

    void push(const editor::StateSet& s) {
        if (items_.size() >= kMaxDepth) items_.pop_front();
        items_.push_back(s);
    }
    // Raises EStackUnderflow on an empty stack.
    editor::StateSet pop() {
        if (items_.empty()) throw EStackUnderflow();
        editor::StateSet s = items_.back();
        items_.pop_back();
        return s;
    }
    bool empty() const { return items_.empty(); }
    std::size_t size() const { return items_.size(); }
    void clear() { items_.clear(); }
    const std::deque<editor::StateSet>& items() const { return items_; }
    bool operator==(const TRTStack&) const = default;

private:
    std::deque<editor::StateSet> items_;
};

} // namespace morvane::highlight
