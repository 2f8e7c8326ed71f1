// Re-cutting a wrapped line after an edit: only the pieces near the edit are cut again, and the
// result always equals cutting the whole text afresh.

#include "EditorTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

namespace morvane::editor {
namespace {

using test::CheckChain;
using test::Load;
using test::Records;
using test::Stored;

// 'W' twice as wide as the other characters, for the proportional case.
class WideW final : public TFixedMetrics {
public:
    WideW() : TFixedMetrics(8, 16, false) {}
    int CharPixels(unsigned char c) const override { return c == 'W' ? 16 : 8; }
};

struct WrapSetup {
    bool proportional;
    int wrapColumn;
};

void Configure(TCustomCodeMemo& m, const WrapSetup& s) {
    m.SetFontMetrics(s.proportional ? std::shared_ptr<TFixedMetrics>(std::make_shared<WideW>())
                                    : std::make_shared<TFixedMetrics>(8, 16, true));
    m.SetClientSize(800, 400);
    m.SetWrapAtColumn(s.wrapColumn);
}

// The records a fresh control makes of the same text, wrapping it whole.
std::vector<std::string> CutAfresh(const TCustomCodeMemo& m, const WrapSetup& s) {
    TCustomCodeMemo fresh;
    Configure(fresh, s);
    Load(fresh, Stored(m));
    fresh.SetOptions(fresh.Options() | smoWordWrap);
    return Records(fresh);
}

std::string Words(std::mt19937& rng, std::size_t length, bool tabs) {
    static const char* words[] = {"a", "bb", "function", "x=1;", "return", "WWW", "veryLongName"};
    std::string t;
    while (t.size() < length) {
        t += words[rng() % 7];
        unsigned r = rng() % 10;
        t += r == 0 && tabs ? "\t" : r == 1 ? "  " : r == 2 ? "" : " ";
    }
    return t;
}

TEST(WrapRecutTest, EditsInLongLinesCutAsAFreshWrapWould) {
    const WrapSetup setups[] = {{false, 30}, {false, 91}, {true, 25}, {false, 2000}};
    unsigned seed = 40;
    for (const WrapSetup& setup : setups) {
        std::mt19937 rng(++seed);
        TCustomCodeMemo m;
        Configure(m, setup);
        m.SetOptions(m.Options() | smoWordWrap);
        Load(m, Words(rng, 9000, seed % 2) + "\n" + Words(rng, 300, true) + "\n" +
                    std::string(5000, 'q') + "\nend");
        ASSERT_EQ(Records(m), CutAfresh(m, setup));
        for (int step = 0; step < 150; ++step) {
            const TextOffset len = m.TextLength();
            TextOffset at = static_cast<TextOffset>(rng() % static_cast<unsigned>(len + 1));
            switch (rng() % 5) {
            case 0: // a run of typed characters
                m.SetSelection(at, at);
                for (int i = static_cast<int>(rng() % 6); i >= 0; --i)
                    m.KeyPress("ab W\t"[rng() % 5]);
                break;
            case 1:
                m.SetSelection(at, at);
                m.ExecuteCommand(rng() % 2 ? ecDeleteChar : ecDeleteLastChar, 0, false);
                break;
            case 2: {
                TextOffset to = std::min(len, at + static_cast<TextOffset>(rng() % 3000));
                m.SetSelection(at, to);
                m.ReplaceSel(rng() % 3 ? "" : "joined\n");
                break;
            }
            case 3:
                m.SetSelection(at, at);
                m.ReplaceSel(Words(rng, rng() % 4000, true));
                break;
            default:
                m.SetSelection(at, at);
                m.ReplaceSel(rng() % 2 ? " " : "Z");
            }
            ASSERT_NO_FATAL_FAILURE(CheckChain(m)) << step;
            ASSERT_EQ(Records(m), CutAfresh(m, setup)) << "setup " << seed << " step " << step;
        }
    }
}

// Records far from a keystroke are not touched: a keystroke in a line of megabytes costs the
// same as in a short one.
TEST(WrapRecutTest, AKeystrokeReCutsOnlyThePiecesNearIt) {
    std::mt19937 rng(7);
    TCustomCodeMemo m;
    Configure(m, {false, 76});
    Load(m, Words(rng, 400000, false));
    m.SetOptions(m.Options() | smoWordWrap);
    TTextStore& s = m.Store();
    ASSERT_GT(s.Count(), 4000);
    constexpr std::uint32_t kUntouched = 1u << 30;
    for (RecIndex i = 0; i < s.Count(); ++i)
        s.Rec(i).flags |= kUntouched;
    for (TextOffset at : {TextOffset{200000}, TextOffset{5}, m.TextLength() - 3}) {
        m.SetSelection(at, at);
        m.KeyPress('k');
        m.ExecuteCommand(ecDeleteLastChar, 0, false);
        m.KeyPress(' ');
    }
    int touched = 0;
    for (RecIndex i = 0; i < s.Count(); ++i)
        touched += !(s.Rec(i).flags & kUntouched);
    EXPECT_LT(touched, 300);
    EXPECT_EQ(Records(m), CutAfresh(m, {false, 76}));
}

} // namespace
} // namespace morvane::editor

namespace morvane::editor {
namespace {

// A view that re-wraps in idle steps, as the window does; the test runs the steps.
class IdleView final : public TCodeMemoView {
public:
    void RepaintView() override {}
    void UpdateScrollBars() override { ++scrollUpdates; }
    bool DefersWrap() const override { return true; }
    void ScheduleWrap() override { ++scheduled; }
    int scrollUpdates = 0, scheduled = 0;
};

TEST(DeferredWrapTest, AWidthChangeCutsTheRowsInViewAndLeavesTheRestForIdleSteps) {
    std::mt19937 rng(3);
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += Words(rng, rng() % 300, i % 7 == 0) + "\n";
    TCustomCodeMemo m;
    IdleView view;
    Configure(m, {false, 0});
    m.SetView(&view);
    m.SetOptions(m.Options() | smoWordWrap);
    Load(m, text);
    EXPECT_TRUE(m.WrapPending()); // opening wraps what shows first
    m.SetTopLine(1500);
    m.SetClientSize(500, 300);
    ASSERT_TRUE(m.WrapPending());
    EXPECT_GT(view.scheduled, 0);
    // A fresh wrap of the same text in a window of the same width.
    auto fresh = [&] {
        TCustomCodeMemo f;
        f.SetFontMetrics(std::make_shared<TFixedMetrics>(8, 16, true));
        f.SetClientSize(500, 300);
        Load(f, Stored(m));
        f.SetOptions(f.Options() | smoWordWrap);
        return Records(f);
    };
    // The rows from the top of the view are the pieces a fresh wrap makes there.
    auto expectTopExact = [&] {
        std::vector<std::string> all = fresh();
        TextOffset off = 0;
        std::size_t k = 0;
        const TextOffset top = m.LineStart(m.TopLine());
        while (k < all.size() && off < top)
            off += static_cast<TextOffset>(all[k++].size());
        ASSERT_EQ(off, top);
        for (RecIndex r = m.TopLine(); r < m.TopLine() + m.VisibleRows() && r < m.LineCount(); ++r)
            ASSERT_EQ(std::string(m.Store().Text(r)), all[k++]) << "row " << r - m.TopLine();
    };
    ASSERT_NO_FATAL_FAILURE(expectTopExact());
    const TextOffset caret = m.LineStart(m.TopLine()) + 3;
    m.SetSelection(caret, caret);
    // Edits, scrolling and width changes while lines are pending: the text, the chain and the
    // rows in view stay exact; physical line numbers never depend on the cuts.
    for (int step = 0; step < 60; ++step) {
        switch (rng() % 4) {
        case 0:
            m.KeyPress("xy \n"[rng() % 4]);
            break;
        case 1:
            m.ExecuteCommand(rng() % 2 ? ecPageDown : ecLineUp, 0, false);
            break;
        case 2:
            m.ContinueWrap(200);
            break;
        default:
            m.SetClientSize(400 + static_cast<int>(rng() % 3) * 50, 300);
            break;
        }
        ASSERT_NO_FATAL_FAILURE(CheckChain(m)) << step;
        m.EnsureRowsWrapped(m.LineStart(m.TopLine()), m.VisibleRows());
        if (m.ClientWidth() != 500) m.SetClientSize(500, 300);
        m.EnsureRowsWrapped(m.LineStart(m.TopLine()), m.VisibleRows());
        ASSERT_NO_FATAL_FAILURE(expectTopExact()) << step;
        const RecIndex caretRec = m.LineFromOffset(m.Caret());
        std::string before = Stored(m).substr(0, static_cast<std::size_t>(m.Caret()));
        ASSERT_EQ(m.PhysicalLineNumber(caretRec),
                  static_cast<RecIndex>(std::count(before.begin(), before.end(), '\r')) + 1);
    }
    int steps = 0;
    while (m.ContinueWrap(500))
        ASSERT_LT(++steps, 10000);
    EXPECT_FALSE(m.WrapPending());
    EXPECT_EQ(Records(m), fresh());
    m.SetView(nullptr);
}

} // namespace
} // namespace morvane::editor
