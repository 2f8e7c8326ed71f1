// Scroll bars over a text of more than 32000 lines, and the wheel.

#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QWheelEvent>

namespace morvane::editor {
namespace {

TEST(ViewScrollTest, ScaledBarStillStepsByLines) {
    morvane::testing::qtApp();
    TCodeMemo memo;
    memo.resize(400, 300);
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "x\n";
    memo.Lines().SetText(text);
    memo.show();
    QApplication::processEvents();
    QScrollBar* v = memo.verticalScrollBar();
    EXPECT_LT(v->maximum(), 32000);
    v->setValue(1000); // a thumb position counts four records
    EXPECT_EQ(memo.TopLine(), 4000);
    v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(memo.TopLine(), 4001);
    v->triggerAction(QAbstractSlider::SliderSingleStepSub);
    v->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(memo.TopLine(), 3999);
    v->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(memo.TopLine(), 3999 + memo.ClientHeight() / memo.FontMetrics().LineHeight());
    // Half notches add up to one line.
    RecIndex top = memo.TopLine();
    for (int i = 0; i < 2; ++i) {
        QWheelEvent wheel(QPointF(50, 50), memo.mapToGlobal(QPoint(50, 50)), QPoint(),
                          QPoint(0, -60), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(memo.viewport(), &wheel);
    }
    EXPECT_EQ(memo.TopLine(), top + 1);
}

} // namespace
} // namespace morvane::editor
