// The undo log stays in step with the text: stream insertions, controls sharing one chain and
// trimming under a byte limit never leave a step that replays against text it does not fit.

#include "EditorTestUtil.h"

#include "core/editor/CodeMemoMessages.h"
#include "core/platform/FakeUi.h"

namespace morvane::editor {
namespace {
using namespace test;

std::intptr_t P(void* p) {
    return reinterpret_cast<std::intptr_t>(p);
}

void LoadStream(TCustomCodeMemo& m, const std::string& text) {
    TMemoryStream in(text);
    m.Perform(SM_LOADSTREAM, 0, P(&in));
}

TEST(UndoLogConsistencyTest, StreamInsertionIsOneUndoStep) {
    TCustomCodeMemo m;
    Load(m, "hello world");
    m.SetSelection(11, 11);
    m.KeyPress('!');
    m.SetSelection(6, 11);
    LoadStream(m, "there\r\nfriend");
    EXPECT_EQ(Stored(m), "hello there\rfriend!");
    ASSERT_TRUE(m.Undo());
    EXPECT_EQ(Stored(m), "hello world!");
    EXPECT_EQ(m.SelStart(), 6);
    EXPECT_EQ(m.SelLength(), 5);
    ASSERT_TRUE(m.Undo());
    EXPECT_EQ(Stored(m), "hello world");
    EXPECT_FALSE(m.Modified());
    ASSERT_TRUE(m.Redo());
    ASSERT_TRUE(m.Redo());
    EXPECT_EQ(Stored(m), "hello there\rfriend!");
    EXPECT_EQ(m.Caret(), 18);
}

// Two views of one document: either one's undo takes back the last edit, whichever made it.
TEST(UndoLogConsistencyTest, ControlsSharingAChainShareItsLog) {
    TCustomCodeMemo a;
    TCustomCodeMemo b(a.SharedStore());
    Load(a, "one two");
    a.SetSelection(0, 0);
    a.KeyPress('X');
    b.SetSelection(8, 8);
    b.KeyPress('Y');
    EXPECT_EQ(Stored(a), "Xone twoY");
    EXPECT_TRUE(a.Modified());
    EXPECT_TRUE(b.Modified());
    ASSERT_TRUE(a.Undo());
    EXPECT_EQ(Stored(a), "Xone two");
    ASSERT_TRUE(b.Undo());
    EXPECT_EQ(Stored(a), "one two");
    EXPECT_FALSE(a.Modified());
    EXPECT_FALSE(b.Modified());
    ASSERT_TRUE(b.Redo());
    EXPECT_EQ(Stored(a), "Xone two");
}

TEST(UndoLogConsistencyTest, TrimmingKeepsRedoReplayableAndTheLogWithinItsLimit) {
    // "abc" typed, then two steps undone; oneStep is what typing "a" logged.
    std::int64_t oneStep = 0, all = 0;
    auto typedAndUndone = [&](TCustomCodeMemo& m) {
        m.SetOptions(m.Options() | smoUndoByChar);
        Load(m, "");
        m.KeyPress('a');
        oneStep = m.UndoStack().Bytes();
        m.KeyPress('b');
        m.KeyPress('c');
        all = m.UndoStack().Bytes();
        ASSERT_TRUE(m.Undo());
        ASSERT_TRUE(m.Undo());
        ASSERT_EQ(Stored(m), "a");
    };
    {
        // Room for the two undone steps alone: the done one goes, both still replay.
        TCustomCodeMemo m;
        typedAndUndone(m);
        m.UndoStack().SetByteLimit(all - oneStep);
        EXPECT_FALSE(m.CanUndo());
        ASSERT_TRUE(m.Redo());
        ASSERT_TRUE(m.Redo());
        EXPECT_EQ(Stored(m), "abc");
        EXPECT_FALSE(m.Redo());
        ASSERT_TRUE(m.Undo());
        ASSERT_TRUE(m.Undo());
        EXPECT_EQ(Stored(m), "a");
        EXPECT_FALSE(m.Undo());
        EXPECT_TRUE(m.Modified()); // the step back to the empty text is gone
    }
    {
        // Room for less than the undone steps: none may be left, since a redo must start from
        // the text it was recorded on.
        TCustomCodeMemo m;
        typedAndUndone(m);
        m.UndoStack().SetByteLimit(all - oneStep - 1);
        EXPECT_FALSE(m.CanRedo());
        EXPECT_FALSE(m.Redo());
        EXPECT_EQ(Stored(m), "a");
        EXPECT_LE(m.UndoStack().Bytes(), all - oneStep - 1);
        m.KeyPress('x'); // the log goes on from here
        EXPECT_EQ(Stored(m), "ax");
        ASSERT_TRUE(m.Undo());
        EXPECT_EQ(Stored(m), "a");
    }

    // Group markers alone count against the limit too.
    TUndoStack s;
    s.SetByteLimit(200);
    for (int i = 0; i < 50; ++i) {
        s.BeginGroup(12, i, i);
        s.EndGroup(12, i, i);
        ASSERT_LE(s.Bytes(), 200);
    }

    // A limit smaller than one step: nothing can be undone, yet the text is still modified.
    TCustomCodeMemo t;
    Load(t, "x");
    t.UndoStack().SetByteLimit(16);
    t.KeyPress('y');
    EXPECT_FALSE(t.CanUndo());
    EXPECT_TRUE(t.Modified());
    t.SetModified(false);
    EXPECT_FALSE(t.Modified());
}

// Random edits, stream insertions, undos, redos, limit changes and saves from two controls on
// one chain, against a model: the list of texts the log can step between.
TEST(UndoLogConsistencyTest, RandomEditsUndoRedoAndTrimAgainstAModel) {
    for (unsigned seed : {11u, 12u, 13u, 14u}) {
        std::mt19937 rng(seed);
        platform::FakeDialogs dialogs;
        TCustomCodeMemo a;
        TCustomCodeMemo b(a.SharedStore());
        a.SetDialogs(&dialogs);
        b.SetDialogs(&dialogs);
        if (seed % 2)
            for (TCustomCodeMemo* m : {&a, &b}) {
                m->SetWrapAtColumn(20);
                m->SetOptions(m->Options() | smoWordWrap);
            }
        Load(a, "alpha beta gamma\ndelta epsilon\nzeta");
        std::vector<std::string> states{Stored(a)};
        std::size_t pos = 0;
        std::string saved = states[0];
        auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        auto someText = [&] {
            static const char* pieces[] = {"x", "yz", "\n", "word ", "\t", "long text here "};
            std::string t;
            for (int i = pick(4); i > 0; --i)
                t += pieces[pick(6)];
            return t;
        };
        for (int step = 0; step < 1500; ++step) {
            TCustomCodeMemo& m = pick(2) ? a : b;
            const TextOffset len = m.TextLength();
            const int what = pick(20);
            if (what < 8) {
                TextOffset x = pick(static_cast<int>(len) + 1), y = pick(static_cast<int>(len) + 1);
                m.SetSelection(x, y);
                std::string text = someText();
                if (m.SelText() == text) continue; // a step that changes nothing
                if (what < 6)
                    m.ReplaceSel(text);
                else
                    LoadStream(m, text);
                states.resize(pos + 1);
                states.push_back(Stored(m));
                ++pos;
            } else if (what < 13) {
                const std::string now = Stored(m);
                if (m.Undo()) {
                    ASSERT_GT(pos, 0u) << seed << " step " << step;
                    if (m.CanUndo() || !m.UndoStack().BaseLost()) {
                        ASSERT_EQ(Stored(m), states[pos - 1]) << seed << " step " << step;
                    } else {
                        // The oldest step may have lost its start to trimming: what is left of
                        // it is undone, and undoing stops there.
                        ASSERT_TRUE(Stored(m) == states[pos - 1] || Stored(m) == now)
                            << seed << " step " << step << ": " << testing::PrintToString(now)
                            << " -> " << testing::PrintToString(Stored(m)) << ", expected "
                            << testing::PrintToString(states[pos - 1]);
                        states[pos - 1] = Stored(m);
                    }
                    --pos;
                } else {
                    ASSERT_EQ(Stored(m), now);
                }
            } else if (what < 17) {
                const std::string now = Stored(m);
                if (m.Redo()) {
                    ASSERT_LT(pos + 1, states.size()) << seed << " step " << step;
                    ASSERT_EQ(Stored(m), states[pos + 1]) << seed << " step " << step;
                    ++pos;
                } else {
                    ASSERT_EQ(Stored(m), now);
                }
            } else if (what < 19) {
                static const std::int64_t limits[] = {-1, 150, 400, 1500};
                m.UndoStack().SetByteLimit(limits[pick(4)]);
                if (!m.CanRedo()) states.resize(pos + 1);
            } else {
                m.SetModified(false);
                saved = Stored(m);
                states.assign(1, saved);
                pos = 0;
            }
            ASSERT_NO_FATAL_FAILURE(CheckChain(a));
            if (a.UndoStack().ByteLimit() >= 0) {
                ASSERT_LE(a.UndoStack().Bytes(), a.UndoStack().ByteLimit());
            }
            // Never unmodified while the text differs from what was loaded or saved.
            if (Stored(a) != saved) {
                ASSERT_TRUE(a.Modified() && b.Modified()) << seed << " step " << step;
            }
        }
        EXPECT_EQ(dialogs.beeps, 0);
    }
}

} // namespace
} // namespace morvane::editor
