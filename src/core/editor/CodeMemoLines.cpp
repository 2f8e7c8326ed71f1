// The whole-line commands: duplicate, move up and down, toggle comment, delete. They work on
// physical lines (a wrapped or very long line is several records) and each replaces one stretch
// of text, so that a command is one undo step.

#include "core/editor/CustomCodeMemo.h"

#include <algorithm>

namespace morvane::editor {

namespace {

struct LineList {
    std::vector<std::string> text; // without their line breaks
    bool lastHasBreak = false;
};

LineList split(std::string_view stored) {
    LineList out;
    out.lastHasBreak = !stored.empty() && stored.back() == kCR;
    if (out.lastHasBreak) stored.remove_suffix(1);
    std::size_t start = 0;
    for (;;) {
        std::size_t cr = stored.find(kCR, start);
        out.text.emplace_back(stored.substr(start, cr - start));
        if (cr == std::string_view::npos) break;
        start = cr + 1;
    }
    return out;
}

std::string join(const LineList& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.text.size(); ++i) {
        if (i) out += kCR;
        out += lines.text[i];
    }
    if (lines.lastHasBreak) out += kCR;
    return out;
}

std::size_t indentOf(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == kTAB))
        ++i;
    return i;
}

bool blank(std::string_view line) {
    return indentOf(line) == line.size();
}

// Where a column of a line goes when n bytes are put in at pos (n > 0) or taken out (n < 0).
TextOffset shifted(TextOffset col, TextOffset pos, TextOffset n) {
    if (n >= 0) return col >= pos ? col + n : col;
    if (col >= pos - n) return col + n;
    return std::min(col, pos);
}

} // namespace

TextOffset TCustomCodeMemo::PhysicalLineStart(TextOffset off) const {
    RecIndex rec = LineFromOffset(off);
    if (rec >= LineCount()) return TextLength();
    while (rec > 0 && !store_->EndsWithCR(rec - 1))
        --rec;
    return LineStart(rec);
}

TextOffset TCustomCodeMemo::PhysicalLineEnd(TextOffset off) const {
    RecIndex rec = LineFromOffset(off);
    if (rec >= LineCount()) return TextLength();
    while (rec < LineCount() - 1 && !store_->EndsWithCR(rec))
        ++rec;
    return LineStart(rec) + static_cast<TextOffset>(store_->Rec(rec).length);
}

std::pair<TextOffset, TextOffset> TCustomCodeMemo::SelectedLines() const {
    TextOffset from = std::min(anchor_, caret_), to = std::max(anchor_, caret_);
    // A selection that ends at the start of a line does not take that line.
    if (to > from && PhysicalLineStart(to) == to) --to;
    return {PhysicalLineStart(from), PhysicalLineEnd(to)};
}

void TCustomCodeMemo::ReplaceLines(TextOffset from, TextOffset to, const std::string& text,
                                   TextOffset anchor, TextOffset caret) {
    TUndoGroupScope group(*this, ugLines);
    SetSelection(from, to, false);
    ReplaceSel(text, false);
    SetSelection(anchor, caret, false);
    ScrollToCaret();
    Invalidate();
}

void TCustomCodeMemo::DuplicateLines() {
    auto [from, to] = SelectedLines();
    std::string block = RangeText(from, to, tfStored);
    // The empty line after a final line break has nothing to copy.
    if (block.empty() && from == TextLength() && from > 0) return;
    LineList lines = split(block);
    LineList twice = lines;
    twice.text.insert(twice.text.end(), lines.text.begin(), lines.text.end());
    // The copy goes below and takes the selection along.
    const TextOffset by = static_cast<TextOffset>(block.size()) + (lines.lastHasBreak ? 0 : 1);
    ReplaceLines(from, to, join(twice), anchor_ + by, caret_ + by);
}

void TCustomCodeMemo::MoveLines(bool down) {
    auto [from, to] = SelectedLines();
    if (from == TextLength()) return; // the empty line after a final break stays last
    TextOffset otherFrom, otherTo;
    if (down) {
        if (to >= TextLength()) return;
        otherFrom = to;
        otherTo = PhysicalLineEnd(to);
        // The empty line after a final break is no line to swap with.
        if (otherFrom == TextLength()) return;
    } else {
        if (from == 0) return;
        otherFrom = PhysicalLineStart(from - 1);
        otherTo = from;
    }
    TextOffset start = std::min(from, otherFrom), end = std::max(to, otherTo);
    LineList moved = split(RangeText(from, to, tfStored));
    LineList other = split(RangeText(otherFrom, otherTo, tfStored));
    LineList result;
    if (down) {
        result.lastHasBreak = other.lastHasBreak;
        result.text = other.text;
        result.text.insert(result.text.end(), moved.text.begin(), moved.text.end());
    } else {
        result.lastHasBreak = moved.lastHasBreak;
        result.text = moved.text;
        result.text.insert(result.text.end(), other.text.begin(), other.text.end());
    }
    std::size_t otherLength = 0;
    for (const auto& line : other.text)
        otherLength += line.size() + 1;
    const TextOffset by = static_cast<TextOffset>(otherLength) * (down ? 1 : -1);
    ReplaceLines(start, end, join(result), anchor_ + by, caret_ + by);
}

void TCustomCodeMemo::DeleteLines() {
    auto [from, to] = SelectedLines();
    if (from == to) return;
    // The last line goes with the break before it, so no empty line stays behind.
    if (to == TextLength() && RangeText(to - 1, to, tfStored) != "\r" && from > 0) --from;
    ReplaceLines(from, to, {}, from, from);
}

void TCustomCodeMemo::ToggleComment() {
    const TCommentTokens& tokens = commentTokens_;
    if (tokens.line.empty() && tokens.blockOpen.empty()) {
        Beep();
        return;
    }
    auto [from, to] = SelectedLines();
    LineList lines = split(RangeText(from, to, tfStored));
    if (std::all_of(lines.text.begin(), lines.text.end(), blank)) return;
    const bool hadSelection = anchor_ != caret_;
    const TextOffset caretLine = PhysicalLineStart(caret_);
    // The caret's line and the change made on it, for a caret without a selection.
    TextOffset caretCol = caret_ - caretLine, changeAt = 0, change = 0;
    std::size_t caretIndex = 0;
    for (TextOffset at = from; caretIndex + 1 < lines.text.size() && at < caretLine; ++caretIndex)
        at += static_cast<TextOffset>(lines.text[caretIndex].size()) + 1;

    if (!tokens.line.empty()) {
        const std::string& token = tokens.line;
        auto commented = [&](const std::string& line) {
            return blank(line) || line.compare(indentOf(line), token.size(), token) == 0;
        };
        // Lines of both kinds are all commented, so the next toggle gives them back as they were.
        if (std::all_of(lines.text.begin(), lines.text.end(), commented)) {
            for (std::size_t i = 0; i < lines.text.size(); ++i) {
                std::string& line = lines.text[i];
                if (blank(line)) continue;
                std::size_t at = indentOf(line), n = token.size();
                if (at + n < line.size() && line[at + n] == ' ') ++n;
                line.erase(at, n);
                if (i == caretIndex) changeAt = TextOffset(at), change = -TextOffset(n);
            }
        } else {
            std::size_t indent = std::string::npos;
            for (const auto& line : lines.text)
                if (!blank(line)) indent = std::min(indent, indentOf(line));
            for (std::size_t i = 0; i < lines.text.size(); ++i) {
                std::string& line = lines.text[i];
                if (blank(line)) continue;
                line.insert(indent, token + " ");
                if (i == caretIndex)
                    changeAt = TextOffset(indent), change = TextOffset(token.size() + 1);
            }
        }
    } else {
        // A language with block comments only: the lines become one comment, or stop being one.
        std::string& first = lines.text.front();
        std::string& last = lines.text.back();
        const std::string& open = tokens.blockOpen;
        const std::string& close = tokens.blockClose;
        std::size_t at = indentOf(first);
        std::size_t end = last.find_last_not_of(" \t");
        bool isComment = first.compare(at, open.size(), open) == 0 && end != std::string::npos &&
                         end + 1 >= close.size() &&
                         last.compare(end + 1 - close.size(), close.size(), close) == 0 &&
                         (&first != &last || end + 1 >= at + open.size() + close.size());
        if (isComment) {
            std::size_t closeAt = end + 1 - close.size(), n = close.size();
            if (closeAt > 0 && last[closeAt - 1] == ' ') --closeAt, ++n;
            last.erase(closeAt, n);
            n = open.size();
            if (at + n < first.size() && first[at + n] == ' ') ++n;
            first.erase(at, n);
            if (caretIndex == 0) changeAt = TextOffset(at), change = -TextOffset(n);
        } else {
            std::size_t lastEnd = last.find_last_not_of(" \t");
            last.insert(lastEnd == std::string::npos ? last.size() : lastEnd + 1, " " + close);
            first.insert(at, open + " ");
            if (caretIndex == 0) changeAt = TextOffset(at), change = TextOffset(open.size() + 1);
        }
    }
    std::string text = join(lines);
    if (hadSelection) {
        // The lines stay selected, without the last one's line break.
        TextOffset end = from + static_cast<TextOffset>(text.size()) - (lines.lastHasBreak ? 1 : 0);
        ReplaceLines(from, to, text, from, end);
    } else {
        // A caret after a closing token that went stays at the end of its line.
        TextOffset caret = caretLine + std::min(shifted(caretCol, changeAt, change),
                                                TextOffset(lines.text[caretIndex].size()));
        ReplaceLines(from, to, text, caret, caret);
    }
}

} // namespace morvane::editor
