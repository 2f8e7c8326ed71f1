// The undo log: what commands record, how undo and redo replay it, and what a damaged log does.

#include "EditorTestUtil.h"

#include "editor/CodeMemoMessages.h"
#include "platform/FakeUi.h"

namespace morvane::editor {
namespace {
using namespace test;

struct Rec {
    std::int32_t kind, value1, aux;
    bool operator==(const Rec&) const = default;
};

// The records at or below the cursor, oldest first, without their payloads.
std::vector<Rec> Log(TCustomCodeMemo& m) {
    TUndoStack& s = m.UndoStack();
    std::vector<TUndoRec> popped;
    while (s.CanUndo())
        popped.push_back(s.PopUndo());
    std::vector<Rec> out;
    for (auto it = popped.rbegin(); it != popped.rend(); ++it) {
        out.push_back(
            {it->kind, it->kind == ukMarker ? static_cast<std::int32_t>(it->value1) : 0, it->aux});
        s.StepRedo();
    }
    return out;
}

std::vector<Rec> Group(int code, int aux) {
    return {{ukMarker, code, aux}, {ukSelection, 0, 0}, {ukMarker, code, aux}};
}
std::vector<Rec> Transaction() {
    return {{ukMarker, 1, 0}, {ukSelection, 0, 0}, {ukText, 0, 0},
            {ukText, 0, 0},   {ukSelection, 0, 0}, {ukMarker, 1, 0}};
}
std::vector<Rec> Cat(std::initializer_list<std::vector<Rec>> parts) {
    std::vector<Rec> out;
    for (auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(UndoTest, TypingRecordsOneGroupPerCharacter) {
    TCustomCodeMemo m;
    for (char c : std::string("abc"))
        m.KeyPress(c);
    auto one = Cat({Group(ugTyping, maGroupStart), Transaction(), Group(ugTyping, maGroupEnd)});
    EXPECT_EQ(Log(m), Cat({one, one, one}));
    m.ExecuteCommand(ecUndo, 0, false);
    EXPECT_EQ(Stored(m), "ab");
    EXPECT_EQ(m.Caret(), 2);
}

TEST(UndoTest, EnterWithAutoIndentIsOneStep) {
    TCustomCodeMemo m;
    m.SetOptions(kInitialOptions & ~smoUseTAB);
    Load(m, "  x");
    m.SetSelection(3, 3);
    m.KeyPress('\r');
    EXPECT_EQ(Stored(m), "  x\r  ");
    m.SetPendingIndent(true);
    m.KeyPress('\r');
    EXPECT_EQ(Log(m).front(), (Rec{ukMarker, ugTyping, maGroupStart}));
    EXPECT_EQ(Log(m)[Log(m).size() - 3], (Rec{ukMarker, ugIndentedReturn, maGroupEnd}));
    m.Undo();
    m.Undo();
    EXPECT_EQ(Stored(m), "  x");
    EXPECT_EQ(m.Caret(), 3);
    EXPECT_FALSE(m.Modified());
}

TEST(UndoTest, BlockEditsUndoAsOneStepAndRestoreTheSelection) {
    TCustomCodeMemo m;
    Load(m, "a\rb\rc\rd");
    m.SetSelection(2, 6); // lines 2 and 3 only: the end stands at the start of line 4
    m.ExecuteCommand(ecBlockIndent, 0, false);
    EXPECT_EQ(Stored(m), "a\r b\r c\rd");
    EXPECT_EQ(m.Anchor(), 2);
    EXPECT_EQ(m.Caret(), 8);
    m.SetSelection(0, 8);
    m.ExecuteCommand(ecBlockIndent, 0, false);
    EXPECT_EQ(Stored(m), " a\r  b\r  c\rd");
    m.ExecuteCommand(ecUndo, 0, false);
    EXPECT_EQ(Stored(m), "a\r b\r c\rd");
    EXPECT_EQ(m.Anchor(), 0);
    EXPECT_EQ(m.Caret(), 8);
    m.ExecuteCommand(ecRedo, 0, false);
    EXPECT_EQ(Stored(m), " a\r  b\r  c\rd");

    Load(m, "\t   x\ry");
    m.SetSelection(0, 7);
    m.Perform(SM_BLOCKUNINDENT, 4, 0);
    EXPECT_EQ(Stored(m), "x\ry");
    m.ExecuteCommand(ecUndo, 0, false);
    EXPECT_EQ(Stored(m), "\t   x\ry");
    EXPECT_EQ(m.Anchor(), 0);
    EXPECT_EQ(m.Caret(), 7);
}

TEST(UndoTest, ModifiedFollowsTheLogAndNewEditsDropTheRedoPart) {
    TCustomCodeMemo m;
    Load(m, "text");
    m.SetSelection(4, 4);
    m.KeyPress('1');
    m.KeyPress('2');
    EXPECT_TRUE(m.Modified());
    EXPECT_EQ(m.Perform(EM_CANUNDO, 0, 0), 1);
    m.Perform(EM_UNDO, 0, 0);
    m.Perform(WM_UNDO, 0, 0);
    EXPECT_FALSE(m.Modified());
    EXPECT_EQ(m.Perform(EM_CANUNDO, 0, 0), 0);
    EXPECT_EQ(m.Perform(SM_CANREDO, 0, 0), 1);
    m.Perform(SM_REDO, 0, 0);
    EXPECT_TRUE(m.Modified());
    EXPECT_EQ(Stored(m), "text1");
    m.KeyPress('x');
    EXPECT_FALSE(m.CanRedo());
    EXPECT_EQ(m.Perform(SM_REDO, 0, 0), 0);
    EXPECT_EQ(Stored(m), "text1x");
    EXPECT_EQ(reinterpret_cast<TUndoStack*>(m.Perform(SM_UNDOSTACK, 0, 0)), &m.UndoStack());
}

TEST(UndoTest, ChangesThatDoNothingRecordNothing) {
    TCustomCodeMemo m;
    Load(m, "abc");
    m.SetSelection(3, 3);
    m.ExecuteCommand(ecDeleteChar, 0, false);
    m.SetSelection(0, 0);
    m.ExecuteCommand(ecDeleteLastChar, 0, false);
    m.ExecuteCommand(ecBlockIndent, 0, false); // no selection
    m.ExecuteCommand(ecDeleteLastWord, 0, false);
    EXPECT_FALSE(m.Modified());
    EXPECT_EQ(m.UndoStack().Bytes(), 0);
}

TEST(UndoTest, DamagedLogIsClearedWithABeep) {
    platform::FakeDialogs dialogs;
    TCustomCodeMemo m;
    m.SetDialogs(&dialogs);
    m.KeyPress('a');
    m.UndoStack().Push({0, ukText, 0, 0, "stray"}); // not a marker where undo expects one
    EXPECT_TRUE(m.Undo());
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_FALSE(m.Modified());
    EXPECT_FALSE(m.CanRedo());
    EXPECT_EQ(Stored(m), "a");

    // A closing marker of another code.
    m.UndoStack().PushTransaction(0, 0, "", "a", 0, 1);
    m.UndoStack().Push({maGroupEnd, ukMarker, 17, 0, {}});
    m.UndoStack().Push({0, ukSelection, 0, 0, {}});
    m.UndoStack().Push({maGroupEnd, ukMarker, 18, 0, {}});
    m.Undo();
    EXPECT_EQ(dialogs.beeps, 2);
    EXPECT_FALSE(m.Modified());

    // A transaction begun while one is open.
    m.UndoStack().BeginTransaction(1, 0, 0, "", "x");
    try {
        m.ReplaceSel("b");
        ADD_FAILURE() << "no exception";
    } catch (const ECodeMemo& e) {
        EXPECT_STREQ(e.what(), "Bad transaction log entry");
    }
    EXPECT_EQ(dialogs.beeps, 3);
    EXPECT_FALSE(m.Modified());
    m.ReplaceSel("b"); // the log works again
    EXPECT_TRUE(m.Modified());
    EXPECT_THROW(m.UndoStack().EndTransaction(1, 0, 0), ECodeMemo);
}

TEST(UndoTest, StackUnderflowAndTrimming) {
    TUndoStack s;
    try {
        s.PopUndo();
        ADD_FAILURE();
    } catch (const ECodeMemo& e) {
        EXPECT_STREQ(e.what(), "Stack underflow");
    }
    EXPECT_THROW(s.StepRedo(), ECodeMemo);
    s.PushTransaction(0, 0, "", "abcd", 0, 4);
    EXPECT_EQ(s.Bytes(), 6 * 32 + 4);
    s.PushTransaction(4, 4, "", "ef", 4, 6);
    s.SetByteLimit(6 * 32 + 2); // only the second transaction fits
    EXPECT_EQ(s.Count(), 6u);
    EXPECT_EQ(s.Bytes(), 6 * 32 + 2);
    s.SetByteLimit(-1);
    s.PushTransaction(6, 6, "", "g", 6, 7);
    EXPECT_EQ(s.Count(), 12u);
}

TEST(UndoTest, AGroupWhoseStartWasTrimmedUndoesWhatIsLeft) {
    platform::FakeDialogs dialogs;
    TCustomCodeMemo m;
    m.SetDialogs(&dialogs);
    Load(m, "a\rb\rc\rd");
    m.SetSelection(0, 7);
    m.ExecuteCommand(ecBlockIndent, 0, false);
    m.UndoStack().SetByteLimit(m.UndoStack().Bytes() - 100);
    m.Undo();
    EXPECT_EQ(dialogs.beeps, 0);
    EXPECT_FALSE(m.Modified());
    EXPECT_EQ(Stored(m), " a\rb\rc\rd"); // the first line's indent was trimmed away
}

struct State {
    std::string text;
    TextOffset anchor, caret;
    bool operator==(const State&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const State& s) {
        return os << testing::PrintToString(s.text) << " " << s.anchor << "-" << s.caret;
    }
};

// Long random runs of the commands that edit: every undo step returns to the state before its
// command, every redo step to the state after it, and Modified is false exactly at the start.
TEST(UndoTest, RandomCommandsUndoAndRedoCompletely) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        std::mt19937 rng(seed);
        platform::FakeClipboard clip;
        TCustomCodeMemo m;
        m.SetClipboard(&clip);
        m.SetOptions(seed % 2 ? kInitialOptions : kInitialOptions | smoWordWrap);
        Load(m, "first line\n\tsecond  line\n\n   fourth\nlast");
        auto state = [&] { return State{Stored(m), m.Anchor(), m.Caret()}; };
        std::vector<std::pair<State, State>> steps; // before and after each recorded command
        auto pick = [&](TextOffset hi) {
            return std::uniform_int_distribution<TextOffset>(0, hi)(rng);
        };
        for (int i = 0; i < 1500; ++i) {
            TextOffset len = m.TextLength();
            int what = static_cast<int>(rng() % 12);
            if (what == 0) {
                m.SetSelection(pick(len), pick(len));
                continue;
            }
            if (what == 1 && !steps.empty()) {
                ASSERT_TRUE(m.Undo());
                ASSERT_EQ(state(), steps.back().first) << seed << " step " << i;
                steps.pop_back();
                ASSERT_EQ(m.Modified(), !steps.empty());
                continue;
            }
            State before = state();
            std::size_t count = m.UndoStack().Count();
            switch (what) {
            case 2:
            case 3:
            case 4:
                m.KeyPress("ab \r\tx_9"[rng() % 8]);
                break;
            case 5:
                m.ExecuteCommand(ecDeleteChar, 0, false);
                break;
            case 6:
                m.ExecuteCommand(ecDeleteLastChar, 0, false);
                break;
            case 7:
                m.SetIndentStep(1 + static_cast<int>(rng() % 4));
                m.ExecuteCommand(rng() % 2 ? ecBlockIndent : ecBlockUnindent, 0, false);
                break;
            case 8:
                clip.setText(RandomLine(rng, 5) + (rng() % 2 ? "\n" : "") + RandomLine(rng, 3));
                m.ExecuteCommand(ecPaste, 0, false);
                break;
            case 9:
                m.ExecuteCommand(ecDeleteLine, 0, false);
                break;
            case 10:
                m.ExecuteCommand(ecDeleteLastWord, 0, false);
                break;
            default:
                m.ExecuteCommand(ecCut, 0, false);
                break;
            }
            ASSERT_NO_FATAL_FAILURE(CheckChain(m));
            if (m.UndoStack().Count() != count)
                steps.push_back({before, state()});
            else
                ASSERT_EQ(Stored(m), before.text) << "a change that was not recorded";
        }
        ASSERT_FALSE(steps.empty());
        const State initial = steps.front().first, final = steps.back().second;
        std::vector<std::pair<State, State>> undone;
        while (!steps.empty()) {
            ASSERT_TRUE(m.Undo());
            ASSERT_EQ(state(), steps.back().first) << seed;
            undone.push_back(steps.back());
            steps.pop_back();
            ASSERT_EQ(m.Modified(), !steps.empty());
        }
        EXPECT_EQ(state(), initial);
        EXPECT_FALSE(m.Undo());
        while (!undone.empty()) {
            ASSERT_TRUE(m.Redo());
            ASSERT_EQ(state(), undone.back().second) << seed;
            undone.pop_back();
            ASSERT_TRUE(m.Modified());
        }
        EXPECT_EQ(state(), final);
        EXPECT_FALSE(m.CanRedo());
    }
}

} // namespace
} // namespace morvane::editor
