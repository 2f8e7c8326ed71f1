#pragma once
// Ranges of text that follow edits (position marks) and objects that follow lines (tracks).

#include "core/editor/LineRec.h"
#include "core/editor/TextTypes.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace morvane::editor {

class TTextStore;

struct TPositionMark {
    TextOffset start = 0;
    TextOffset end = 0;
    std::uint8_t flag = 0;
    std::uint32_t value = 0;
};

// Kept sorted by start.
class TMarkList {
public:
    using Notify = std::function<void(const TPositionMark&)>;

    std::size_t Add(TextOffset start, TextOffset end, std::uint8_t flag, std::uint32_t value);
    // Moves a mark and re-sorts it; returns its new index.
    std::size_t SetRange(std::size_t index, TextOffset start, TextOffset end);
    void Remove(std::size_t index);
    std::size_t Count() const { return marks_.size(); }
    const TPositionMark& operator[](std::size_t i) const { return marks_[i]; }

    // A mark at or after the insertion point moves; a mark around it grows.
    void TextInserted(TextOffset at, TextOffset length, const Notify& changed);
    // Marks inside the range go, marks after it move back, marks overlapping it shrink.
    void TextDeleted(TextOffset from, TextOffset to, const Notify& changed, const Notify& freed);
    void Clear(const Notify& freed);

private:
    std::size_t Resort(std::size_t index);
    std::vector<TPositionMark> marks_;
};

// Creates track objects on lines and reports when they come and go.
class TLineTrackManager {
public:
    explicit TLineTrackManager(TTextStore& store) : store_(store) {}
    std::function<void(int trackId)> OnTrackAdd;
    std::function<void(int trackId)> OnTrackFree;

    // Attaches a new track to a record (replacing any it had) and returns it.
    TLineTrack* Add(RecIndex rec);
    // The record that holds a track now, -1 if it is gone.
    RecIndex LineOf(int trackId) const;
    void Freed(TLineTrack* track);

private:
    TTextStore& store_;
    int nextId_ = 1;
};

} // namespace morvane::editor
