// Typed characters: Enter with auto indent, TAB to a column, overwrite mode, and the tab stops
// and fill texts they use.

#include "core/editor/CustomCodeMemo.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>

namespace morvane::editor {

namespace {
constexpr std::size_t kMaxTabStops = 32;
constexpr long long kMaxTabColumn = 1 << 20;

bool IsBlank(char c) {
    return c == ' ' || c == kTAB;
}

std::int64_t SteadyMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Leading blanks and TABs of a record.
std::size_t LeadingBlanks(std::string_view t) {
    std::size_t n = 0;
    while (n < t.size() && IsBlank(t[n]))
        ++n;
    return n;
}
} // namespace

std::string TCustomCodeMemo::TabColumns() const {
    std::string out;
    for (DisplayColumn c : tabColumns_) {
        if (!out.empty()) out += ' ';
        out += std::to_string(c + 1);
    }
    return out;
}

void TCustomCodeMemo::SetTabColumns(std::string_view text) {
    std::vector<DisplayColumn> stops;
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == ' ' || c == ';') {
            ++i;
            continue;
        }
        if (c < '0' || c > '9') throw ECodeMemo("Tab stop column value expected");
        std::size_t j = i;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9')
            ++j;
        // A number too large for a column is as wrong as a letter.
        long long value = 0;
        auto [end, ec] = std::from_chars(text.data() + i, text.data() + j, value);
        if (ec != std::errc() || value > kMaxTabColumn)
            throw ECodeMemo("Tab stop column value expected");
        if (value <= 1) throw ECodeMemo("Tab column must be > 1");
        if (!stops.empty() && value - 1 <= stops.back())
            throw ECodeMemo("Tab columns must be in order and unique");
        if (stops.size() == kMaxTabStops)
            throw ECodeMemo("Too many tab stops - maximum of " + std::to_string(kMaxTabStops));
        stops.push_back(static_cast<DisplayColumn>(value - 1));
        i = j;
    }
    tabColumns_ = std::move(stops);
    columnMarkAt_ = -1;
    FlagRange(topLine_, topLine_ + VisibleRows() + 1, lfRepaint);
    changeBits_ |= cbSettings;
    Invalidate();
}

std::string TCustomCodeMemo::FillText(DisplayColumn from, DisplayColumn to) const {
    std::string fill;
    if (to <= from) return fill;
    DisplayColumn col = from;
    if ((options_ & smoUseTAB) && (options_ & smoSmartFill)) {
        for (DisplayColumn next = NextTabStop(col); next <= to; next = NextTabStop(col)) {
            fill += kTAB;
            col = next;
        }
    }
    fill.append(static_cast<std::size_t>(to - col), ' ');
    return fill;
}

// The key-to-command step: everything a key press means to the control is decided here.
bool TCustomCodeMemo::KeyDown(std::uint16_t shortcut) {
    changeBits_ |= cbCommand;
    unsigned shift = 0;
    if (shortcut & kShortcutShift) shift |= ssShift;
    if (shortcut & kShortcutCtrl) shift |= ssCtrl;
    if (shortcut & kShortcutAlt) shift |= ssAlt;
    const auto key = static_cast<std::uint16_t>(shortcut & scKeyMask);
    // The second key of a two-key sequence belongs to the sequence.
    const bool midSequence = KeyMap().prefixPending();
    for (TKeyHook* hook : {&TemplateKeyHook, &AutoReplaceKeyHook}) {
        if (!*hook || midSequence) continue;
        TKeyHookResult r = (*hook)(this, key, shift);
        if (r == TKeyHookResult::NotHandled) continue;
        // An expansion ends any key sequence that was under way.
        KeyMap().resetLookup();
        NotifyChange();
        return r == TKeyHookResult::Consumed;
    }
    std::int32_t command = -1;
    bool extend = false;
    auto result = KeyMap().processKey(key, shift, command, extend);
    if (result == TKeyStore::Result::NoMatch) return false;
    if (result == TKeyStore::Result::Command) {
        int cmd = command;
        if (OnCommandRecognised) OnCommandRecognised(this, cmd);
        ExecuteCommand(cmd, 0, extend);
    }
    NotifyChange();
    return true;
}

bool TCustomCodeMemo::WantsDialogKey(std::uint16_t shortcut) const {
    auto key = shortcut & scKeyMask;
    if (key >= vkLeft && key <= vkDown) return true;
    if (key == vkTab) return wantTab_;
    if (key == vkReturn) return wantReturns_;
    if (shortcut & (kShortcutCtrl | kShortcutAlt)) return false;
    return key == vkSpace || (key >= '0' && key <= 'Z') || key >= 186;
}

void TCustomCodeMemo::KeyPress(char c) {
    auto u = static_cast<unsigned char>(c);
    if (c == kCR) {
        if (!wantReturns_) return;
        TypeChar("\r");
    } else if (c == kLF) {
        if (wantReturns_) return;
        TypeChar("\r");
    } else if (c == kTAB) {
        if ((options_ & smoTabToColumn) && !(options_ & smoWordWrap))
            TabToColumn(true);
        else if (options_ & smoUseTAB)
            TypeChar("\t");
        else
            TabToColumn(false);
    } else if ((u >= 32 && u <= 126) || u >= 128) {
        TypeChar(std::string_view(&c, 1));
    } else {
        return;
    }
    ScrollToCaret();
    NotifyChange();
}

bool TCustomCodeMemo::TypeCharacter(char32_t code) {
    if (code < 128) {
        KeyPress(static_cast<char>(code));
        return true;
    }
    if (code >= 0x80 && code < 0xA0) return false; // C1 controls are no typed characters
    std::string bytes;
    if (!EncodeChar(Encoding(), code, bytes)) {
        Beep();
        if (OnCharRefused) OnCharRefused(this, code);
        return false;
    }
    TypeChar(bytes);
    ScrollToCaret();
    NotifyChange();
    return true;
}

// Whether a typed character may join the typing run before it: runs break where a word
// starts after other characters, and at line breaks.
bool TCustomCodeMemo::JoinsTypingRun(char c) const {
    if (options_ & smoUndoByChar) return false;
    if (!typingRun_.active || anchor_ != caret_ || caret_ != typingRun_.end) return false;
    // Another edit, an undo or a save since: the run is over.
    if (undo_.State() != typingRun_.state || undo_.AtClean()) return false;
    if (c == kCR || caret_ == 0) return false;
    const std::int64_t now = typingClock_ ? typingClock_() : SteadyMilliseconds();
    if (now - typingRun_.time > kTypingPauseMs) return false;
    const std::string before = RangeText(caret_ - 1, caret_, tfStored);
    if (before.empty() || before[0] == kCR) return false;
    auto wordy = [this](char ch) {
        return static_cast<unsigned char>(ch) >= 128 || CharIsInWord(ch);
    };
    return !(wordy(c) && !wordy(before[0]));
}

void TCustomCodeMemo::TypeChar(std::string_view bytes) {
    const char c = bytes.empty() ? '\0' : bytes[0];
    if (readOnly_) return;
    const bool joined = JoinsTypingRun(c) && undo_.ReopenGroup(ugTyping);
    typing_ = true;
    // Runs after the group below has closed, so the run names the text as the log leaves it.
    struct Finish {
        TCustomCodeMemo& m;
        bool joined;
        bool done = false;
        ~Finish() {
            m.typing_ = false;
            if (joined) m.undo_.EndGroup(ugTyping, m.anchor_, m.caret_);
            m.typingRun_.active = done;
            if (!done) return;
            m.typingRun_.end = m.caret_;
            m.typingRun_.state = m.undo_.State();
            m.typingRun_.time = m.typingClock_ ? m.typingClock_() : SteadyMilliseconds();
        }
    } finish{*this, joined};
    std::optional<TUndoGroupScope> group;
    if (!joined) group.emplace(*this, c == kCR && pendingIndent_ ? ugIndentedReturn : ugTyping);
    auto where = CaretPos();
    bool onRecord = where.rec < LineCount();
    std::string_view line = onRecord ? store_->Text(where.rec) : std::string_view();
    auto index = static_cast<std::size_t>(caret_ - where.start);
    if (!insertMode_ && anchor_ == caret_ && c != kCR && index < line.size() && line[index] != kCR)
        SetSelection(caret_, NextCharBoundary(caret_), false);

    DisplayColumn indent = -1;
    RecIndex lineRec = where.rec;
    bool opened = false;
    if (c == kCR && (options_ & smoAutoIndent)) {
        std::size_t n = std::min(LeadingBlanks(line), index);
        bool hasText = !line.empty() && line[0] != kCR;
        // A block opener as the last thing before the caret: one level more.
        std::size_t last = std::min(index, line.size());
        while (last > n && IsBlank(line[last - 1]))
            --last;
        opened = !indentOpeners_.empty() && last > n &&
                 indentOpeners_.find(line[last - 1]) != std::string::npos;
        if (n > 0 || !hasText || opened) indent = ColumnOf(lineRec, n);
    }
    ReplaceSel(bytes, indent < 0);
    if (indent == 0 && !opened) {
        // An empty or blank line: the nearest line above with text gives the indent.
        for (RecIndex r = std::min(lineRec, LineCount()) - 1; r >= 0; --r) {
            std::string_view t = store_->Text(r);
            std::size_t n = LeadingBlanks(t);
            if (n < t.size() && t[n] != kCR) {
                indent = ColumnOf(r, n);
                break;
            }
        }
    }
    if (opened) indent += IndentWidth();
    if (indent > 0) {
        TUndoGroupScope fill(*this, ugTyping); // already inside the typing group as a rule
        ReplaceSel(FillText(0, indent));
    }
    finish.done = true;
}

// Without searchAbove, or on the first line: a fill to the next tab stop.
void TCustomCodeMemo::TabToColumn(bool searchAbove) {
    if (readOnly_) return;
    TUndoGroupScope group(*this, ugTyping);
    DisplayColumn c = CaretColumn();
    auto where = CaretPos();
    DisplayColumn target = NextTabStop(c);
    if (where.rec > 0 && searchAbove) {
        if (where.rec >= LineCount()) c = 0; // the empty line after a final break
        target = NextTabStop(c);
        for (RecIndex r = std::min(where.rec, LineCount()) - 1; r >= 0; --r) {
            if (LineEndColumn(r) <= c) continue;
            std::string_view t = store_->Text(r);
            std::size_t visible = t.size() - (store_->EndsWithCR(r) ? 1 : 0);
            std::size_t i = IndexAtColumn(r, c);
            while (i < visible && !IsBlank(t[i]))
                ++i;
            while (i < visible && IsBlank(t[i]))
                ++i;
            DisplayColumn found = i < visible ? ColumnOf(r, i) : ColumnOf(r, visible - 1);
            // A column at or before the caret would make TAB do nothing.
            if (found > c) target = found;
            break;
        }
    }
    ReplaceSel(FillText(c, target));
}

} // namespace morvane::editor
