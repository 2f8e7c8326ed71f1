#include "app/DocumentRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace morvane::app;

namespace {

// Runs the check and, when it finds double spacing, the repair on a list of lines.
std::vector<std::string> repaired(std::vector<std::string> lines, DoubleSpacing* found = nullptr) {
    auto spacing =
        detectDoubleSpacing(lines.size(), [&](std::size_t i) { return lines[i].empty(); });
    if (found) *found = spacing;
    removeDoubleSpacing(spacing, lines.size(),
                        [&](std::size_t i) { lines.erase(lines.begin() + long(i)); });
    return lines;
}

using Lines = std::vector<std::string>;

TEST(DoubleSpacedCheck, OffersRepairOnlyWhenOneParityIsAllEmpty) {
    DoubleSpacing s;
    EXPECT_EQ(repaired({"a", "", "b"}, &s), (Lines{"a", "b"}));
    EXPECT_EQ(s, DoubleSpacing::TextOnEvenLines);
    EXPECT_EQ(repaired({"a", "b", ""}, &s), (Lines{"a", "b", ""}));
    EXPECT_EQ(s, DoubleSpacing::None);
    EXPECT_EQ(repaired({"", ""}, &s), (Lines{""}));
    EXPECT_EQ(s, DoubleSpacing::TextOnOddLines);
    EXPECT_EQ(repaired({"", "a", "", "b", ""}), (Lines{"a", "b"}));
    EXPECT_EQ(repaired({"a", "", "b", "", "c", ""}), (Lines{"a", "b", "c"}));
    EXPECT_EQ(repaired({"only"}, &s), (Lines{"only"}));
    EXPECT_EQ(s, DoubleSpacing::None);
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
