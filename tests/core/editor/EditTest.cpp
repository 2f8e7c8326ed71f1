// Insertion and deletion in the chain: records, metadata, marks, notifications and undo.

#include "EditorTestUtil.h"

#include "core/editor/CodeMemoMessages.h"
#include "core/platform/FakeUi.h"

namespace morvane::editor {
namespace {
using namespace test;

TEST(EditTest, TextChangeReportsStartAndExtent) {
    TCustomCodeMemo m;
    std::vector<std::pair<TextOffset, TextOffset>> seen;
    m.OnTextChange = [&](TCustomCodeMemo* sender, TextOffset s, TextOffset e) {
        EXPECT_EQ(sender, &m);
        seen.emplace_back(s, e);
    };
    m.ReplaceSel("hello\nworld");
    m.SetSelection(2, 4);
    m.ReplaceSel("");
    m.SetSelection(-1, 0);
    m.ReplaceSel("");
    EXPECT_EQ(seen, (std::vector<std::pair<TextOffset, TextOffset>>{{0, 11}, {2, -2}, {0, 0}}));
    EXPECT_EQ(m.LineCount(), 0);
}

TEST(EditTest, TypingIntoAFullRecordAndSplittingALongLine) {
    TCustomCodeMemo m;
    Load(m, std::string(2047, 'a') + "\nz");
    m.SetSelection(100, 100);
    m.ReplaceSel("b"); // one character goes into the record in place
    EXPECT_EQ(m.Store().Text(0).size(), 2048u);
    ASSERT_NO_FATAL_FAILURE(CheckChain(m));
    m.SetSelection(1000, 1000);
    m.ReplaceSel("\n");
    ASSERT_NO_FATAL_FAILURE(CheckChain(m));
    EXPECT_EQ(m.Store().Text(0).size(), 1001u);
    EXPECT_EQ(m.Lines().Count(), 3);
}

TEST(EditTest, JoiningLongLinesCutsTheJoinedRecord) {
    TCustomCodeMemo m;
    std::string a(3000, 'a'), b(3000, 'b');
    Load(m, a + "\n" + b);      // records 2047, 953+CR, 2047, 953
    m.SetSelection(3000, 3001); // the break between them
    m.ReplaceSel("");
    ASSERT_NO_FATAL_FAILURE(CheckChain(m));
    EXPECT_EQ(Stored(m), a + b);
    EXPECT_EQ(m.Store().Text(1).size(), 2048u);
    EXPECT_EQ(m.Lines().Count(), 4);
}

TEST(EditTest, ALineThatFitsOneRecordAgainIsJoined) {
    TCustomCodeMemo m;
    Load(m, std::string(2046, 'b') + "\n" + std::string(2500, 'a') + "\nz");
    m.SetSelection(0, 0);
    m.ReplaceSel("y"); // a record of 2048: from now on edits re-wrap what they touch
    EXPECT_EQ(m.LongestLine(), 2048);
    m.SetSelection(2048, 3048);
    m.ReplaceSel("");
    ASSERT_NO_FATAL_FAILURE(CheckChain(m));
    EXPECT_EQ(Records(m), (std::vector<std::string>{"y" + std::string(2046, 'b') + "\r",
                                                    std::string(1500, 'a') + "\r", "z"}));
}

TEST(EditTest, FirstRecordKeepsTheOldRecordsMetadata) {
    TCustomCodeMemo m;
    Load(m, "one\ntwo\nthree");
    TTextStore& s = m.Store();
    s.SetGutterMarks(1, 4);
    s.Rec(1).mark |= 1 << 3; // bookmark 3
    std::vector<int> freed;
    m.Tracks().OnTrackFree = [&](int id) { freed.push_back(id); };
    TLineTrack* track = m.Tracks().Add(1);
    int id = track->TrackID;
    m.SetSelection(5, 5);
    m.ReplaceSel("X\nY\nZ");
    EXPECT_EQ(Records(m), (std::vector<std::string>{"one\r", "tX\r", "Y\r", "Zwo\r", "three"}));
    EXPECT_EQ(s.GutterMarks(1), 4);
    EXPECT_EQ(s.Rec(1).mark, 1 << 3);
    EXPECT_EQ(s.Rec(2).mark, 0);
    EXPECT_EQ(s.GutterMarks(2), 0);
    EXPECT_EQ(m.Tracks().LineOf(id), 1);
    EXPECT_TRUE(freed.empty());
    m.SetSelection(4, 13); // from record 1's start to record 4's start
    m.ReplaceSel("");
    EXPECT_EQ(Records(m), (std::vector<std::string>{"one\r", "three"}));
    // The joined record takes the place of the first one and keeps its track.
    EXPECT_EQ(m.Tracks().LineOf(id), 1);
    m.SetSelection(-1, 0);
    m.ReplaceSel("");
    EXPECT_EQ(freed, std::vector<int>{id});
}

TEST(EditTest, MarksAndBookmarksFollowEdits) {
    TCustomCodeMemo m;
    Load(m, "0123456789");
    TMarkList& marks = m.Marks();
    marks.Add(6, 2, 0, 1); // normalised to 2..6
    marks.Add(7, 8, 0, 2);
    marks.Add(0, 1, 0, 3);
    m.CustomBookmarks().add("b", 5);
    std::vector<std::uint32_t> changed, gone;
    m.OnMarkChange = [&](TCustomCodeMemo*, std::uint32_t v) { changed.push_back(v); };
    m.OnMarkFree = [&](TCustomCodeMemo*, std::uint32_t v) { gone.push_back(v); };
    m.SetSelection(4, 4);
    m.ReplaceSel("ab"); // inside mark 1, before mark 2
    EXPECT_EQ(marks[1].start, 2);
    EXPECT_EQ(marks[1].end, 8);
    EXPECT_EQ(marks[2].start, 9);
    EXPECT_EQ(m.CustomBookmarks().find("b"), 7);
    m.SetSelection(8, 11); // covers mark 2 (9..10)
    m.ReplaceSel("");
    EXPECT_EQ(gone, std::vector<std::uint32_t>{2});
    EXPECT_EQ(marks.Count(), 2u);
    EXPECT_EQ(marks[1].end, 8);
    m.SetSelection(1, 4); // overlaps the start of mark 1 (2..8)
    m.ReplaceSel("");
    EXPECT_EQ(marks[1].start, 1);
    EXPECT_EQ(marks[1].end, 5);
    EXPECT_EQ(m.CustomBookmarks().find("b"), 4);
    EXPECT_FALSE(changed.empty());
}

TEST(EditTest, TopLineFollowsEditsAboveIt) {
    TCustomCodeMemo m;
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += "line " + std::to_string(i) + "\n";
    Load(m, text);
    m.SetTopLine(50);
    m.SetSelection(0, 0);
    m.ReplaceSel("new\n");
    EXPECT_EQ(m.TopLine(), 51);
    m.SetSelection(0, static_cast<TextOffset>(m.LineStart(10)));
    m.ReplaceSel("");
    EXPECT_EQ(m.TopLine(), 41);
    EXPECT_EQ(m.Lines().Get(m.TopLine()), "line 50");
}

TEST(EditTest, UndoAndRedoFollowTheLog) {
    TCustomCodeMemo m;
    m.ReplaceSel("a");
    m.ReplaceSel("b");
    m.ReplaceSel("c");
    EXPECT_TRUE(m.Undo());
    EXPECT_EQ(Stored(m), "ab");
    EXPECT_TRUE(m.Undo());
    EXPECT_TRUE(m.Undo());
    EXPECT_EQ(Stored(m), "");
    EXPECT_FALSE(m.Modified());
    EXPECT_FALSE(m.Undo());
    EXPECT_TRUE(m.Redo());
    EXPECT_TRUE(m.Modified());
    EXPECT_EQ(Stored(m), "a");
    m.ReplaceSel("z");
    EXPECT_FALSE(m.UndoStack().CanRedo());
    m.SetModified(true);
    EXPECT_TRUE(m.Modified());
    m.SetModified(false);
    EXPECT_FALSE(m.Modified());
}

// Random replacements, then undo everything and redo everything.
TEST(EditTest, RandomEditsUndoAndRedoCompletely) {
    std::mt19937 rng(99);
    TCustomCodeMemo m;
    Load(m, "start\nof the\ttext\n");
    std::vector<std::string> states{Stored(m)};
    for (int step = 0; step < 300; ++step) {
        auto len = static_cast<TextOffset>(m.TextLength());
        TextOffset a = std::uniform_int_distribution<TextOffset>(0, len)(rng);
        TextOffset c = std::uniform_int_distribution<TextOffset>(0, len)(rng);
        m.SetSelection(a, c);
        std::string ins = RandomLine(rng, step % 40 == 0 ? 3000 : 6);
        if (rng() % 3 == 0) ins += "\r\n";
        m.ReplaceSel(ins);
        ASSERT_NO_FATAL_FAILURE(CheckChain(m));
        states.push_back(Stored(m));
    }
    for (std::size_t i = states.size() - 1; i > 0; --i) {
        ASSERT_TRUE(m.Undo());
        ASSERT_EQ(Stored(m), states[i - 1]) << i;
    }
    EXPECT_FALSE(m.Modified());
    for (std::size_t i = 1; i < states.size(); ++i) {
        ASSERT_TRUE(m.Redo());
        ASSERT_EQ(Stored(m), states[i]) << i;
    }
}

TEST(EditTest, ClipboardGoesThroughThePlatform) {
    TCustomCodeMemo m;
    platform::FakeClipboard clip;
    m.SetClipboard(&clip);
    Load(m, "ab\ncd");
    m.SetSelection(1, 4);
    m.CopyToClipboard();
    EXPECT_EQ(clip.text(), "b\nc");
    m.CutToClipboard();
    EXPECT_EQ(Stored(m), "ad");
    clip.setText("X\r\nY");
    m.PasteFromClipboard();
    EXPECT_EQ(Stored(m), "aX\rYd");
    m.SetReadOnly(true);
    m.PasteFromClipboard();
    EXPECT_EQ(Stored(m), "aX\rYd");
}

TEST(EdStreamTest, WalksAndReadsAcrossRecords) {
    TCustomCodeMemo m;
    Load(m, "ab\ncd");
    TEdStream& s = m.EdStream();
    s.Reset();
    EXPECT_EQ(s.CurrentChar(), 'a');
    EXPECT_EQ(s.NextChar(), 'b');
    EXPECT_EQ(s.NextChar(), '\r');
    EXPECT_EQ(s.NextChar(), 'c');
    EXPECT_EQ(s.GetPos(), 3);
    EXPECT_EQ(s.PrevChar(), '\r');
    s.NextChar();
    s.NextChar();
    EXPECT_EQ(s.NextChar(), 0); // after the end of the last record
    EXPECT_TRUE(s.AtEnd());
    EXPECT_EQ(s.GetPos(), 5);
    char buf[8] = {};
    s.Seek(1, TSeekOrigin::soBeginning);
    EXPECT_EQ(s.Read(buf, 8), 4u);
    EXPECT_EQ(std::string(buf, 4), "b\rcd");
    EXPECT_EQ(s.Seek(2, TSeekOrigin::soEnd), 3); // counts back from the length
    m.SetSelection(0, 0);
    m.ReplaceSel("xyz"); // after an edit the stream keeps its offset
    EXPECT_EQ(s.GetPos(), 3);
    EXPECT_EQ(s.CurrentChar(), 'a');
}

} // namespace
} // namespace morvane::editor

namespace morvane::editor {
namespace {
using namespace test;

TEST(LayoutTest, RowsExpandTabsAndMarkTheSelection) {
    TCustomCodeMemo m;
    Load(m, "a\tbc\nxyz");
    m.SetClientSize(36 + 7 * 10, 17 * 3);
    EXPECT_EQ(m.VisibleColumns(), 10);
    EXPECT_EQ(m.ColumnOf(0, 2), 4);
    EXPECT_EQ(m.IndexAtColumn(0, 3), 1u); // inside the TAB
    m.SetSelection(1, 6);
    auto rows = m.LayoutRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].cells, "a   bc");
    EXPECT_EQ(rows[0].selFrom, 1);
    EXPECT_EQ(rows[0].selTo, 7); // the line break is selected too
    EXPECT_EQ(rows[1].cells, "xyz");
    EXPECT_EQ(rows[1].selFrom, 0);
    EXPECT_EQ(rows[1].selTo, 1);
    m.SetLeftColumn(2);
    rows = m.LayoutRows();
    EXPECT_EQ(rows[0].cells, "  bc");
    EXPECT_EQ(rows[0].selFrom, 0);
    EXPECT_EQ(rows[0].selTo, 5);
    EXPECT_THROW(m.SetTabDefault(0), ECodeMemo);
}

} // namespace
} // namespace morvane::editor

namespace morvane::editor {
namespace {
using namespace test;

TEST(EditTest, ControlsSharingAChainFollowEachOthersEdits) {
    TCustomCodeMemo a;
    TCustomCodeMemo b(a.SharedStore());
    Load(a, "hello world");
    b.SetSelection(6, 11); // "world"
    std::vector<TextOffset> seen;
    b.OnTextChange = [&](TCustomCodeMemo*, TextOffset s, TextOffset e) {
        seen.push_back(s * 100 + e);
    };
    a.SetSelection(0, 0);
    a.ReplaceSel(">> ");
    EXPECT_EQ(b.RangeText(b.SelStart(), b.SelStart() + b.SelLength(), tfStored), "world");
    a.SetSelection(0, 12);
    a.ReplaceSel("");
    EXPECT_EQ(b.Anchor(), 0);
    EXPECT_EQ(b.Caret(), 2);
    EXPECT_EQ(Stored(b), "ld");
    EXPECT_EQ(seen.size(), 2u);
}

} // namespace
} // namespace morvane::editor

namespace morvane::editor {
namespace {
using namespace test;

TEST(LayoutTest, CaretByLineAndColumn) {
    TCustomCodeMemo m;
    Load(m, "ab\n\tc\n");
    m.GoToPosition(2, 2); // line 2, column 2: the "c" after the TAB
    EXPECT_EQ(m.Caret(), 4);
    EXPECT_EQ(m.CaretPosition().line, 2);
    EXPECT_EQ(m.CaretPosition().column, 5); // the TAB spans columns 1-4
    m.GoToPosition(99, 1);
    EXPECT_EQ(m.Caret(), 2); // clamped to the record, its break included
    m.GoToPosition(0, 50);
    EXPECT_EQ(m.Caret(), m.TextLength());
    EXPECT_EQ(m.CaretPosition().line, 3);
    EXPECT_EQ(m.CaretPosition().column, 1);
}

} // namespace
} // namespace morvane::editor

namespace morvane::editor {
namespace {
using namespace test;

// Edits across many blocks of the chain against a plain string.
TEST(EditTest, RandomEditsInALargeDocumentMatchAString) {
    std::mt19937 rng(5);
    std::string text;
    while (text.size() < 600000)
        text += RandomLine(rng, 120) + (rng() % 5 ? "\n" : "\r\n");
    TCustomCodeMemo m;
    Load(m, text);
    std::string model = RefNormalise(text);
    for (int step = 0; step < 400; ++step) {
        auto len = static_cast<TextOffset>(model.size());
        TextOffset a = std::uniform_int_distribution<TextOffset>(0, len)(rng);
        TextOffset span = step % 25 == 0 ? 200000 : 50;
        TextOffset b = std::min(len, a + std::uniform_int_distribution<TextOffset>(0, span)(rng));
        std::string ins;
        switch (step % 4) {
        case 0:
            ins = std::string(1, static_cast<char>('a' + step % 26));
            break;
        case 1:
            ins = "";
            break;
        case 2:
            ins = RandomLine(rng, 40) + "\n" + RandomLine(rng, 40);
            break;
        default:
            ins = step % 100 == 3 ? std::string(150000, 'z') : "\n";
            break;
        }
        m.SetSelection(a, step % 4 == 0 ? a : b);
        m.ReplaceSel(ins);
        model.replace(static_cast<std::size_t>(a),
                      static_cast<std::size_t>(step % 4 == 0 ? 0 : b - a), RefNormalise(ins));
        ASSERT_EQ(m.TextLength(), static_cast<TextOffset>(model.size())) << step;
    }
    ASSERT_EQ(Stored(m), model);
    ASSERT_NO_FATAL_FAILURE(CheckChain(m));
    EXPECT_EQ(m.LongestLine() >= m.Store().MaxRecordLength(), true);
}

} // namespace
} // namespace morvane::editor

namespace morvane::editor {
namespace {
using namespace test;

TEST(BlockIndentTest, IndentsTheTouchedLinesAsOneUndoStep) {
    TCustomCodeMemo m;
    Load(m, "l1\nl2\nl3\nl4\n");
    m.SetSelection(3, 9); // start of line 2 to start of line 4
    m.Perform(SM_BLOCKINDENT, 2, 0);
    EXPECT_EQ(Stored(m), "l1\r  l2\r  l3\rl4\r");
    EXPECT_EQ(m.Anchor(), 3);
    EXPECT_EQ(m.Caret(), 13);
    m.Perform(SM_BLOCKINDENT, 0, 1); // one step of the indent step, a TAB
    EXPECT_EQ(Stored(m), "l1\r\t  l2\r\t  l3\rl4\r");
    ASSERT_TRUE(m.Undo());
    ASSERT_TRUE(m.Undo());
    EXPECT_EQ(Stored(m), "l1\rl2\rl3\rl4\r");
    EXPECT_EQ(m.Anchor(), 3);
    EXPECT_EQ(m.Caret(), 9);
    EXPECT_FALSE(m.Modified());
}

TEST(BlockIndentTest, UnindentRemovesLeadingBlanksTabsAndNoBreakSpaces) {
    TCustomCodeMemo m;
    Load(m, "\t   a\n  b\nc\n\xA0\xA0"
            "d");
    m.SetSelection(0, m.TextLength());
    m.BlockUnindent(4);
    EXPECT_EQ(Stored(m), "a\rb\rc\rd");
    EXPECT_EQ(m.Caret(), m.TextLength());
    ASSERT_TRUE(m.Undo());
    EXPECT_EQ(Stored(m), "\t   a\r  b\rc\r\xA0\xA0"
                         "d");
    m.SetReadOnly(true);
    m.BlockUnindent(4);
    EXPECT_EQ(m.TextLength(), 15);
}

TEST(BlockIndentTest, ContinuationRecordsAreNotIndented) {
    TCustomCodeMemo m;
    std::string longLine(3000, 'x');
    Load(m, longLine + "\nshort");
    m.SetSelection(0, m.TextLength());
    m.BlockIndent(1, false);
    EXPECT_EQ(Stored(m), " " + longLine + "\r short");
    ASSERT_NO_FATAL_FAILURE(CheckChain(m));
}

} // namespace
} // namespace morvane::editor
