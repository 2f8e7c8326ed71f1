// Editor commands and typing as data: the text before with its selection marked, what is done,
// and the text after. In the texts "\n" is a line break, "|" the caret and "^" the anchor
// (absent when there is no selection).

#include "EditorTestUtil.h"

#include "core/editor/CodeMemoMessages.h"
#include "core/platform/FakeUi.h"

#include <functional>

namespace morvane::editor {
namespace {
using namespace test;

constexpr std::uint32_t kPlain = kInitialOptions & ~(smoUseTAB | smoTabToColumn);

void LoadMarked(TCustomCodeMemo& m, std::string_view marked) {
    std::string text;
    TextOffset anchor = -1, caret = -1;
    for (char c : marked) {
        if (c == '|')
            caret = static_cast<TextOffset>(text.size());
        else if (c == '^')
            anchor = static_cast<TextOffset>(text.size());
        else
            text += c == '\n' ? '\r' : c;
    }
    Load(m, text);
    if (caret < 0) caret = 0;
    m.SetSelection(anchor < 0 ? caret : anchor, caret);
}

std::string Marked(const TCustomCodeMemo& m) {
    std::string text = Stored(m), out;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        auto at = static_cast<TextOffset>(i);
        if (at == m.Anchor() && m.Anchor() != m.Caret()) out += '^';
        if (at == m.Caret()) out += '|';
        if (i < text.size()) out += text[i] == '\r' ? '\n' : text[i];
    }
    return out;
}

using Action = std::function<void(TCustomCodeMemo&)>;
Action Cmd(int command, bool extend = false) {
    return [=](TCustomCodeMemo& m) { m.ExecuteCommand(command, 0, extend); };
}
Action Type(std::string chars) {
    return [=](TCustomCodeMemo& m) {
        for (char c : chars)
            m.KeyPress(c);
    };
}
Action Then(Action a, Action b) {
    return [=](TCustomCodeMemo& m) {
        a(m);
        b(m);
    };
}

struct Case {
    const char* name;
    const char* before;
    Action action;
    const char* after;
    std::uint32_t options = kPlain;
};

void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        TCustomCodeMemo m;
        m.SetOptions(c.options);
        LoadMarked(m, c.before);
        c.action(m);
        EXPECT_EQ(Marked(m), c.after) << c.name;
        ASSERT_NO_FATAL_FAILURE(CheckChain(m)) << c.name;
    }
}

TEST(CommandTest, CaretMovement) {
    RunCases({
        {"left", "ab|c", Cmd(ecCursorLeft), "a|bc"},
        {"left at 0", "|abc", Cmd(ecCursorLeft), "|abc"},
        {"left over a break", "a\n|b", Cmd(ecCursorLeft), "a|\nb"},
        {"shift left selects", "ab|c", Cmd(ecCursorLeft, true), "a|b^c"},
        {"right at the end", "abc|", Cmd(ecCursorRight), "abc|"},
        {"right drops the selection", "^a|bc", Cmd(ecCursorRight), "ab|c"},
        {"line start", "ab\ncd|e", Cmd(ecLineStart), "ab\n|cde"},
        {"line end skips trailing blanks", "|abc  \nx", Cmd(ecLineEnd), "abc|  \nx"},
        {"line end skips TABs", "|a\t \t\nx", Cmd(ecLineEnd), "a|\t \t\nx"},
        {"shift line end", "|abc\n", Cmd(ecLineEnd, true), "^abc|\n"},
        {"up keeps the column", "abc\nde|f", Cmd(ecLineUp), "ab|c\ndef"},
        {"up on the first line", "a|bc\nd", Cmd(ecLineUp), "a|bc\nd"},
        {"up into a shorter line", "a\nabc|", Cmd(ecLineUp), "a|\nabc"},
        {"down on the last line goes past its break", "ab\nc|d\n", Cmd(ecLineDown), "ab\ncd\n|"},
        {"down on a last line without break", "ab\nc|d", Cmd(ecLineDown), "ab\nc|d"},
        {"up from after the final break", "abc\n|", Cmd(ecLineUp), "|abc\n"},
        {"word before across blanks", "foo  |bar", Cmd(ecWordLeft), "|foo  bar"},
        {"word before from the end", "foo bar|", Cmd(ecWordLeft), "foo |bar"},
        {"word before from inside a word", "foo ba|r", Cmd(ecWordLeft), "foo |bar"},
        {"word before at 0", "|abc", Cmd(ecWordLeft), "|abc"},
        {"word before over punctuation only", "(( |", Cmd(ecWordLeft), "(( |"},
        {"word after", "|foo bar", Cmd(ecWordRight), "foo |bar"},
        {"word after to the end", "foo |bar", Cmd(ecWordRight), "foo bar|"},
        {"word after skips punctuation", "|a, b", Cmd(ecWordRight), "a, |b"},
        {"document start", "ab\nc|d", Cmd(ecDocStart, true), "|ab\nc^d"},
        {"document end", "|ab\ncd", Cmd(ecDocEnd), "ab\ncd|"},
        {"empty text", "|", Then(Cmd(ecCursorRight), Cmd(ecLineDown)), "|"},
    });
}

TEST(CommandTest, Deletion) {
    RunCases({
        {"delete", "a|bc", Cmd(ecDeleteChar), "a|c"},
        {"delete at the end", "abc|", Cmd(ecDeleteChar), "abc|"},
        {"delete joins lines", "ab|\ncd", Cmd(ecDeleteChar), "ab|cd"},
        {"delete the selection", "a^bc|d", Cmd(ecDeleteChar), "a|d"},
        {"backspace", "ab|c", Cmd(ecDeleteLastChar), "a|c"},
        {"backspace at 0", "|abc", Cmd(ecDeleteLastChar), "|abc"},
        {"backspace joins lines", "ab\n|cd", Cmd(ecDeleteLastChar), "ab|cd"},
        {"backspace the selection", "a|bc^d", Cmd(ecDeleteLastChar), "a|d"},
        {"delete line", "ab\nc|d\nef", Cmd(ecDeleteLine), "ab\n|ef"},
        {"delete the last line", "ab\nc|d", Cmd(ecDeleteLine), "ab\n|"},
        {"delete line with a selection", "a^b|\ncd", Cmd(ecDeleteLine), "a^b|\ncd"},
        {"delete previous word and blanks", "foo  |bar", Cmd(ecDeleteLastWord), "|bar"},
        {"delete previous word", "x foo|", Cmd(ecDeleteLastWord), "x |"},
        {"delete previous word at 0", "|foo", Cmd(ecDeleteLastWord), "|foo"},
    });
}

TEST(CommandTest, TypingAndAutoIndent) {
    RunCases({
        {"typed", "ab|", Type("xy"), "abxy|"},
        {"replaces the selection", "a^bc|d", Type("x"), "ax|d"},
        {"control characters are ignored", "a|", Type(std::string("\x01\x1b", 2)), "a|"},
        {"high characters are typed", "a|", Type("\xe9"), "a\xe9|"},
        {"enter after an indented line", "    x|", Type("\r"), "    x\n    |"},
        {"enter inside the indent", "  |  x", Type("\r"), "  \n  |  x"},
        {"enter without indent", "x|", Type("\r"), "x\n|"},
        {"enter on an empty line looks back", "  a\n|", Type("\r"), "  a\n\n  |"},
        {"enter without auto indent", "  x|", Type("\r"), "  x\n|", kPlain & ~smoAutoIndent},
        {"auto indent fills with TABs", "    x|", Type("\r"), "    x\n\t|", kInitialOptions},
        {"LF with WantReturns is ignored", "a|", Type("\n"), "a|"},
    });
}

TEST(CommandTest, OverwriteMode) {
    RunCases({
        {"replaces the next character", "a|bc", Then(Cmd(ecToggleMode), Type("x")), "ax|c"},
        {"inserts before a line break", "ab|\ncd", Then(Cmd(ecToggleMode), Type("x")), "abx|\ncd"},
        {"inserts at the end", "ab|", Then(Cmd(ecToggleMode), Type("x")), "abx|"},
        {"enter does not replace", "a|bc", Then(Cmd(ecToggleMode), Type("\r")), "a\n|bc"},
        {"toggled back", "a|bc", Then(Cmd(ecToggleMode), Then(Cmd(ecToggleMode), Type("x"))),
         "ax|bc"},
    });
}

TEST(CommandTest, TabFillsAndTabToColumn) {
    RunCases({
        {"fill to the next stop", "12345|", Type("\t"), "12345   |"},
        {"TAB character", "a|", Type("\t"), "a\t|", kPlain | smoUseTAB},
        {"to the column after the word above", "abc def\n|", Type("\t"), "abc def\n    |",
         kPlain | smoTabToColumn},
        {"past the word above", "abc def\nabcd|", Type("\t"), "abc def\nabcd  |",
         kPlain | smoTabToColumn},
        {"lines too short are skipped", "a   b\nx\n|", Type("\t"), "a   b\nx\n    |",
         kPlain | smoTabToColumn},
        {"first line takes the tab stop", "ab|", Type("\t"), "ab  |", kPlain | smoTabToColumn},
        {"smart fill uses TABs", "abc def\n|", Type("\t"), "abc def\n\t|", kInitialOptions},
        {"word wrap types a TAB", "a|", Type("\t"), "a\t|", kInitialOptions | smoWordWrap},
        {"word wrap fills to the tab stop", "abc def\n|", Type("\t"), "abc def\n    |",
         kPlain | smoTabToColumn | smoWordWrap},
    });
}

TEST(CommandTest, ExplicitTabStops) {
    TCustomCodeMemo m;
    m.SetOptions(kPlain);
    m.SetTabDefault(8);
    m.SetTabColumns("5;9");
    EXPECT_EQ(m.TabColumns(), "5 9");
    std::vector<DisplayColumn> reached;
    for (int i = 0; i < 3; ++i) {
        m.KeyPress('\t');
        reached.push_back(m.CaretColumn());
    }
    EXPECT_EQ(reached, (std::vector<DisplayColumn>{4, 8, 16}));
    EXPECT_EQ(m.FillText(0, 10), std::string(10, ' '));
    m.SetOptions(kPlain | smoUseTAB | smoSmartFill);
    EXPECT_EQ(m.FillText(0, 10), "\t\t  ");
    EXPECT_EQ(m.FillText(5, 5), "");
}

TEST(CommandTest, TabSettingsRejectBadValues) {
    TCustomCodeMemo m;
    auto message = [&](auto f) {
        try {
            f();
        } catch (const ECodeMemo& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([&] { m.SetTabDefault(0); }), "=Illegal default tab stop value, must be > 0");
    EXPECT_EQ(message([&] { m.SetTabColumns("5 x"); }), "Tab stop column value expected");
    EXPECT_EQ(message([&] { m.SetTabColumns("9 5"); }), "Tab columns must be in order and unique");
    EXPECT_EQ(message([&] { m.SetTabColumns("5 5"); }), "Tab columns must be in order and unique");
    EXPECT_EQ(message([&] { m.SetTabColumns("1 5"); }), "Tab column must be > 1");
    EXPECT_EQ(message([&] { m.SetTabColumns("99999999999999999999"); }),
              "Tab stop column value expected");
    std::string many;
    for (int i = 2; i <= 34; ++i)
        many += std::to_string(i) + " ";
    EXPECT_EQ(message([&] { m.SetTabColumns(many); }), "Too many tab stops - maximum of 32");
    EXPECT_EQ(m.TabColumns(), "");
    EXPECT_EQ(m.TabDefault(), 4);
}

TEST(CommandTest, ReadOnlyBlocksEveryChange) {
    platform::FakeClipboard clip;
    clip.setText("pasted");
    for (int command : {ecCut, ecPaste, ecDeleteChar, ecDeleteLastChar, ecBlockIndent,
                        ecBlockUnindent, ecDeleteLine, ecUndo, ecRedo}) {
        TCustomCodeMemo m;
        m.SetClipboard(&clip);
        LoadMarked(m, " a^b\n c|d");
        m.ReplaceSel("x");
        m.ExecuteCommand(ecUndo, 0, false);
        m.SetSelection(2, 6);
        m.SetReadOnly(true);
        std::string before = Marked(m);
        m.ExecuteCommand(command, 0, false);
        m.KeyPress('z');
        EXPECT_EQ(Marked(m), before) << command;
    }
    TCustomCodeMemo m;
    LoadMarked(m, "foo bar|");
    m.SetReadOnly(true);
    m.ExecuteCommand(ecDeleteLastWord, 0, false);
    EXPECT_EQ(Marked(m), "foo |bar^");
    m.ExecuteCommand(ecCopy, 0, false);
    m.SetClipboard(&clip);
    m.ExecuteCommand(ecCopy, 0, false);
    EXPECT_EQ(clip.text(), "bar");
}

TEST(CommandTest, WindowCommandsKnowWhenTheyCanRun) {
    platform::FakeClipboard clip;
    TCustomCodeMemo m;
    LoadMarked(m, "ab|c\nd");
    EXPECT_FALSE(m.CanPaste()); // no clipboard
    m.SetClipboard(&clip);
    EXPECT_FALSE(m.CanPaste());
    clip.setText("x");
    EXPECT_TRUE(m.CanPaste());
    m.SelectAll();
    EXPECT_EQ(Marked(m), "^abc\nd|");
    EXPECT_FALSE(m.CanUndo());
    m.ExecuteCommand(ecBlockIndent, 0, false);
    EXPECT_TRUE(m.CanUndo());
    m.ExecuteCommand(ecUndo, 0, false);
    EXPECT_TRUE(m.CanRedo());
    m.SetReadOnly(true);
    EXPECT_FALSE(m.CanPaste());
}

TEST(CommandTest, VirtualCaretBeyondTheLineEnd) {
    TCustomCodeMemo m;
    m.SetFontMetrics(std::make_shared<TFixedMetrics>(7, 17, true));
    m.SetOptions(kPlain | smoCaretAfterEOL);
    LoadMarked(m, "ab|\nlonger line");
    m.ExecuteCommand(ecCursorRight, 0, false);
    EXPECT_EQ(m.Caret(), 2);
    EXPECT_TRUE(m.VirtualCaret());
    EXPECT_EQ(m.CaretPosition().column, 4);
    m.KeyPress('x');
    EXPECT_EQ(Marked(m), "ab x|\nlonger line");

    // Left walks back to the line end; down keeps the desired column with a virtual caret.
    m.ExecuteCommand(ecCursorRight, 0, false);
    m.ExecuteCommand(ecCursorRight, 0, false);
    m.ExecuteCommand(ecCursorLeft, 0, false);
    EXPECT_EQ(m.CaretColumn(), 5);
    m.ExecuteCommand(ecCursorLeft, 0, false);
    EXPECT_FALSE(m.VirtualCaret());
    EXPECT_EQ(m.Caret(), 4);
    // A selection dropped by a move keeps the virtual caret.
    m.SetSelection(0, 4);
    m.ExecuteCommand(ecCursorRight, 0, true);
    m.ExecuteCommand(ecCursorRight, 0, true);
    EXPECT_EQ(m.Anchor(), 0);
    m.ExecuteCommand(ecCursorLeft, 0, false);
    EXPECT_EQ(Marked(m), "ab x|\nlonger line");
    EXPECT_EQ(m.CaretColumn(), 5);
    LoadMarked(m, "longer line\nab\nx");
    m.GoToPosition(8, 1);
    m.ExecuteCommand(ecLineDown, 0, false);
    EXPECT_EQ(m.Caret(), 14);
    EXPECT_EQ(m.CaretColumn(), 7);
    m.ExecuteCommand(ecLineUp, 0, false);
    EXPECT_FALSE(m.VirtualCaret());
    EXPECT_EQ(m.Caret(), 7);

    // Delete in a virtual caret fills the gap, then joins the next line.
    LoadMarked(m, "ab|\ncd");
    m.ExecuteCommand(ecCursorRight, 0, false);
    m.ExecuteCommand(ecCursorRight, 0, false);
    m.ExecuteCommand(ecDeleteChar, 0, false);
    EXPECT_EQ(Marked(m), "ab  |cd");
    // Backspace in a virtual caret only moves it.
    LoadMarked(m, "ab|\ncd");
    m.ExecuteCommand(ecCursorRight, 0, false);
    m.ExecuteCommand(ecDeleteLastChar, 0, false);
    EXPECT_FALSE(m.VirtualCaret());
    EXPECT_EQ(Marked(m), "ab|\ncd");
    // Without a fixed-pitch font there is no virtual caret.
    m.SetFontMetrics(std::make_shared<TFixedMetrics>());
    m.ExecuteCommand(ecCursorRight, 0, false);
    EXPECT_EQ(Marked(m), "ab\n|cd");
}

TEST(CommandTest, ColumnTrackingKeepsTheDesiredColumn) {
    TCustomCodeMemo m;
    m.SetFontMetrics(std::make_shared<TFixedMetrics>(7, 17, true));
    LoadMarked(m, "ab|c\nd\nefg"); // as a click leaves it
    m.ExecuteCommand(ecLineDown, 0, false);
    m.ExecuteCommand(ecLineDown, 0, false);
    EXPECT_EQ(Marked(m), "abc\nd\nef|g");
    m.SetOptions(kInitialOptions & ~smoColumnTrack);
    LoadMarked(m, "ab|c\nd\nefg");
    m.ExecuteCommand(ecLineDown, 0, false);
    m.ExecuteCommand(ecLineDown, 0, false);
    EXPECT_EQ(Marked(m), "abc\nd\ne|fg");
}

TEST(CommandTest, PagesMoveCaretAndTopLine) {
    TCustomCodeMemo m;
    m.SetClientSize(400, 17 * 10);
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += "line " + std::to_string(i) + "\n";
    Load(m, text);
    m.ExecuteCommand(ecPageDown, 0, false);
    EXPECT_EQ(m.LineFromOffset(m.Caret()), 10);
    EXPECT_EQ(m.TopLine(), 10);
    m.ExecuteCommand(ecPageDown, 0, true);
    EXPECT_EQ(m.LineFromOffset(m.Caret()), 20);
    EXPECT_EQ(m.Anchor(), m.LineStart(10));
    m.ExecuteCommand(ecPageUp, 0, false);
    m.ExecuteCommand(ecPageUp, 0, false);
    m.ExecuteCommand(ecPageUp, 0, false);
    EXPECT_EQ(m.Caret(), 0);
    EXPECT_EQ(m.TopLine(), 0);
}

TEST(CommandTest, KeysRunTheirCommands) {
    constexpr std::uint16_t kLeft = 37, kEnd = 35, kZ = 'Z', kK = 'K', kI = 'I', kX = 'X';
    TCustomCodeMemo m;
    m.SetIndentStep(1);
    LoadMarked(m, "ab|c\nd");
    EXPECT_TRUE(m.KeyDown(kEnd | kShortcutShift));
    EXPECT_EQ(Marked(m), "ab^c|\nd");
    EXPECT_TRUE(m.KeyDown(kLeft | kShortcutShift | kShortcutCtrl));
    EXPECT_EQ(Marked(m), "|ab^c\nd");
    m.SetSelection(0, 5);
    EXPECT_TRUE(m.KeyDown(kK | kShortcutCtrl));
    EXPECT_TRUE(m.KeyDown(kI | kShortcutCtrl));
    EXPECT_EQ(Stored(m), " abc\r d");
    EXPECT_TRUE(m.KeyDown(kZ | kShortcutCtrl));
    EXPECT_EQ(Stored(m), "abc\rd");
    EXPECT_TRUE(m.KeyDown(kZ | kShortcutCtrl | kShortcutShift)); // redo, not undo
    EXPECT_EQ(Stored(m), " abc\r d");
    // A prefix without a binding is dropped and the next key types.
    EXPECT_TRUE(m.KeyDown(kK | kShortcutCtrl));
    EXPECT_FALSE(m.KeyDown(kX));
    int recognised = -1;
    m.OnCommandRecognised = [&](TCustomCodeMemo*, int& command) {
        recognised = command;
        command = ecDocStart;
    };
    EXPECT_TRUE(m.KeyDown(kEnd));
    EXPECT_EQ(recognised, ecLineEnd);
    EXPECT_EQ(m.Caret(), 0);
}

TEST(CommandTest, ChangeNotificationFollowsEveryCommand) {
    TCustomCodeMemo m;
    LoadMarked(m, "ab|c");
    int changes = 0;
    m.OnChange = [&](TCustomCodeMemo*) { ++changes; };
    m.ExecuteCommand(ecCursorLeft, 0, false);
    EXPECT_EQ(changes, 1);
    m.KeyPress('x');
    EXPECT_EQ(changes, 2);
    m.ExecuteCommand(ecToggleMode, 0, false);
    EXPECT_EQ(changes, 3);
    m.ExecuteCommand(ecUndo, 0, false);
    EXPECT_EQ(changes, 4);
    EXPECT_FALSE(m.Modified());
}

TEST(CommandTest, BookmarkCommandsActAndPrintGoesToItsHook) {
    TCustomCodeMemo m;
    Load(m, "one\ntwo\nthree\n");
    std::vector<int> seen;
    m.OnBookmarkSet = [&](TCustomCodeMemo*, int index) { seen.push_back(index); };
    m.OnPrintSelection = [&](TCustomCodeMemo*, int command) { seen.push_back(command); };
    m.SetSelection(5, 5);
    const int commands[] = {ecSetBookmark0 + 9, ecPrintSelection, 45, -1};
    for (int command : commands)
        m.ExecuteCommand(command, 0, false);
    m.SetSelection(0, 0);
    m.ExecuteCommand(ecGotoBookmark0 + 9, 0, false);
    EXPECT_EQ(m.Caret(), 5);
    EXPECT_EQ(seen, (std::vector<int>{9, 44}));
}

TEST(CommandTest, CaretControlAndGoToPosition) {
    TCustomCodeMemo m;
    LoadMarked(m, "a\tb\nxy\n");
    TSM_CaretControl& cc = m.CaretControl();
    m.SetSelection(2, 2);
    EXPECT_EQ(cc.CaretColumn(), 5);
    EXPECT_EQ(cc.CaretLine(), 1);
    m.SetSelection(6, 6);
    cc.SetCaretLine(1); // column 2 lies inside the TAB
    EXPECT_EQ(m.Caret(), 1);
    cc.SetCaretLine(9); // past the last record of a text ending with a break
    EXPECT_EQ(m.Caret(), m.TextLength());
    EXPECT_EQ(cc.CaretColumn(), 1);
    EXPECT_EQ(cc.CaretLine(), 3);
    cc.SetTopLine(2);
    EXPECT_EQ(cc.TopLine(), 2);
}

TEST(CommandTest, TokenAtAnOffset) {
    TCustomCodeMemo m;
    Load(m, "ab cd\nxy");
    EXPECT_EQ(m.TokenAt(1).text, "");
    EXPECT_EQ(m.TokenAt(1).start, 1);
    std::vector<std::uint8_t> attrs{1, 1, 0, 2, 2, 0};
    TRecRange first{0, 0};
    m.Perform(SM_SETATTRS, reinterpret_cast<std::uintptr_t>(&first),
              reinterpret_cast<std::intptr_t>(attrs.data()));
    auto run = m.TokenAt(4);
    EXPECT_EQ(run.text, "cd");
    EXPECT_EQ(run.start, 3);
    EXPECT_EQ(m.TokenAt(0).text, "ab");
    EXPECT_EQ(m.TokenAt(7).text, ""); // a record without attributes
    EXPECT_EQ(m.TokenAt(99).start, 99);
}

} // namespace
} // namespace morvane::editor
