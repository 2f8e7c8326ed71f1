#include "core/app/HtmlTools.h"

#include "core/editor/CustomCodeMemo.h"

#include <algorithm>
#include <cctype>

namespace morvane::app {

using editor::TCustomCodeMemo;
using editor::TextOffset;

namespace {

std::string tagText(std::string_view text, bool lowercase) {
    std::string out(text);
    if (lowercase)
        for (char& c : out)
            c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

std::string selectedStored(const TCustomCodeMemo& memo) {
    return memo.RangeText(memo.SelStart(), memo.SelStart() + memo.SelLength(), editor::tfStored);
}

// Replaces the selection by before + selection + after as one undo step; returns the offset
// where the selection started.
TextOffset wrapSelection(TCustomCodeMemo& memo, const std::string& before, const std::string& after,
                         std::string* selection = nullptr) {
    std::string s = selectedStored(memo);
    TextOffset start = memo.SelStart();
    editor::TUndoGroupScope group(memo, editor::ugHtmlTool);
    memo.ReplaceSelStored(before + s + after);
    if (selection) *selection = std::move(s);
    return start;
}

bool isEntityName(unsigned char c) {
    return std::isalnum(c) != 0;
}

// The length of a well-formed entity starting with the "&" at text[at], or 0.
std::size_t entityLength(std::string_view text, std::size_t at) {
    std::size_t i = at + 1;
    if (i < text.size() && text[i] == '#') {
        ++i;
        bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
        if (hex) ++i;
        std::size_t digits = i;
        while (i < text.size() && (hex ? std::isxdigit(static_cast<unsigned char>(text[i]))
                                       : std::isdigit(static_cast<unsigned char>(text[i]))))
            ++i;
        if (i == digits) return 0;
    } else {
        // No entity has a one-letter name: "AT&T;" is text.
        if (i >= text.size() || !std::isalpha(static_cast<unsigned char>(text[i]))) return 0;
        std::size_t name = i;
        while (i < text.size() && isEntityName(static_cast<unsigned char>(text[i])))
            ++i;
        if (i - name < 2) return 0;
    }
    return i < text.size() && text[i] == ';' ? i + 1 - at : 0;
}

} // namespace

std::string stripHtmlMarkup(std::string_view text) {
    // Tags: each "<" up to the next ">" goes; the first "<" without a ">" after it ends the pass.
    std::string tagsGone;
    tagsGone.reserve(text.size());
    std::size_t pos = 0;
    for (;;) {
        std::size_t open = text.find('<', pos);
        std::size_t close = open == std::string_view::npos ? open : text.find('>', open);
        if (close == std::string_view::npos) {
            tagsGone.append(text.substr(pos));
            break;
        }
        tagsGone.append(text.substr(pos, open - pos));
        pos = close + 1;
    }
    // Entities: only well-formed ones, so "AT&T; the rest" keeps its text.
    std::string out;
    out.reserve(tagsGone.size());
    pos = 0;
    for (;;) {
        std::size_t amp = tagsGone.find('&', pos);
        if (amp == std::string::npos) {
            out.append(tagsGone, pos, std::string::npos);
            break;
        }
        out.append(tagsGone, pos, amp - pos);
        std::size_t n = entityLength(tagsGone, amp);
        if (n == 0) {
            out.push_back('&');
            pos = amp + 1;
        } else {
            pos = amp + n;
        }
    }
    return out;
}

bool htmlWrapTag(TCustomCodeMemo& memo, HtmlTag tag, bool lowercase) {
    if (memo.ReadOnly()) return false;
    const char* name = tag == HtmlTag::Bold ? "B" : tag == HtmlTag::Italic ? "I" : "U";
    std::string t = tagText(name, lowercase);
    std::string open = "<" + t + ">";
    std::string selection;
    TextOffset start = wrapSelection(memo, open, "</" + t + ">", &selection);
    if (selection.empty()) memo.SetSelStart(start + TextOffset(open.size()));
    return true;
}

bool htmlComment(TCustomCodeMemo& memo) {
    if (memo.ReadOnly()) return false;
    std::string selection;
    TextOffset start = wrapSelection(memo, "<!-- ", " -->", &selection);
    if (selection.empty()) memo.SetSelStart(start + 5);
    return true;
}

bool htmlLink(TCustomCodeMemo& memo, bool lowercase) {
    if (memo.ReadOnly()) return false;
    std::string s = selectedStored(memo);
    std::string address;
    if (startsWithNoCase(s, "http://"))
        address = s;
    else if (startsWithNoCase(s, "www."))
        address = tagText("http://", lowercase) + s;
    const std::string open = tagText("<A HREF=\"", lowercase);
    TextOffset start = memo.SelStart();
    {
        editor::TUndoGroupScope group(memo, editor::ugHtmlTool);
        memo.ReplaceSelStored(open + address + "\">" + s + tagText("</A>", lowercase));
    }
    TextOffset from = start + TextOffset(open.size());
    memo.SetSelection(from, from + TextOffset(address.size()));
    return true;
}

bool htmlStripTags(TCustomCodeMemo& memo) {
    if (memo.ReadOnly()) return false;
    // The caret's line is taken before the whole text is selected, so the view stays put.
    auto& caret = memo.CaretControl();
    editor::RecIndex line = caret.CaretLine(), top = caret.TopLine();
    if (memo.SelLength() == 0) memo.SelectAll();
    std::string stripped = stripHtmlMarkup(selectedStored(memo));
    {
        editor::TUndoGroupScope group(memo, editor::ugHtmlTool);
        memo.ReplaceSelStored(std::move(stripped));
    }
    caret.SetCaretLine(std::clamp<editor::RecIndex>(line, 0, memo.LineCount() - 1));
    caret.SetTopLine(std::clamp<editor::RecIndex>(top, 0, memo.LineCount() - 1));
    return true;
}

} // namespace morvane::app
