// The command method: caret movement, deletion, and the hand-off of the other commands.

#include "core/editor/CustomCodeMemo.h"

#include "core/platform/UiServices.h"

#include <algorithm>

namespace morvane::editor {

namespace {
constexpr DisplayColumn kMaxVirtualColumn = 2047;

bool IsMovement(int command) {
    return command >= ecCursorLeft && command <= ecDocEnd;
}

// Commands that keep a virtual caret standing.
bool KeepsVirtualCaret(int command) {
    return command == ecCursorLeft || command == ecCursorRight || command == ecLineUp ||
           command == ecLineDown || command == ecPageUp || command == ecPageDown ||
           command == ecDeleteChar || command == ecDeleteLastChar; // these end it themselves
}

} // namespace

// A character never spans two records (record cuts keep sequences whole), so each record is
// read on its own.
TextOffset TCustomCodeMemo::NextCharBoundary(TextOffset pos) const {
    if (pos < 0) return 0;
    if (pos >= TextLength()) return TextLength();
    auto where = store_->Locate(pos);
    std::string_view t = store_->Text(where.rec);
    return where.start + static_cast<TextOffset>(NextCharStart(
                             Encoding(), t, static_cast<std::size_t>(pos - where.start)));
}

TextOffset TCustomCodeMemo::PrevCharBoundary(TextOffset pos) const {
    pos = std::min(pos, TextLength());
    if (pos <= 0) return 0;
    auto where = store_->Locate(pos - 1);
    std::string_view t = store_->Text(where.rec);
    return where.start + static_cast<TextOffset>(CharStart(
                             Encoding(), t, static_cast<std::size_t>(pos - 1 - where.start)));
}

TextOffset TCustomCodeMemo::CharStartAt(TextOffset pos) const {
    if (pos <= 0) return 0;
    if (pos >= TextLength()) return TextLength();
    auto where = store_->Locate(pos);
    std::string_view t = store_->Text(where.rec);
    return where.start + static_cast<TextOffset>(
                             CharStart(Encoding(), t, static_cast<std::size_t>(pos - where.start)));
}

bool TCustomCodeMemo::CaretAfterEOLAllowed() const {
    return (options_ & smoCaretAfterEOL) && metrics_->FixedPitch();
}

DisplayColumn TCustomCodeMemo::CaretColumn() const {
    return virtualColumn_ >= 0 ? virtualColumn_ : ColumnAt(caret_);
}

// Display column after the last character of a record, its CR left out.
DisplayColumn TCustomCodeMemo::LineEndColumn(RecIndex rec) const {
    if (rec < 0 || rec >= LineCount()) return 0;
    return ColumnOf(rec, store_->Text(rec).size());
}

TKeyboardActionContoller& TCustomCodeMemo::KeyMap() {
    if (keyMap_) return *keyMap_;
    if (!ownKeyMap_) {
        ownKeyMap_ = std::make_unique<TKeyboardActionContoller>();
        ownKeyMap_->assign(TKeyboardActionContoller::globalDefault());
    }
    return *ownKeyMap_;
}

void TCustomCodeMemo::SelectAll() {
    SetSelection(-1, 0);
    ScrollToCaret();
    NotifyChange();
}

void TCustomCodeMemo::SetInsertMode(bool value) {
    if (insertMode_ == value) return;
    insertMode_ = value;
    changeBits_ |= cbInsertMode;
    Invalidate();
}

void TCustomCodeMemo::MoveCaret(TextOffset to, bool extend) {
    SetSelection(extend ? anchor_ : to, to, false);
}

// One OnChange follows a command, however many edits it made.
void TCustomCodeMemo::ExecuteCommand(int command, std::intptr_t param, bool extend) {
    if (!wrapPending_.empty()) {
        // Moves by rows see the rows around the caret as they are cut now.
        RecIndex above = std::max<RecIndex>(0, LineFromOffset(caret_) - VisibleRows() - 2);
        EnsureRowsWrapped(store_->Start(above), 3 * VisibleRows() + 6);
    }
    BeginUpdate();
    try {
        RunCommand(command, param, extend);
    } catch (...) {
        EndUpdate();
        throw;
    }
    changeBits_ |= cbCommand;
    EndUpdate();
}

void TCustomCodeMemo::RunCommand(int command, std::intptr_t, bool extend) {
    typingRun_.active = false;
    if (!KeepsVirtualCaret(command) && virtualColumn_ >= 0) {
        virtualColumn_ = -1;
        changeBits_ |= cbSelection;
    }
    switch (command) {
    case ecCursorLeft:
        MoveLeft(extend);
        break;
    case ecCursorRight:
        MoveRight(extend);
        break;
    case ecLineStart: {
        auto where = CaretPos();
        // The byte order mark stays the file's first bytes: the line's start is after it.
        MoveCaret(where.start == 0 && HasBom() ? 3 : where.start, extend);
        desiredColumn_ = 0;
        break;
    }
    case ecLineEnd:
        MoveLineEnd(extend);
        break;
    case ecLineUp:
        MoveVertically(-1, extend);
        break;
    case ecLineDown:
        MoveVertically(1, extend);
        break;
    case ecPageUp:
    case ecPageDown: {
        RecIndex rows = std::max(1, VisibleRows());
        RecIndex by = command == ecPageUp ? -rows : rows;
        RecIndex top = topLine_;
        MoveVertically(by, extend);
        SetTopLine(top + by);
        break;
    }
    case ecWordLeft:
        MoveCaret(WordBefore(caret_), extend);
        desiredColumn_ = ColumnAt(caret_);
        break;
    case ecWordRight:
        MoveCaret(WordAfter(caret_), extend);
        desiredColumn_ = ColumnAt(caret_);
        break;
    case ecDocStart:
        MoveCaret(HasBom() ? 3 : 0, extend);
        desiredColumn_ = 0;
        break;
    case ecDocEnd: {
        MoveCaret(TextLength(), extend);
        bool lastHasBreak = store_->Empty() || store_->EndsWithCR(LineCount() - 1);
        desiredColumn_ = lastHasBreak ? 0 : ColumnAt(caret_);
        break;
    }
    case ecCut:
        if (!readOnly_) CutToClipboard();
        break;
    case ecCopy:
        CopyToClipboard();
        break;
    case ecPaste:
        if (readOnly_) break;
        PasteFromClipboard();
        desiredColumn_ = ColumnAt(caret_);
        break;
    case ecDeleteChar:
    case ecDeleteLastChar:
        if (!readOnly_) DeleteChar(command == ecDeleteLastChar);
        break;
    case ecBlockIndent:
        if (!readOnly_) BlockIndent(0, false);
        break;
    case ecBlockUnindent:
        if (!readOnly_) BlockUnindent(0);
        break;
    case ecToggleMode:
        SetInsertMode(!insertMode_);
        break;
    case ecDeleteLine:
        if (!readOnly_) DeleteLine();
        break;
    case ecUndo:
        if (!readOnly_) Undo();
        break;
    case ecRedo:
        if (!readOnly_) Redo();
        break;
    case ecDeleteLastWord:
        DeleteLastWord();
        break;
    case ecMatchBracket:
        JumpToMatchingBracket();
        break;
    case ecPrintSelection:
        if (OnPrintSelection) OnPrintSelection(this, command);
        break;
    case ecDuplicateLines:
        if (!readOnly_) DuplicateLines();
        break;
    case ecMoveLinesUp:
    case ecMoveLinesDown:
        if (!readOnly_) MoveLines(command == ecMoveLinesDown);
        break;
    case ecToggleComment:
        if (!readOnly_) ToggleComment();
        break;
    case ecDeleteLines:
        if (!readOnly_) DeleteLines();
        break;
    default:
        if (command >= ecSetBookmark0 && command < ecGotoBookmark0)
            SetBookmark(command - ecSetBookmark0);
        else if (command >= ecGotoBookmark0 && command < ecGotoBookmark0 + 10)
            GotoBookmark(command - ecGotoBookmark0);
        break;
    }
    if (IsMovement(command)) {
        FlagRange(LineFromOffset(caret_), LineFromOffset(caret_), lfRepaint);
        ScrollToCaret();
    }
}

void TCustomCodeMemo::MoveLeft(bool extend) {
    if (virtualColumn_ >= 0) {
        DisplayColumn col = virtualColumn_ - 1;
        if (!extend) SetSelection(caret_, caret_, false); // this ends the virtual caret
        virtualColumn_ = col > LineEndColumn(CaretPos().rec) ? col : -1;
        changeBits_ |= cbSelection;
        desiredColumn_ = CaretColumn();
        return;
    }
    MoveCaret(PrevCharBoundary(caret_), extend);
    desiredColumn_ = ColumnAt(caret_);
}

void TCustomCodeMemo::MoveRight(bool extend) {
    auto where = CaretPos();
    bool atLineEnd = where.rec < LineCount() &&
                     caret_ == where.start +
                                   static_cast<TextOffset>(store_->Text(where.rec).size()) -
                                   (store_->EndsWithCR(where.rec) ? 1 : 0);
    if (CaretAfterEOLAllowed() && (virtualColumn_ >= 0 || atLineEnd)) {
        DisplayColumn col = virtualColumn_ >= 0 ? virtualColumn_ : LineEndColumn(where.rec);
        if (!extend) SetSelection(caret_, caret_, false);
        virtualColumn_ = std::min(col + 1, kMaxVirtualColumn);
        desiredColumn_ = virtualColumn_;
        changeBits_ |= cbSelection;
        return;
    }
    MoveCaret(NextCharBoundary(caret_), extend);
    desiredColumn_ = ColumnAt(caret_);
}

void TCustomCodeMemo::MoveLineEnd(bool extend) {
    auto where = CaretPos();
    if (where.rec >= LineCount()) {
        MoveCaret(caret_, extend);
        desiredColumn_ = 0;
        return;
    }
    std::string_view t = store_->Text(where.rec);
    std::size_t end = t.size() - (store_->EndsWithCR(where.rec) ? 1 : 0);
    while (end > 0 && (t[end - 1] == ' ' || t[end - 1] == kTAB))
        --end;
    MoveCaret(where.start + static_cast<TextOffset>(end), extend);
    desiredColumn_ = ColumnAt(caret_);
}

// Moves by records, keeping the column: the desired one when columns are tracked, else the
// one the caret stands at. Beyond the line's end a virtual caret takes over when allowed.
void TCustomCodeMemo::MoveVertically(RecIndex records, bool extend) {
    if (store_->Empty()) return;
    const DisplayColumn desired = desiredColumn_;
    auto moveKeepingColumn = [&](TextOffset to) {
        MoveCaret(to, extend);
        desiredColumn_ = desired;
    };
    auto where = CaretPos();
    RecIndex target = where.rec + records;
    RecIndex last = LineCount() - 1;
    bool afterFinalBreak = store_->EndsWithCR(last);
    if (records < 0) {
        if (where.rec == 0) return;
        target = std::max<RecIndex>(target, 0);
    } else {
        if (where.rec >= last) {
            if (where.rec == last && afterFinalBreak) moveKeepingColumn(TextLength());
            return;
        }
        if (target > last) {
            if (afterFinalBreak) {
                moveKeepingColumn(TextLength());
                return;
            }
            target = last;
        }
    }
    bool tracked = (options_ & smoColumnTrack) && metrics_->FixedPitch();
    bool virtualAllowed = CaretAfterEOLAllowed();
    DisplayColumn col = tracked || virtualAllowed ? desiredColumn_ : CaretColumn();
    // Nearest character boundary to the column.
    std::string_view t = store_->Text(target);
    std::size_t visible = t.size() - (store_->EndsWithCR(target) ? 1 : 0);
    std::size_t index = IndexAtColumn(target, col);
    if (index < visible) {
        DisplayColumn before = ColumnOf(target, index), after = ColumnOf(target, index + 1);
        if (after - col < col - before) ++index;
    }
    moveKeepingColumn(store_->Start(target) + static_cast<TextOffset>(index));
    DisplayColumn endCol = LineEndColumn(target);
    if (virtualAllowed && col > endCol) {
        virtualColumn_ = std::min(col, kMaxVirtualColumn);
        changeBits_ |= cbSelection;
    }
}

// Word movement follows the word tests of the control.
TextOffset TCustomCodeMemo::WordBefore(TextOffset pos) {
    pos = std::clamp<TextOffset>(pos, 0, TextLength());
    if (pos == 0) return 0;
    TEdStream& s = edStream_;
    s.Reset();
    s.SetPos(pos);
    auto neither = [&](char c) { return !CharIsInWord(c) && !CharStartsWord(c); };
    auto stepB = [&]() -> TextOffset {
        while (s.GetPos() > 0 && !CharIsInWord(s.CurrentChar()))
            s.PrevChar();
        char c = s.CurrentChar();
        if (neither(c)) return pos;
        while (s.GetPos() > 0 && CharIsInWord(s.CurrentChar()))
            s.PrevChar();
        if (!CharStartsWord(s.CurrentChar())) s.NextChar();
        return s.GetPos();
    };
    if (neither(s.CurrentChar())) return stepB();
    s.PrevChar();
    if (neither(s.CurrentChar())) return stepB();
    while (s.GetPos() > 0 && CharIsInWord(s.CurrentChar()))
        s.PrevChar();
    if (!CharStartsWord(s.CurrentChar())) s.NextChar();
    return s.GetPos();
}

TextOffset TCustomCodeMemo::WordAfter(TextOffset pos) {
    pos = std::clamp<TextOffset>(pos, 0, TextLength());
    TEdStream& s = edStream_;
    s.Reset();
    s.SetPos(pos);
    if (!s.AtEnd() && CharStartsWord(s.CurrentChar())) s.NextChar();
    while (!s.AtEnd() && CharIsInWord(s.CurrentChar()))
        s.NextChar();
    while (!s.AtEnd() && !CharIsInWord(s.CurrentChar()))
        s.NextChar();
    return s.GetPos();
}

void TCustomCodeMemo::DeleteChar(bool before) {
    if (before && virtualColumn_ >= 0) {
        MoveLeft(false);
        ScrollToCaret();
        return;
    }
    bool selection = anchor_ != caret_;
    // Nothing to delete records nothing.
    if (!selection && (before ? caret_ == 0 : caret_ >= TextLength() && virtualColumn_ < 0)) return;
    TUndoGroupScope group(*this, ugDelete);
    if (selection) {
        ReplaceSel({});
        return;
    }
    if (before) {
        SetSelection(caret_, PrevCharBoundary(caret_), false);
        ReplaceSel({});
        return;
    }
    if (virtualColumn_ >= 0) {
        // The gap is filled first, so the character after the caret is the line break.
        ReplaceSel({});
    }
    if (caret_ >= TextLength()) return;
    SetSelection(caret_, NextCharBoundary(caret_), false);
    ReplaceSel({});
}

void TCustomCodeMemo::DeleteLine() {
    if (anchor_ != caret_) return;
    auto where = CaretPos();
    if (where.rec >= LineCount()) return;
    TextOffset end = where.start + static_cast<TextOffset>(store_->Rec(where.rec).length);
    // The replacement's group opens before the line is selected, so undo puts the caret back
    // where it stood rather than selecting the restored line.
    TUndoGroupScope group(*this, ugReplaceSel);
    SetSelection(where.start, end, false);
    ReplaceSel({});
}

void TCustomCodeMemo::DeleteLastWord() {
    TextOffset start = WordBefore(caret_);
    if (start == caret_) return;
    if (readOnly_) {
        MoveCaret(start, true);
        return;
    }
    TUndoGroupScope group(*this, ugDeleteWord);
    lines_->BeginUpdate();
    try {
        RunCommand(ecWordLeft, 0, true);
        RunCommand(ecDeleteChar, 0, false);
    } catch (...) {
        lines_->EndUpdate();
        throw;
    }
    lines_->EndUpdate();
}

TCustomCodeMemo::TokenRun TCustomCodeMemo::TokenAt(TextOffset off) const {
    TokenRun run{{}, off};
    if (off < 0 || off >= TextLength()) return run;
    auto where = store_->Locate(off);
    if (where.rec >= LineCount()) return run;
    const std::uint8_t* attrs = store_->Attrs(where.rec);
    if (!attrs) return run;
    std::string_view t = store_->Text(where.rec);
    auto i = static_cast<std::size_t>(off - where.start);
    std::uint8_t token = attrs[i];
    std::size_t a = i;
    while (a > 0 && attrs[a - 1] == token && i - a < 4096)
        --a;
    std::size_t b = a;
    while (b < t.size() && attrs[b] == token && b - a < 4096)
        ++b;
    run.text.assign(t.substr(a, b - a));
    run.start = where.start + static_cast<TextOffset>(a);
    return run;
}

DisplayColumn TSM_CaretControl::CaretColumn() const {
    return memo_.CaretPosition().column;
}

RecIndex TSM_CaretControl::CaretLine() const {
    return memo_.CaretPosition().line;
}

void TSM_CaretControl::SetCaretLine(RecIndex line) {
    RecIndex rec = memo_.RecordOfLine(line);
    DisplayColumn col = memo_.CaretColumn();
    if (rec >= 0 && rec < memo_.LineCount())
        memo_.GoToPosition(static_cast<DisplayColumn>(memo_.IndexAtColumn(rec, col)) + 1, line);
    else
        memo_.GoToPosition(col + 1, line);
}

RecIndex TSM_CaretControl::TopLine() const {
    return memo_.TopLine() + 1;
}

void TSM_CaretControl::SetTopLine(RecIndex line) {
    memo_.SetTopLine(std::max<RecIndex>(line, 1) - 1);
}

} // namespace morvane::editor
