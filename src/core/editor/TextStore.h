#pragma once
// The chain of line records that holds an editor's text. Records are kept in blocks of a few
// ten kilobytes (their characters back to back in one buffer), with a ChainIndex over the
// blocks, so that finding a record by index or by text offset and splicing records in or out
// cost about the same anywhere in a document of millions of lines.

#include "core/editor/ChainIndex.h"
#include "core/editor/LineRec.h"
#include "core/editor/TextEncoding.h"
#include "core/editor/UndoStack.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::editor {

class TCustomCodeMemo;

class TTextStore {
public:
    // Where a text offset lies: the record and the offset of its first character.
    struct Pos {
        RecIndex rec;
        TextOffset start;
    };

    // A position in the chain for walking it record by record.
    struct Cursor {
        std::size_t block = 0;
        std::size_t idx = 0;
        RecIndex rec = 0;
        TextOffset start = 0;
        std::uint32_t local = 0; // start within the block
    };

    TTextStore();
    ~TTextStore();
    TTextStore(const TTextStore&) = delete;
    TTextStore& operator=(const TTextStore&) = delete;

    RecIndex Count() const { return index_.Records(); }
    TextOffset Length() const { return index_.Characters(); }
    bool Empty() const { return Count() == 0; }
    // Records ending with a line break, kept up to date by every edit.
    RecIndex LineBreaks() const { return lineBreaks_; }

    std::string_view Text(RecIndex rec) const;
    const TLineRec& Rec(RecIndex rec) const;
    TLineRec& Rec(RecIndex rec);
    // Offset of a record's first character; Start(Count()) is Length().
    TextOffset Start(RecIndex rec) const;
    // The record holding off. Past the end: the last record, or Count() (the line after it)
    // when the last record ends with CR or there are no records.
    Pos Locate(TextOffset off) const;
    bool EndsWithCR(RecIndex rec) const;

    // Token bytes, one per character; nullptr when the record has none.
    const std::uint8_t* Attrs(RecIndex rec) const;
    void SetAttrs(RecIndex rec, const std::uint8_t* bytes);
    void DropAttrs(RecIndex rec);
    void DropAllAttrs();

    // Longest record, kept per block so it is cheap after every edit.
    int MaxRecordLength() const;

    std::uint16_t GutterMarks(RecIndex rec) const;
    void SetGutterMarks(RecIndex rec, std::uint16_t marks);
    std::int32_t LineBackground(RecIndex rec) const;
    std::uint32_t LineTextColor(RecIndex rec) const;
    void SetLineColors(RecIndex rec, std::int32_t background, std::uint32_t textColor);
    // Whether the record has any side data (gutter marks, colours, a track) at all.
    bool HasExtra(RecIndex rec) const;
    bool HasExtra(const Cursor& c) const;
    TLineTrack* Track(RecIndex rec) const;
    void SetTrack(RecIndex rec, std::unique_ptr<TLineTrack> track);
    // Detaches a record's side data so that a replacement record can take it over.
    std::uint32_t TakeExtra(RecIndex rec);
    // Tracks must not call back into a manager that is going away.
    void ForgetTrackManager(const TLineTrackManager* manager);

    // Replaces removeCount records from first with the given ones. Side data still attached to
    // removed records is freed (track objects included).
    void Splice(RecIndex first, RecIndex removeCount, const TNewRec* add, std::size_t addCount);
    // Shortens or lengthens a record's text in place (the fast path of typing one character).
    void ReplaceInRecord(RecIndex rec, std::size_t at, std::size_t removeLen,
                         std::string_view insert);
    void Clear();

    // Appends stored text (line breaks as CR) after the last record, cut into records at each CR
    // and after maxLen characters as an insertion cuts them. A last record without CR is continued,
    // keeping its mark word and side data. This is the fast way in for a load: the text is copied
    // once, straight into blocks that are filled to their size and then left alone.
    struct Appended {
        RecIndex first = 0; // the first record written (the continued one, if any)
        RecIndex last = -1;
        int longest = 0;
    };
    Appended AppendStored(std::string_view stored, std::size_t maxLen);

    Cursor CursorAt(RecIndex rec) const;
    bool AtEnd(const Cursor& c) const { return c.rec >= Count(); }
    // Steps to the next record; at the last one it moves to the end position and returns false.
    bool Next(Cursor& c) const;
    bool Prev(Cursor& c) const;
    std::string_view Text(const Cursor& c) const;
    TLineRec& Rec(const Cursor& c);
    const TLineRec& Rec(const Cursor& c) const;
    // Token bytes by cursor, for walks over many records.
    const std::uint8_t* Attrs(const Cursor& c) const;
    void SetAttrs(const Cursor& c, const std::uint8_t* bytes);

    // The text as contiguous pieces, one per block, for scanning without copying it.
    struct Span {
        std::size_t block = 0;
        TextOffset start = 0;
        std::string_view text;
    };
    // The span holding off; at or past the end, an empty span at Length().
    Span SpanAt(TextOffset off) const;
    // Steps to the following (preceding) span; false at the last (first) one.
    bool NextSpan(Span& s) const;
    bool PrevSpan(Span& s) const;

    // Changes on every edit, so that cursors held elsewhere know to re-aim.
    std::uint64_t Generation() const { return generation_; }

    // The undo log belongs to the text, so that every control showing it replays the same
    // history and no control keeps a log that another's edits have outdated.
    TUndoStack& UndoLog() { return undo_; }

    // How the bytes read as characters: the text's own, so every control showing it agrees.
    TTextEncoding Encoding() const { return encoding_; }
    void SetEncoding(TTextEncoding e) { encoding_ = e; }

    // The controls that display this chain.
    void AddControl(TCustomCodeMemo* memo);
    void RemoveControl(TCustomCodeMemo* memo);
    const std::vector<TCustomCodeMemo*>& Controls() const { return controls_; }

private:
    struct Block;
    std::pair<std::size_t, std::size_t> Find(RecIndex rec) const;
    TLineExtra& ExtraFor(RecIndex rec);
    const TLineExtra* ExtraOf(RecIndex rec) const;
    void FreeExtra(std::uint32_t slot);
    std::uint32_t SlotOf(std::size_t block, std::size_t idx) const;
    void SplitIfLarge(std::size_t block);
    void CloseLoadBlock(std::size_t block);

    std::vector<std::unique_ptr<Block>> blocks_;
    ChainIndex index_;
    std::vector<TLineExtra> extras_;
    std::vector<std::uint32_t> freeExtras_;
    std::vector<TCustomCodeMemo*> controls_;
    TUndoStack undo_;
    std::uint64_t generation_ = 0;
    RecIndex lineBreaks_ = 0;
    TTextEncoding encoding_ = TTextEncoding::teUTF8;
};

} // namespace morvane::editor
