#include "core/app/DocumentRules.h"
#include "core/editor/CustomCodeMemo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace morvane::app;
using namespace morvane;

namespace {

// Loads a text (LF line ends) into an editor, runs the check and, when it finds double spacing,
// the repair; returns the stored text with LF line ends.
std::string repaired(const std::string& text, DoubleSpacing* found = nullptr, int wrapColumn = 0) {
    editor::TCustomCodeMemo memo;
    if (wrapColumn > 0) {
        memo.SetWrapAtColumn(wrapColumn);
        memo.SetOptions(memo.Options() | editor::smoWordWrap);
    }
    // Inserted as a paste would be: that cuts records after 2047 characters.
    memo.ReplaceSel(text);
    DoubleSpacing spacing = detectDoubleSpacing(memo);
    if (found) *found = spacing;
    removeDoubleSpacing(memo, spacing);
    std::string out = memo.Text(editor::tfStored);
    std::replace(out.begin(), out.end(), '\r', '\n');
    return out;
}

TEST(DoubleSpacedCheck, OffersRepairOnlyWhenOneParityIsAllEmpty) {
    DoubleSpacing s;
    EXPECT_EQ(repaired("a\n\nb", &s), "a\nb");
    EXPECT_EQ(s, DoubleSpacing::TextOnEvenLines);
    EXPECT_EQ(repaired("a\nb\n\n", &s), "a\nb\n\n");
    EXPECT_EQ(s, DoubleSpacing::None);
    EXPECT_EQ(repaired("\n\n", &s), "\n");
    EXPECT_EQ(s, DoubleSpacing::TextOnOddLines);
    EXPECT_EQ(repaired("\na\n\nb\n\n", &s), "a\nb\n");
    EXPECT_EQ(s, DoubleSpacing::TextOnOddLines);
    EXPECT_EQ(repaired("a\n\nb\n\nc\n\n"), "a\nb\nc\n");
    EXPECT_EQ(repaired("only", &s), "only");
    EXPECT_EQ(s, DoubleSpacing::None);
    EXPECT_EQ(repaired("", &s), "");
    EXPECT_EQ(s, DoubleSpacing::None);
}

// A line that fills whole records leaves its line break in a record of its own; that record is
// not an empty line, and the repair never removes a line break that ends text.
TEST(DoubleSpacedCheck, CountsPhysicalLinesNotRecords) {
    {
        editor::TCustomCodeMemo memo;
        memo.ReplaceSel(std::string(2047, 'x') + "\rb\r");
        ASSERT_EQ(memo.LineCount(), 3); // the break of the long line in a record of its own
    }
    for (std::size_t length : {2047u, 2048u, 4094u}) {
        SCOPED_TRACE(length);
        const std::string longLine(length, 'x');
        DoubleSpacing s;
        EXPECT_EQ(repaired(longLine + "\nb\n", &s), longLine + "\nb\n");
        EXPECT_EQ(s, DoubleSpacing::None);
        EXPECT_EQ(repaired("a\n" + longLine + "\nb\n", &s), "a\n" + longLine + "\nb\n");
        EXPECT_EQ(s, DoubleSpacing::None);
        EXPECT_EQ(repaired(longLine + "\n\nb\n\n" + longLine + "\n", &s),
                  longLine + "\nb\n" + longLine + "\n");
        EXPECT_EQ(s, DoubleSpacing::TextOnEvenLines);
    }
    // Wrapped lines are single lines too.
    DoubleSpacing s;
    EXPECT_EQ(repaired("aaaa bbbb cccc dddd\n\ne\n\n", &s, 5), "aaaa bbbb cccc dddd\ne\n");
    EXPECT_EQ(s, DoubleSpacing::TextOnEvenLines);
    EXPECT_EQ(repaired("aaaa bbbb cccc dddd\ne\n", &s, 5), "aaaa bbbb cccc dddd\ne\n");
    EXPECT_EQ(s, DoubleSpacing::None);
}

TEST(DoubleSpacedCheck, TheRepairIsOneUndoStep) {
    editor::TCustomCodeMemo memo;
    const std::string text = std::string(2047, 'x') + "\r\rb\r\rc";
    editor::TFastMemoryStream s(text);
    memo.LoadFromStream(s);
    ASSERT_EQ(removeDoubleSpacing(memo, detectDoubleSpacing(memo)), 2u);
    EXPECT_EQ(memo.Text(editor::tfStored), std::string(2047, 'x') + "\rb\rc");
    EXPECT_TRUE(memo.Undo());
    EXPECT_EQ(memo.Text(editor::tfStored), text);
    EXPECT_FALSE(memo.CanUndo());
}

TEST(DocumentTexts, StatusAndQuestions) {
    EXPECT_EQ(caretPositionText(1, 1), "   1:   1");
    EXPECT_EQ(caretPositionText(12345, 7), "12345:   7");
    EXPECT_EQ(saveBeforeClosingQuestion("a.txt"),
              "File 'a.txt' has been modified, save before closing?");
    EXPECT_EQ(cancelSavingQuestion("a.txt"), "Cancel saving file 'a.txt'?");
    EXPECT_EQ(associationQuestion("index.HTML", "HTML"),
              "Do you want to associate all files with extension \".HTML\" with html syntax "
              "highlighting?");
    EXPECT_EQ(associationQuestion("Makefile", "Plain text"),
              "Do you want to associate all files with no extension with plain text syntax "
              "highlighting?");
}

} // namespace

TEST(DocumentState, TitleNamesTheFileItsPlaceAndTheModifiedMarker) {
    EXPECT_EQ(documentWindowTitle("page.html", documentPlace("Demo", "/www/", true), false),
              "page.html - Demo:/www - Morvane");
    EXPECT_EQ(documentWindowTitle("page.html", documentPlace("Demo", "/", true), true),
              "*page.html - Demo:/ - Morvane");
    EXPECT_EQ(documentPlace("Demo", "", true), "Demo:~");
    EXPECT_EQ(documentWindowTitle("a.txt", documentPlace("", "/home/u/site/", false), true),
              "*a.txt - /home/u/site - Morvane");
    EXPECT_EQ(documentPlace("", "/", false), "/");
    // A new document has no place yet.
    EXPECT_EQ(documentWindowTitle("untitled", documentPlace("", "", false), false),
              "untitled - Morvane");
    EXPECT_EQ(tabCaption("a.txt", true), "*a.txt");
    EXPECT_EQ(tabCaption("a.txt", false), "a.txt");
}
