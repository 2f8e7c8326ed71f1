// Replaying the undo log backwards and forwards.

#include "core/editor/CustomCodeMemo.h"

#include <algorithm>

namespace morvane::editor {

namespace {
constexpr const char* kBadState = "Bad do/undo stack state";

void ExpectClosing(const TUndoRec& closing, const TUndoRec& opening) {
    if (closing.kind != ukMarker || closing.value1 != opening.value1 || closing.aux != opening.aux)
        throw ECodeMemo(kBadState);
}
} // namespace

// Puts text in place of [from, to) without logging it.
void TCustomCodeMemo::Replay(TextOffset from, TextOffset to, const std::string& text) {
    undo_.recording = false;
    undo_.replaying = true;
    DeleteRange(from, to);
    InsertStored(from, text);
}

// The frame of an undo or redo walk: the view waits, a log that does not read back is cleared
// with a beep, and the view catches up once at the end.
void TCustomCodeMemo::ReplayLogged(const std::function<void()>& walk) {
    bool lock = updateLock_;
    updateLock_ = true;
    try {
        walk();
    } catch (const ECodeMemo&) {
        undo_.Discard();
        Beep();
    }
    undo_.replaying = false;
    undo_.recording = true;
    updateLock_ = lock;
    ScrollToCaret();
    Invalidate();
    NotifyChange();
}

bool TCustomCodeMemo::Undo() {
    if (!undo_.CanUndo()) return false;
    ReplayLogged([&] {
        bool inGroup = false;
        // The start of a group may have been trimmed away: what is left of it is undone.
        while (!inGroup || undo_.CanUndo()) {
            TUndoRec m = undo_.PopUndo();
            if (m.kind != ukMarker) throw ECodeMemo(kBadState);
            if (m.aux == maGroupEnd) {
                undo_.PopUndo();
                ExpectClosing(undo_.PopUndo(), m);
                inGroup = true;
                // A block edit touched many lines: highlighting starts over from the top.
                if (m.value1 == 17 || m.value1 == 18) dirty_ = 0;
                continue;
            }
            if (m.aux == maGroupStart) {
                TUndoRec sel = undo_.PopUndo();
                ExpectClosing(undo_.PopUndo(), m);
                SetSelection(sel.value1, sel.value2, false);
                break;
            }
            TUndoRec after = undo_.PopUndo(), newText = undo_.PopUndo();
            TUndoRec oldText = undo_.PopUndo(), before = undo_.PopUndo();
            ExpectClosing(undo_.PopUndo(), m);
            Replay(std::min(before.value1, before.value2), std::max(after.value1, after.value2),
                   oldText.text);
            SetSelection(before.value1, before.value2, false);
            if (!inGroup) break;
        }
    });
    return true;
}

bool TCustomCodeMemo::Redo() {
    if (!undo_.CanRedo()) return false;
    ReplayLogged([&] {
        bool inGroup = false;
        for (;;) {
            TUndoRec m = undo_.StepRedo();
            if (m.kind != ukMarker) throw ECodeMemo(kBadState);
            if (m.aux == maGroupStart) {
                undo_.StepRedo();
                ExpectClosing(undo_.StepRedo(), m);
                inGroup = true;
                continue;
            }
            if (m.aux == maGroupEnd) {
                TUndoRec sel = undo_.StepRedo();
                ExpectClosing(undo_.StepRedo(), m);
                SetSelection(sel.value1, sel.value2, false);
                break;
            }
            TUndoRec before = undo_.StepRedo(), oldText = undo_.StepRedo();
            TUndoRec newText = undo_.StepRedo(), after = undo_.StepRedo();
            ExpectClosing(undo_.StepRedo(), m);
            Replay(std::min(before.value1, before.value2), std::max(before.value1, before.value2),
                   newText.text);
            SetSelection(after.value1, after.value2, false);
            if (inGroup) continue;
            // The end of a group whose start was trimmed away closes this step too, as undo
            // took them back together.
            const TUndoRec* next = undo_.PeekRedo();
            if (next && next->kind == ukMarker && next->aux == maGroupEnd) {
                TUndoRec end = undo_.StepRedo();
                TUndoRec sel = undo_.StepRedo();
                ExpectClosing(undo_.StepRedo(), end);
                SetSelection(sel.value1, sel.value2, false);
            }
            break;
        }
    });
    return true;
}

} // namespace morvane::editor
