#pragma once
// Re-highlighting an editor's text after edits: where to restart the engine, how far to scan,
// and which records take new token bytes.
//
// A pass restarts at the start of the nearest record at or before its first record whose engine
// state is known (TEngineStateTable), scans forward writing the token value of every character,
// and stores a record's bytes only when they changed (flagging it for repaint). It ends where a
// record after the edit starts in the very state it had before (all that follows is then
// unchanged), at the end of the text, or at the record limit. Records left behind by the limit
// are remembered as pending and finished later (THighlightDriver), so no row is painted with
// colours from before an edit.
//
// The engine reads a contiguous text, the store keeps records in blocks: a pass copies records
// into a window that ends after a line break (or, in a line longer than lineWindow, at most that
// far beyond what the scan needs), and keeps a margin of unread text after every token it
// accepts. A token that comes within the margin of the window's end is read again from the last
// checkpoint after the window has grown, so the result is the same as a scan of the whole text;
// only a rule that looks ahead further than the margin without taking the text (none of the
// built-in ones does) sees the window's end inside such a line.

#include "core/editor/TextStore.h"
#include "core/highlight/CodeMemoEngine.h"
#include "core/highlight/EngineStateTable.h"

#include <functional>
#include <vector>

namespace morvane::editor {
class TCustomCodeMemo;
}

namespace morvane::highlight {

using editor::RecIndex;
using editor::TextOffset;

// Raised once with extents -1, -1 before a pass, for each token with its value and offsets, and
// once with -2, -2 after it.
using TTokenSeenEvent = std::function<void(editor::TCustomCodeMemo* Sender, int TokenValue,
                                           TextOffset ExtentStart, TextOffset ExtentEnd)>;
using TTokenSink = std::function<void(int value, TextOffset start, TextOffset end)>;

struct THighlightPass {
    RecIndex start = 0;    // first record to re-highlight
    RecIndex stopFrom = 0; // an unchanged record ends the pass only from this record on
    RecIndex limit = -1;   // >= 0: end at a token boundary once the records before it are done
};

struct THighlightResult {
    TextOffset restart = 0;     // where the engine was restarted
    RecIndex firstChanged = -1; // records that took new bytes
    RecIndex lastChanged = -1;
    RecIndex done = -1; // the last record finished
    RecIndex next = -1; // the first record left for later because of the limit, or -1
};

class THighlightPassRunner {
public:
    struct Sizes {
        // Text scanned between two checkpoints: a token read too close to the window's end
        // costs at most this much re-reading besides the token itself.
        std::size_t checkpointEvery = 16 * 1024;
        // The window first holds this much beyond the margin, then grows as the scan needs.
        std::size_t firstWindow = 16 * 1024;
        std::size_t growBy = 256 * 1024;
        // Finished text in front of the window is dropped beyond this size, so that a huge text
        // needs memory for a window, not for all of it.
        std::size_t dropFinishedAt = 4 * 1024 * 1024;
        std::size_t minMargin = 1024;
        // A window stops short of the line break this far beyond the text it was grown for, so
        // that a line of gigabytes is highlighted in windows rather than copied whole.
        std::size_t lineWindow = 64 * 1024;
    };
    Sizes sizes;

    THighlightResult Run(editor::TTextStore& store, TCodeMemoEngine& engine,
                         TEngineStateTable& states, const THighlightPass& pass,
                         const TTokenSink& seen = {});
    // The most text a window has held since the runner was made: what a pass keeps in memory.
    std::size_t LargestWindow() const { return largestWindow_; }

private:
    // Characters of unread text kept after an accepted token: more than any keyword and any
    // look-ahead of the scan routines that does not stop at a line break.
    std::size_t Margin(const TCodeMemoEngine& engine);
    const TParserDefinition* marginFor_ = nullptr;
    std::size_t marginWords_ = 0;
    std::size_t marginMin_ = 0;
    std::size_t margin_ = 0;
    std::size_t largestWindow_ = 0;
};

// The pending re-highlighting of one text, across edits.
class THighlightDriver {
public:
    // Called for every edit: extent > 0 characters inserted at start, < 0 deleted from start.
    void TextEdited(TextOffset start, TextOffset extent);
    // Re-highlights from the dirty record: up to limit records (< 0: no limit) from it, the rest
    // left pending.
    THighlightResult Rehighlight(editor::TTextStore& store, TCodeMemoEngine& engine,
                                 TEngineStateTable& states, RecIndex dirty, RecIndex limit,
                                 const TTokenSink& seen = {});
    bool Pending() const { return !pending_.empty(); }
    // The first record still waiting, or -1.
    RecIndex PendingRecord(const editor::TTextStore& store) const;
    // Continues the pending work for about maxRecords records; returns whether some is left.
    bool Continue(editor::TTextStore& store, TCodeMemoEngine& engine, TEngineStateTable& states,
                  RecIndex maxRecords, const TTokenSink& seen = {},
                  THighlightResult* result = nullptr);
    // Finishes whatever is pending up to and including record rec.
    void EnsureHighlightedThrough(editor::TTextStore& store, TCodeMemoEngine& engine,
                                  TEngineStateTable& states, RecIndex rec,
                                  const TTokenSink& seen = {});
    // Everything from the first record must be highlighted again (a new highlighter).
    void StartOver() { pending_.assign(1, 0); }
    void Forget() { pending_.clear(); }
    THighlightPassRunner& Runner() { return runner_; }

private:
    THighlightResult RunFrom(editor::TTextStore& store, TCodeMemoEngine& engine,
                             TEngineStateTable& states, const THighlightPass& pass,
                             const TTokenSink& seen);
    // Text offsets from which the highlighting is unfinished, ascending.
    std::vector<TextOffset> pending_;
    THighlightPassRunner runner_;
};

} // namespace morvane::highlight
