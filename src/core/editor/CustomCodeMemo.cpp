#include "core/editor/CustomCodeMemo.h"

#include "core/editor/ByteScan.h"

#include "core/editor/CodeMemoStrings.h"
#include "core/editor/LineBreaks.h"
#include "core/platform/HugePages.h"
#include "core/platform/UiServices.h"

#include <algorithm>
#include <cstring>

namespace morvane::editor {

namespace {
std::shared_ptr<const TFontMetrics> DefaultMetrics() {
    static auto metrics = std::make_shared<TFixedMetrics>();
    return metrics;
}
} // namespace

TCustomCodeMemo::TCustomCodeMemo() : TCustomCodeMemo(std::make_shared<TTextStore>()) {}

TCustomCodeMemo::TCustomCodeMemo(std::shared_ptr<TTextStore> store)
    : store_(std::move(store)), tracks_(*store_), lines_(std::make_unique<TCodeMemoStrings>(*this)),
      edStream_(*store_), undo_(store_->UndoLog()), metrics_(DefaultMetrics()) {
    store_->AddControl(this);
    customBookmarks_.onFree = [this](const std::string& name) {
        if (OnCustomBookmarkFree) OnCustomBookmarkFree(this, name);
    };
    TemplateKeyHook = [](TCustomCodeMemo* m, std::uint16_t key, unsigned shift) {
        return m->TemplateKey(key, shift);
    };
    AutoReplaceKeyHook = [](TCustomCodeMemo* m, std::uint16_t key, unsigned shift) {
        return m->AutoReplaceKey(key, shift);
    };
}

TCustomCodeMemo::~TCustomCodeMemo() {
    store_->ForgetTrackManager(&tracks_);
    store_->RemoveControl(this);
}

std::string TCustomCodeMemo::Text(TTextForm form) const {
    return RangeText(0, store_->Length(), form);
}

namespace {
// Calls sink with the range [from, to) in the given form, a record (or part of one) at a time.
template <class Sink>
void WalkRange(const TTextStore& store, TextOffset from, TextOffset to, TTextForm form,
               Sink&& sink) {
    if (from >= to || store.Empty()) return;
    auto where = store.Locate(from);
    TTextStore::Cursor c = store.CursorAt(where.rec);
    for (; !store.AtEnd(c) && c.start < to; store.Next(c)) {
        std::string_view t = store.Text(c);
        std::size_t a = from > c.start ? static_cast<std::size_t>(from - c.start) : 0;
        std::size_t b = std::min<std::size_t>(t.size(), static_cast<std::size_t>(to - c.start));
        std::string_view part = t.substr(a, b - a);
        bool cr = !part.empty() && part.back() == kCR;
        switch (form) {
        case tfCRLF:
            sink(part);
            if (cr) sink(std::string_view("\n", 1));
            break;
        case tfLF:
            if (cr) {
                sink(part.substr(0, part.size() - 1));
                sink(std::string_view("\n", 1));
            } else {
                sink(part);
            }
            break;
        default:
            sink(part);
            break;
        }
    }
}
} // namespace

// Every CR of the stored text is a line break, so a whole block converts at once.
std::string TCustomCodeMemo::RangeText(TextOffset from, TextOffset to, TTextForm form) const {
    std::string out;
    from = std::clamp<TextOffset>(from, 0, TextLength());
    to = std::clamp<TextOffset>(to, 0, TextLength());
    if (from >= to) return out;
    // CRLF adds a byte per line: room for it at once spares a copy of the whole text.
    std::size_t extra = form == tfCRLF && from == 0 && to == TextLength()
                            ? static_cast<std::size_t>(store_->Count())
                            : 0;
    out.reserve(static_cast<std::size_t>(to - from) + extra);
    // The whole text of a big document (saving it) is written once: faults by huge pages.
    platform::AdviseHugePages(out.data(), out.capacity());
    TTextStore::Span span = store_->SpanAt(from);
    for (;;) {
        const std::size_t a = static_cast<std::size_t>(std::max<TextOffset>(from - span.start, 0));
        const std::size_t b = std::min(span.text.size(), static_cast<std::size_t>(to - span.start));
        std::string_view part = span.text.substr(a, b - a);
        if (form == tfLF) {
            // Copied whole, then each break turned round in place.
            const std::size_t at = out.size();
            out.append(part);
            ReplaceBytes(out.data() + at, part.size(), kCR, '\n');
        } else if (form == tfCRLF) {
            while (!part.empty()) {
                const auto* cr =
                    static_cast<const char*>(std::memchr(part.data(), kCR, part.size()));
                if (!cr) {
                    out.append(part);
                    break;
                }
                const std::size_t n = static_cast<std::size_t>(cr - part.data());
                out.append(part.data(), n);
                out.append("\r\n", 2);
                part.remove_prefix(n + 1);
            }
        } else {
            out.append(part);
        }
        if (span.start + static_cast<TextOffset>(span.text.size()) >= to || !store_->NextSpan(span))
            break;
    }
    return out;
}

std::size_t TCustomCodeMemo::WriteSelection(TStream& stream, TTextForm form) {
    if (form == tfRTF || form == tfHTML) {
        PrepareExport();
        TExportLook look = ExportLook();
        TExportWriter writer(*store_, look);
        TextOffset from = SelStart(), to = std::max(anchor_, caret_);
        return form == tfRTF ? writer.WriteRtf(stream, from, to)
                             : writer.WriteHtml(stream, from, to);
    }
    // Collected in chunks: saving a large text must not hold a second copy of it.
    constexpr std::size_t kChunk = 256 * 1024;
    std::string buf;
    buf.reserve(kChunk + 4096);
    std::size_t written = 0;
    auto flush = [&] {
        written += stream.Write(buf.data(), buf.size());
        buf.clear();
    };
    WalkRange(*store_, SelStart(), std::max(anchor_, caret_), form, [&](std::string_view s) {
        buf.append(s);
        if (buf.size() >= kChunk) flush();
    });
    flush();
    return written;
}

std::string TCustomCodeMemo::SelectionAsRtf() {
    TMemoryStream out;
    WriteSelection(out, tfRTF);
    return out.Data();
}

std::string TCustomCodeMemo::SelectionAsHtml() {
    TMemoryStream out;
    WriteSelection(out, tfHTML);
    return out.Data();
}

TExportLook TCustomCodeMemo::ExportLook() const {
    TExportLook look;
    look.title = fileName_;
    look.date = ExportDate();
    look.charset = EncodingName(Encoding()); // a page declares how its bytes are to be read
    look.tabWidth = tabDefault_;
    look.tabColumns.assign(tabColumns_.begin(), tabColumns_.end());
    return look;
}

void TCustomCodeMemo::SetSelection(TextOffset anchor, TextOffset caret, bool repaint) {
    TextOffset len = TextLength();
    if (anchor == -1) {
        anchor = 0;
        caret = len;
    }
    anchor = std::clamp<TextOffset>(anchor, 0, len);
    caret = std::clamp<TextOffset>(caret, 0, len);
    if (anchor == anchor_ && caret == caret_) return;
    if (!typing_) typingRun_.active = false; // a caret moved elsewhere starts a new undo step
    // Only the records whose look changes need painting: those between the old and new ends,
    // and of those only the visible ones matter now.
    RecIndex lo = LineFromOffset(std::min({anchor, caret, anchor_, caret_}));
    RecIndex hi = LineFromOffset(std::max({anchor, caret, anchor_, caret_}));
    lo = std::max(lo, topLine_);
    hi = std::min<RecIndex>(hi, topLine_ + VisibleRows());
    FlagRange(lo, hi, lfRepaint);
    anchor_ = anchor;
    caret_ = caret;
    virtualColumn_ = -1;
    // A caret placed by a click or a message is where up and down start from.
    desiredColumn_ = ColumnAt(caret_);
    changeBits_ |= cbSelection;
    if (repaint) Invalidate();
}

TextOffset TCustomCodeMemo::SelLength() const {
    TextOffset from = SelStart(), to = std::max(anchor_, caret_);
    TextOffset n = to - from;
    if (selLineStyle_ == lsCRLF)
        WalkRange(*store_, from, to, tfStored, [&](std::string_view s) {
            if (!s.empty() && s.back() == kCR) ++n;
        });
    return n;
}

std::string TCustomCodeMemo::SelText() const {
    return RangeText(SelStart(), std::max(anchor_, caret_),
                     selLineStyle_ == lsCRLF ? tfCRLF : tfStored);
}

void TCustomCodeMemo::SetModified(bool value) {
    if (value) return;
    bool was = Modified();
    undo_.Clear();
    // A status bar that shows the modified state hears of it.
    if (was) {
        changeBits_ |= cbCommand;
        NotifyChange();
    }
}

void TCustomCodeMemo::MarkSaved(std::uint64_t state) {
    bool was = Modified();
    undo_.MarkClean(state);
    if (was != Modified()) {
        changeBits_ |= cbCommand;
        NotifyChange();
    }
}

void TCustomCodeMemo::SetOptions(std::uint32_t options) {
    std::uint32_t changed = options ^ options_;
    int oldWrap = WrapWidth();
    options_ = options;
    fittedGutter_ = WantedGutterWidth(); // line numbers on or off
    // Showing or hiding the gutter changes the wrap width too.
    bool rewrap =
        (changed & smoWordWrap) ||
        ((options & smoWordWrap) && ((changed & smoWrapOverride) || WrapWidth() != oldWrap));
    if (rewrap && !store_->Empty()) RewrapAll();
    changeBits_ |= cbOptions;
    Invalidate();
}

void TCustomCodeMemo::SetTabDefault(int value) {
    if (value <= 0) throw ECodeMemo("=Illegal default tab stop value, must be > 0");
    tabDefault_ = value;
    columnMarkAt_ = -1;
    Invalidate();
}

TMarkList& TCustomCodeMemo::Marks() {
    if (!marks_) marks_ = std::make_unique<TMarkList>();
    return *marks_;
}

std::size_t TCustomCodeMemo::AddMark(TextOffset start, TextOffset end, std::uint8_t flag,
                                     std::uint32_t value) {
    std::size_t i = Marks().Add(start, end, flag, value);
    FlagRange(LineFromOffset(std::min(start, end)), LineFromOffset(std::max(start, end)),
              lfRepaint);
    Invalidate();
    return i;
}

std::size_t TCustomCodeMemo::SetMarkRange(std::size_t index, TextOffset start, TextOffset end) {
    const TPositionMark& old = Marks()[index];
    FlagRange(LineFromOffset(old.start), LineFromOffset(old.end), lfRepaint);
    std::size_t i = Marks().SetRange(index, start, end);
    FlagRange(LineFromOffset(std::min(start, end)), LineFromOffset(std::max(start, end)),
              lfRepaint);
    Invalidate();
    return i;
}

// Bytes above 127 are letters to the word tests, so a word stops only at an ASCII character
// and never inside a UTF-8 character.
bool TCustomCodeMemo::CharStartsWord(char c) const {
    if (fn_CharStartsWord) return fn_CharStartsWord(c);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           static_cast<unsigned char>(c) >= 128;
}

bool TCustomCodeMemo::CharIsInWord(char c) const {
    if (fn_CharIsInWord) return fn_CharIsInWord(c);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '\'' || c == '-' ||
           (c >= '0' && c <= '9') || static_cast<unsigned char>(c) >= 128;
}

void TCustomCodeMemo::SetEncoding(TTextEncoding e) {
    if (e == store_->Encoding()) return;
    store_->SetEncoding(e);
    for (TCustomCodeMemo* memo : store_->Controls())
        if (memo != this) memo->EncodingChanged();
    EncodingChanged();
}

// The bytes read differently: cells, wrap cuts and the caret's column change.
void TCustomCodeMemo::EncodingChanged() {
    columnMarkAt_ = -1;
    anchor_ = CharStartAt(anchor_);
    caret_ = CharStartAt(caret_);
    virtualColumn_ = -1;
    if (options_ & smoWordWrap) RewrapAll();
    FlagRange(0, LineCount() - 1, lfRepaint);
    desiredColumn_ = ColumnAt(caret_);
    changeBits_ |= cbSettings | cbSelection;
    Invalidate();
    if (view_) view_->UpdateScrollBars();
    NotifyChange();
}

bool TCustomCodeMemo::HasBom() const {
    return Encoding() == TTextEncoding::teUTF8 && !store_->Empty() &&
           store_->Text(0).substr(0, 3) == kUtf8Bom;
}

void TCustomCodeMemo::BeginUpdate() {
    ++updateCount_;
}

void TCustomCodeMemo::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0) {
        Invalidate();
        NotifyChange();
    }
}

void TCustomCodeMemo::SetUpdateLock(bool lock) {
    if (updateLock_ == lock) return;
    updateLock_ = lock;
    if (!lock) {
        FlagRange(topLine_, topLine_ + VisibleRows() + 2, lfRepaint);
        Invalidate();
        if (view_) view_->UpdateScrollBars();
    }
}

void TCustomCodeMemo::NotifyChange() {
    if (updateCount_ > 0) return;
    FitGutter(); // a line count of one more digit widens it
    if (changeBits_ == 0) return;
    const bool selection = changeBits_ & cbSelection;
    changeBits_ = 0;
    if (selection) SelectionChanged();
    if (dirty_ >= 0) {
        RecIndex dirty = dirty_;
        dirty_ = -1;
        DirtyRecordHandedOver(dirty);
    }
    if (OnChange) OnChange(this);
}

void TCustomCodeMemo::Invalidate() {
    if (view_ && updateCount_ == 0 && !updateLock_) view_->RepaintView();
}

void TCustomCodeMemo::FlagRange(RecIndex first, RecIndex last, std::uint32_t flags) {
    first = std::max<RecIndex>(first, 0);
    last = std::min<RecIndex>(last, LineCount() - 1);
    if (first > last) return;
    TTextStore::Cursor c = store_->CursorAt(first);
    for (; !store_->AtEnd(c) && c.rec <= last; store_->Next(c))
        store_->Rec(c).flags |= flags;
}

void TCustomCodeMemo::Beep() {
    if (dialogs_) dialogs_->beep();
}

} // namespace morvane::editor
