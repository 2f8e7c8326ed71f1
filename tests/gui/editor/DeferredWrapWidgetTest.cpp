// The window re-wraps a large text without stopping: a resize or opening a file with word wrap
// on cuts the rows in view at once and the rest in idle steps, and a painted row is always cut
// for the current width.

#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

namespace morvane::editor {
namespace {

void EnsureApp() {
    morvane::testing::qtApp();
}

// Measures as the window's font does.
class SameAs final : public TFontMetrics {
public:
    explicit SameAs(const TFontMetrics& m) : m_(m) {}
    int CharWidth() const override { return m_.CharWidth(); }
    int LineHeight() const override { return m_.LineHeight(); }
    bool FixedPitch() const override { return m_.FixedPitch(); }
    int CharPixels(unsigned char c) const override { return m_.CharPixels(c); }

private:
    const TFontMetrics& m_;
};

// The records a control without a window makes of the same text at the same width.
std::vector<std::string> CutAfresh(TCodeMemo& memo) {
    TCustomCodeMemo ref;
    ref.SetFontMetrics(std::make_shared<SameAs>(memo.FontMetrics()));
    ref.SetClientSize(memo.ClientWidth(), memo.ClientHeight());
    const std::string text = memo.Text(tfLF);
    TFastMemoryStream in(text);
    ref.LoadFromStream(in);
    ref.SetOptions(ref.Options() | smoWordWrap);
    std::vector<std::string> out;
    for (RecIndex i = 0; i < ref.LineCount(); ++i)
        out.emplace_back(ref.Store().Text(i));
    return out;
}

void ExpectRowsInViewExact(TCodeMemo& memo, const std::vector<std::string>& fresh) {
    TextOffset off = 0;
    std::size_t k = 0;
    const TextOffset top = memo.LineStart(memo.TopLine());
    while (k < fresh.size() && off < top)
        off += static_cast<TextOffset>(fresh[k++].size());
    ASSERT_EQ(off, top);
    for (RecIndex r = memo.TopLine(); r < memo.TopLine() + memo.VisibleRows() && k < fresh.size();
         ++r)
        ASSERT_EQ(std::string(memo.Store().Text(r)), fresh[k++]) << "row " << r - memo.TopLine();
}

TEST(DeferredWrapWidgetTest, ResizeAndOpenWrapTheRowsInViewAndFinishInIdleSteps) {
    EnsureApp();
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "line " + std::to_string(i) + " with some words that wrap at narrow widths " +
                std::string(static_cast<std::size_t>(i % 90), 'w') + "\n";
    TCodeMemo memo;
    memo.resize(600, 300);
    memo.show();
    QApplication::processEvents();
    memo.SetOptions(memo.Options() | smoWordWrap);
    TFastMemoryStream in(text);
    memo.LoadFromStream(in);
    // Opening with wrapping on: the rows in view are cut, the rest is left for idle steps.
    EXPECT_TRUE(memo.WrapPending());
    ASSERT_NO_FATAL_FAILURE(ExpectRowsInViewExact(memo, CutAfresh(memo)));

    memo.SetTopLine(9000);
    QApplication::processEvents(); // a few idle steps may run
    memo.resize(400, 300);         // the wrap width follows the window
    EXPECT_TRUE(memo.WrapPending());
    memo.viewport()->repaint(); // what is painted is cut for the new width
    ASSERT_NO_FATAL_FAILURE(ExpectRowsInViewExact(memo, CutAfresh(memo)));
    const TextOffset caret = memo.LineStart(memo.TopLine()) + 2;
    memo.SetSelection(caret, caret);
    memo.KeyPress('Z');
    EXPECT_EQ(memo.Caret(), caret + 1);
    ASSERT_NO_FATAL_FAILURE(ExpectRowsInViewExact(memo, CutAfresh(memo)));

    // Idle steps finish the rest, and the whole text is then cut as a fresh wrap would.
    QElapsedTimer bound;
    bound.start();
    while (memo.WrapPending() && bound.elapsed() < 60000)
        QApplication::processEvents();
    EXPECT_FALSE(memo.WrapPending());
    std::vector<std::string> fresh = CutAfresh(memo);
    ASSERT_EQ(static_cast<std::size_t>(memo.LineCount()), fresh.size());
    for (RecIndex i = 0; i < memo.LineCount(); ++i)
        ASSERT_EQ(std::string(memo.Store().Text(i)), fresh[static_cast<std::size_t>(i)]) << i;
}

} // namespace
} // namespace morvane::editor
