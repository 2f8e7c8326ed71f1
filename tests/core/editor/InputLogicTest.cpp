// What the control decides about keys, clicks, the clipboard and drops, without a window.
#include "EditorTestUtil.h"
#include "core/editor/CodeMemoError.h"
#include "core/platform/FakeUi.h"

#include <gtest/gtest.h>

namespace morvane::editor {
namespace {

using test::Load;
using test::Stored;

constexpr const char* kWindowsHtml =
    "Version:0.9\r\nStartHTML:00000097\r\nEndHTML:00000170\r\n"
    "<html><body>\r\n<!--StartFragment--><b>bold</b> text<!--EndFragment-->\r\n</body></html>";

TEST(HtmlFilter, FragmentAndTagFilters) {
    EXPECT_EQ(FilterHtml(kWindowsHtml, dsHtmlFragment), "<b>bold</b> text");
    EXPECT_EQ(FilterHtml(kWindowsHtml, dsHtmlFromTag).rfind("<html><body>", 0), 0u);
    // Taken as it is, whatever else is asked.
    EXPECT_EQ(FilterHtml(kWindowsHtml, dsHtmlFragment | dsTakeAsIs), kWindowsHtml);
    EXPECT_EQ(FilterHtml(kWindowsHtml, 0), kWindowsHtml);
    // Without markers: from the first tag to the end; without a tag nothing is left.
    EXPECT_EQ(FilterHtml("junk<p>a</p>", dsHtmlFragment), "<p>a</p>");
    EXPECT_EQ(FilterHtml("<!--StartFragment-->open end", dsHtmlFragment), "open end");
    EXPECT_EQ(FilterHtml("no tags at all", dsHtmlFromTag), "");
}

TEST(DropRules, OwnSelectionAndShiftedDropPoint) {
    // Selection [4, 8) of this control.
    EXPECT_FALSE(PlanDrop(6, 4, 8, true, true));
    EXPECT_FALSE(PlanDrop(4, 4, 8, true, true)); // onto its own edge: no change either way
    EXPECT_FALSE(PlanDrop(8, 4, 8, true, true));
    EXPECT_FALSE(PlanDrop(6, 4, 8, true, false));
    auto copyAtEdge = PlanDrop(8, 4, 8, true, false);
    ASSERT_TRUE(copyAtEdge);
    EXPECT_FALSE(copyAtEdge->deleteSelection);
    EXPECT_EQ(copyAtEdge->insertAt, 8);
    auto after = PlanDrop(12, 4, 8, true, true);
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->deleteSelection);
    EXPECT_EQ(after->insertAt, 8);
    EXPECT_EQ(PlanDrop(2, 4, 8, true, true)->insertAt, 2);
    // From elsewhere the selection here plays no part.
    auto foreign = PlanDrop(6, 4, 8, false, true);
    ASSERT_TRUE(foreign);
    EXPECT_FALSE(foreign->deleteSelection);
    EXPECT_EQ(ChooseDropFormat(dsHtml | dsPlainText | dsFileList), TDataFormat::Html);
    EXPECT_EQ(ChooseDropFormat(dsUnicodeText | dsFileList), TDataFormat::UnicodeText);
    EXPECT_EQ(ChoosePasteFormat(dsHtml | dsPlainText), TDataFormat::PlainText);
}

struct ClipboardMemo : ::testing::Test {
    TCustomCodeMemo m;
    platform::FakeClipboard clip;
    std::vector<std::uint16_t> offers;
    std::uint16_t set = 0, clear = 0;
    void SetUp() override {
        m.SetClipboard(&clip);
        m.OnDataDrop = [this](TCustomCodeMemo*, std::uint16_t& types) {
            offers.push_back(types);
            types = std::uint16_t((types | set) & ~clear);
        };
    }
};

TEST_F(ClipboardMemo, PasteOffersFormatsToTheHandlerAndFiltersHtml) {
    Load(m, "ab");
    m.SetSelection(1, 1);
    clip.contents = {{"text/plain", "plain"}, {"text/html", kWindowsHtml}};
    m.PasteFromClipboard();
    EXPECT_EQ(Stored(m), "aplainb");
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0], dsHtml | dsPlainText | dsFromClipboard);
    // A handler that refuses plain text and asks for the fragment.
    clear = dsPlainText;
    set = dsHtmlFragment;
    m.PasteFromClipboard();
    EXPECT_EQ(Stored(m), "aplain<b>bold</b> textb");
    EXPECT_TRUE(m.Undo()); // one step
    EXPECT_EQ(Stored(m), "aplainb");
    // A handler that takes the data itself.
    set = dsHandled;
    m.PasteFromClipboard();
    EXPECT_EQ(Stored(m), "aplainb");
    // Read-only: the handler is not even asked.
    set = 0;
    clear = 0;
    m.SetReadOnly(true);
    offers.clear();
    m.PasteFromClipboard();
    EXPECT_TRUE(offers.empty());
    EXPECT_EQ(Stored(m), "aplainb");
}

TEST_F(ClipboardMemo, PasteWithNothingOrLostData) {
    Load(m, "ab");
    m.PasteFromClipboard();
    EXPECT_TRUE(offers.empty());
    EXPECT_FALSE(m.CanPaste());
    clip.unreadable = {"text/html"};
    EXPECT_TRUE(m.CanPaste());
    try {
        m.PasteFromClipboard();
        FAIL();
    } catch (const ECodeMemo& e) {
        EXPECT_STREQ(e.what(), "Cannot alloc memory for buffer!!");
    }
    EXPECT_EQ(Stored(m), "ab");
}

struct RtfMemo : TCustomCodeMemo {
    std::string SelectionAsRtf() override { return "{\\rtf1 x}"; }
};

TEST(Clipboard, CopyAndPasteKeepEveryByte) {
    TCustomCodeMemo from, to;
    platform::FakeClipboard clip;
    from.SetClipboard(&clip);
    to.SetClipboard(&clip);
    const std::string bytes("a\xE9\x00\x81z", 5);
    Load(from, bytes);
    from.SetSelection(0, 5);
    from.CopyToClipboard();
    // The desktop's text copy is Unicode and cannot hold these bytes; paste takes the exact copy.
    clip.contents["text/plain"] = "a\xEF\xBF\xBD";
    to.PasteFromClipboard();
    EXPECT_EQ(Stored(to), bytes);
    // Text from another program has no exact copy.
    clip.contents.erase(kRawTextMimeType);
    to.Lines().SetText("");
    to.PasteFromClipboard();
    EXPECT_EQ(Stored(to), "a\xEF\xBF\xBD");
}

TEST(Clipboard, CopyStoresTheChosenFormatsAndCutIsOneStep) {
    RtfMemo m;
    platform::FakeClipboard clip;
    m.SetClipboard(&clip);
    Load(m, "one\rtwo");
    m.SetSelection(2, 5);
    m.CopyToClipboard();
    EXPECT_EQ(clip.contents["text/plain"], "e\nt");
    EXPECT_EQ(clip.contents["text/rtf"], "{\\rtf1 x}");
    m.SetClipCopyFormats(smTEXT);
    m.CopyToClipboard();
    EXPECT_EQ(clip.contents.count("text/rtf"), 0u);
    EXPECT_EQ(clip.contents[kRawTextMimeType], "e\nt");
    // Nothing selected: the clipboard keeps what it has.
    m.SetSelection(1, 1);
    m.CopyToClipboard();
    EXPECT_EQ(clip.contents["text/plain"], "e\nt");
    // A cut that cannot store the text keeps it.
    m.SetClipCopyFormats(0);
    m.SetSelection(0, 4);
    m.CutToClipboard();
    EXPECT_EQ(Stored(m), "one\rtwo");
    m.SetClipCopyFormats(smTEXT | smRTF);
    m.CutToClipboard();
    EXPECT_EQ(Stored(m), "two");
    EXPECT_EQ(clip.contents["text/plain"], "one\n");
    m.Undo();
    EXPECT_EQ(Stored(m), "one\rtwo");
}

TEST(Drop, MoveAndCopyWithinTheControlAreOneUndoStep) {
    TCustomCodeMemo m;
    Load(m, "one two three");
    m.SetSelection(0, 4);
    ASSERT_TRUE(m.DropText(m.SelText(), 13, true, true));
    EXPECT_EQ(Stored(m), "two threeone ");
    EXPECT_EQ(m.SelStart(), 9); // the moved text stays selected
    EXPECT_EQ(m.SelLength(), 4);
    EXPECT_TRUE(m.Undo());
    EXPECT_EQ(Stored(m), "one two three");
    EXPECT_FALSE(m.CanUndo());
    m.SetSelection(0, 4);
    ASSERT_TRUE(m.DropText(m.SelText(), 8, false, true));
    EXPECT_EQ(Stored(m), "one two one three");
    m.Undo();
    // Onto its own selection, and read-only: nothing.
    m.SetSelection(4, 7);
    EXPECT_FALSE(m.DropText("two", 5, true, true));
    EXPECT_FALSE(m.DropText("two", 7, true, true));
    m.SetReadOnly(true);
    EXPECT_FALSE(m.DropText("x", 0, false, false));
    EXPECT_EQ(Stored(m), "one two three");
}

// A drop point is always in view (auto-scroll brought it there): the view stays on the text it
// showed, whatever the removal of a moved selection elsewhere did to the line numbers.
TEST(DropView, TheViewStaysOnTheTextItShowed) {
    TCustomCodeMemo m;
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "line " + std::to_string(i) + "\r";
    Load(m, text);
    m.SetClientSize(400, 17 * 10);
    m.SetTopLine(100);
    // Line 2 moved before line 105: one line fewer above the view.
    m.SetSelection(m.LineStart(2), m.LineStart(3));
    ASSERT_TRUE(m.DropText("line 2\r", m.LineStart(105), true, true));
    EXPECT_EQ(m.Lines().Get(104), "line 2");
    EXPECT_EQ(m.TopLine(), 99);
    EXPECT_EQ(m.Lines().Get(m.TopLine()), "line 100");
    // Moved from below the view: nothing above it changes.
    m.SetSelection(m.LineStart(150), m.LineStart(151));
    ASSERT_TRUE(m.DropText("line 150\r", m.LineStart(101), true, true));
    EXPECT_EQ(m.TopLine(), 99);
    EXPECT_EQ(m.Lines().Get(101), "line 150");
    // Copied to the top row: the copy shows at the top.
    m.SetSelection(m.LineStart(0), m.LineStart(1));
    ASSERT_TRUE(m.DropText("line 0\r", m.LineStart(99), false, true));
    EXPECT_EQ(m.TopLine(), 99);
    EXPECT_EQ(m.Lines().Get(99), "line 0");
}

TEST_F(ClipboardMemo, DroppedFilesGoToTheHandlerAndHtmlIsTakenAsIs) {
    Load(m, "text");
    std::vector<std::string> got;
    TPixelPoint where;
    m.OnFilesDropped = [&](TCustomCodeMemo*, const std::vector<std::string>& files,
                           TPixelPoint at) {
        got = files;
        where = at;
    };
    TCustomCodeMemo::TDropOffer files;
    files.sourceTypes = dsFileList;
    files.files = {"/tmp/a b.txt", "/tmp/c"};
    EXPECT_FALSE(m.AcceptDrop(files, 0, {40, 3}, false, false));
    EXPECT_EQ(got, files.files);
    EXPECT_EQ(where, (TPixelPoint{40, 3}));
    EXPECT_EQ(offers.back(), dsFileList | dsFromDragDrop);
    EXPECT_EQ(Stored(m), "text");
    // A handler that wants the names as text too.
    set = dsTakeAsIs;
    EXPECT_TRUE(m.AcceptDrop(files, 4, {}, false, false));
    EXPECT_EQ(Stored(m), "text/tmp/a b.txt\r/tmp/c\r");
    m.Undo();
    // Without smoProcessDroppedFiles files are not taken at all.
    got.clear();
    m.SetOptions(m.Options() & ~smoProcessDroppedFiles);
    EXPECT_FALSE(m.AcceptDrop(files, 0, {}, false, false));
    EXPECT_TRUE(got.empty());
    // HTML from a drop is taken as it is unless the handler asks otherwise.
    set = 0;
    TCustomCodeMemo::TDropOffer html;
    html.sourceTypes = dsHtml | dsPlainText;
    html.html = "x<i>y</i>";
    html.text = "y";
    EXPECT_TRUE(m.AcceptDrop(html, 0, {}, false, false));
    EXPECT_EQ(Stored(m), "x<i>y</i>text");
    clear = dsTakeAsIs;
    set = dsHtmlFromTag;
    EXPECT_TRUE(m.AcceptDrop(html, 0, {}, false, false));
    EXPECT_EQ(Stored(m), "<i>y</i>x<i>y</i>text");
    // A handler that removes the HTML offer gets the plain text.
    clear = dsHtml;
    set = 0;
    EXPECT_TRUE(m.AcceptDrop(html, 0, {}, false, false));
    EXPECT_EQ(Stored(m).substr(0, 2), "y<");
}

TEST(MouseText, WordsLinesAndShiftClick) {
    TCustomCodeMemo m;
    Load(m, "  foobar, baz\r;;x");
    using R = std::pair<TextOffset, TextOffset>;
    EXPECT_EQ(m.WordRangeAt(4), R(2, 8));  // inside a word
    EXPECT_EQ(m.WordRangeAt(8), R(2, 8));  // right after it
    EXPECT_EQ(m.WordRangeAt(9), R(8, 10)); // between other characters: their run
    EXPECT_EQ(m.WordRangeAt(0), R(2, 8));  // at the line's start: its first word
    EXPECT_EQ(m.WordRangeAt(13), R(10, 13));
    EXPECT_EQ(m.WordRangeAt(14), R(16, 17)); // the first word, past other characters
    EXPECT_EQ(m.LineRangeAt(5), R(0, 14));   // the line break belongs to the line
    EXPECT_EQ(m.LineRangeAt(16), R(14, 17));
    m.SetSelection(5, 8);
    m.ExtendSelectionTo(2);
    EXPECT_EQ(R(m.Anchor(), m.Caret()), R(8, 2));
    m.ExtendSelectionTo(10);
    EXPECT_EQ(R(m.Anchor(), m.Caret()), R(2, 10));
}

TEST(MouseText, PointsOutsideTheTextAreClamped) {
    TCustomCodeMemo m;
    Load(m, "abc\rdefgh\rij");
    m.SetClientSize(300, 170); // 7 x 17 metrics without a window
    const int left = m.TextLeft();
    EXPECT_EQ(m.OffsetAtPoint(left + 7 * 2, 17 + 3), 6);     // row 1, column 2
    EXPECT_EQ(m.OffsetAtPoint(left + 7 * 2 + 4, 17 + 3), 7); // nearer the next boundary
    EXPECT_EQ(m.OffsetAtPoint(0, 17 + 3), 4);                // left of the text
    EXPECT_EQ(m.OffsetAtPoint(left + 700, 3), 3);            // beyond the line's end
    EXPECT_EQ(m.OffsetAtPoint(left, 160), m.TextLength());   // below the text
    EXPECT_EQ(m.OffsetAtPoint(left + 7, -50), 1);            // above the window
    EXPECT_EQ(m.LineAtY(17 * 2 + 1, true), 2);
    EXPECT_EQ(m.LineAtY(17 * 3 + 1, true), -1);
    // A line longer than a record: every row of it belongs to its first record.
    Load(m, std::string(5000, 'a') + "\rb");
    ASSERT_EQ(m.LineCount(), 4);
    EXPECT_EQ(m.LineAtY(17 * 2 + 1, true), 0);
    EXPECT_EQ(m.LineAtY(17 * 2 + 1, false), 2);
    EXPECT_EQ(m.LineAtY(17 * 3 + 1, true), 3);
}

TEST(Keys, HandlersRunBeforeTheKeyMap) {
    TCustomCodeMemo m;
    Load(m, "abc");
    std::vector<std::string> calls;
    TKeyHookResult templ = TKeyHookResult::NotHandled, replace = TKeyHookResult::NotHandled;
    m.TemplateKeyHook = [&](TCustomCodeMemo*, std::uint16_t key, unsigned shift) {
        calls.push_back("t" + std::to_string(key) + "/" + std::to_string(shift));
        return templ;
    };
    m.AutoReplaceKeyHook = [&](TCustomCodeMemo*, std::uint16_t, unsigned) {
        calls.push_back("r");
        return replace;
    };
    EXPECT_TRUE(m.KeyDown(vkEnd | kShortcutShift));
    EXPECT_EQ(calls, (std::vector<std::string>{"t35/1", "r"}));
    EXPECT_EQ(m.Caret(), 3);
    // Taken by the templates: auto-replace and the key map never see the key.
    calls.clear();
    templ = TKeyHookResult::Consumed;
    EXPECT_TRUE(m.KeyDown(vkHome));
    EXPECT_EQ(calls, (std::vector<std::string>{"t36/0"}));
    EXPECT_EQ(m.Caret(), 3);
    // Handled without consuming: the key map is skipped, the character still types.
    templ = TKeyHookResult::NotHandled;
    replace = TKeyHookResult::Handled;
    EXPECT_FALSE(m.KeyDown(vkHome));
    EXPECT_EQ(m.Caret(), 3);
    // A handler that acts ends a pending key sequence.
    replace = TKeyHookResult::NotHandled;
    EXPECT_TRUE(m.KeyDown('K' | kShortcutCtrl));
    replace = TKeyHookResult::Handled;
    EXPECT_FALSE(m.KeyDown(vkSpace));
    EXPECT_FALSE(m.KeyMap().prefixPending());
}

TEST(Keys, DialogKeysFollowWantTabAndWantReturns) {
    TCustomCodeMemo m;
    EXPECT_TRUE(m.WantsDialogKey(vkLeft));
    EXPECT_TRUE(m.WantsDialogKey('A' | kShortcutShift));
    EXPECT_FALSE(m.WantsDialogKey('A' | kShortcutCtrl));
    EXPECT_FALSE(m.WantsDialogKey(vkEscape));
    EXPECT_TRUE(m.WantsDialogKey(vkTab));
    m.SetWantTab(false);
    m.SetWantReturns(false);
    EXPECT_FALSE(m.WantsDialogKey(vkTab));
    EXPECT_FALSE(m.WantsDialogKey(vkReturn));
}

} // namespace
} // namespace morvane::editor
