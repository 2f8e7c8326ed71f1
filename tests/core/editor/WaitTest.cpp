// The countdown: start value from the caption, ticks, timeout and stop.

#include "core/editor/Wait.h"

#include <gtest/gtest.h>

#include <vector>

namespace morvane::editor {
namespace {

class RecordingWait : public TCustomWait {
public:
    std::vector<bool> timer;
    int repaints = 0;

protected:
    void TimerChanged(bool on) override { timer.push_back(on); }
    void Repaint() override { ++repaints; }
};

TEST(WaitTest, StartValueComesFromTheCaption) {
    EXPECT_EQ(TCustomWait::ParseStart("60"), 60);
    EXPECT_EQ(TCustomWait::ParseStart("0"), 15);
    EXPECT_EQ(TCustomWait::ParseStart("abc"), 15);
    EXPECT_EQ(TCustomWait::ParseStart("12x"), 15);
    EXPECT_EQ(TCustomWait::ParseStart("-4"), 15);
    EXPECT_EQ(TCustomWait::ParseStart(""), 15);
    TCustomWait w;
    EXPECT_EQ(w.Caption(), "60");
}

TEST(WaitTest, CountdownTimesOutWithCancel) {
    RecordingWait w;
    w.SetCaption("3");
    std::vector<int> counts;
    int started = 0, timeouts = 0;
    w.OnWaitStart = [&](TCustomWait*) { ++started; };
    w.OnWait = [&](TCustomWait*, int c) { counts.push_back(c); };
    w.OnTimeout = [&](TCustomWait*) { ++timeouts; };
    w.Start();
    EXPECT_TRUE(w.Running());
    EXPECT_EQ(started, 1);
    w.Tick();
    EXPECT_EQ(w.Caption(), "2");
    EXPECT_DOUBLE_EQ(w.Fraction(), 2.0 / 3.0);
    w.Tick();
    EXPECT_EQ(w.Caption(), "1");
    w.Tick();
    EXPECT_FALSE(w.Running());
    EXPECT_EQ(counts, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(timeouts, 1);
    EXPECT_EQ(w.ModalResult(), TCustomWait::mrCancel);
    EXPECT_EQ(w.Caption(), "3"); // back to the start value
    EXPECT_EQ(w.timer, (std::vector<bool>{true, false}));
    EXPECT_GE(w.repaints, 3);
    w.Tick(); // a late tick does nothing
    EXPECT_EQ(timeouts, 1);
}

TEST(WaitTest, StopEndsAWaitWithOk) {
    RecordingWait w;
    w.SetCaption("junk"); // counts from 15
    int rounds = 0, stops = 0;
    w.OnWaitStop = [&](TCustomWait*) { ++stops; };
    w.OnWaiting = [&](TCustomWait* s) {
        if (++rounds == 4) s->Stop();
    };
    int result = w.Wait([&] { w.Tick(); });
    EXPECT_EQ(result, TCustomWait::mrOk);
    EXPECT_EQ(rounds, 4);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(w.Caption(), "15");
    // Without a message pump the countdown still ends.
    w.SetCaption("2");
    w.OnWaiting = nullptr;
    EXPECT_EQ(w.Wait({}), TCustomWait::mrCancel);
}

} // namespace
} // namespace morvane::editor
