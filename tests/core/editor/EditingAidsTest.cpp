// Bracket matching, undo of typing by runs, indent levels of the tab width and auto-indent after
// a block opener.

#include "EditorTestUtil.h"

#include <string>

using namespace morvane::editor;
using namespace morvane::editor::test;

namespace {

std::pair<TextOffset, TextOffset> Partner(const TCustomCodeMemo& m, TextOffset pos,
                                          TextOffset limit = TCustomCodeMemo::kBracketScanLimit) {
    auto r = m.MatchBracket(pos, limit);
    if (!r) return {-2, -2};
    return {r->at, r->partner};
}

void TypeText(TCustomCodeMemo& m, std::string_view text) {
    for (char c : text)
        m.KeyPress(c);
}

} // namespace

// --- brackets ---

TEST(BracketMatch, NestingBothDirectionsAndKindsKeptApart) {
    TCustomCodeMemo m;
    //            0123456789012345678
    Load(m, "f(a[1], (b)) {x}\ny)");
    EXPECT_EQ(Partner(m, 2), std::make_pair(TextOffset(1), TextOffset(11))) << "after (";
    EXPECT_EQ(Partner(m, 1), std::make_pair(TextOffset(1), TextOffset(11))) << "before (";
    EXPECT_EQ(Partner(m, 12), std::make_pair(TextOffset(11), TextOffset(1))) << "after )";
    EXPECT_EQ(Partner(m, 4), std::make_pair(TextOffset(3), TextOffset(5)));
    EXPECT_EQ(Partner(m, 9), std::make_pair(TextOffset(8), TextOffset(10)));
    EXPECT_EQ(Partner(m, 14), std::make_pair(TextOffset(13), TextOffset(15))) << "{ before caret";
    EXPECT_EQ(Partner(m, 7).first, -2) << "no bracket beside the caret";
    // The stray ")" on the next line has no partner: the "(" before it are all closed.
    EXPECT_EQ(Partner(m, 19), std::make_pair(TextOffset(18), TextOffset(-1)));
}

TEST(BracketMatch, BracketsOfAnotherTokenArePassedOver) {
    TCustomCodeMemo m;
    //        0123456789012345
    Load(m, "f(\")\", x) // )");
    // Token 1 for code, 2 for the string, 3 for the comment.
    std::string attrs(m.Store().Text(0).size(), '\1');
    for (int i = 2; i <= 4; ++i)
        attrs[i] = '\2';
    for (std::size_t i = 10; i < attrs.size(); ++i)
        attrs[i] = '\3';
    m.Store().SetAttrs(0, reinterpret_cast<const std::uint8_t*>(attrs.data()));
    EXPECT_EQ(Partner(m, 2), std::make_pair(TextOffset(1), TextOffset(8)));
    EXPECT_EQ(Partner(m, 9), std::make_pair(TextOffset(8), TextOffset(1)));
    EXPECT_EQ(Partner(m, 14), std::make_pair(TextOffset(13), TextOffset(-1)))
        << "the comment's ) matches nothing in code";
    // Without token values every bracket counts.
    m.Store().DropAttrs(0);
    EXPECT_EQ(Partner(m, 2), std::make_pair(TextOffset(1), TextOffset(3)));
}

TEST(BracketMatch, TheSearchStopsAtItsBoundInLargeTexts) {
    TCustomCodeMemo m;
    // An unbalanced bracket before 4 MB of brackets, in one line of many records and in many
    // lines: the answer is "no partner", reached within the bound.
    std::string text = "(" + std::string(4 << 20, '(');
    Load(m, text);
    EXPECT_EQ(Partner(m, 1, 1 << 20), std::make_pair(TextOffset(0), TextOffset(-1)));
    std::string lines = "{\n";
    for (int i = 0; i < 1500; ++i)
        lines += "no brackets on this line at all\n";
    lines += "}";
    Load(m, lines);
    auto far = static_cast<TextOffset>(lines.size() - 1);
    EXPECT_EQ(Partner(m, 1), std::make_pair(TextOffset(0), far)) << "within the bound";
    EXPECT_EQ(Partner(m, 1, 1000), std::make_pair(TextOffset(0), TextOffset(-1)));
    EXPECT_EQ(Partner(m, far + 1, 1000), std::make_pair(far, TextOffset(-1)));
    EXPECT_EQ(Partner(m, far + 1), std::make_pair(far, TextOffset(0)));
    // Across the records of one long line.
    std::string longLine = "[" + std::string(50000, 'x') + "]";
    Load(m, longLine);
    EXPECT_GT(m.LineCount(), 10);
    EXPECT_EQ(Partner(m, 1), std::make_pair(TextOffset(0), TextOffset(50001)));
    EXPECT_EQ(Partner(m, 50002), std::make_pair(TextOffset(50001), TextOffset(0)));
}

TEST(BracketMatch, HtmlTagsNestByNameAndVoidOrSelfClosedOnesStandAlone) {
    TCustomCodeMemo m;
    //                 1         2         3         4         5
    //       0123456789012345678901234567890123456789012345678901234567
    Load(m, "<DIV><div a=\"1\"><br><p/></div>\n<img src=x></Div><b>");
    EXPECT_EQ(Partner(m, 0).first, -2) << "tags are not matched unless asked for";
    m.SetTagMatch(TCustomCodeMemo::tmHtml);
    auto open = m.MatchBracket(0);
    ASSERT_TRUE(open);
    EXPECT_EQ(open->length, 4);
    EXPECT_EQ(open->partner, 42) << "the outer </Div>, case-blind, past the nested pair";
    EXPECT_EQ(open->partnerLength, 5);
    EXPECT_EQ(Partner(m, 5), std::make_pair(TextOffset(0), TextOffset(42))) << "after <DIV>";
    EXPECT_EQ(Partner(m, 6), std::make_pair(TextOffset(5), TextOffset(24)));
    EXPECT_EQ(Partner(m, 16 + 1), std::make_pair(TextOffset(16), TextOffset(-1))) << "<br>";
    EXPECT_EQ(Partner(m, 21), std::make_pair(TextOffset(20), TextOffset(-1))) << "<p/>";
    EXPECT_EQ(Partner(m, 30), std::make_pair(TextOffset(24), TextOffset(5))) << "after </div>";
    EXPECT_EQ(Partner(m, 49), std::make_pair(TextOffset(48), TextOffset(-1))) << "unclosed <b>";
    // XML keeps the case and knows no void elements.
    m.SetTagMatch(TCustomCodeMemo::tmXml);
    EXPECT_EQ(Partner(m, 0), std::make_pair(TextOffset(0), TextOffset(-1)));
    Load(m, "<link><link/></link>");
    EXPECT_EQ(Partner(m, 0), std::make_pair(TextOffset(0), TextOffset(13)));
}

TEST(BracketMatch, JumpGoesToTheSameSideOfThePartnerAndBack) {
    TCustomCodeMemo m;
    Load(m, "if (a) { b(); }");
    m.SetSelection(7, 7); // before {
    EXPECT_TRUE(m.KeyDown(kShortcutCtrl | 'M')) << "Ctrl+M is bound in the default map";
    EXPECT_EQ(m.Caret(), 14);
    m.SetSelection(15, 15); // after }
    EXPECT_TRUE(m.JumpToMatchingBracket());
    EXPECT_EQ(m.Caret(), 8);
    EXPECT_TRUE(m.JumpToMatchingBracket());
    EXPECT_EQ(m.Caret(), 15);
    m.SetSelection(1, 1);
    EXPECT_FALSE(m.JumpToMatchingBracket());
    EXPECT_EQ(m.Caret(), 1);
}

// --- undo of typing ---

TEST(TypingUndo, AWordIsOneStepAndTheBlankAfterItStaysWithIt) {
    TCustomCodeMemo m;
    TypeText(m, "hello world");
    m.Undo();
    EXPECT_EQ(Stored(m), "hello ");
    m.Undo();
    EXPECT_EQ(Stored(m), "");
    EXPECT_FALSE(m.Modified());
    m.Redo();
    EXPECT_EQ(Stored(m), "hello ");
    m.Redo();
    EXPECT_EQ(Stored(m), "hello world");
    EXPECT_EQ(m.Caret(), 11);
    // A line break starts a step of its own; so does the line after it.
    TypeText(m, "\rnext");
    m.Undo();
    EXPECT_EQ(Stored(m), "hello world\r");
    m.Undo();
    EXPECT_EQ(Stored(m), "hello world");
}

TEST(TypingUndo, APauseACaretMoveAPasteOrASaveEndTheRun) {
    TCustomCodeMemo m;
    std::int64_t now = 0;
    m.SetTypingClock([&] { return now; });
    TypeText(m, "ab");
    now += TCustomCodeMemo::kTypingPauseMs + 1;
    TypeText(m, "cd");
    m.Undo();
    EXPECT_EQ(Stored(m), "ab") << "after a pause";
    TypeText(m, "cd");
    m.ExecuteCommand(ecCursorLeft, 0, false);
    m.ExecuteCommand(ecCursorRight, 0, false);
    TypeText(m, "ef");
    m.Undo();
    EXPECT_EQ(Stored(m), "abcd") << "after the caret went away and back";
    m.SetSelection(0, 0);
    m.SetSelection(4, 4);
    TypeText(m, "gh");
    m.Undo();
    EXPECT_EQ(Stored(m), "abcd") << "after a click elsewhere";
    m.SetModified(false); // as a save does
    TypeText(m, "ij");
    m.Undo();
    EXPECT_EQ(Stored(m), "abcd");
    EXPECT_FALSE(m.Modified()) << "undo comes back to the saved text";
    {
        TUndoGroupScope paste(m, ugPaste);
        m.ReplaceSel("XY");
    }
    TypeText(m, "kl");
    m.Undo();
    EXPECT_EQ(Stored(m), "abcdXY") << "typing after a paste is its own step";
    m.Undo();
    EXPECT_EQ(Stored(m), "abcd") << "and so is the paste";
}

TEST(TypingUndo, TheLetterByLetterSettingKeepsOneStepPerCharacter) {
    TCustomCodeMemo m;
    m.SetOptions(m.Options() | smoUndoByChar);
    TypeText(m, "abc");
    m.Undo();
    EXPECT_EQ(Stored(m), "ab");
}

TEST(TypingUndo, OverwritingARunIsUndoneWhole) {
    TCustomCodeMemo m;
    Load(m, "abcdef");
    m.SetInsertMode(false);
    m.SetSelection(0, 0);
    TypeText(m, "xyz");
    EXPECT_EQ(Stored(m), "xyzdef");
    m.Undo();
    EXPECT_EQ(Stored(m), "abcdef");
    EXPECT_EQ(m.Caret(), 0);
}

// --- indent ---

TEST(IndentLevel, BlockIndentTakesTheTabWidthUnlessAStepIsSet) {
    TCustomCodeMemo m;
    m.SetOptions(m.Options() & ~smoUseTAB);
    m.SetTabDefault(4);
    Load(m, "a\nb\n");
    m.SetSelection(0, 3);
    m.ExecuteCommand(ecBlockIndent, 0, false);
    EXPECT_EQ(Stored(m), "    a\r    b\r");
    m.ExecuteCommand(ecBlockUnindent, 0, false);
    EXPECT_EQ(Stored(m), "a\rb\r");
    m.SetOptions(m.Options() | smoUseTAB);
    m.ExecuteCommand(ecBlockIndent, 0, false);
    EXPECT_EQ(Stored(m), "\ta\r\tb\r") << "one TAB where TABs are used";
    m.ExecuteCommand(ecBlockUnindent, 0, false);
    EXPECT_EQ(Stored(m), "a\rb\r");
    Load(m, "  \tx\n");
    m.SetSelection(0, 2);
    m.ExecuteCommand(ecBlockUnindent, 0, false);
    EXPECT_EQ(Stored(m), "x\r") << "blanks then a TAB make one level";
    m.SetIndentStep(2);
    m.SetOptions(m.Options() & ~smoUseTAB);
    m.SetSelection(0, 1);
    m.ExecuteCommand(ecBlockIndent, 0, false);
    EXPECT_EQ(Stored(m), "  x\r");
}

TEST(IndentLevel, EnterAfterABlockOpenerAddsALevel) {
    TCustomCodeMemo m;
    m.SetOptions((m.Options() | smoAutoIndent) & ~smoUseTAB);
    m.SetTabDefault(4);
    m.SetIndentOpeners("{");
    Load(m, "  if (x) {  ");
    m.SetSelection(12, 12);
    m.KeyPress('\r');
    EXPECT_EQ(Stored(m), "  if (x) {  \r      ") << "trailing blanks after the opener";
    m.Undo();
    EXPECT_EQ(Stored(m), "  if (x) {  ") << "one step with its indent";
    Load(m, "f() {");
    m.SetSelection(5, 5);
    m.KeyPress('\r');
    EXPECT_EQ(Stored(m), "f() {\r    ") << "from an unindented line";
    Load(m, "a {b");
    m.SetSelection(4, 4);
    m.KeyPress('\r');
    EXPECT_EQ(Stored(m), "a {b\r") << "the opener must be last before the caret";
    // A language whose blocks open with a colon.
    m.SetIndentOpeners(":");
    Load(m, "if x:\n    y = {");
    m.SetSelection(5, 5);
    m.KeyPress('\r');
    EXPECT_EQ(Stored(m), "if x:\r    \r    y = {");
    m.SetSelection(m.TextLength(), m.TextLength());
    m.KeyPress('\r');
    EXPECT_EQ(Stored(m), "if x:\r    \r    y = {\r    ") << "{ opens nothing here";
    // Without auto-indent nothing is added.
    m.SetOptions(m.Options() & ~smoAutoIndent);
    Load(m, "if x:");
    m.SetSelection(5, 5);
    m.KeyPress('\r');
    EXPECT_EQ(Stored(m), "if x:\r");
}
