// The whole-line commands and the desktop key map. Texts as in CommandTest: "\n" a line break,
// "|" the caret, "^" the anchor.

#include "EditorTestUtil.h"

#include <functional>

namespace morvane::editor {
namespace {
using namespace test;

void LoadMarked(TCustomCodeMemo& m, std::string_view marked) {
    std::string text;
    TextOffset anchor = -1, caret = 0;
    for (char c : marked) {
        if (c == '|')
            caret = static_cast<TextOffset>(text.size());
        else if (c == '^')
            anchor = static_cast<TextOffset>(text.size());
        else
            text += c == '\n' ? '\r' : c;
    }
    Load(m, text);
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

struct Case {
    const char* name;
    const char* before;
    int command;
    const char* after;
    TCommentTokens tokens = {"//", "/*", "*/"};
};

// Each case also checks that one Undo gives the text back and one Redo the result.
void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        TCustomCodeMemo m;
        m.SetCommentTokens(c.tokens);
        LoadMarked(m, c.before);
        const std::string before = Stored(m);
        m.ExecuteCommand(c.command, 0, false);
        EXPECT_EQ(Marked(m), c.after) << c.name;
        ASSERT_NO_FATAL_FAILURE(CheckChain(m)) << c.name;
        const std::string after = Stored(m);
        if (after == before) continue;
        m.ExecuteCommand(ecUndo, 0, false);
        EXPECT_EQ(Stored(m), before) << c.name << ": one undo";
        m.ExecuteCommand(ecRedo, 0, false);
        EXPECT_EQ(Stored(m), after) << c.name << ": one redo";
    }
}

TEST(LineCommands, DuplicateCopiesTheTouchedLinesBelowAndFollowsTheCopy) {
    RunCases({
        {"caret line", "a\nb|c\nd", ecDuplicateLines, "a\nbc\nb|c\nd"},
        {"last line without a break", "a\nb|", ecDuplicateLines, "a\nb\nb|"},
        {"selection of two lines", "^ab\nc|d\ne", ecDuplicateLines, "ab\ncd\n^ab\nc|d\ne"},
        {"selection ending at a line start leaves that line", "^a\n|b", ecDuplicateLines,
         "a\n^a\n|b"},
        {"empty line after the final break", "a\n|", ecDuplicateLines, "a\n|"},
    });
}

TEST(LineCommands, MoveSwapsWithTheNeighbourAndStopsAtTheEnds) {
    RunCases({
        {"up", "a\nb|c\nd", ecMoveLinesUp, "b|c\na\nd"},
        {"down", "a|b\nc\nd", ecMoveLinesDown, "c\na|b\nd"},
        {"down past a last line without break", "a|\nb", ecMoveLinesDown, "b\na|"},
        {"up from a last line without break", "a\nb|", ecMoveLinesUp, "b|\na"},
        {"a selection moves whole", "x\n^a\nb|\ny", ecMoveLinesUp, "^a\nb|\nx\ny"},
        {"first line up", "a|\nb", ecMoveLinesUp, "a|\nb"},
        {"last line down", "a\nb|", ecMoveLinesDown, "a\nb|"},
        {"onto the empty line after the final break", "a|\n", ecMoveLinesDown, "a|\n"},
    });
}

TEST(LineCommands, DeleteTakesEveryTouchedLine) {
    RunCases({
        {"caret line", "a\nb|c\nd", ecDeleteLines, "a\n|d"},
        {"selection", "a\n^bc\nd|e\nf", ecDeleteLines, "a\n|f"},
        {"last line goes with the break before it", "a\nb|", ecDeleteLines, "a|"},
        {"the only line", "a|b", ecDeleteLines, "|"},
    });
}

TEST(LineCommands, ToggleCommentWithALineToken) {
    const TCommentTokens hash{"#", "", ""};
    RunCases({
        {"comments at the text's indent, caret keeps its place", "  a|b", ecToggleComment,
         "  // a|b"},
        {"uncomments with its blank", "  // a|b", ecToggleComment, "  a|b"},
        {"mixed lines are all commented", "^a\n// b\n\n  c|", ecToggleComment,
         "^// a\n// // b\n\n//   c|"},
        {"all commented lines are uncommented", "^// a\n// // b\n\n//   c|", ecToggleComment,
         "^a\n// b\n\n  c|"},
        {"least indent of the lines", "^    a\n  b|", ecToggleComment, "^  //   a\n  // b|"},
        {"hash token", "x|", ecToggleComment, "# x|", hash},
        {"token without its blank", "#x|", ecToggleComment, "x|", hash},
        {"blank lines only", "  |\n", ecToggleComment, "  |\n"},
    });
}

TEST(LineCommands, ToggleCommentWithBlockTokensOnly) {
    const TCommentTokens css{"", "/*", "*/"};
    const TCommentTokens html{"", "<!--", "-->"};
    RunCases({
        {"wraps the lines", "^  a {\n}|", ecToggleComment, "^  /* a {\n} */|", css},
        {"unwraps them", "^  /* a {\n} */|", ecToggleComment, "^  a {\n}|", css},
        {"caret line", "<p>|", ecToggleComment, "<!-- <p>| -->", html},
        {"caret line, unwrapped", "<!-- <p> -->|", ecToggleComment, "<p>|", html},
    });
    // The caret's line is wrapped, the caret moves with its text.
    TCustomCodeMemo m;
    m.SetCommentTokens(html);
    LoadMarked(m, "<|p>");
    m.ExecuteCommand(ecToggleComment, 0, false);
    EXPECT_EQ(Marked(m), "<!-- <|p> -->");
}

TEST(LineCommands, ALanguageWithoutCommentsChangesNothing) {
    TCustomCodeMemo m;
    LoadMarked(m, "a|b");
    m.ExecuteCommand(ecToggleComment, 0, false);
    EXPECT_EQ(Marked(m), "a|b");
    EXPECT_FALSE(m.CanUndo());
}

TEST(LineCommands, ALineOfSeveralRecordsIsOneLine) {
    // 5000 characters are three records of the chain.
    std::string longLine(5000, 'x');
    TCustomCodeMemo m;
    Load(m, "a\r" + longLine + "\rb");
    m.SetSelection(2 + 3000, 2 + 3000);
    m.ExecuteCommand(ecDuplicateLines, 0, false);
    EXPECT_EQ(Stored(m), "a\r" + longLine + "\r" + longLine + "\rb");
    m.ExecuteCommand(ecMoveLinesUp, 0, false);
    EXPECT_EQ(Stored(m), "a\r" + longLine + "\r" + longLine + "\rb");
    m.SetSelection(0, 0);
    m.ExecuteCommand(ecMoveLinesDown, 0, false);
    EXPECT_EQ(Stored(m), longLine + "\ra\r" + longLine + "\rb");
    ASSERT_NO_FATAL_FAILURE(CheckChain(m));
}

TEST(LineCommands, ReadOnlyTextStaysAsItIs) {
    for (int command :
         {ecDuplicateLines, ecMoveLinesUp, ecMoveLinesDown, ecToggleComment, ecDeleteLines}) {
        TCustomCodeMemo m;
        m.SetCommentTokens({"#", "", ""});
        LoadMarked(m, "a\nb|\nc");
        m.SetReadOnly(true);
        m.ExecuteCommand(command, 0, false);
        EXPECT_EQ(Marked(m), "a\nb|\nc") << command;
    }
}

// --- the key maps

constexpr std::uint16_t kCtrl = kShortcutCtrl, kShift = kShortcutShift, kAlt = kShortcutAlt;

std::int32_t CommandOf(TKeyboardActionContoller map, std::uint16_t key, unsigned shift) {
    std::int32_t command = -1;
    bool extend = false;
    if (map.processKey(key, shift, command, extend) != TKeyStore::Result::Command) return -1;
    return command;
}

TEST(KeyMaps, TheDesktopMapHasTheDesktopKeysAndTheClassicOneStaysAsItWas) {
    const auto& classic = TKeyboardActionContoller::globalDefault();
    const auto& desktop = TKeyboardActionContoller::globalDesktop();
    const unsigned ctrl = ssCtrl, ctrlShift = ssCtrl | ssShift, alt = ssAlt;
    EXPECT_EQ(CommandOf(classic, 'Y', ctrl), ecDeleteLine);
    EXPECT_EQ(CommandOf(classic, 'D', ctrl), -1);
    EXPECT_EQ(CommandOf(classic, vkUp, alt), -1);
    EXPECT_EQ(classic.bindings().size(), 46u);
    EXPECT_EQ(CommandOf(classic, 'M', ctrl), ecMatchBracket);
    EXPECT_EQ(CommandOf(desktop, 'M', ctrl), ecMatchBracket);

    EXPECT_EQ(CommandOf(desktop, 'Y', ctrl), ecRedo);
    EXPECT_EQ(CommandOf(desktop, 'Z', ctrlShift), ecRedo);
    EXPECT_EQ(CommandOf(desktop, 'Z', ctrl), ecUndo);
    EXPECT_EQ(CommandOf(desktop, 'D', ctrl), ecDuplicateLines);
    EXPECT_EQ(CommandOf(desktop, keyOfChar('/') & scKeyMask, ctrl), ecToggleComment);
    EXPECT_EQ(CommandOf(desktop, vkUp, alt), ecMoveLinesUp);
    EXPECT_EQ(CommandOf(desktop, vkDown, alt), ecMoveLinesDown);
    EXPECT_EQ(CommandOf(desktop, 'K', ctrlShift), ecDeleteLines);
    // Ctrl+K stays the prefix of the block and bookmark keys.
    auto map = desktop;
    std::int32_t command = -1;
    bool extend = false;
    EXPECT_EQ(map.processKey('K', ctrl, command, extend), TKeyStore::Result::Prefix);
    EXPECT_EQ(map.processKey('I', ctrl, command, extend), TKeyStore::Result::Command);
    EXPECT_EQ(command, ecBlockIndent);
    // Every command has its name, and the map survives the stored form.
    for (const auto& [first, second, cmd] : desktop.bindings())
        EXPECT_FALSE(desktop.commandName(cmd).empty()) << cmd;
    TKeyboardActionContoller reloaded;
    reloaded.assign(desktop);
    EXPECT_TRUE(reloaded == desktop);
    EXPECT_FALSE(reloaded == classic);
}

TEST(KeyMaps, KeysRunTheLineCommandsInTheControl) {
    TCustomCodeMemo m;
    TKeyboardActionContoller desktop;
    desktop.assign(TKeyboardActionContoller::globalDesktop());
    m.SetKeyMap(&desktop);
    m.SetCommentTokens({"#", "", ""});
    LoadMarked(m, "a\nb|");
    EXPECT_TRUE(m.KeyDown(std::uint16_t('D' | kCtrl)));
    EXPECT_EQ(Marked(m), "a\nb\nb|");
    EXPECT_TRUE(m.KeyDown(std::uint16_t(vkUp | kAlt)));
    EXPECT_TRUE(m.KeyDown(std::uint16_t(vkUp | kAlt)));
    EXPECT_EQ(Marked(m), "b|\na\nb");
    EXPECT_TRUE(m.KeyDown(std::uint16_t((keyOfChar('/') & scKeyMask) | kCtrl)));
    EXPECT_EQ(Marked(m), "# b|\na\nb");
    EXPECT_TRUE(m.KeyDown(std::uint16_t('K' | kCtrl | kShift)));
    EXPECT_EQ(Marked(m), "|a\nb");
    EXPECT_TRUE(m.KeyDown(std::uint16_t('Z' | kCtrl)));
    EXPECT_EQ(Marked(m), "# b|\na\nb");
    EXPECT_TRUE(m.KeyDown(std::uint16_t('Y' | kCtrl))); // redo under this map
    EXPECT_EQ(Marked(m), "|a\nb");
}

} // namespace
} // namespace morvane::editor
