#include "core/editor/UndoStack.h"

#include "core/editor/EditorErrors.h"

namespace morvane::editor {

void TUndoStack::Push(TUndoRec rec) {
    while (entries_.size() > cursor_) {
        bytes_ -= SizeOf(entries_.back());
        entries_.pop_back();
    }
    bytes_ += SizeOf(rec);
    rec.serial = ++serial_;
    entries_.push_back(std::move(rec));
    cursor_ = entries_.size();
}

TUndoRec TUndoStack::PopUndo() {
    if (cursor_ == 0) throw ECodeMemo("Stack underflow");
    return entries_[--cursor_];
}

TUndoRec TUndoStack::StepRedo() {
    if (cursor_ >= entries_.size()) throw ECodeMemo("Stack underflow");
    return entries_[cursor_++];
}

void TUndoStack::Clear() {
    entries_.clear();
    cursor_ = 0;
    bytes_ = 0;
    groupOpen_ = false;
    transactionOpen_ = false;
    baseLost_ = false;
    base_ = clean_ = ++serial_;
}

void TUndoStack::Discard() {
    bool lost = baseLost_ || cursor_ > 0;
    bool clean = cursor_ == 0 && AtClean();
    Clear();
    baseLost_ = lost;
    // The text is no longer named by any entry: it is the file's only if it was and no entry
    // stood between.
    if (!clean) clean_ = 0;
}

void TUndoStack::BeginTransaction(int kind, TextOffset anchor, TextOffset caret,
                                  std::string oldText, std::string newText) {
    if (transactionOpen_) throw ECodeMemo("Bad transaction log entry");
    transactionOpen_ = true;
    transactionKind_ = kind;
    pendingAnchor_ = anchor;
    pendingCaret_ = caret;
    pendingOld_ = std::move(oldText);
    pendingNew_ = std::move(newText);
}

void TUndoStack::EndTransaction(int kind, TextOffset anchorAfter, TextOffset caretAfter) {
    if (!transactionOpen_ || transactionKind_ != kind) throw ECodeMemo("Bad transaction log entry");
    transactionOpen_ = false;
    PushTransaction(pendingAnchor_, pendingCaret_, std::move(pendingOld_), std::move(pendingNew_),
                    anchorAfter, caretAfter);
    pendingOld_.clear();
    pendingNew_.clear();
}

void TUndoStack::SetByteLimit(std::int64_t limit) {
    byteLimit_ = limit;
    Trim();
}

void TUndoStack::Trim() {
    if (byteLimit_ < 0 || bytes_ <= byteLimit_) return;
    std::size_t drop = 0;
    std::int64_t bytes = bytes_;
    while (bytes > byteLimit_ && drop < cursor_) {
        // A unit opens and closes with a marker: the bottom entry goes, then all up to and
        // including the next marker, so no transaction or group boundary is left half.
        std::size_t first = drop;
        do {
            bytes -= SizeOf(entries_[drop]);
            ++drop;
        } while (drop < cursor_ && (drop == first + 1 || entries_[drop - 1].kind != ukMarker));
    }
    if (drop > 0) {
        base_ = entries_[drop - 1].serial;
        entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(drop));
        cursor_ -= drop;
        baseLost_ = true;
    }
    bytes_ = bytes;
    if (bytes_ > byteLimit_)
        while (entries_.size() > cursor_) {
            bytes_ -= SizeOf(entries_.back());
            entries_.pop_back();
        }
}

bool TUndoStack::BeginGroup(int code, TextOffset anchor, TextOffset caret) {
    if (groupOpen_ || !recording) return false;
    groupOpen_ = true;
    groupCode_ = code;
    Push({maGroupStart, ukMarker, code, 0, {}});
    Push({0, ukSelection, anchor, caret, {}});
    Push({maGroupStart, ukMarker, code, 0, {}});
    Trim();
    return true;
}

bool TUndoStack::ReopenGroup(int code) {
    if (groupOpen_ || transactionOpen_ || !recording || replaying) return false;
    if (cursor_ != entries_.size() || cursor_ < 3) return false;
    const TUndoRec& top = entries_[cursor_ - 1];
    if (top.kind != ukMarker || top.aux != maGroupEnd || top.value1 != code) return false;
    for (int k = 0; k < 3; ++k) {
        bytes_ -= SizeOf(entries_.back());
        entries_.pop_back();
    }
    cursor_ = entries_.size();
    groupOpen_ = true;
    groupCode_ = code;
    return true;
}

bool TUndoStack::EndGroup(int code, TextOffset anchor, TextOffset caret) {
    if (!groupOpen_ || groupCode_ != code) return false;
    groupOpen_ = false;
    Push({maGroupEnd, ukMarker, code, 0, {}});
    Push({0, ukSelection, anchor, caret, {}});
    Push({maGroupEnd, ukMarker, code, 0, {}});
    Trim();
    return true;
}

void TUndoStack::PushTransaction(TextOffset anchorBefore, TextOffset caretBefore,
                                 std::string oldText, std::string newText, TextOffset anchorAfter,
                                 TextOffset caretAfter) {
    Push({maTransaction, ukMarker, kTransactionCode, 0, {}});
    Push({0, ukSelection, anchorBefore, caretBefore, {}});
    Push({0, ukText, 0, 0, std::move(oldText)});
    Push({0, ukText, 0, 0, std::move(newText)});
    Push({0, ukSelection, anchorAfter, caretAfter, {}});
    Push({maTransaction, ukMarker, kTransactionCode, 0, {}});
    Trim();
}

} // namespace morvane::editor
