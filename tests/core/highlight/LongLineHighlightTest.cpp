// A line of megabytes without a line break is highlighted in windows of the line: the token bytes
// are those of a scan of the whole text, and a pass holds a bounded part of the line in memory.

#include "HighlightMemoUtil.h"

#include <gtest/gtest.h>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;
using morvane::editor::RecIndex;
using morvane::editor::TextOffset;

namespace {

void highlightAll(HighlightMemo& m) {
    for (int i = 0; i < 1000000 && m.ContinueHighlight(500); ++i) {
    }
    ASSERT_FALSE(m.HighlightPending());
}

std::string repeatTo(const std::string& piece, std::size_t size) {
    std::string s;
    s.reserve(size + piece.size());
    while (s.size() < size)
        s += piece;
    return s;
}

// Short tokens all along the line: no token needs more than a window.
TEST(LongLineHighlight, WindowsStayBoundedAndMatchAFullScan) {
    Highlighters list = freshBuiltins();
    for (const char* language : {"C++", "Plain text"}) {
        SCOPED_TRACE(language);
        const std::string text =
            repeatTo(std::string("int x = 42; f(\"s\", 'c');\t") + std::string(7, '\0') + " ",
                     3 * 1024 * 1024);
        HighlightMemo m;
        auto& runner = m.HighlightDriver().Runner();
        runner.sizes.dropFinishedAt = 256 * 1024;
        m.SetClientSize(400, 6 * 17);
        m.Load(text);
        ASSERT_GT(m.LineCount(), 1000); // one physical line in many records
        m.SetParser(1, &byLanguage(list, language));
        highlightAll(m);
        const auto full = fullScan(language, text);
        ASSERT_EQ(m.Attrs(), full);
        EXPECT_LT(runner.LargestWindow(), 1024u * 1024);

        // A character typed at the line's end is highlighted from a window near it.
        m.Edit(m.TextLength(), m.TextLength(), "y");
        m.EnsureHighlightedThrough(m.LineCount() - 1);
        highlightAll(m);
        ASSERT_EQ(m.Attrs(), fullScan(language, m.Text()));
        EXPECT_LT(runner.LargestWindow(), 1024u * 1024);
    }
}

// Every built-in highlighter on one long line: tokens that run to the line's end (comments,
// strings left open) grow the window as far as they need.
TEST(LongLineHighlight, BuiltinsMatchAFullScanOfOneLongLine) {
    Highlighters list = freshBuiltins();
    for (const std::string& language : builtinLanguages()) {
        SCOPED_TRACE(language);
        // Code, markup and prose, with comments and strings that run on to the line's end.
        const std::string sample =
            "<a href=\"x\">b</a> int x = 1; /* c */ $v = 'q'; # note key: value -- sql "
            "<!-- m --> \"open ";
        const std::string text = repeatTo(sample, 512 * 1024);
        HighlightMemo m;
        m.HighlightDriver().Runner().sizes.lineWindow = 4096;
        m.SetClientSize(400, 6 * 17);
        m.Load(text);
        m.SetParser(1, &byLanguage(list, language));
        highlightAll(m);
        ASSERT_EQ(m.Attrs(), fullScan(language, text));
    }
}

} // namespace
