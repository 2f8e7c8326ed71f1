// The message interface: each message is answered in terms of the control's methods.

#include "core/editor/CodeMemoMessages.h"

#include "core/editor/CustomCodeMemo.h"
#include "core/editor/LineBreaks.h"

#include <algorithm>
#include <cstring>

namespace morvane::editor {

namespace {
constexpr const char* kVersion = "2.2.1";

template <class T> T* Ptr(std::intptr_t p) {
    return reinterpret_cast<T*>(p);
}
template <class T> T* Ptr(std::uintptr_t p) {
    return reinterpret_cast<T*>(p);
}

std::string_view CText(std::intptr_t p) {
    auto* s = Ptr<const char>(p);
    return s ? std::string_view(s) : std::string_view();
}

TextOffset CrLfLength(const TTextStore& store) {
    TextOffset n = store.Length();
    TTextStore::Cursor c = store.CursorAt(0);
    for (; !store.AtEnd(c); store.Next(c)) {
        std::string_view t = store.Text(c);
        if (!t.empty() && t.back() == kCR) ++n;
    }
    return n;
}

void ForRecords(TTextStore& store, std::uintptr_t range, auto&& f) {
    RecIndex first = 0, last = store.Count() - 1;
    if (auto* r = Ptr<const TRecRange>(range)) {
        first = std::max<RecIndex>(0, r->first);
        last = std::min<RecIndex>(last, r->last);
    }
    for (RecIndex i = first; i <= last; ++i)
        f(i);
}
} // namespace

std::intptr_t TCustomCodeMemo::Perform(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    return PerformMessage(*this, msg, wParam, lParam);
}

std::intptr_t PerformMessage(TCustomCodeMemo& m, unsigned msg, std::uintptr_t wParam,
                             std::intptr_t lParam) {
    const bool set = wParam & kSmSet;
    const bool repaint = !(wParam & kSmNoRepaint);
    auto sw = static_cast<std::intptr_t>(wParam); // signed view of the first parameter
    switch (msg) {
    case WM_SETTEXT: {
        TFastMemoryStream stream = TFastMemoryStream::FromCString(Ptr<const char>(lParam));
        TSaveFormat format = m.saveFormat_;
        TLineEnd lineEnd = m.lineEnd_;
        m.LoadFromStream(stream);
        m.saveFormat_ = format;
        m.lineEnd_ = lineEnd;
        return 1;
    }
    case WM_GETTEXT: {
        auto* buf = Ptr<char>(lParam);
        if (!buf || wParam == 0) return 0;
        std::string text = m.Text(tfCRLF);
        std::size_t n = std::min<std::size_t>(wParam - 1, text.size());
        std::memcpy(buf, text.data(), n);
        buf[n] = 0;
        return static_cast<std::intptr_t>(n);
    }
    case WM_GETTEXTLENGTH:
        return CrLfLength(m.Store());
    case EM_GETSEL:
        if (auto* a = Ptr<TextOffset>(wParam)) *a = m.anchor_;
        if (auto* c = Ptr<TextOffset>(lParam)) *c = m.caret_;
        return static_cast<std::intptr_t>((static_cast<std::uint64_t>(m.caret_) << 32) |
                                          static_cast<std::uint32_t>(m.anchor_));
    case EM_SETSEL:
        if (sw == 0 && lParam == -1)
            m.SetSelection(-1, 0);
        else
            m.SetSelection(std::max<TextOffset>(0, sw), std::max<TextOffset>(0, lParam));
        m.NotifyChange();
        return 0;
    case EM_GETLINECOUNT:
        return std::max<RecIndex>(1, m.LineCount());
    case EM_LINEINDEX: {
        RecIndex n = sw == -1 ? m.LineFromOffset(m.caret_) : sw;
        if (n < 0 || n > m.LineCount()) return -1;
        return m.LineStart(n);
    }
    case EM_LINELENGTH: {
        RecIndex rec = m.LineFromOffset(std::max<TextOffset>(0, sw));
        if (rec >= m.LineCount()) return 0;
        std::string_view t = m.Store().Text(rec);
        return static_cast<std::intptr_t>(t.size()) - (t.back() == kCR ? 1 : 0);
    }
    case EM_GETLINE: {
        auto* buf = Ptr<char>(lParam);
        if (!buf || sw < 0 || sw >= m.LineCount()) return 0;
        std::uint16_t size;
        std::memcpy(&size, buf, sizeof size); // the buffer states its size in its first word
        std::string_view t = m.Store().Text(sw);
        if (!t.empty() && t.back() == kCR) t.remove_suffix(1);
        std::size_t n = std::min<std::size_t>(size, t.size());
        std::memcpy(buf, t.data(), n);
        return static_cast<std::intptr_t>(n);
    }
    case EM_LINEFROMCHAR:
        return m.LineFromOffset(sw == -1 ? m.caret_ : std::max<TextOffset>(0, sw));
    case EM_REPLACESEL:
    case SM_REPLACESEL:
        m.ReplaceSel(CText(lParam));
        m.NotifyChange();
        return 0;
    case EM_GETMODIFY:
        return m.Modified();
    case EM_CANUNDO:
        return m.undo_.CanUndo();
    case EM_UNDO:
    case WM_UNDO:
        return m.Undo();
    case EM_EMPTYUNDOBUFFER:
        m.undo_.Discard();
        return 0;
    case EM_GETFIRSTVISIBLELINE:
        return m.topLine_;
    case EM_LINESCROLL:
        m.LineScroll(static_cast<DisplayColumn>(sw), lParam);
        return 1;
    case EM_SCROLLCARET:
        m.ScrollToCaret();
        return 1;
    case EM_POSFROMCHAR: {
        auto p = m.PosFromChar(std::max<TextOffset>(0, sw));
        return MakePoint(p.x, p.y);
    }
    case EM_CHARFROMPOS:
        return m.CharFromPos(PointX(lParam), PointY(lParam));
    case WM_CUT:
        m.CutToClipboard();
        return 0;
    case WM_COPY:
        m.CopyToClipboard();
        return 0;
    case WM_PASTE:
        m.PasteFromClipboard();
        return 0;

    case SM_SELECTION: {
        auto* pair = Ptr<TSelPair>(lParam);
        if (!pair) return 0;
        if (set) {
            m.SetSelection(pair->anchor, pair->caret, repaint);
            m.NotifyChange();
        } else {
            *pair = {m.anchor_, m.caret_};
        }
        return 0;
    }
    case SM_OPTIONS:
        if (!set) return m.options_;
        m.SetOptions(static_cast<std::uint32_t>(lParam));
        return 0;
    case SM_UPDATELOCK:
        if (!set) return m.updateLock_;
        m.SetUpdateLock(lParam != 0);
        return 0;
    case SM_LOADSTREAM:
        if (auto* s = Ptr<TStream>(lParam)) m.ReplaceSelFromStream(*s);
        m.NotifyChange();
        return 0;
    case SM_SAVESTREAM:
        if (auto* s = Ptr<TStream>(lParam))
            return static_cast<std::intptr_t>(m.WriteSelection(*s, static_cast<TTextForm>(wParam)));
        return 0;
    case SM_MODIFIED:
        if (!set) return m.Modified();
        m.SetModified(lParam != 0);
        return 0;
    case SM_TOPLINE:
        if (!set) return m.topLine_;
        m.SetTopLine(lParam);
        return 0;
    case SM_LEFTCOLUMN:
        if (!set) return m.leftColumn_;
        m.SetLeftColumn(static_cast<DisplayColumn>(lParam));
        return 0;
    case SM_GETSELTEXT: {
        // The text goes into a std::string the caller passes: a bare buffer of unknown size
        // could be overrun by a large selection.
        TMemoryStream stream;
        m.WriteSelection(stream, static_cast<TTextForm>(wParam));
        if (auto* out = Ptr<std::string>(lParam)) *out = stream.Data();
        return static_cast<std::intptr_t>(stream.Data().size());
    }
    case SM_CANREDO:
        return m.undo_.CanRedo();
    case SM_REDO:
        return m.Redo();
    case SM_BLOCKINDENT:
        m.BlockIndent(static_cast<int>(sw), lParam & 1);
        return 0;
    case SM_BLOCKUNINDENT:
        m.BlockUnindent(static_cast<int>(sw));
        return 0;
    case SM_APPLYSETTINGS:
        m.ApplySettings();
        return 0;
    case SM_SETATTRS: {
        auto* bytes = Ptr<const std::uint8_t>(lParam);
        if (!bytes || m.store_->Empty()) return 0;
        ForRecords(*m.store_, wParam, [&](RecIndex i) {
            m.store_->SetAttrs(i, bytes);
            TLineRec& r = m.store_->Rec(i);
            r.flags |= lfStale | lfRepaint;
            bytes += r.length;
        });
        m.Invalidate();
        return 0;
    }
    case SM_GETATTRS: {
        auto* out = Ptr<std::string>(lParam);
        if (!out || m.store_->Empty()) return 0;
        out->clear();
        ForRecords(*m.store_, wParam, [&](RecIndex i) {
            const std::uint8_t* a = m.store_->Attrs(i);
            std::size_t len = m.store_->Rec(i).length;
            if (a)
                out->append(reinterpret_cast<const char*>(a), len);
            else
                out->append(len, '\0');
        });
        return static_cast<std::intptr_t>(out->size());
    }
    case SM_FIND:
    case SM_REPLACEDIALOG:
        return m.SearchMessage(msg, wParam, lParam);
    case SM_UNDOSTACK:
        return reinterpret_cast<std::intptr_t>(&m.undo_);
    case SM_VERSION:
        return reinterpret_cast<std::intptr_t>(kVersion);
    default:
        return 0;
    }
}

} // namespace morvane::editor
