// The HTML and RTF writers over hand-set token bytes, and the ways they are reached: save
// formats, the save message, copy and export to a file.
#include "EditorTestUtil.h"
#include "core/editor/CodeMemoMessages.h"
#include "core/platform/FakeUi.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace morvane::editor {
namespace {

using test::Load;

// A control whose look is fixed: token 1 is a bold blue keyword, token 2 italic red on yellow.
struct LookMemo : TCustomCodeMemo {
    TExportLook look = [] {
        TExportLook l;
        l.date = "DATE";
        l.title = "a<b>&c.txt";
        l.fontName = "Mono \"X\"";
        l.styles[0] = {0x000000, 0xFFFFFF, 0, true};
        l.styles[3] = {0x0000FF, 0xFFFFFF, 1, true};
        l.styles[4] = {0xFF0000, 0xFFFF00, 2, true};
        l.tokenStyle[1] = 3;
        l.tokenStyle[2] = 4;
        return l;
    }();
    TExportLook ExportLook() const override { return look; }
    int prepared = 0;
    void PrepareExport() override { ++prepared; }
};

// Gives every record token bytes from a string of digits of the text's length.
void Tokens(TCustomCodeMemo& m, std::string_view digits) {
    TTextStore& s = m.Store();
    std::size_t at = 0;
    for (RecIndex r = 0; r < s.Count(); ++r) {
        std::string_view t = s.Text(r);
        std::vector<std::uint8_t> b(t.size());
        for (std::size_t i = 0; i < t.size(); ++i)
            b[i] = static_cast<std::uint8_t>(digits[at + i] - '0');
        at += t.size();
        s.SetAttrs(r, b.data());
    }
}

std::string Save(TCustomCodeMemo& m, TTextForm form) {
    std::string out;
    m.Perform(SM_GETSELTEXT, form, reinterpret_cast<std::intptr_t>(&out));
    return out;
}

std::string Body(const std::string& html) {
    const std::string open = "\">", close = "</PRE>";
    std::size_t a = html.find(open, html.find("<FONT FACE=")) + open.size();
    return html.substr(a, html.find(close) - a);
}

TEST(HtmlExport, WholePageWithStylesEscapesAndClosedTags) {
    LookMemo m;
    Load(m, "if a<b\rx");
    Tokens(m, "110000000");
    m.SetSelection(-1, 0);
    EXPECT_EQ(Save(m, tfHTML), "<HTML><HEAD>\r\n"
                               "<META NAME=\"Generator\" CONTENT=\"Morvane TCodeMemo\">\r\n"
                               "<TITLE>a&lt;b&gt;&amp;c.txt</TITLE>\r\n"
                               "<META NAME=\"Date\" CONTENT=\"DATE\">\r\n"
                               "</HEAD>\r\n"
                               "<BODY TEXT=\"#000000\" BGCOLOR=\"#ffffff\">\r\n"
                               "<PRE>\r\n<FONT FACE=\"Mono &quot;X&quot;\">"
                               "</FONT><FONT COLOR=\"#0000ff\"><B>if</FONT><FONT COLOR=\"#000000\">"
                               "</B> a&lt;b\r\nx</PRE></FONT></BODY></HTML>\r\n");
    EXPECT_EQ(m.prepared, 1);
    // A run still bold at the end is closed; the charset is declared when set.
    Tokens(m, "00000002");
    m.look.charset = "UTF-8";
    std::string page = Save(m, tfHTML);
    EXPECT_NE(page.find("CONTENT=\"text/html; charset=UTF-8\""), std::string::npos);
    EXPECT_NE(page.find("<I>x</I></PRE></FONT>"), std::string::npos) << page;
}

TEST(HtmlExport, CharacterEscapes) {
    LookMemo m;
    Load(m, std::string("\t\xA0\"<>&lt;\xE9\x80\x01\x00z\x1F.", 16));
    m.SetSelection(-1, 0);
    EXPECT_EQ(Body(Save(m, tfHTML)), "        &nbsp;&quot;&lt;&gt;&amp;lt;&#233;&#128;z.");
}

// A TAB is the spaces up to the editor's next stop, counted in display columns from the line's
// start: set stops first, then every tab width; a wide character takes two columns.
TEST(HtmlExport, TabsKeepTheirAlignment) {
    LookMemo m;
    m.look.charset = "UTF-8";
    m.look.tabWidth = 4;
    m.look.tabColumns = {3, 10};
    Load(m, "\tx\tyz\tw\tv\ra\xE6\x97\xA5\tb\r\t");
    m.SetSelection(-1, 0);
    EXPECT_EQ(Body(Save(m, tfHTML)), "   x      yz    w   v\r\n"
                                     "a\xE6\x97\xA5       b\r\n"
                                     "   ");

    // The editor's own tab width and stops reach the page: each TAB ends where the editor
    // puts the next character.
    TCustomCodeMemo editor;
    editor.SetTabDefault(5);
    editor.SetTabColumns("4 12");
    const std::string line = "\tx\tyz\tw\ta\xE6\x97\xA5\tb";
    Load(editor, line);
    editor.SetSelection(-1, 0);
    EXPECT_EQ(Body(Save(editor, tfHTML)), "   x       yz  w    a\xE6\x97\xA5  b");
    EXPECT_EQ(editor.ColumnOf(0, line.size() - 1), 25);
}

// A page declared UTF-8 carries the characters as they are; a stray byte, which no UTF-8 page
// can hold, becomes the replacement character instead of a Latin-1 letter.
TEST(HtmlExport, Utf8PageKeepsCharacters) {
    LookMemo m;
    m.look.charset = "UTF-8";
    Load(m, "caf\xC3\xA9 \xE6\x97\xA5 \xA9<");
    m.SetSelection(-1, 0);
    EXPECT_EQ(Body(Save(m, tfHTML)), "caf\xC3\xA9 \xE6\x97\xA5 &#xFFFD;&lt;");
}

TEST(HtmlExport, LineBreaksOnlyWhereTheTextHasThem) {
    LookMemo m;
    std::string longLine(5000, 'q');
    Load(m, "ab\r" + longLine + "\rend");
    ASSERT_GT(m.LineCount(), 3); // the long line takes several records
    m.SetSelection(-1, 0);
    EXPECT_EQ(Body(Save(m, tfHTML)), "ab\r\n" + longLine + "\r\nend");
    // A selection starting and ending inside records.
    m.SetSelection(1, 3 + 3000);
    EXPECT_EQ(Body(Save(m, tfHTML)), "b\r\n" + longLine.substr(0, 3000));
    // Wrapped rows are one line too.
    m.SetOptions(m.Options() | smoWordWrap);
    m.SetWrapAtColumn(10);
    Load(m, "one two three four five six");
    m.SetSelection(-1, 0);
    EXPECT_EQ(Body(Save(m, tfHTML)), "one two three four five six");
}

// The page's text read back: tags dropped, references decoded, each CR LF one CR.
std::string PageText(const std::string& body) {
    std::string out;
    for (std::size_t i = 0; i < body.size();) {
        if (body[i] == '<') {
            i = body.find('>', i) + 1;
        } else if (body[i] == '&') {
            std::size_t end = body.find(';', i);
            std::string ref = body.substr(i + 1, end - i - 1);
            if (ref[0] == '#')
                out += char(std::stoi(ref.substr(1)));
            else
                out += ref == "lt"     ? '<'
                       : ref == "gt"   ? '>'
                       : ref == "amp"  ? '&'
                       : ref == "quot" ? '"'
                                       : '\xA0';
            i = end + 1;
        } else if (body.compare(i, 2, "\r\n") == 0) {
            out += '\r';
            i += 2;
        } else {
            out += body[i++];
        }
    }
    return out;
}

TEST(HtmlExport, AnySelectionOfAnyTextReadsBack) {
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        LookMemo m;
        for (int s = 1; s < 6; ++s)
            m.look.styles[s] = {std::uint32_t(rng() & 0xFFFFFF), 0xFFFFFF, std::uint8_t(rng() & 7),
                                true};
        for (int t = 0; t < 256; ++t)
            m.look.tokenStyle[t] = std::uint8_t(t % 6);
        std::string text(std::size_t(rng() % 6000), '\0');
        for (char& c : text)
            c = rng() % 4 ? char(" ab<&\r\t\xE9"[rng() % 8]) : char(rng());
        Load(m, text);
        std::string digits;
        for (std::size_t i = 0; i < std::size_t(m.TextLength()); ++i)
            digits += char('0' + rng() % 6);
        Tokens(m, digits);
        TextOffset a = m.TextLength() ? TextOffset(rng() % m.TextLength()) : 0;
        TextOffset b = m.TextLength() ? TextOffset(rng() % m.TextLength()) : 0;
        m.SetSelection(a, b);
        std::string expected;
        int column = 0; // TABs to stops every 8 columns, each byte one column
        for (char c : m.SelText()) {
            if (c == '\t') {
                expected.append(std::size_t(8 - column % 8), ' ');
                column += 8 - column % 8;
                continue;
            }
            column = c == '\r' ? 0 : column + 1;
            if (c == '\r' || static_cast<unsigned char>(c) >= 32) expected += c;
        }
        ASSERT_EQ(PageText(Body(Save(m, tfHTML))), expected) << "round " << round;
    }
}

TEST(RtfExport, DocumentEscapesAndColourTable) {
    LookMemo m;
    Load(m, std::string("if {x}\\'\t\xE9\f\x01\x00y\rz", 17));
    Tokens(m, "11000000000000000");
    m.look.fontName = "A;B{\\}";
    m.look.fontSize = 9;
    m.SetSelection(-1, 0);
    EXPECT_EQ(
        Save(m, tfRTF),
        "{\\rtf1\\ansi\\ansicpg1252\\uc1 \\deff1{\\fonttbl {\\f1 \\fnil A\\'3bB\\{\\\\\\};}}\r\n"
        "{\\colortbl\\red0\\green0\\blue0;\\red255\\green255\\blue255;"
        "\\red0\\green0\\blue255;\\red255\\green0\\blue0;\\red255\\green255\\blue0;}\r\n"
        "{\\f1\\fs18\\cf0\\cb1 \\b1 \\cf2 if\\b0 \\cf0  \\{x\\}\\\\\\'27\\tab \\u233\\'e9\\page "
        "\\'01y\\line \r\nz\r\n}}");
}

// Characters above ASCII are Unicode numbers (signed 16 bits, surrogate pairs beyond the BMP),
// read in the text's encoding, each followed by the code page's byte for it or '?' (always as a
// hex escape); a stray byte is U+FFFD.
TEST(RtfExport, CharactersAboveAsciiAreUnicodeNumbersWithACodePageFallback) {
    LookMemo m;
    m.look.charset = "UTF-8";
    Load(m, "caf\xC3\xA9 \xE6\x97\xA5 \xED\x95\x9C\xE2\x82\xAC \xF0\x9F\x98\x80 \xFF");
    m.SetSelection(-1, 0);
    std::string rtf = Save(m, tfRTF);
    EXPECT_NE(rtf.find("caf\\u233\\'e9 \\u26085\\'3f \\u-10916\\'3f\\u8364\\'80 "
                       "\\u-10179\\'3f\\u-8704\\'3f \\u-3\\'3f\r\n"),
              std::string::npos)
        << rtf;
    EXPECT_EQ(rtf.find("\\'c3"), std::string::npos);
    // So are those of a font name, which the font system gives as UTF-8.
    m.look.fontName = "Mono \xC3\xA9";
    EXPECT_NE(Save(m, tfRTF).find("\\fnil Mono \\u233\\'e9;}"), std::string::npos);
    // The same characters from a single-byte text.
    m.look.charset = "Windows-1252";
    Load(m, "\x80\xE9\x81");
    m.SetSelection(-1, 0);
    EXPECT_NE(Save(m, tfRTF).find(" \\u8364\\'80\\u233\\'e9\\u129\\'81\r\n"), std::string::npos);
    m.look.charset = "ISO-8859-15";
    Load(m, "\xA4");
    m.SetSelection(-1, 0);
    EXPECT_NE(Save(m, tfRTF).find(" \\u8364\\'80\r\n"), std::string::npos);
}

TEST(RtfExport, ColourTableSizes) {
    // Styles that all use the default colours: two entries.
    LookMemo m;
    m.look.styles[3] = {0x000000, 0xFFFFFF, 1, true};
    m.look.styles[4] = {0x000000, 0xFFFFFF, 2, true};
    Load(m, "ab");
    Tokens(m, "12");
    m.SetSelection(-1, 0);
    std::string rtf = Save(m, tfRTF);
    EXPECT_NE(rtf.find("{\\colortbl\\red0\\green0\\blue0;\\red255\\green255\\blue255;}"),
              std::string::npos);
    EXPECT_NE(rtf.find("\\b1 a\\b0 \\i1 b"), std::string::npos) << rtf;

    // 150 styles of two new colours each want 300 entries; the table stops at 256 and a
    // colour left out is written as the defaults.
    for (int i = 1; i <= 150; ++i)
        m.look.styles[i] = {std::uint32_t(0x100000 + i), std::uint32_t(0x200000 + i), 0, true};
    m.look.tokenStyle[1] = 1;
    m.look.tokenStyle[2] = 150;
    rtf = Save(m, tfRTF);
    std::size_t a = rtf.find("{\\colortbl"), b = rtf.find('}', a);
    std::string table = rtf.substr(a, b - a);
    EXPECT_EQ(std::count(table.begin(), table.end(), ';'), 256);
    EXPECT_NE(rtf.find("\\cf2 \\cb3 a\\cf0 \\cb1 b"), std::string::npos) << rtf.substr(b);
}

TEST(Export, EmptySelectionAndEmptyText) {
    LookMemo m;
    Load(m, "abc");
    m.SetSelection(1, 1);
    EXPECT_EQ(Body(Save(m, tfHTML)), "");
    std::string rtf = Save(m, tfRTF);
    EXPECT_EQ(rtf.substr(rtf.size() - 7), "\\cb1 }}");
    Load(m, "");
    m.SetSelection(-1, 0);
    EXPECT_EQ(Body(Save(m, tfHTML)), "");
}

TEST(Export, SaveFormatsAndMessageFlagsLeaveTheDocumentModified) {
    LookMemo m;
    Load(m, "abc");
    m.SetSelection(3, 3);
    m.ReplaceSel("d");
    ASSERT_TRUE(m.Modified());
    m.SetSelection(1, 2);
    m.SetSaveFormat(sfHTML);
    TMemoryStream html;
    m.SaveToStream(&html);
    EXPECT_EQ(Body(html.Data()), "abcd"); // the whole text, whatever is selected
    EXPECT_TRUE(m.Modified());            // an export is no save of the document
    EXPECT_EQ(m.SelStart(), 1);
    m.SetSaveFormat(sfRTF);
    TMemoryStream rtf;
    m.SaveToStream(&rtf);
    EXPECT_NE(rtf.Data().find("\\cb1 abcd\r\n}}"), std::string::npos);
    EXPECT_TRUE(m.Modified());
    // The save message writes the selection for flags 4 and 2.
    TMemoryStream sel;
    m.Perform(SM_SAVESTREAM, tfHTML, reinterpret_cast<std::intptr_t>(&sel));
    EXPECT_EQ(Body(sel.Data()), "b");
    m.SetSaveFormat(sfUNIX);
    TMemoryStream text;
    m.SaveToStream(&text);
    EXPECT_FALSE(m.Modified());
}

TEST(Export, CopyPutsRichTextAndHtmlBesidePlainText) {
    LookMemo m;
    platform::FakeClipboard clip;
    m.SetClipboard(&clip);
    Load(m, "x<y\rz");
    m.SetSelection(1, 4);
    ASSERT_TRUE(m.CopyToClipboard());
    EXPECT_EQ(clip.contents["text/plain"], "<y\n");
    EXPECT_EQ(Body(clip.contents["text/html"]), "&lt;y\r\n");
    EXPECT_NE(clip.contents["text/rtf"].find("\\cb1 <y\\line \r\n}}"), std::string::npos);
    m.SetClipCopyFormats(smTEXT);
    m.CopyToClipboard();
    EXPECT_EQ(clip.contents.count("text/html"), 0u);
    // A selection past the limit goes as text alone.
    m.SetClipCopyFormats(smTEXT | smRTF);
    Load(m, std::string(std::size_t(TCustomCodeMemo::kMaxFormattedCopy) + 1, 'x'));
    m.SetSelection(-1, 0);
    m.CopyToClipboard();
    EXPECT_EQ(clip.contents["text/plain"].size(),
              std::size_t(TCustomCodeMemo::kMaxFormattedCopy) + 1);
    EXPECT_EQ(clip.contents.count("text/html") + clip.contents.count("text/rtf"), 0u);
}

TEST(Export, ToFileTakesTheSelectionOrTheWholeText) {
    morvane::testing::TempDir dir;
    LookMemo m;
    Load(m, "one\rtwo");
    auto read = [](const std::string& p) { return morvane::testing::readFile(p); };
    std::string path = dir / "out.html";
    m.ExportToFile(path, tfHTML);
    EXPECT_EQ(Body(read(path)), "one\r\ntwo");
    m.SetSelection(4, 7);
    m.ExportToFile(path, tfRTF);
    EXPECT_NE(read(path).find("\\cb1 two\r\n}}"), std::string::npos);
    EXPECT_EQ(m.SelStart(), 4);
    EXPECT_THROW(m.ExportToFile(dir.path().string(), tfHTML), EFileSaveError);
    EXPECT_THROW(m.ExportToFile(path, tfLF), ECodeMemo);
}

} // namespace
} // namespace morvane::editor
