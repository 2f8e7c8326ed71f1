// The editor control's highlighting and settings: the settings record applied to the control
// (SM_APPLYSETTINGS), re-highlighting after edits, and the pending re-highlighting and
// re-wrapping finished in idle time and before any row is painted.

#include "core/highlight/ExportLook.h"
#include "gui/editor/CodeMemo.h"

#include <QEvent>
#include <QTimer>

namespace morvane::editor {

namespace {
// Records re-highlighted per idle step: about a millisecond of work.
constexpr RecIndex kIdleRecords = 2000;
// Records re-wrapped per idle step: a few milliseconds.
constexpr RecIndex kIdleWrapRecords = 5000;
// How often held idle work looks again whether it may go on.
constexpr int kHeldRetryMs = 25;
// While matches are marked, their count starts again once typing has paused this long.
constexpr int kCountAfterEditMs = 300;
int backgroundHolds = 0;
} // namespace

void TCodeMemo::HoldBackgroundWork(bool hold) {
    backgroundHolds += hold ? 1 : -1;
}

bool TCodeMemo::BackgroundHeld() {
    return backgroundHolds > 0;
}

bool TCodeMemo::viewportEvent(QEvent* event) {
    // Rows below an edit that the record limit left behind are finished before they show.
    // Rows still cut for an earlier width are re-cut before they show, then highlighted.
    if (event->type() == QEvent::Paint) {
        GutterFont(); // a new font or size may widen the gutter
        FitGutter();
        EnsureRowsWrapped(LineStart(TopLine()), VisibleRows() + 1);
        EnsureHighlightedThrough(TopLine() + VisibleRows() + 1);
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void TCodeMemo::DirtyRecordHandedOver(RecIndex rec) {
    HighlightDirtyRecord(rec);
}

void TCodeMemo::TextEdited(TextOffset start, TextOffset extent) {
    HighlightTextEdited(start, extent);
    if (marking_) ScheduleMatchCount(kCountAfterEditMs);
}

void TCodeMemo::ApplySettings() {
    const highlight::TSM_Settings& s = Settings();
    if (!s.fontName.empty() && s.fontSize > 0 &&
        (font_.family().toStdString() != s.fontName || font_.pointSize() != s.fontSize)) {
        QFont font(QString::fromStdString(s.fontName), s.fontSize);
        font.setStyleHint(QFont::TypeWriter);
        SetFont(font);
    }
    ApplySettingsRecord();
    Invalidate();
}

TExportLook TCodeMemo::ExportLook() const {
    TExportLook look = TCustomCodeMemo::ExportLook();
    highlight::ApplyExportSettings(look, Settings(), [this](std::int32_t value) {
        return static_cast<std::uint32_t>(ColorOf(value).rgb() & 0xFFFFFF);
    });
    look.fontName = font_.family().toStdString();
    if (font_.pointSize() > 0) look.fontSize = font_.pointSize();
    return look;
}

void TCodeMemo::SchedulePendingHighlight() {
    if (highlightIdleQueued_) return;
    highlightIdleQueued_ = true;
    QTimer::singleShot(BackgroundHeld() ? kHeldRetryMs : 0, this, [this] {
        highlightIdleQueued_ = false;
        if (BackgroundHeld()) return SchedulePendingHighlight();
        if (ContinueHighlight(kIdleRecords)) SchedulePendingHighlight();
        Invalidate();
    });
}

void TCodeMemo::ScheduleWrap() {
    if (wrapIdleQueued_) return;
    wrapIdleQueued_ = true;
    QTimer::singleShot(BackgroundHeld() ? kHeldRetryMs : 0, this, [this] {
        wrapIdleQueued_ = false;
        if (BackgroundHeld()) return ScheduleWrap();
        if (ContinueWrap(kIdleWrapRecords)) ScheduleWrap();
    });
}

} // namespace morvane::editor
