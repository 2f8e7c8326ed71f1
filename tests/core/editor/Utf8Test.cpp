// Document encodings: reading bytes as characters, the encoding chosen on open, cells, caret
// movement and typing on characters, and a randomised edit run that must keep every byte.

#include "EditorTestUtil.h"

#include "core/editor/TextEncoding.h"
#include "core/platform/FakeUi.h"

#include <gtest/gtest.h>

#include <random>

namespace morvane::editor {
namespace {

using test::Load;
using test::Stored;

constexpr auto kUtf8 = TTextEncoding::teUTF8;
constexpr auto k1252 = TTextEncoding::teWindows1252;

// Lengths and validity of the characters of s, read one after the other.
std::vector<std::pair<int, bool>> Chars(std::string_view s, TTextEncoding e = kUtf8) {
    std::vector<std::pair<int, bool>> out;
    for (std::size_t i = 0; i < s.size();) {
        TCharInfo c = DecodeChar(e, s, i);
        out.emplace_back(c.length, c.valid);
        i += c.length;
    }
    return out;
}

using CharList = std::vector<std::pair<int, bool>>;

TEST(TextEncodingTest, Utf8IsReadStrictlyAndEveryBadByteIsACharacterOfItsOwn) {
    EXPECT_EQ(Chars("a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"),
              (CharList{{1, true}, {2, true}, {3, true}, {4, true}}));
    // Overlong forms, surrogates, beyond U+10FFFF, F5-FF, a lone continuation byte.
    EXPECT_EQ(Chars("\xC0\x80"), (CharList{{1, false}, {1, false}}));
    EXPECT_EQ(Chars("\xE0\x80\xAF"), (CharList{{1, false}, {1, false}, {1, false}}));
    EXPECT_EQ(Chars("\xED\xA0\x80"), (CharList{{1, false}, {1, false}, {1, false}}));
    EXPECT_EQ(Chars("\xF4\x90\x80\x80").size(), 4u);
    EXPECT_EQ(Chars("\xF5\xFF\x80"), (CharList{{1, false}, {1, false}, {1, false}}));
    // Cut short by the end, or by a byte that does not continue it.
    EXPECT_EQ(Chars("\xE6\x97"), (CharList{{1, false}, {1, false}}));
    EXPECT_EQ(Chars("\xE6\x97x"), (CharList{{1, false}, {1, false}, {1, true}}));
    EXPECT_EQ(DecodeChar(kUtf8, "\xF4\x8F\xBF\xBF", 0).code, 0x10FFFFu);
    // Single-byte encodings: every byte a character.
    EXPECT_EQ(DecodeChar(k1252, "\x80", 0).code, 0x20ACu);
    EXPECT_EQ(DecodeChar(TTextEncoding::teISO8859_15, "\xA4", 0).code, 0x20ACu);
    EXPECT_EQ(DecodeChar(TTextEncoding::teISO8859_1, "\xA4", 0).code, 0xA4u);
}

TEST(TextEncodingTest, CharacterStartsAgreeWithReadingFromTheFront) {
    const std::string s = "a\xC3\xA9\xE6\x97\xA5\x80\xF0\x9F\x98\x80\xE6\x97z";
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < s.size(); i += DecodeChar(kUtf8, s, i).length)
        starts.push_back(i);
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto it = std::upper_bound(starts.begin(), starts.end(), i) - 1;
        EXPECT_EQ(CharStart(kUtf8, s, i), *it) << i;
    }
    EXPECT_EQ(NextCharStart(kUtf8, s, 4), 6u); // from inside a character to the next one
    EXPECT_EQ(PrevCharStart(kUtf8, s, 11), 7u);
    EXPECT_EQ(PrevCharStart(kUtf8, s, 7), 6u); // the stray continuation byte
}

TEST(TextEncodingTest, CellWidths) {
    EXPECT_EQ(CellWidth(U'a'), 1);
    EXPECT_EQ(CellWidth(U'\u00E9'), 1);
    EXPECT_EQ(CellWidth(U'\u2014'), 1);
    EXPECT_EQ(CellWidth(U'\u65E5'), 2);     // CJK
    EXPECT_EQ(CellWidth(U'\uAC00'), 2);     // Hangul
    EXPECT_EQ(CellWidth(U'\uFF21'), 2);     // fullwidth A
    EXPECT_EQ(CellWidth(U'\U0001F600'), 2); // emoji
    EXPECT_EQ(CellWidth(U'\u1160'), 1);     // just after the Jamo block
    EXPECT_EQ(CellWidth(TCharInfo{1, false, 0xE6}), 1);
}

TEST(TextEncodingTest, ValidationInPiecesEqualsValidationWhole) {
    const std::vector<std::string> texts = {
        "plain",        "caf\xC3\xA9 \xE2\x80\x94 \xE6\x97\xA5\xF0\x9F\x98\x80",
        "\xE6\x97",     "x\xE0\x80\xAF",
        "\xED\xA0\x80", "ok\xF4\x90\x80\x80",
        "\xC3\xA9\xC3"};
    for (const std::string& t : texts)
        for (std::size_t a = 0; a <= t.size(); ++a)
            for (std::size_t b = a; b <= t.size(); ++b) {
                TUtf8Validator v;
                v.Feed(std::string_view(t).substr(0, a));
                v.Feed(std::string_view(t).substr(a, b - a));
                v.Feed(std::string_view(t).substr(b));
                EXPECT_EQ(v.Valid(), IsValidUtf8(t)) << t << " cut at " << a << "," << b;
            }
    EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9"));
    EXPECT_FALSE(IsValidUtf8("caf\xE9"));
}

// F0 followed by 80-8F is a code point below U+10000 written in four bytes: no character,
// whether read, validated whole or in pieces, or detected on open.
TEST(TextEncodingTest, FourByteOverlongFormsAreRefusedEverywhere) {
    for (const std::string t : {"\xF0\x80\x80\xAF", "\xF0\x8F\xBF\xBF", "\xF0\x80\x81\x81"}) {
        EXPECT_EQ(Chars(t), (CharList{{1, false}, {1, false}, {1, false}, {1, false}})) << t;
        EXPECT_EQ(CharStart(kUtf8, t, 3), 3u);
        EXPECT_FALSE(IsValidUtf8(t));
        EXPECT_FALSE(IsValidUtf8("ok " + t + " ok"));
        for (std::size_t a = 0; a <= t.size(); ++a) {
            TUtf8Validator v;
            v.Feed(std::string_view(t).substr(0, a));
            v.Feed(std::string_view(t).substr(a));
            EXPECT_FALSE(v.Valid()) << "cut at " << a;
        }
        EXPECT_EQ(DetectEncoding("abc" + t), k1252);
    }
    // The first four-byte form, for contrast.
    EXPECT_EQ(Chars("\xF0\x90\x80\x80"), (CharList{{4, true}}));
    EXPECT_TRUE(IsValidUtf8("\xF0\x90\x80\x80"));
}

TEST(TextEncodingTest, ConversionRefusesWhatASingleByteEncodingCannotHold) {
    std::string out;
    EXPECT_TRUE(FromUtf8(k1252, "\xE2\x82\xAC \xC3\xA9", out));
    EXPECT_EQ(out, "\x80 \xE9");
    char32_t refused = 0;
    out.clear();
    EXPECT_FALSE(FromUtf8(k1252, "a\xE6\x97\xA5", out, &refused));
    EXPECT_EQ(refused, 0x65E5u);
    EXPECT_EQ(out, ""); // nothing half-converted
    EXPECT_EQ(ToUtf8(k1252, "\x80\xE9"), "\xE2\x82\xAC\xC3\xA9");
    EXPECT_EQ(ToUtf8(kUtf8, "a\xE9z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(EncodingFromName("utf8"), kUtf8);
    EXPECT_EQ(EncodingFromName("windows-1252"), k1252);
    EXPECT_FALSE(EncodingFromName("EBCDIC"));
}

TEST(EncodingOnOpenTest, ValidUtf8OpensAsUtf8AndAnythingElseAsWindows1252) {
    TCustomCodeMemo m;
    Load(m, "ascii only\n");
    EXPECT_EQ(m.Encoding(), kUtf8);
    Load(m, "caf\xC3\xA9\n");
    EXPECT_EQ(m.Encoding(), kUtf8);
    Load(m, "caf\xE9\n");
    EXPECT_EQ(m.Encoding(), k1252);
    // One bad byte in the last megabyte of a large file.
    std::string big;
    while (big.size() < 3u << 20)
        big += "\xE6\x97\xA5\xE6\x9C\xAC caf\xC3\xA9\n";
    Load(m, big);
    EXPECT_EQ(m.Encoding(), kUtf8);
    big[big.size() - 1000] = '\xFF';
    Load(m, big);
    EXPECT_EQ(m.Encoding(), k1252);
    EXPECT_EQ(Stored(m), test::RefNormalise(big));
    // A sequence cut by the end of the file.
    Load(m, "ok\xE6\x97");
    EXPECT_EQ(m.Encoding(), k1252);
    // UTF-16 with its mark is opened as its bytes.
    Load(m, std::string("\xFF\xFEh\0i\0", 6));
    EXPECT_EQ(m.Encoding(), k1252);
    EXPECT_EQ(Stored(m), std::string("\xFF\xFEh\0i\0", 6));
}

TEST(EncodingOnOpenTest, TheByteOrderMarkIsKeptAndTheLineStartStopsAfterIt) {
    TCustomCodeMemo m;
    const std::string text = "\xEF\xBB\xBFline one\nline two\n";
    Load(m, text);
    EXPECT_EQ(m.Encoding(), kUtf8);
    EXPECT_TRUE(m.HasBom());
    m.SetSelection(6, 6);
    m.ExecuteCommand(ecLineStart, 0, false);
    EXPECT_EQ(m.Caret(), 3);
    m.ExecuteCommand(ecDocEnd, 0, false);
    m.ExecuteCommand(ecDocStart, 0, false);
    EXPECT_EQ(m.Caret(), 3);
    m.KeyPress('X');
    TMemoryStream out;
    m.SaveToStream(&out);
    EXPECT_EQ(out.Data(), "\xEF\xBB\xBFXline one\nline two\n");
}

TEST(EncodingOnOpenTest, RecordsNeverSplitACharacter) {
    // Lines of many kilobytes of 3- and 4-byte characters are cut into records, with and
    // without wrapping; each record must hold whole characters.
    std::string line;
    for (int i = 0; line.size() < 9000; ++i)
        line += i % 5 ? "\xE6\x97\xA5" : "\xF0\x9F\x98\x80";
    for (bool wrap : {false, true}) {
        TCustomCodeMemo m;
        m.SetWordWrap(wrap);
        m.SetWrapAtColumn(41);
        Load(m, line + "\n" + line);
        for (RecIndex r = 0; r < m.LineCount(); ++r) {
            std::string_view t = m.Store().Text(r);
            for (std::size_t i = 0; i < t.size(); i += DecodeChar(kUtf8, t, i).length)
                ASSERT_TRUE(DecodeChar(kUtf8, t, i).valid) << "record " << r << " byte " << i;
        }
        EXPECT_EQ(Stored(m), line + "\r" + line);
    }
}

TEST(CharacterCaretTest, MovesOverWideAndInvalidCharactersAndCountsCells) {
    TCustomCodeMemo m;
    // a, é, 日, a stray byte, an emoji, z
    const std::string text = "a\xC3\xA9\xE6\x97\xA5\x80\xF0\x9F\x98\x80z\n";
    Load(m, text);
    EXPECT_EQ(m.Encoding(), k1252); // the stray byte
    m.SetEncoding(kUtf8);
    const std::vector<TextOffset> stops = {0, 1, 3, 6, 7, 11, 12};
    const std::vector<DisplayColumn> columns = {1, 2, 3, 5, 6, 8, 9};
    for (std::size_t k = 0; k < stops.size(); ++k) {
        EXPECT_EQ(m.Caret(), stops[k]);
        EXPECT_EQ(m.CaretPosition().column, columns[k]) << k;
        if (k + 1 < stops.size()) m.ExecuteCommand(ecCursorRight, 0, false);
    }
    for (std::size_t k = stops.size() - 1; k > 0; --k) {
        m.ExecuteCommand(ecCursorLeft, 0, true);
        EXPECT_EQ(m.Caret(), stops[k - 1]);
        EXPECT_EQ(m.Anchor(), 12);
    }
    // A click in either cell of the wide character lands before it, or after it when nearer.
    EXPECT_EQ(m.IndexAtColumn(0, 2), 3u);
    EXPECT_EQ(m.IndexAtColumn(0, 3), 3u);
    EXPECT_EQ(m.IndexAtColumn(0, 4), 6u);
    // Backspace and Delete take whole characters.
    m.SetSelection(6, 6);
    m.ExecuteCommand(ecDeleteLastChar, 0, false);
    EXPECT_EQ(Stored(m), "a\xC3\xA9\x80\xF0\x9F\x98\x80z\r");
    m.ExecuteCommand(ecDeleteChar, 0, false);
    EXPECT_EQ(Stored(m), "a\xC3\xA9\xF0\x9F\x98\x80z\r");
    m.ExecuteCommand(ecDeleteChar, 0, false);
    EXPECT_EQ(Stored(m), "a\xC3\xA9z\r");
    // The same bytes read as Windows-1252 are one character each.
    m.SetEncoding(k1252);
    m.SetSelection(1, 1);
    m.ExecuteCommand(ecCursorRight, 0, false);
    EXPECT_EQ(m.Caret(), 2);
}

TEST(CharacterCaretTest, RowsCarryCharactersWideTailsAndByteMarks) {
    TCustomCodeMemo m;
    Load(m, "a\xE6\x97\xA5\xFF\tz\n");
    m.SetEncoding(kUtf8);
    auto rows = m.LayoutRows();
    ASSERT_EQ(rows.size(), 1u);
    // The TAB at column 4 spreads to the stop at 8.
    const std::vector<char32_t> want = {U'a', 0x65E5, kWideTail, kByteMark + 0xFF, U' ', U' ',
                                        U' ', U' ',   U'z'};
    EXPECT_EQ(rows[0].chars, want);
    EXPECT_EQ(rows[0].cells.size(), want.size());
    EXPECT_EQ(rows[0].endColumn, 9);
    m.SetSelection(1, 4);
    rows = m.LayoutRows();
    EXPECT_EQ(rows[0].selFrom, 1);
    EXPECT_EQ(rows[0].selTo, 3);
}

TEST(CharacterTypingTest, TypedCharactersGoInEncodedAndUnencodableOnesAreRefused) {
    TCustomCodeMemo m;
    Load(m, "x\n");
    m.SetSelection(1, 1);
    EXPECT_TRUE(m.TypeCharacter(U'\u00E9'));
    EXPECT_TRUE(m.TypeCharacter(U'\U0001F600'));
    EXPECT_EQ(Stored(m), "x\xC3\xA9\xF0\x9F\x98\x80\r");
    EXPECT_EQ(m.Caret(), 7);
    m.Undo();
    m.Undo();
    EXPECT_EQ(Stored(m), "x\r");

    Load(m, "caf\xE9\n");
    ASSERT_EQ(m.Encoding(), k1252);
    char32_t refused = 0;
    m.OnCharRefused = [&](TCustomCodeMemo*, char32_t c) { refused = c; };
    m.SetSelection(4, 4);
    EXPECT_TRUE(m.TypeCharacter(U'\u20AC'));
    EXPECT_FALSE(m.TypeCharacter(U'\u65E5'));
    EXPECT_EQ(refused, 0x65E5u);
    EXPECT_EQ(Stored(m), "caf\xE9\x80\r");
    // Overwrite mode replaces one whole character.
    Load(m, "\xE6\x97\xA5\xE6\x9C\xAC\n");
    m.SetInsertMode(false);
    m.SetSelection(0, 0);
    m.TypeCharacter(U'\u00E9');
    EXPECT_EQ(Stored(m), "\xC3\xA9\xE6\x9C\xAC\r");
}

TEST(UnicodeClipboardTest, PlainTextIsUnicodeAndTheExactBytesTravelBesideIt) {
    platform::FakeClipboard clip;
    TCustomCodeMemo latin, utf8;
    latin.SetClipboard(&clip);
    utf8.SetClipboard(&clip);
    Load(latin, "caf\xE9 \x80\n");
    ASSERT_EQ(latin.Encoding(), k1252);
    latin.SetSelection(0, 6);
    latin.CopyToClipboard();
    EXPECT_EQ(clip.contents["text/plain"], "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(clip.contents[kRawTextMimeType], "caf\xE9 \x80");
    // From another program: Unicode, converted into each document's encoding.
    clip.contents = {{"text/plain", "\xC3\xA9\xE2\x82\xAC"}};
    Load(utf8, "x");
    utf8.SetSelection(1, 1);
    utf8.PasteFromClipboard();
    EXPECT_EQ(Stored(utf8), "x\xC3\xA9\xE2\x82\xAC");
    latin.SetSelection(0, 0);
    latin.PasteFromClipboard();
    EXPECT_EQ(Stored(latin), "\xE9\x80"
                             "caf\xE9 \x80\r");
    // A character the document cannot hold refuses the whole paste, with the reason.
    char32_t refused = 0;
    latin.OnCharRefused = [&](TCustomCodeMemo*, char32_t c) { refused = c; };
    clip.contents = {{"text/plain", "a\xE6\x97\xA5"}};
    latin.PasteFromClipboard();
    EXPECT_EQ(refused, 0x65E5u);
    EXPECT_EQ(Stored(latin), "\xE9\x80"
                             "caf\xE9 \x80\r");
    // Drops: text from other programs is converted, this program's exact bytes are not.
    TCustomCodeMemo::TDropOffer offer;
    offer.sourceTypes = dsPlainText;
    offer.text = "\xC3\xA9";
    EXPECT_TRUE(latin.AcceptDrop(offer, 0, {}, false, false));
    EXPECT_EQ(Stored(latin).substr(0, 2), "\xE9\xE9");
    offer.text = "\xC3\xA9";
    offer.textIsRaw = true;
    EXPECT_TRUE(latin.AcceptDrop(offer, 0, {}, false, false));
    EXPECT_EQ(Stored(latin).substr(0, 3), "\xC3\xA9\xE9");
}

// Random texts of valid UTF-8 of every length, invalid bytes and line breaks, edited by
// random character-wise moves, typing and deletion: every edit must fall on a character
// boundary, and the bytes no edit touched must come back exactly when saved.
TEST(CharacterEditFuzzTest, RandomEditsKeepCharactersWholeAndEveryOtherByte) {
    std::mt19937 rng(20240601);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const std::vector<std::string> pieces = {"a",
                                             " ",
                                             "\xC3\xA9",
                                             "\xE6\x97\xA5",
                                             "\xF0\x9F\x98\x80",
                                             "\xE2\x80\x94",
                                             "\x80",
                                             "\xFF",
                                             "\xE6\x97",
                                             "\xC0\xAF",
                                             "\xED\xA0\x80",
                                             "\t",
                                             "\n",
                                             "\xF4\x90\x80\x80"};
    const std::vector<char32_t> typed = {U'q', U'\u00E9', U'\u65E5', U'\U0001F600', U' '};
    // Character starts of each record, read record by record from the front.
    auto boundaries = [](const TCustomCodeMemo& m) {
        std::vector<bool> b(static_cast<std::size_t>(m.TextLength()) + 1, false);
        for (RecIndex r = 0; r < m.LineCount(); ++r) {
            std::string_view t = m.Store().Text(r);
            auto start = static_cast<std::size_t>(m.LineStart(r));
            for (std::size_t i = 0; i < t.size(); i += DecodeChar(kUtf8, t, i).length)
                b[start + i] = true;
        }
        b.back() = true;
        return b;
    };
    for (int round = 0; round < 30; ++round) {
        std::string raw;
        const int count = round % 5 == 0 ? 1500 : 200;
        // Every fifth text is one line of a few kilobytes: several records.
        for (int i = 0; i < count; ++i) {
            const std::string& p =
                pieces[static_cast<std::size_t>(pick(static_cast<int>(pieces.size())))];
            if (p != "\n" || round % 5 != 0) raw += p;
        }
        TCustomCodeMemo m;
        m.SetWordWrap(round % 3 == 1);
        Load(m, raw);
        m.SetEncoding(kUtf8);
        std::string model = test::RefNormalise(raw);
        ASSERT_EQ(Stored(m), model);
        for (int step = 0; step < 300; ++step) {
            const int op = pick(8);
            const TextOffset before = m.Caret();
            switch (op) {
            case 0:
            case 1:
                m.ExecuteCommand(op == 0 ? ecCursorLeft : ecCursorRight, 0, pick(4) == 0);
                break;
            case 2:
                m.ExecuteCommand(pick(2) ? ecWordLeft : ecWordRight, 0, false);
                break;
            case 3:
                m.ExecuteCommand(pick(2) ? ecLineUp : ecLineDown, 0, false);
                break;
            case 4: {
                char32_t c = typed[static_cast<std::size_t>(pick(static_cast<int>(typed.size())))];
                std::string bytes;
                EncodeChar(kUtf8, c, bytes);
                TextOffset from = m.SelStart(), to = m.SelStart() + m.SelLength();
                m.TypeCharacter(c);
                model.replace(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from),
                              bytes);
                break;
            }
            default: {
                // Backspace and Delete take the character before or after the caret as the
                // text stood, or the selection.
                const bool back = op == 5;
                auto b = boundaries(m);
                auto from = static_cast<std::size_t>(m.SelStart());
                auto to = from + static_cast<std::size_t>(m.SelLength());
                if (from == to && back && from > 0)
                    while (!b[--from]) {
                    }
                else if (from == to && !back && to < model.size())
                    while (!b[++to]) {
                    }
                m.ExecuteCommand(back ? ecDeleteLastChar : ecDeleteChar, 0, false);
                model.erase(from, to - from);
                break;
            }
            }
            ASSERT_EQ(Stored(m).size(), model.size()) << "round " << round << " step " << step;
            ASSERT_EQ(Stored(m), model) << "round " << round << " step " << step;
            auto b = boundaries(m);
            ASSERT_TRUE(b[static_cast<std::size_t>(m.Caret())])
                << "caret inside a character, round " << round << " step " << step << " op " << op
                << " from " << before;
            ASSERT_TRUE(b[static_cast<std::size_t>(m.Anchor())]);
            test::CheckChain(m);
        }
        TMemoryStream out;
        m.SaveToStream(&out);
        std::string saved = model;
        for (char& c : saved)
            if (c == '\r') c = '\n';
        ASSERT_EQ(out.Data(), saved);
    }
}

} // namespace
} // namespace morvane::editor
