// Find and replace of the editor control: its two dialogs and the Search commands.

#include "core/editor/CodeMemoMessages.h"
#include "core/editor/TextEncoding.h"
#include "core/platform/UiServices.h"
#include "gui/editor/CodeMemo.h"
#include "gui/editor/FindDialog.h"
#include "gui/editor/Wait.h"

#include <QApplication>
#include <QCursor>

namespace morvane::editor {

using highlight::TCodeMemoSearch;
using highlight::TReplaceAnswer;
using highlight::TSearchRequest;

namespace {
// What the user last searched for and replaced with, in any editor of this session.
QString& SessionFindText() {
    static QString text;
    return text;
}
QString& SessionReplaceText() {
    static QString text;
    return text;
}
constexpr int kMaxOfferedLength = 80;
// From this size on a search shows the busy indicator and Escape stops it.
constexpr TextOffset kBusySearchFrom = 4 * 1024 * 1024;

// Runs a search of the control; over a large text with the busy indicator shown over it, the
// search looking at the event queue now and then, and Escape stopping it. Input other than
// Escape waits meanwhile, so nothing edits the text under the search.
template <class F> void RunSearch(TCodeMemo& memo, TCodeMemoSearch& search, F&& run) {
    // Events handled during a search may ask for another (a click timed by the event loop): the
    // running one has the searcher's state; the new request is refused.
    static int running = 0;
    if (running > 0) {
        QApplication::beep();
        return;
    }
    struct Running {
        Running() { ++running; }
        ~Running() { --running; }
    } guard;
    if (memo.TextLength() < kBusySearchFrom) {
        run();
        return;
    }
    TWait wait(&memo);
    wait.setObjectName("SearchBusy");
    struct Busy {
        TWait& wait;
        TCodeMemoSearch& search;
        Busy(TWait& w, TCodeMemoSearch& s) : wait(w), search(s) {
            wait.BeginBusy();
            search.ShouldStop = [this](double done) { return wait.Poll(done); };
            // A message or a question needs the keyboard and the mouse: the busy state ends.
            search.OnReport = [this] { End(); };
        }
        void End() {
            search.ShouldStop = nullptr;
            wait.EndBusy();
        }
        ~Busy() {
            End();
            search.OnReport = nullptr;
        }
    } busy(wait, search);
    run();
}

// The dialogs show and take text in the document's encoding. A character the encoding cannot
// hold stays as its UTF-8 bytes: it is not in the text, so it is simply not found.
QString FromDocument(TTextEncoding e, const std::string& bytes) {
    return QString::fromStdString(ToUtf8(e, bytes));
}
std::string ToDocument(TTextEncoding e, const QString& text) {
    const std::string utf8 = text.toStdString();
    std::string out;
    if (FromUtf8(e, utf8, out)) return out;
    return utf8;
}
} // namespace

TCodeMemoSearch& TCodeMemo::Searcher() {
    if (!search_) {
        search_ = std::make_unique<TCodeMemoSearch>(*this);
        search_->OnConfirmReplace = [this](const std::string& question) {
            platform::Dialogs* d = DialogsService();
            if (!d) return TReplaceAnswer::Yes;
            using namespace platform;
            switch (d->message(MsgKind::Confirmation, question, mbYes | mbNo | mbCancel | mbAll)) {
            case MsgResult::Yes:
                return TReplaceAnswer::Yes;
            case MsgResult::No:
                return TReplaceAnswer::No;
            case MsgResult::All:
                return TReplaceAnswer::All;
            default:
                return TReplaceAnswer::Cancel;
            }
        };
    }
    // The message service may be set after the first search.
    search_->dialogs = DialogsService();
    return *search_;
}

TSearchRequest TCodeMemo::DialogRequest(const TFindDialog& dialog) const {
    TSearchRequest r;
    r.text = ToDocument(Encoding(), dialog.findText());
    r.matchCase = dialog.matchCase();
    r.wholeWord = dialog.wholeWord();
    r.regExpr = dialog.regularExpressions();
    r.down = dialog.down();
    r.wrap = dialog.wrapAround();
    r.wholeDocument = dialog.wholeDocument();
    return r;
}

void TCodeMemo::PrepareDialog(TFindDialog& dialog, unsigned flags) {
    const bool regExpr = flags & highlight::sfRegExpr;
    // The selection (its first characters, without a line break), else the word at the caret,
    // else what was searched for last.
    QString offer;
    if (SelLength() > 0) {
        if (!regExpr || dialog.mode() == TFindDialog::Mode::Find) {
            std::string sel = RangeText(SelStart(), SelStart() + SelLength(), tfStored);
            sel = sel.substr(0, sel.find(kCR));
            if (sel.size() > kMaxOfferedLength) sel.resize(kMaxOfferedLength);
            offer = FromDocument(Encoding(), sel);
        }
    } else {
        auto [a, b] = WordRangeAt(Caret());
        if (b > a && Caret() >= a && Caret() <= b && b - a <= kMaxOfferedLength)
            offer = FromDocument(Encoding(), RangeText(a, b, tfStored));
    }
    if (offer.isEmpty()) offer = SessionFindText();
    dialog.setFindText(offer);
    dialog.setReplaceText(SessionReplaceText());
    dialog.setRegularExpressions(regExpr);
    if (flags & highlight::sfMatchCase) dialog.setMatchCase(true);
    const TFindChoices choices = FindChoices();
    dialog.setWrapAround(choices.wrapAround);
    dialog.setWholeDocument(choices.wholeDocument);
    dialog.setMarkAll(choices.markAll);
}

void TCodeMemo::WireDialog(TFindDialog& dialog) {
    dialog.onRegularExpressionsToggled = [this](bool on) {
        if (OnRegularExpressionsToggled) OnRegularExpressionsToggled(this, on);
    };
    dialog.onChanged = [this, &dialog] { FollowDialog(dialog); };
    dialog.onHidden = [this] {
        if (!SearchDialogShown()) StopMarking();
        viewport()->update(); // the selection hides again without the focus
    };
}

void TCodeMemo::ShowFindDialog(unsigned flags) {
    if (replaceDialog_) replaceDialog_->hide();
    if (!findDialog_) {
        findDialog_ = new TFindDialog(TFindDialog::Mode::Find, window());
        findDialog_->onFindNext = [this] {
            TSearchRequest r = DialogRequest(*findDialog_);
            SessionFindText() = findDialog_->findText();
            RunSearch(*this, Searcher(), [&] { Searcher().Find(r); });
            KeepMatchInSight(*findDialog_);
        };
        WireDialog(*findDialog_);
    }
    PrepareDialog(*findDialog_, flags);
    findDialog_->present();
    FollowDialog(*findDialog_);
}

void TCodeMemo::ShowReplaceDialog(unsigned flags) {
    if (findDialog_) findDialog_->hide();
    if (!replaceDialog_) {
        replaceDialog_ = new TFindDialog(TFindDialog::Mode::Replace, window());
        replaceDialog_->onFindNext = [this] {
            SessionFindText() = replaceDialog_->findText();
            TSearchRequest r = DialogRequest(*replaceDialog_);
            RunSearch(*this, Searcher(), [&] { Searcher().Find(r); });
            KeepMatchInSight(*replaceDialog_);
        };
        auto replace = [this](bool all) {
            SessionFindText() = replaceDialog_->findText();
            SessionReplaceText() = replaceDialog_->replaceText();
            TSearchRequest r = DialogRequest(*replaceDialog_);
            std::string with = ToDocument(Encoding(), replaceDialog_->replaceText());
            if (all) QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            long long count = 0;
            try {
                RunSearch(*this, Searcher(), [&] { count = Searcher().Replace(r, with, all); });
            } catch (...) {
                if (all) QApplication::restoreOverrideCursor();
                throw;
            }
            if (all) {
                QApplication::restoreOverrideCursor();
                if (count > 0 && OnReplaceAllDone) OnReplaceAllDone(this, count);
            }
        };
        replaceDialog_->onReplace = [replace] { replace(false); };
        replaceDialog_->onReplaceAll = [replace] { replace(true); };
        WireDialog(*replaceDialog_);
    }
    PrepareDialog(*replaceDialog_, flags);
    Searcher().ForgetLastFound();
    replaceDialog_->present();
    FollowDialog(*replaceDialog_);
}

void TCodeMemo::FindNextCommand(unsigned flags) {
    TCodeMemoSearch& s = Searcher();
    if (s.HasSearched() && !s.SearchText().empty()) {
        RunSearch(*this, s, [&] { s.FindNext(); });
        return;
    }
    if (!SessionFindText().isEmpty()) {
        TSearchRequest r;
        r.text = ToDocument(Encoding(), SessionFindText());
        r.regExpr = flags & highlight::sfRegExpr;
        r.matchCase = flags & highlight::sfMatchCase;
        r.wrap = FindChoices().wrapAround;
        RunSearch(*this, s, [&] { s.Find(r); });
        return;
    }
    ShowFindDialog(flags);
}

std::intptr_t TCodeMemo::SearchMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    const auto flags = static_cast<unsigned>(wParam);
    if (msg == SM_REPLACEDIALOG) {
        ShowReplaceDialog(flags);
        return 0;
    }
    if ((flags & highlight::sfAtOnce) && lParam) {
        std::intptr_t at = Searcher().FindAtOnce(flags, reinterpret_cast<const char*>(lParam));
        // A regular-expression match reports success, its place being the parser's.
        return (at >= 0 && (flags & highlight::sfRegExpr)) ? 1 : at;
    }
    ShowFindDialog(flags);
    return 0;
}

} // namespace morvane::editor
