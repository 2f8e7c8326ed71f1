#include "core/net/ListingParser.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace morvane::net;

namespace {

std::vector<TDirectoryEntry> ParseAll(std::string text, std::uint8_t type = 1) {
    TListingParser p;
    std::vector<TDirectoryEntry> out;
    auto report = [&](const TDirectoryEntry& e) {
        out.push_back(e);
        return true;
    };
    p.Parse(text, type, report);
    p.Finish(report);
    return out;
}

} // namespace

TEST(ListLine, FieldsOfAFileWithBlanksInItsName) {
    TDirectoryEntry e;
    ASSERT_TRUE(ParseListLine("-rw-r--r--   1 alice staff   1024 Jan  5 12:30 my file.txt", e));
    EXPECT_EQ(e.Name, "my file.txt");
    EXPECT_EQ(e.Date, "Jan 5 12:30");
    EXPECT_EQ(e.Size, 1024);
    EXPECT_EQ(e.Kind, 0);
    EXPECT_EQ(e.Owner, "alice");
    EXPECT_EQ(e.Group, "staff");
    EXPECT_EQ(e.Attributes, "-rw-r--r--");
}

TEST(ListLine, DirectoriesLinksAndOddNames) {
    TDirectoryEntry e;
    ASSERT_TRUE(ParseListLine("lrwxrwxrwx 1 u g 11 Feb 1 2020 www -> public_html", e));
    EXPECT_EQ(e.Name, "www");
    EXPECT_EQ(e.Kind, 1);
    EXPECT_EQ(e.LinkTarget, "public_html");
    ASSERT_TRUE(ParseListLine("drwxr-xr-x 2 u g 4096 Feb 1 2020 docs", e));
    EXPECT_EQ(e.Kind, 1);
    EXPECT_EQ(e.LinkTarget, ""); // nothing left from the line before
    // An arrow in a plain file's name is part of the name; so are tabs and raw bytes.
    ASSERT_TRUE(ParseListLine("-rw-r--r-- 1 u g 3 Feb 1 2020 a->b\tc\xe9\xff", e));
    EXPECT_EQ(e.Name, "a->b\tc\xe9\xff");
    EXPECT_EQ(e.Kind, 0);
    // Only a link's name ends at " ->": a file or folder may have the arrow in its name.
    ASSERT_TRUE(ParseListLine("-rw-r--r-- 1 u g 3 Feb 1 2020 a -> b", e));
    EXPECT_EQ(e.Name, "a -> b");
    EXPECT_EQ(e.Kind, 0);
    ASSERT_TRUE(ParseListLine("drwxr-xr-x 2 u g 4096 Feb 1 2020 old -> new", e));
    EXPECT_EQ(e.Name, "old -> new");
}

TEST(Listing, OverlongLinesAreSkippedAsTheyArrive) {
    const std::string entry = "-rw-r--r-- 1 u g 1 Jan 1 2020 ";
    for (const char* end : {"\r\n", "\n"}) {
        SCOPED_TRACE(std::string(end).size());
        TListingParser p;
        std::vector<std::string> names;
        auto report = [&](const TDirectoryEntry& e) {
            names.push_back(e.Name);
            return true;
        };
        std::string buffer = entry + "before" + end + entry;
        std::size_t most = 0;
        // One name of 1 MB arriving in pieces, the CR of its end in a piece of its own.
        for (int i = 0; i < 256; ++i) {
            buffer += std::string(4096, 'n');
            ASSERT_TRUE(p.Parse(buffer, 1, report));
            most = std::max(most, buffer.size());
        }
        if (std::string(end).size() == 2) {
            buffer += "\r";
            ASSERT_TRUE(p.Parse(buffer, 1, report));
        }
        buffer += std::string("\n") + entry + "after" + end;
        ASSERT_TRUE(p.Parse(buffer, 1, report));
        ASSERT_TRUE(p.Finish(report));
        EXPECT_LE(most, TListingParser::MaxLine + 4096);
        EXPECT_EQ(p.SkippedLines(), 1);
        EXPECT_EQ(names, (std::vector<std::string>{"before", "after"}));
    }
    // A complete line over the limit in one piece is skipped too.
    auto one = ParseAll(entry + std::string(TListingParser::MaxLine, 'n') + "\n" + entry + "ok\n");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].Name, "ok");
}

TEST(ListLine, MissingGroupColumnShiftsFields) {
    TDirectoryEntry e;
    ASSERT_TRUE(ParseListLine("-rw-r--r-- 1 alice 77 Mar 3 2001 notes", e));
    EXPECT_EQ(e.Size, 77);
    EXPECT_EQ(e.Owner, "1");
    EXPECT_EQ(e.Group, "alice");
    EXPECT_EQ(e.Date, "Mar 3 2001");
    EXPECT_EQ(e.Name, "notes");
}

TEST(ListLine, SizesAre64BitAndNonEntriesFail) {
    TDirectoryEntry e;
    ASSERT_TRUE(ParseListLine("-rw-r--r-- 1 u g 3000000000 Jan 1 2020 big.iso", e));
    EXPECT_EQ(e.Size, 3000000000LL);
    ASSERT_TRUE(ParseListLine("-rw-r--r-- 1 u g 99999999999999999999999 Jan 1 2020 huge", e));
    EXPECT_EQ(e.Size, 0); // does not fit
    EXPECT_FALSE(ParseListLine("total 12", e));
    EXPECT_FALSE(ParseListLine("a 1 2", e));
    EXPECT_FALSE(ParseListLine("01-02-20  10:00AM       <DIR>          folder", e));
    EXPECT_FALSE(ParseListLine("-rw-r--r-- 1 u g 5 Jan 1 2020", e)); // no name
    EXPECT_FALSE(ParseListLine("", e));
}

TEST(Listing, TotalLineLineEndsAndIncompleteLastLine) {
    auto crlf = ParseAll("total 8\r\n-rw-r--r-- 1 u g 1 Jan 1 2020 a\r\n"
                         "-rw-r--r-- 1 u g 2 Jan 1 2020 b\r\n");
    auto lf = ParseAll("total 8\n-rw-r--r-- 1 u g 1 Jan 1 2020 a\n"
                       "-rw-r--r-- 1 u g 2 Jan 1 2020 b\n");
    ASSERT_EQ(crlf.size(), 2u);
    ASSERT_EQ(lf.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(crlf[i].Name, lf[i].Name);
        EXPECT_EQ(crlf[i].Size, lf[i].Size);
    }
    auto partial = ParseAll("-rw-r--r-- 1 u g 1 Jan 1 2020 a\n-rw-r--r-- 1 u g 2 Jan 1 2020 b");
    ASSERT_EQ(partial.size(), 1u);
    EXPECT_EQ(partial[0].Name, "a");
    // A file called "totally" on the first line is an entry, not a total line.
    auto named = ParseAll("-rw-r--r-- 1 u g 1 Jan 1 2020 totally\n");
    ASSERT_EQ(named.size(), 1u);
}

std::vector<std::string> Names(const std::vector<TDirectoryEntry>& entries) {
    std::vector<std::string> names;
    for (auto& e : entries)
        names.push_back(e.Name);
    return names;
}

TEST(Listing, BadLinesAreSkippedAndTheEntryBeforeThemKept) {
    // Whatever the line ends, a line that is no entry never takes the entry before it along.
    for (std::string end : {"\r\n", "\n"}) {
        auto out = ParseAll("-rw-r--r-- 1 u g 1 Jan 1 2020 a" + end +
                            "ls: cannot access 'c.txt': Permission denied" + end +
                            "-rw-r--r-- 1 u g 2 Jan 1 2020 b" + end + "\t" + end +
                            "-rw-r--r-- 1 u g 3 Jan 1 2020 c" + end + "total 5" + end +
                            "-rw-r--r-- 1 u g 4 Jan 1 2020 d" + end + "x" + end);
        EXPECT_EQ(Names(out), (std::vector<std::string>{"a", "b", "c", "d"}));
    }
}

TEST(Listing, NamesWithLineBreaksAreDroppedWhole) {
    // In a CR LF listing a bare LF inside an entry line belongs to its name, however the rest
    // of the name looks: the whole entry goes, and what follows is reported.
    auto out = ParseAll("-rw-r--r-- 1 u g 1 Jan 1 2020 first half\nsecond half\r\n"
                        "-rw-r--r-- 1 u g 2 Jan 1 2020 b\r\n"
                        "-rw-r--r-- 1 u g 3 Jan 1 2020 x\n-rw-r--r-- 1 u g 9 Jan 1 2020 y\n"
                        "z\r\n"
                        "-rw-r--r-- 1 u g 4 Jan 1 2020 c\r\n");
    EXPECT_EQ(Names(out), (std::vector<std::string>{"b", "c"}));
    // The first entry of the listing is judged by the line after it.
    EXPECT_EQ(Names(ParseAll("-rw-r--r-- 1 u g 1 Jan 1 2020 a\nb\r\n")),
              std::vector<std::string>{});
    // With bare LF everywhere nothing tells a name's rest from a bad line: the entry stays.
    EXPECT_EQ(Names(ParseAll("-rw-r--r-- 1 u g 1 Jan 1 2020 first half\nsecond half\n")),
              std::vector<std::string>{"first half"});
}

TEST(Listing, AReportCanStopTheParser) {
    TListingParser p;
    std::string buf = "-rw-r--r-- 1 u g 1 Jan 1 2020 a\n-rw-r--r-- 1 u g 2 Jan 1 2020 b\n"
                      "-rw-r--r-- 1 u g 3 Jan 1 2020 c\n";
    int reports = 0;
    EXPECT_FALSE(p.Parse(buf, 1, [&](const TDirectoryEntry&) {
        ++reports;
        return false;
    }));
    EXPECT_EQ(reports, 1);
}

TEST(Listing, ArrivesInPiecesAndOtherSystemsReportNothing) {
    TListingParser p;
    std::vector<TDirectoryEntry> out;
    auto report = [&](const TDirectoryEntry& e) {
        out.push_back(e);
        return true;
    };
    std::string buf = "-rw-r--r-- 1 u g 1 Jan 1 2020 a";
    p.Parse(buf, 1, report);
    EXPECT_TRUE(out.empty());
    buf += "\n-rw-r--r-- 1 u g 2 Jan";
    p.Parse(buf, 1, report);
    buf += " 1 2020 b\n";
    p.Parse(buf, 1, report);
    p.Finish(report);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].Name, "b");
    EXPECT_TRUE(buf.empty());
    EXPECT_TRUE(ParseAll("-rw-r--r-- 1 u g 1 Jan 1 2020 a\n", 3).empty());
    EXPECT_TRUE(ParseAll("-rw-r--r-- 1 u g 1 Jan 1 2020 a\n", 2).empty());
}
