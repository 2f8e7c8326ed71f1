// The desktop's primary selection: a selection is offered to other programs as soon as it is
// made (read only when one asks), and a middle click pastes the selection of whichever program
// holds it. Also the context menu request.

#include "gui/editor/CodeMemo.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMimeData>

namespace morvane::editor {

namespace {
constexpr const char* kPlainText = "text/plain";
// A selection that goes away is kept on offer up to this size, as other programs keep theirs.
constexpr TextOffset kMaxKeptSelection = 16 << 20;
} // namespace

// The selection's text, made when another program asks for it.
class TPrimarySelectionData : public QMimeData {
public:
    explicit TPrimarySelectionData(TCodeMemo* memo) : memo_(memo) {}
    // While live, the offer is the control's current selection; once frozen, the kept text.
    void Freeze(std::string bytes) {
        frozen_ = true;
        bytes_ = std::move(bytes);
    }
    void Live() {
        frozen_ = false;
        bytes_.clear();
    }
    bool Frozen() const { return frozen_; }
    TCodeMemo* Memo() const { return memo_; }
    // The document's bytes on offer.
    std::string Bytes() const {
        if (frozen_) return bytes_;
        return memo_ ? memo_->SelText() : std::string();
    }
    QStringList formats() const override { return {QString::fromLatin1(kPlainText)}; }
    bool hasFormat(const QString& type) const override { return type == kPlainText; }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        if (type != kPlainText || !memo_) return {};
        const std::string utf8 = memo_->UnicodeText(Bytes());
        return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    }

private:
    QPointer<TCodeMemo> memo_;
    bool frozen_ = false;
    std::string bytes_;
};

void TCodeMemo::SelectionChanged() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard || !clipboard->supportsSelection()) return;
    const bool owned = primary_ && clipboard->ownsSelection() &&
                       clipboard->mimeData(QClipboard::Selection) == primary_.data();
    if (SelLength() > 0) {
        if (!owned) {
            primary_ = new TPrimarySelectionData(this);
            clipboard->setMimeData(primary_.data(), QClipboard::Selection);
        } else {
            primary_->Live();
        }
        primaryFrom_ = SelStart();
        primaryTo_ = SelStart() + SelLength();
        primaryGeneration_ = Store().Generation();
        return;
    }
    if (!owned || primary_->Frozen()) return;
    // The selected text is still there when only the caret moved.
    if (Store().Generation() == primaryGeneration_ &&
        primaryTo_ - primaryFrom_ <= kMaxKeptSelection)
        primary_->Freeze(RangeText(primaryFrom_, primaryTo_, tfStored));
    else
        clipboard->clear(QClipboard::Selection);
}

bool TCodeMemo::PastePrimarySelection(QPoint at) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard || !clipboard->supportsSelection() || ReadOnly()) return false;
    std::string bytes;
    const QMimeData* data =
        clipboard->ownsSelection() ? clipboard->mimeData(QClipboard::Selection) : nullptr;
    auto* own = dynamic_cast<const TPrimarySelectionData*>(data);
    if (own && own->Memo() == this) {
        bytes = own->Bytes(); // exact bytes, no round trip through Unicode
    } else {
        const QByteArray utf8 = clipboard->text(QClipboard::Selection).toUtf8();
        if (utf8.isEmpty()) return false;
        if (!TextFromUnicode(std::string_view(utf8.constData(), std::size_t(utf8.size())), bytes))
            return false;
    }
    if (bytes.empty()) return false;
    const TextOffset off = OffsetAtPoint(at.x(), at.y());
    if (!PasteAt(bytes, off)) return false;
    viewport()->update();
    return true;
}

void TCodeMemo::contextMenuEvent(QContextMenuEvent* event) {
    if (!OnContextMenu) {
        event->ignore();
        return;
    }
    if (event->reason() == QContextMenuEvent::Mouse) {
        const QPoint p = event->pos();
        const TextOffset off = OffsetAtPoint(p.x(), p.y());
        const bool inSelection =
            SelLength() > 0 && off >= SelStart() && off <= SelStart() + SelLength();
        if (!inSelection && p.x() >= TextLeft()) {
            PlaceCaretAtPoint(p.x(), p.y(), false);
            NotifyChange();
            viewport()->update();
        }
    }
    event->accept();
    QPoint at = event->globalPos();
    if (event->reason() != QContextMenuEvent::Mouse) {
        // From the keyboard: under the caret.
        const Point caret = PosFromChar(Caret());
        at = viewport()->mapToGlobal(QPoint(caret.x, caret.y + FontMetrics().LineHeight()));
    }
    OnContextMenu(this, at);
}

} // namespace morvane::editor
