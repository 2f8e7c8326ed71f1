// Copy, cut and paste, and what arrives by drag-and-drop: the offer goes to OnDataDrop first,
// then the preferred format is inserted as one undo step.

#include "core/editor/CodeMemoError.h"
#include "core/editor/CustomCodeMemo.h"
#include "core/editor/DataTransfer.h"
#include "core/platform/UiServices.h"

#include <algorithm>

namespace morvane::editor {

namespace {
constexpr const char* kHtmlType = "text/html";
constexpr const char* kRtfType = "text/rtf";
constexpr const char* kTextType = "text/plain";
} // namespace

bool TCustomCodeMemo::CanPaste() const {
    return !readOnly_ && clipboard_ && (clipboard_->hasText() || clipboard_->hasFormat(kHtmlType));
}

bool TCustomCodeMemo::TextFromUnicode(std::string_view utf8, std::string& out) {
    char32_t refused = 0;
    if (FromUtf8(Encoding(), utf8, out, &refused)) return true;
    Beep();
    if (OnCharRefused) OnCharRefused(this, refused);
    return false;
}

bool TCustomCodeMemo::CopyToClipboard() {
    // An empty selection leaves the clipboard as it is.
    if (!clipboard_ || anchor_ == caret_) return false;
    platform::MimeData formats;
    // Other programs expect the desktop's line ends.
    if (clipCopyFormats_ & smTEXT) {
        formats[kRawTextMimeType] = RangeText(SelStart(), std::max(anchor_, caret_), tfLF);
        formats[kTextType] = UnicodeText(formats[kRawTextMimeType]);
    }
    // The formatted copies go together: mail and word processors take one or the other. A
    // selection too large to paste into a document anyway goes as text only, so that copying a
    // whole huge file neither highlights all of it nor holds it three more times.
    if ((clipCopyFormats_ & smRTF) && SelLength() <= kMaxFormattedCopy) {
        std::string rtf = SelectionAsRtf();
        if (!rtf.empty()) formats[kRtfType] = std::move(rtf);
        formats[kHtmlType] = SelectionAsHtml();
    }
    if (formats.empty()) return false;
    clipboard_->setData(formats);
    return true;
}

void TCustomCodeMemo::CutToClipboard() {
    if (readOnly_ || !clipboard_ || anchor_ == caret_) return;
    TUndoGroupScope group(*this, ugCut);
    // Text that could not be put on the clipboard stays where it is.
    if (CopyToClipboard()) ReplaceSel({});
}

void TCustomCodeMemo::PasteFromClipboard() {
    if (readOnly_ || !clipboard_) return;
    std::uint16_t offer = 0;
    if (clipboard_->hasFormat(kHtmlType)) offer |= dsHtml;
    if (clipboard_->hasText()) offer |= dsPlainText;
    if (!offer) return;
    offer |= dsFromClipboard;
    if (OnDataDrop) OnDataDrop(this, offer);
    if (offer & dsHandled) return;
    TDataFormat format = ChoosePasteFormat(offer);
    if (format == TDataFormat::None) return;
    std::optional<std::string> data;
    bool raw = false;
    if (format == TDataFormat::PlainText) {
        data = clipboard_->data(kRawTextMimeType);
        raw = data.has_value();
        if (!data) data = clipboard_->data(kTextType);
    } else {
        data = clipboard_->data(kHtmlType);
    }
    if (!data && format == TDataFormat::PlainText && clipboard_->hasText())
        data = clipboard_->text(); // text offered under another text type
    // The format was announced but its data could not be had.
    if (!data) throw ECodeMemo("Cannot alloc memory for buffer!!");
    std::string text = format == TDataFormat::Html ? FilterHtml(*data, offer) : std::move(*data);
    // Other programs give Unicode; this program's own bytes go in as they are.
    if (!raw) {
        std::string converted;
        if (!TextFromUnicode(text, converted)) return;
        text = std::move(converted);
    }
    BeginUpdate(); // one repaint, and one OnChange, for the whole paste
    try {
        TUndoGroupScope group(*this, ugPaste);
        ReplaceSel(text, false);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
    ScrollToCaret();
    NotifyChange();
}

bool TCustomCodeMemo::DropText(std::string_view text, TextOffset dropPoint, bool move,
                               bool fromThisControl) {
    if (readOnly_) return false;
    dropPoint = std::clamp<TextOffset>(dropPoint, 0, TextLength());
    TextOffset selStart = SelStart(), selEnd = std::max(anchor_, caret_);
    auto plan = PlanDrop(dropPoint, selStart, selEnd, fromThisControl, move);
    if (!plan) return false;
    // The view stays on the text it showed (a drop point is always in view); each edit below
    // scrolls to its caret, and removing a moved selection far above would jump there.
    TextOffset top = store_->Start(topLine_);
    const DisplayColumn left = leftColumn_;
    {
        TUndoGroupScope group(*this, ugDrop);
        lines_->BeginUpdate();
        try {
            if (plan->deleteSelection) {
                ReplaceSel({}, false);
                if (selEnd <= top)
                    top -= selEnd - selStart;
                else if (selStart < top)
                    top = selStart;
            }
            SetSelection(plan->insertAt, plan->insertAt, false);
            ReplaceSel(text, false);
            if (plan->insertAt < top) top += caret_ - plan->insertAt;
            // The dropped text stays selected, so that it can be dragged on.
            SetSelection(plan->insertAt, caret_, false);
        } catch (...) {
            lines_->EndUpdate();
            throw;
        }
        lines_->EndUpdate();
    }
    SetTopLine(LineFromOffset(top));
    SetLeftColumn(left);
    ScrollToCaret();
    NotifyChange();
    return true;
}

bool TCustomCodeMemo::PasteAt(std::string_view text, TextOffset at) {
    if (readOnly_ || text.empty()) return false;
    {
        TUndoGroupScope group(*this, ugPaste);
        SetSelection(at, at, false);
        ReplaceSel(text, false);
    }
    desiredColumn_ = ColumnAt(caret_);
    ScrollToCaret();
    Invalidate();
    NotifyChange();
    return true;
}

bool TCustomCodeMemo::AcceptDrop(TDropOffer offer, TextOffset dropPoint, TPixelPoint atPoint,
                                 bool move, bool fromThisControl) {
    std::uint16_t types = offer.sourceTypes;
    if (!(options_ & smoProcessDroppedFiles)) types &= std::uint16_t(~dsFileList);
    // Dropped files are inserted as names only when a handler asks for it with dsTakeAsIs.
    types |= dsFromDragDrop;
    if (types & (dsHtml | dsPlainText | dsUnicodeText)) types |= dsTakeAsIs;
    if (OnDataDrop) OnDataDrop(this, types);
    if (types & dsHandled) return false;
    types &= offer.sourceTypes | 0xFF00; // a handler can refuse offers, not invent them
    std::string converted;
    switch (ChooseDropFormat(types)) {
    case TDataFormat::Html:
        if (!TextFromUnicode(FilterHtml(offer.html, types), converted)) return false;
        return DropText(converted, dropPoint, move, fromThisControl);
    case TDataFormat::PlainText:
    case TDataFormat::UnicodeText:
        if (offer.textIsRaw) return DropText(offer.text, dropPoint, move, fromThisControl);
        if (!TextFromUnicode(offer.text, converted)) return false;
        return DropText(converted, dropPoint, move, fromThisControl);
    case TDataFormat::FileList:
        if (!(options_ & smoProcessDroppedFiles)) return false;
        if (OnFilesDropped) {
            OnFilesDropped(this, offer.files, atPoint);
            if (!(types & dsTakeAsIs)) return false;
        }
        return DropText(FileListText(offer.files), dropPoint, false, false);
    case TDataFormat::None:
        break;
    }
    return false;
}

} // namespace morvane::editor
