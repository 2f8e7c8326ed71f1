// The countdown widget: its timer ends the wait, and input meanwhile is swallowed.

#include "gui/editor/Wait.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QTimer>

namespace morvane::editor {
namespace {

TEST(WaitWidgetTest, TimesOutAndSwallowsKeys) {
    morvane::testing::qtApp();
    TWait wait;
    EXPECT_EQ(wait.size(), QSize(192, 32));
    wait.SetCaption("4");
    wait.SetInterval(5);
    QWidget target;
    int keys = 0;
    struct Counter : QObject {
        int& n;
        explicit Counter(int& c) : n(c) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress) ++n;
            return false;
        }
    } counter(keys);
    target.installEventFilter(&counter);
    QTimer::singleShot(1, [&] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
        QApplication::sendEvent(&target, &key);
    });
    int waited = 0;
    wait.OnWaiting = [&](TCustomWait*) { ++waited; };
    EXPECT_EQ(wait.Waiting(), TCustomWait::mrCancel);
    EXPECT_EQ(keys, 0);
    EXPECT_GT(waited, 0);
    EXPECT_EQ(wait.Caption(), "4");
    // The bar is drawn in the highlight colour while time remains.
    wait.Start();
    wait.Tick();
    QImage img = wait.grab().toImage();
    EXPECT_EQ(img.pixelColor(10, 16), wait.palette().color(QPalette::Highlight));
    EXPECT_EQ(img.pixelColor(1, 1), QColor(Qt::white));
    wait.Stop();
}

} // namespace
} // namespace morvane::editor
