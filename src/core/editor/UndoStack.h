#pragma once
// The log of text changes. Where its cursor stands against the text last loaded or saved is the
// control's modified state.

#include "core/editor/TextTypes.h"

#include <cstdint>
#include <deque>
#include <string>

namespace morvane::editor {

enum TUndoKind : std::int32_t { ukSelection = 0, ukText = 1, ukMarker = 5 };
enum TMarkerAux : std::int32_t { maTransaction = 0, maGroupStart = 2, maGroupEnd = 3 };

struct TUndoRec {
    std::int32_t aux = 0;
    std::int32_t kind = ukMarker;
    TextOffset value1 = 0;    // anchor, or the marker's code
    TextOffset value2 = 0;    // caret
    std::string text;         // payload of a text record
    std::uint64_t serial = 0; // given by Push: names the text as it is once this record is done
};

class TUndoStack {
public:
    static constexpr int kTransactionCode = 1;

    void Push(TUndoRec rec);
    // The record at the cursor; the cursor steps down. Raises ECodeMemo "Stack underflow".
    TUndoRec PopUndo();
    // The record above the cursor without stepping; nullptr when there is none.
    const TUndoRec* PeekRedo() const {
        return cursor_ < entries_.size() ? &entries_[cursor_] : nullptr;
    }
    // The record above the cursor; the cursor steps up.
    TUndoRec StepRedo();
    // Forgets the whole log, for a text that is now its starting point (loaded or saved).
    void Clear();
    // Forgets the whole log of a text that still differs from where the log started.
    void Discard();
    // Entries were dropped from the bottom (trimmed or discarded): undoing all that is left does
    // not bring the text back to where the log started.
    bool BaseLost() const { return baseLost_; }

    // Names the text as it is now: undo and redo back to the same place give the same name, and
    // no other text ever gets it (a new edit after undoing starts names of its own).
    std::uint64_t State() const { return cursor_ > 0 ? entries_[cursor_ - 1].serial : base_; }
    // The text named state is the file's now (it was loaded or saved). It need not be the text
    // of the moment: an edit made while a save was on its way leaves the text modified.
    void MarkClean(std::uint64_t state) { clean_ = state; }
    // Whether the text is the file's: the log stands where it was marked clean.
    bool AtClean() const { return State() == clean_; }

    std::size_t Count() const { return cursor_; }
    bool CanUndo() const { return cursor_ > 0; }
    bool CanRedo() const { return cursor_ < entries_.size(); }
    std::int64_t Bytes() const { return bytes_; }
    std::int64_t ByteLimit() const { return byteLimit_; }
    void SetByteLimit(std::int64_t limit);

    // Groups do not nest: opening while one is open does nothing; only its own code closes it.
    bool BeginGroup(int code, TextOffset anchor, TextOffset caret);
    bool EndGroup(int code, TextOffset anchor, TextOffset caret);
    // Opens again the group on top of the log, when it is the last thing done (nothing to redo)
    // and has this code, so that what follows joins it as one step.
    bool ReopenGroup(int code);
    bool GroupOpen() const { return groupOpen_; }
    int GroupCode() const { return groupCode_; }

    // A whole replacement: marker, selection before, old text, new text, selection after, marker.
    void PushTransaction(TextOffset anchorBefore, TextOffset caretBefore, std::string oldText,
                         std::string newText, TextOffset anchorAfter, TextOffset caretAfter);

    // One replacement recorded around its execution. Beginning while one is open, or ending
    // without a begin or with another kind, raises ECodeMemo "Bad transaction log entry".
    void BeginTransaction(int kind, TextOffset anchor, TextOffset caret, std::string oldText,
                          std::string newText);
    void EndTransaction(int kind, TextOffset anchorAfter, TextOffset caretAfter);
    // Forgets an open transaction whose replacement failed.
    void AbandonTransaction() { transactionOpen_ = false; }
    bool TransactionOpen() const { return transactionOpen_; }

    bool recording = true;
    bool replaying = false;

private:
    static std::int64_t SizeOf(const TUndoRec& r) {
        return 16 + 16 + static_cast<std::int64_t>(r.text.size());
    }
    // Keeps the log within the byte limit. Only whole units go: the oldest done ones first,
    // then, if it still does not fit, every undone one (a redo must start from the text it was
    // recorded on, so none may be skipped).
    void Trim();

    std::deque<TUndoRec> entries_; // grows at the top, trimmed at the bottom
    std::size_t cursor_ = 0; // invariant: entries below cursor_ are done, the rest can be redone
    std::int64_t bytes_ = 0;
    std::int64_t byteLimit_ = -1;
    bool groupOpen_ = false;
    bool transactionOpen_ = false;
    int transactionKind_ = 0;
    TextOffset pendingAnchor_ = 0, pendingCaret_ = 0;
    std::string pendingOld_, pendingNew_;
    int groupCode_ = 0;
    bool baseLost_ = false;
    std::uint64_t serial_ = 0; // the last name given; names are never given twice
    std::uint64_t base_ = 0;   // the name of the text below the oldest entry
    std::uint64_t clean_ = 0;
};

} // namespace morvane::editor
