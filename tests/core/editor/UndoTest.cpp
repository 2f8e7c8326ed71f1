// The undo log: what commands record, how undo and redo replay it, and what a damaged log does.

#include "EditorTestUtil.h"

#include "core/editor/BinaryStream.h"
#include "core/editor/CodeMemoMessages.h"
#include "core/platform/FakeUi.h"

#include <cstring>

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

TEST(UndoTest, TypingLetterByLetterRecordsOneGroupPerCharacter) {
    TCustomCodeMemo m;
    m.SetOptions(m.Options() | smoUndoByChar); // one step per letter
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
    m.SetIndentStep(1);
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
    m.SetOptions(m.Options() | smoUndoByChar);
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

TEST(UndoTest, SavingTellsThatTheTextIsNoLongerModified) {
    TCustomCodeMemo m;
    m.KeyPress('a');
    int changes = 0;
    m.OnChange = [&](TCustomCodeMemo*) { ++changes; };
    TMemoryStream out;
    m.SaveToStream(&out);
    EXPECT_FALSE(m.Modified());
    EXPECT_EQ(changes, 1);
    m.SetModified(false); // nothing changes, nothing is told
    EXPECT_EQ(changes, 1);
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
    EXPECT_TRUE(m.Modified()); // "a" still differs from the empty text the log started from
    EXPECT_FALSE(m.CanRedo());
    EXPECT_EQ(Stored(m), "a");

    // A closing marker of another code.
    m.UndoStack().PushTransaction(0, 0, "", "a", 0, 1);
    m.UndoStack().Push({maGroupEnd, ukMarker, 17, 0, {}});
    m.UndoStack().Push({0, ukSelection, 0, 0, {}});
    m.UndoStack().Push({maGroupEnd, ukMarker, 18, 0, {}});
    m.Undo();
    EXPECT_EQ(dialogs.beeps, 2);
    EXPECT_TRUE(m.Modified());

    // A transaction begun while one is open.
    m.UndoStack().BeginTransaction(1, 0, 0, "", "x");
    try {
        m.ReplaceSel("b");
        ADD_FAILURE() << "no exception";
    } catch (const ECodeMemo& e) {
        EXPECT_STREQ(e.what(), "Bad transaction log entry");
    }
    EXPECT_EQ(dialogs.beeps, 3);
    EXPECT_FALSE(m.CanUndo());
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
    m.SetIndentStep(1);
    m.SetDialogs(&dialogs);
    Load(m, "a\rb\rc\rd");
    m.SetSelection(0, 7);
    m.ExecuteCommand(ecBlockIndent, 0, false);
    m.UndoStack().SetByteLimit(m.UndoStack().Bytes() - 100);
    m.Undo();
    EXPECT_EQ(dialogs.beeps, 0);
    EXPECT_TRUE(m.Modified());           // the text still differs from the loaded one
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

// Random editing commands with random selections and undos in between. Steps holds the state
// before and after each command the log recorded and has not undone.
struct RandomSession {
    explicit RandomSession(unsigned seed) : rng(seed) {
        m.SetClipboard(&clip);
        m.SetDialogs(&dialogs);
        // Every command its own step, so that each undo can be checked against the model.
        m.SetOptions((seed % 2 ? kInitialOptions : kInitialOptions | smoWordWrap) | smoUndoByChar);
        Load(m, "first line\n\tsecond  line\n\n   fourth\nlast");
    }
    State Now() const { return State{Stored(m), m.Anchor(), m.Caret()}; }

    void Run(int commands, bool undoChecksModified) {
        auto pick = [&](TextOffset hi) {
            return std::uniform_int_distribution<TextOffset>(0, hi)(rng);
        };
        for (int i = 0; i < commands; ++i) {
            TextOffset len = m.TextLength();
            int what = static_cast<int>(rng() % 12);
            if (what == 0) {
                m.SetSelection(pick(len), pick(len));
                continue;
            }
            if (what == 1 && m.CanUndo()) {
                ASSERT_TRUE(m.Undo());
                if (!m.CanUndo() && !undoChecksModified) {
                    steps.clear(); // the oldest step may have been trimmed in part
                    continue;
                }
                ASSERT_EQ(Now(), steps.back().first) << "command " << i;
                steps.pop_back();
                if (undoChecksModified) {
                    ASSERT_EQ(m.Modified(), !steps.empty());
                }
                continue;
            }
            State before = Now();
            std::size_t count = m.UndoStack().Count();
            std::int64_t bytes = m.UndoStack().Bytes();
            switch (what) {
            case 1:
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
            // A trimmed log may hold as many records after a command as before it.
            if (m.UndoStack().Count() != count || m.UndoStack().Bytes() != bytes ||
                Stored(m) != before.text)
                steps.push_back({before, Now()});
            if (!undoChecksModified) continue;
            if (m.UndoStack().Count() == count) {
                ASSERT_EQ(Stored(m), before.text) << "a change that was not recorded";
            }
        }
    }

    std::mt19937 rng;
    platform::FakeClipboard clip;
    platform::FakeDialogs dialogs;
    TCustomCodeMemo m;
    std::vector<std::pair<State, State>> steps;
};

// Undoing everything returns to the state before the first command, redoing everything to the
// state after the last; Modified is false exactly when the log is back at its start.
TEST(UndoTest, RandomCommandsUndoAndRedoCompletely) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        RandomSession s(seed);
        ASSERT_NO_FATAL_FAILURE(s.Run(1500, true)) << "seed " << seed;
        auto& steps = s.steps;
        ASSERT_FALSE(steps.empty());
        const State initial = steps.front().first, final = steps.back().second;
        std::vector<std::pair<State, State>> undone;
        while (!steps.empty()) {
            ASSERT_TRUE(s.m.Undo());
            ASSERT_EQ(s.Now(), steps.back().first) << seed;
            undone.push_back(steps.back());
            steps.pop_back();
            ASSERT_EQ(s.m.Modified(), !steps.empty());
        }
        EXPECT_EQ(s.Now(), initial);
        EXPECT_FALSE(s.m.Undo());
        while (!undone.empty()) {
            ASSERT_TRUE(s.m.Redo());
            ASSERT_EQ(s.Now(), undone.back().second) << seed;
            undone.pop_back();
            ASSERT_TRUE(s.m.Modified());
        }
        EXPECT_EQ(s.Now(), final);
        EXPECT_FALSE(s.m.CanRedo());
        EXPECT_EQ(s.dialogs.beeps, 0);
    }
}

// With a byte limit the oldest steps go, but every step that is left undoes completely.
TEST(UndoTest, RandomCommandsWithATrimmedLog) {
    for (unsigned seed : {5u, 6u}) {
        RandomSession s(seed);
        s.m.UndoStack().SetByteLimit(3000);
        ASSERT_NO_FATAL_FAILURE(s.Run(1500, false)) << "seed " << seed;
        EXPECT_LE(s.m.UndoStack().Bytes(), 3000 + 3 * 32); // a group end comes after the trim
        int undone = 0;
        while (s.m.CanUndo()) {
            ASSERT_TRUE(s.m.Undo());
            if (!s.m.CanUndo()) break; // the oldest step may have been trimmed in part
            ASSERT_EQ(s.Now(), s.steps.back().first) << seed;
            s.steps.pop_back();
            ++undone;
        }
        EXPECT_GT(undone, 3);
        EXPECT_EQ(s.dialogs.beeps, 0);
    }
}

// A save hands over the text as it was when the save began: typing since stays modified, and
// undoing back to the saved text is unmodified again.
TEST(UndoTest, SavedMarksTheTextThatWasWrittenAndLaterEditsStayModified) {
    TCustomCodeMemo m;
    Load(m, "text");
    m.SetSelection(4, 4);
    m.KeyPress('a');
    const std::uint64_t saved = m.TextState();
    m.KeyPress('b'); // typed while the save was on its way
    m.MarkSaved(saved);
    EXPECT_TRUE(m.Modified());
    ASSERT_TRUE(m.Undo());
    EXPECT_EQ(Stored(m), "texta");
    EXPECT_FALSE(m.Modified());
    ASSERT_TRUE(m.Undo());
    EXPECT_TRUE(m.Modified()); // the text before the save differs from the file
    ASSERT_TRUE(m.Redo());
    EXPECT_FALSE(m.Modified());
    // The same text reached by another edit is not known to be the file's.
    ASSERT_TRUE(m.Undo());
    m.KeyPress('a');
    EXPECT_EQ(Stored(m), "texta");
    EXPECT_TRUE(m.Modified());

    // A save of the text as it is leaves it unmodified and the log usable.
    TMemoryStream out;
    m.SaveToStream(&out);
    EXPECT_FALSE(m.Modified());
    ASSERT_TRUE(m.Undo());
    EXPECT_TRUE(m.Modified());
}

TEST(UndoTest, AReloadIsOneUndoStepAndLeavesTheNewTextUnmodified) {
    TCustomCodeMemo m;
    Load(m, "one\rtwo");
    m.SetSelection(3, 3);
    m.KeyPress('!');
    TFastMemoryStream file("ONE\r\nTWO\r\nTHREE");
    m.ReloadFromStream(file, true);
    EXPECT_EQ(Stored(m), "ONE\rTWO\rTHREE");
    EXPECT_EQ(m.LineEnd(), TLineEnd::leCRLF);
    EXPECT_FALSE(m.Modified());
    EXPECT_EQ(m.Caret(), 4); // about where it was
    ASSERT_TRUE(m.Undo());
    EXPECT_EQ(Stored(m), "one!\rtwo");
    EXPECT_TRUE(m.Modified());
    EXPECT_EQ(m.Anchor(), 4);
    EXPECT_EQ(m.Caret(), 4);
    ASSERT_TRUE(m.Undo()); // and the typing before it
    EXPECT_EQ(Stored(m), "one\rtwo");
    ASSERT_TRUE(m.Redo());
    ASSERT_TRUE(m.Redo());
    EXPECT_EQ(Stored(m), "ONE\rTWO\rTHREE");
    EXPECT_FALSE(m.Modified());

    // A reload that need not be undone starts the log again.
    TFastMemoryStream again("x");
    m.ReloadFromStream(again, false);
    EXPECT_EQ(Stored(m), "x");
    EXPECT_FALSE(m.CanUndo());
    EXPECT_FALSE(m.Modified());
}

TEST(UndoTest, AReloadWhoseReadFailsChangesNothing) {
    struct Failing : TStream {
        int reads = 0;
        std::size_t Read(void* buffer, std::size_t) override {
            if (reads++ > 0) throw EStreamError("Stream read error");
            std::memcpy(buffer, "new", 3);
            return 3;
        }
        std::size_t Write(const void*, std::size_t) override { return 0; }
        std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
    } failing;
    TCustomCodeMemo m;
    Load(m, "old");
    m.KeyPress('x');
    EXPECT_THROW(m.ReloadFromStream(failing, true), EStreamError);
    EXPECT_EQ(Stored(m), "xold");
    EXPECT_TRUE(m.Modified());
    ASSERT_TRUE(m.Undo());
    EXPECT_EQ(Stored(m), "old");
}

} // namespace
} // namespace morvane::editor
