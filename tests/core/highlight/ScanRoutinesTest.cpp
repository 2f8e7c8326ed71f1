// The built-in scan routines: what each accepts, where it stops, and that a refusal leaves the
// stream where it was.
#include "core/highlight/ScanRoutines.h"

#include <gtest/gtest.h>

#include <string>

using namespace morvane::highlight;

namespace {

struct RoutineCase {
    int routine;
    std::string text;
    std::size_t from;
    bool accepts;
    std::size_t end; // stream position afterwards
};

std::ostream& operator<<(std::ostream& os, const RoutineCase& c) {
    return os << c.routine << " on \"" << c.text << "\" from " << c.from;
}

} // namespace

class ScanRoutines : public ::testing::TestWithParam<RoutineCase> {};

TEST_P(ScanRoutines, AcceptAndStopWhereExpected) {
    const auto& c = GetParam();
    TScanStream s(c.text, c.from);
    EXPECT_EQ(ScanRoutine(c.routine, s, c.from), c.accepts);
    EXPECT_EQ(s.position(), c.accepts ? c.end : c.from);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScanRoutines,
    ::testing::Values(
        // 7: one character; a doubled quote is one; a lone quote or a line end is refused.
        RoutineCase{7, "ab", 0, true, 1}, RoutineCase{7, "''x", 0, true, 2},
        RoutineCase{7, "'x", 0, false, 0}, RoutineCase{7, "\r", 0, false, 0},
        RoutineCase{7, "", 0, false, 0},
        // 8: URL characters, a final '.' given back.
        RoutineCase{8, "www.x.org/a?b=1. ", 0, true, 15}, RoutineCase{8, ". ", 0, false, 0},
        RoutineCase{8, " ", 0, false, 0},
        // 9: a whole line, only from a line start.
        RoutineCase{9, "abc\rd", 0, true, 3}, RoutineCase{9, "a\rbc", 2, true, 4},
        RoutineCase{9, "abc", 1, false, 1}, RoutineCase{9, "\r\r", 1, true, 1},
        // 10: identifiers.
        RoutineCase{10, "_a1 b", 0, true, 3}, RoutineCase{10, "1a", 0, false, 0},
        // 11: numbers, fractions and exponents; a '.' without a digit ends the number.
        RoutineCase{11, "12.5e-3x", 0, true, 7}, RoutineCase{11, "1.x", 0, true, 1},
        RoutineCase{11, "7e", 0, true, 1}, RoutineCase{11, "3E+", 0, true, 1},
        RoutineCase{11, ".5", 0, false, 0}, RoutineCase{11, "9", 0, true, 1},
        // 12: Pascal strings with doubled quotes, ended by the line end or the text's end.
        RoutineCase{12, "'it''s' x", 0, true, 7}, RoutineCase{12, "'open\rx", 0, true, 5},
        RoutineCase{12, "'", 0, true, 1},
        // 13, 14, 20: C strings with backslash escapes, stopping at the line end.
        RoutineCase{13, "\"a\\\"b\" c", 0, true, 6}, RoutineCase{13, "\"ab\rc\"", 0, true, 3},
        RoutineCase{13, "\"ab\\\rc", 0, true, 4}, RoutineCase{13, "\"a\\", 0, true, 3},
        RoutineCase{13, "'a'", 0, false, 0}, RoutineCase{14, "'\\''x", 0, true, 4},
        RoutineCase{20, "'a\"b' ", 0, true, 5},
        // 15: an optional sign before a number.
        RoutineCase{15, "-4.5", 0, true, 4}, RoutineCase{15, "+x", 0, false, 0},
        // 16: digits.
        RoutineCase{16, "0123a", 0, true, 4}, RoutineCase{16, "a", 0, false, 0},
        // 17: mail addresses must hold an '@'; a final '.' is given back.
        RoutineCase{17, "me@x.org. ", 0, true, 8}, RoutineCase{17, "me.x.org", 0, false, 0},
        // 18: to the next '"' inclusive, or through the line end.
        RoutineCase{18, "\"a b\" c", 0, true, 5}, RoutineCase{18, "\"ab\rc\"", 0, true, 4},
        RoutineCase{18, "\"ab", 0, true, 3},
        // 19: to the line end, but not into "-->".
        RoutineCase{19, "// x\ry", 0, true, 4}, RoutineCase{19, "// a --> b", 0, true, 5},
        RoutineCase{19, "//-- x", 0, true, 6}, RoutineCase{19, "// a---> b", 0, true, 4},
        // Numbers that name no routine refuse.
        RoutineCase{6, "abc", 0, false, 0}, RoutineCase{21, "abc", 0, false, 0}));
