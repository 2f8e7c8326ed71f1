#pragma once
// The HTML menu's edits on an editor control's selection: wrap it in bold, italic or underline
// tags, in a comment or in a link, or strip tags and character entities from it. Each runs as one
// undo step (group ugHtmlTool). Tag texts are lower-cased when the "Lowercase html" setting is
// exactly "1"; the selected text keeps its case.

#include <string>
#include <string_view>

namespace morvane::editor {
class TCustomCodeMemo;
}

namespace morvane::app {

enum class HtmlTag { Bold, Italic, Underline };

// Whether a "Lowercase html" value asks for lower-case tags.
inline bool lowercaseHtml(std::string_view setting) {
    return setting == "1";
}

// Each returns false, changing nothing, when the control is read-only.
// "<B>" + selection + "</B>"; with nothing selected the caret ends between the tags.
bool htmlWrapTag(editor::TCustomCodeMemo& memo, HtmlTag tag, bool lowercase);
// "<!-- " + selection + " -->"; with nothing selected the caret ends inside the comment.
bool htmlComment(editor::TCustomCodeMemo& memo);
// An anchor around the selection; a selection that starts with "http://" or "www." becomes its
// address, which ends selected. Otherwise the address is empty and the caret stands in it.
bool htmlLink(editor::TCustomCodeMemo& memo, bool lowercase);
// Removes every "<...>" from the selection (the whole text when nothing is selected), then every
// well-formed character entity ("&name;" with a name of two or more letters and digits,
// "&#digits;", "&#xhex;"); an "&" that starts none stays.
// The caret's line and the top line are kept.
bool htmlStripTags(editor::TCustomCodeMemo& memo);

// The text transformation of htmlStripTags, on its own.
std::string stripHtmlMarkup(std::string_view text);

} // namespace morvane::app
