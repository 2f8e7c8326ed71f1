// Marking every match of the open find or replace dialog's text in the view, counting them in
// idle time, and keeping the found match clear of the dialog.

#include "core/editor/TextEncoding.h"
#include "gui/editor/CodeMemo.h"
#include "gui/editor/FindDialog.h"

#include <QPainter>
#include <QTimer>

namespace morvane::editor {

namespace {
// Bytes counted per idle step: a few milliseconds of work.
constexpr std::size_t kCountSlice = 4 * 1024 * 1024;
} // namespace

TCodeMemo::TFindChoices& TCodeMemo::FindChoices() {
    static TFindChoices choices;
    return choices;
}

std::function<void(const TCodeMemo::TFindChoices&)>& TCodeMemo::OnFindChoicesChanged() {
    static std::function<void(const TFindChoices&)> told;
    return told;
}

bool TCodeMemo::SearchDialogShown() const {
    return (findDialog_ && findDialog_->isVisible()) ||
           (replaceDialog_ && replaceDialog_->isVisible());
}

void TCodeMemo::FollowDialog(TFindDialog& dialog) {
    if (!dialog.isVisible()) return;
    TFindChoices& choices = FindChoices();
    TFindChoices now{dialog.wrapAround(),
                     dialog.mode() == TFindDialog::Mode::Replace ? dialog.wholeDocument()
                                                                 : choices.wholeDocument,
                     dialog.markAll()};
    if (!(now == choices)) {
        choices = now;
        if (OnFindChoicesChanged()) OnFindChoicesChanged()(choices);
    }
    if (!choices.markAll || dialog.findText().isEmpty()) {
        StopMarking();
        return;
    }
    if (!matchMarks_) matchMarks_ = std::make_unique<highlight::TMatchMarks>(*this);
    highlight::TSearchRequest r;
    std::string utf8 = dialog.findText().toStdString();
    if (!FromUtf8(Encoding(), utf8, r.text)) r.text = utf8;
    r.matchCase = dialog.matchCase();
    r.wholeWord = dialog.wholeWord();
    r.regExpr = dialog.regularExpressions();
    const bool changed = !marking_ || r.text != matchMarks_->Request().text ||
                         r.matchCase != matchMarks_->Request().matchCase ||
                         r.wholeWord != matchMarks_->Request().wholeWord ||
                         r.regExpr != matchMarks_->Request().regExpr;
    matchMarks_->SetRequest(r);
    marking_ = true;
    if (changed) {
        if (OnMatchCount) OnMatchCount(this, -1, false);
        ScheduleMatchCount(0);
        viewport()->update();
    }
}

void TCodeMemo::StopMarking() {
    if (!marking_) return;
    marking_ = false;
    if (countTimer_) countTimer_->stop();
    if (OnMatchCount) OnMatchCount(this, -1, false);
    viewport()->update();
}

void TCodeMemo::ScheduleMatchCount(int delayMs) {
    if (!marking_ || !matchMarks_) return;
    if (!countTimer_) {
        countTimer_ = new QTimer(this);
        countTimer_->setSingleShot(true);
        connect(countTimer_, &QTimer::timeout, this, [this] {
            if (!marking_ || !matchMarks_) return;
            if (!matchMarks_->CountStep(kCountSlice)) {
                countTimer_->start(0);
                return;
            }
            if (OnMatchCount)
                OnMatchCount(this, matchMarks_->Count(),
                             matchMarks_->Count() >= highlight::TMatchMarks::kCountLimit);
        });
    }
    countTimer_->start(delayMs);
}

void TCodeMemo::PaintMatchMarks(QPainter& p, const std::vector<TRowLayout>& rows) {
    if (!marking_ || !matchMarks_ || !matchMarks_->Active() || rows.empty()) return;
    const TRowLayout& last = rows.back();
    const auto& marks =
        matchMarks_->Visible(rows.front().start, last.start + Store().Rec(last.rec).length);
    if (marks.empty()) return;
    const int lh = metrics_->LineHeight(), cw = metrics_->CharWidth();
    std::size_t k = 0;
    int y = 0;
    for (const TRowLayout& row : rows) {
        const TextOffset end = row.start + Store().Rec(row.rec).length;
        while (k < marks.size() && marks[k].end <= row.start)
            ++k;
        for (std::size_t i = k; i < marks.size() && marks[i].start < end; ++i) {
            const TextOffset a = std::max(marks[i].start, row.start);
            const TextOffset b = std::min(marks[i].end, end);
            const int x0 = static_cast<int>(
                ColumnOf(row.rec, static_cast<std::size_t>(a - row.start)) - LeftColumn());
            const int x1 = static_cast<int>(
                ColumnOf(row.rec, static_cast<std::size_t>(b - row.start)) - LeftColumn());
            if (x1 > x0)
                p.fillRect(QRect(TextLeft() + x0 * cw, y, (x1 - x0) * cw, lh), MatchMarkColor);
        }
        y += lh;
    }
}

void TCodeMemo::KeepMatchInSight(TFindDialog& dialog) {
    if (!dialog.isVisible() || SelLength() == 0) return;
    const Point from = PosFromChar(SelStart()), to = PosFromChar(SelStart() + SelLength());
    const int lh = metrics_->LineHeight();
    const int width = to.y == from.y ? std::max(1, to.x - from.x) : viewport()->width() - from.x;
    const QRect match(viewport()->mapToGlobal(QPoint(from.x, from.y)), QSize(width, lh));
    QRect frame = dialog.frameGeometry();
    if (!frame.intersects(match)) return;
    // Below the match's line when there is room in the editor, else above it.
    const QRect view(viewport()->mapToGlobal(QPoint(0, 0)), viewport()->size());
    int top = match.bottom() + lh;
    if (top + frame.height() > view.bottom()) top = match.top() - lh - frame.height();
    dialog.move(dialog.pos() + QPoint(0, top - frame.top()));
}

} // namespace morvane::editor
