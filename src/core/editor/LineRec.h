#pragma once
// One stored line record and the rarely used data a record may carry.

#include "core/editor/TextTypes.h"

#include <cstdint>
#include <memory>

namespace morvane::editor {

class TLineTrackManager;

// An object that follows one line through edits (for example a compiler error marker). It is
// owned by its record and freed with it unless it moves to the record that replaces it.
class TLineTrack {
public:
    explicit TLineTrack(int trackId) : TrackID(trackId) {}
    virtual ~TLineTrack() = default;
    const int TrackID;
    TLineTrackManager* Manager = nullptr; // told when the track is freed
};

// Kept to eight bytes: a 100 MB file holds over a million and a half of these. The text lives in
// the store's block buffer; gutter marks, line colours and the track object live in a side table
// (found through the block's short list of records that have any) because few records have them.
struct TLineRec {
    std::uint16_t length = 0; // characters, the CR included
    std::uint16_t mark = 0;   // bookmark bits 0-9, kContinuation
    std::uint32_t flags = 0;  // lfRepaint, lfStale, lfHasTab, lfHasAttrs, highlighter bits

    bool EndsWithCR(const char* text) const { return length > 0 && text[length - 1] == kCR; }
};
static_assert(sizeof(TLineRec) == 8);

struct TLineExtra {
    std::uint16_t gutterMarks = 0;
    std::int32_t background = -1;
    std::uint32_t textColor = 0;
    std::unique_ptr<TLineTrack> track;

    bool Empty() const { return gutterMarks == 0 && background == -1 && !track; }
};

// A record as handed to TTextStore::Splice: its text and the metadata it starts with.
struct TNewRec {
    const char* text;
    std::uint16_t length;
    std::uint16_t mark;
    std::uint32_t flags;
    std::uint32_t extra; // taken from an old record with TTextStore::TakeExtra, or 0
};

} // namespace morvane::editor
