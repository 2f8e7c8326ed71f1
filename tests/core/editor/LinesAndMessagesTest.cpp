// The Lines adapter and the message interface against a plain model: a string with CR breaks.

#include "EditorTestUtil.h"

#include "core/editor/CodeMemoMessages.h"

#include <algorithm>
#include <cstring>

namespace morvane::editor {
namespace {
using namespace test;

struct Model {
    std::string text;
    std::vector<std::string> Lines() const { return ModelLines(text); }
    std::size_t LineStart(std::size_t i) const {
        auto lines = Lines();
        std::size_t s = 0;
        for (std::size_t k = 0; k < i && k < lines.size(); ++k)
            s += lines[k].size();
        return s;
    }
};

std::intptr_t P(const void* p) {
    return reinterpret_cast<std::intptr_t>(p);
}

void CheckAgainst(TCustomCodeMemo& m, const Model& model, std::mt19937& rng) {
    ASSERT_EQ(Stored(m), model.text);
    ASSERT_NO_FATAL_FAILURE(CheckChain(m));
    auto lines = model.Lines();
    TCodeMemoStrings& L = m.Lines();
    ASSERT_EQ(L.Count(), static_cast<std::int64_t>(lines.size()));
    for (std::size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(L.Get(static_cast<std::int64_t>(i)), Strip(lines[i]));
    ASSERT_EQ(L.GetText(), CrLf(model.text));

    ASSERT_EQ(m.Perform(EM_GETLINECOUNT, 0, 0),
              std::max<std::intptr_t>(1, static_cast<std::intptr_t>(lines.size())));
    ASSERT_EQ(m.Perform(WM_GETTEXTLENGTH, 0, 0),
              static_cast<std::intptr_t>(CrLf(model.text).size()));
    std::string buf(CrLf(model.text).size() + 1, '?');
    ASSERT_EQ(m.Perform(WM_GETTEXT, buf.size(), P(buf.data())),
              static_cast<std::intptr_t>(buf.size() - 1));
    ASSERT_EQ(buf.substr(0, buf.size() - 1), CrLf(model.text));

    for (int probe = 0; probe < 5; ++probe) {
        std::size_t i = std::uniform_int_distribution<std::size_t>(0, lines.size())(rng);
        ASSERT_EQ(m.Perform(EM_LINEINDEX, i, 0), static_cast<std::intptr_t>(model.LineStart(i)));
        std::size_t off = std::uniform_int_distribution<std::size_t>(0, model.text.size())(rng);
        // The line of an offset: the number of breaks before it.
        auto line = static_cast<std::intptr_t>(std::count(
            model.text.begin(), model.text.begin() + static_cast<std::ptrdiff_t>(off), '\r'));
        ASSERT_EQ(m.Perform(EM_LINEFROMCHAR, off, 0), line) << off;
        std::size_t expectLen = static_cast<std::size_t>(line) < lines.size()
                                    ? Strip(lines[static_cast<std::size_t>(line)]).size()
                                    : 0;
        ASSERT_EQ(m.Perform(EM_LINELENGTH, off, 0), static_cast<std::intptr_t>(expectLen));
        if (i < lines.size()) {
            char line_buf[64] = {};
            std::uint16_t size = 40;
            std::memcpy(line_buf, &size, 2);
            std::string want = Strip(lines[i]).substr(0, 40);
            ASSERT_EQ(m.Perform(EM_GETLINE, i, P(line_buf)),
                      static_cast<std::intptr_t>(want.size()));
            ASSERT_EQ(std::string(line_buf, want.size()), want);
        }
    }
    ASSERT_EQ(m.Perform(EM_LINEINDEX, lines.size() + 1, 0), -1);
}

std::string RandomText(std::mt19937& rng) {
    static const char* breaks[] = {"\r\n", "\n", "\r", "\n\r"};
    std::string s;
    int n = std::uniform_int_distribution<int>(0, 4)(rng);
    for (int k = 0; k < n; ++k) {
        s += RandomLine(rng, 30);
        if (rng() % 3) s += breaks[rng() % 4];
    }
    return s;
}

TEST(LinesAndMessagesTest, RandomOperationsMatchTheModel) {
    std::mt19937 rng(42);
    TCustomCodeMemo m;
    Model model;
    for (int step = 0; step < 1500; ++step) {
        auto lines = model.Lines();
        auto n = static_cast<std::int64_t>(lines.size());
        int op = static_cast<int>(rng() % 7);
        SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
        if (op == 0 && n > 0) {
            std::int64_t i = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(n));
            std::string s = RandomLine(rng, 20);
            m.Lines().Put(i, s);
            std::size_t at = model.LineStart(static_cast<std::size_t>(i));
            model.text.replace(at, Strip(lines[static_cast<std::size_t>(i)]).size(), s);
        } else if (op == 1 || op == 2) {
            std::int64_t i =
                op == 2 ? n : static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(n + 1));
            std::string s = RandomLine(rng, 20);
            m.Lines().Insert(i, s);
            if (i < n)
                model.text.insert(model.LineStart(static_cast<std::size_t>(i)), s + "\r");
            else if (model.text.empty() || model.text.back() == '\r')
                model.text += s + "\r";
            else
                model.text += "\r" + s;
        } else if (op == 3 && n > 0) {
            std::int64_t i = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(n));
            m.Lines().Delete(i);
            model.text.erase(model.LineStart(static_cast<std::size_t>(i)),
                             lines[static_cast<std::size_t>(i)].size());
        } else if (op == 4 || op == 5) {
            auto len = model.text.size();
            auto a = static_cast<std::intptr_t>(rng() % (len + 1)),
                 c = static_cast<std::intptr_t>(rng() % (len + 1));
            m.Perform(EM_SETSEL, static_cast<std::uintptr_t>(a), c);
            std::string ins = RandomText(rng);
            ins.erase(std::remove(ins.begin(), ins.end(), '\0'), ins.end()); // a C string
            m.Perform(EM_REPLACESEL, 0, P(ins.c_str()));
            if (!(a == 0 && c == -1))
                model.text.replace(static_cast<std::size_t>(std::min(a, c)),
                                   static_cast<std::size_t>(std::abs(a - c)), RefNormalise(ins));
        } else if (op == 6 && step % 50 == 0) {
            std::string t = RandomText(rng) + RandomText(rng);
            m.Lines().SetText(t);
            model.text = RefNormalise(t);
        }
        ASSERT_NO_FATAL_FAILURE(CheckAgainst(m, model, rng));
    }
}

TEST(LinesAndMessagesTest, AssignAndClear) {
    TCustomCodeMemo m;
    TStringList src({"one", std::string("t\0o", 3), ""});
    m.Lines().Assign(src);
    EXPECT_EQ(Stored(m), std::string("one\rt\0o\r\r", 9));
    EXPECT_EQ(m.Lines().Get(1), std::string("t\0o", 3));
    m.ReplaceSel("x");
    m.Lines().Clear();
    EXPECT_EQ(m.TextLength(), 0);
    EXPECT_FALSE(m.Modified());
    EXPECT_EQ(m.Lines().Count(), 0);
    EXPECT_THROW(m.Lines().Get(0), EStringListError);
}

TEST(LinesAndMessagesTest, SettingEqualTextDoesNothing) {
    TCustomCodeMemo m;
    m.Lines().SetText("a\nb");
    int changes = 0;
    m.OnTextChange = [&](TCustomCodeMemo*, TextOffset, TextOffset) { ++changes; };
    m.Lines().SetText("a\r\nb");
    EXPECT_EQ(changes, 0);
    m.Lines().SetText("a\r\nc");
    EXPECT_GT(changes, 0);
}

TEST(LinesAndMessagesTest, SelectionMessages) {
    TCustomCodeMemo m;
    m.Lines().SetText("a\nb");
    m.Perform(EM_SETSEL, 0, -1);
    EXPECT_EQ(m.SelLength(), 3);
    m.SetSelLineStyle(lsCRLF);
    EXPECT_EQ(m.SelLength(), 4);
    EXPECT_EQ(m.SelText(), "a\r\nb");
    TextOffset a = -5, c = -5;
    m.Perform(EM_GETSEL, reinterpret_cast<std::uintptr_t>(&a), P(&c));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(c, 3);

    TSelPair pair{-1, 0};
    m.Perform(SM_SELECTION, kSmSet, P(&pair));
    EXPECT_EQ(m.Caret(), 3);
    pair = {2, 99};
    m.Perform(SM_SELECTION, kSmSet, P(&pair));
    EXPECT_EQ(m.Caret(), 3); // clamped
    m.Perform(SM_SELECTION, 0, P(&pair));
    EXPECT_EQ(pair.anchor, 2);

    m.SetSelStart(2);
    m.SetSelLength(-2);
    EXPECT_EQ(m.Anchor(), 2);
    EXPECT_EQ(m.Caret(), 0);
    EXPECT_EQ(m.SelStart(), 0);

    std::string sel;
    m.SetSelection(0, 3);
    EXPECT_EQ(m.Perform(SM_GETSELTEXT, tfCRLF, P(&sel)), 4);
    EXPECT_EQ(sel, "a\r\nb");
    TMemoryStream out;
    EXPECT_EQ(m.Perform(SM_SAVESTREAM, tfLF, P(&out)), 3);
    EXPECT_EQ(out.Data(), "a\nb");
}

TEST(LinesAndMessagesTest, SetAndGetMessages) {
    TCustomCodeMemo m;
    EXPECT_EQ(m.Perform(SM_OPTIONS, 0, 0), 0x3FFDBF0);
    m.Perform(SM_OPTIONS, kSmSet, 0x10);
    EXPECT_EQ(m.Perform(SM_OPTIONS, 0, 0), 0x10);
    m.Perform(SM_MODIFIED, kSmSet, 1);
    EXPECT_EQ(m.Perform(SM_MODIFIED, 0, 0), 0); // true cannot be set on an empty undo stack
    m.Perform(WM_SETTEXT, 0, P("x\ny"));
    m.Perform(EM_SETSEL, 1, 1);
    m.Perform(SM_REPLACESEL, 0, P("z"));
    EXPECT_EQ(m.Perform(EM_GETMODIFY, 0, 0), 1);
    EXPECT_EQ(m.Perform(EM_CANUNDO, 0, 0), 1);
    m.Perform(EM_EMPTYUNDOBUFFER, 0, 0);
    EXPECT_EQ(m.Perform(EM_CANUNDO, 0, 0), 0);
    m.Perform(WM_SETTEXT, 0, 0);
    EXPECT_EQ(m.TextLength(), 0);
    EXPECT_EQ(m.Perform(EM_GETLINECOUNT, 0, 0), 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(m.Perform(SM_VERSION, 0, 0)), "2.2.1");

    m.Perform(WM_SETTEXT, 0, P("ab\ncd"));
    const std::uint8_t attrs[] = {1, 2, 3, 4, 5};
    m.Perform(SM_SETATTRS, 0, P(attrs));
    std::string got;
    TRecRange second{1, 1};
    EXPECT_EQ(m.Perform(SM_GETATTRS, reinterpret_cast<std::uintptr_t>(&second), P(&got)), 2);
    EXPECT_EQ(got, std::string("\4\5"));

    TMemoryStream in(std::string("1\r\n2"));
    m.SetSelection(2, 2);
    m.Perform(SM_LOADSTREAM, 0, P(&in));
    EXPECT_EQ(Stored(m), "ab1\r2\rcd");
    EXPECT_EQ(m.Caret(), 5);
}

TEST(LinesAndMessagesTest, PositionsAndScrolling) {
    TCustomCodeMemo m; // no window: 7 x 17 cells, gutter 34 and margin 2
    m.Lines().SetText("abc\n\tx\nlast");
    m.SetClientSize(400, 17 * 2);
    std::intptr_t p = m.Perform(EM_POSFROMCHAR, 1, 0);
    EXPECT_EQ(PointX(p), 36 + 7);
    EXPECT_EQ(PointY(p), 0);
    p = m.Perform(EM_POSFROMCHAR, 5, 0); // after the TAB
    EXPECT_EQ(PointX(p), 36 + 4 * 7);
    EXPECT_EQ(PointY(p), 17);
    EXPECT_EQ(m.Perform(EM_CHARFROMPOS, 0, MakePoint(36 + 7 * 4, 20)), 5);
    EXPECT_EQ(m.Perform(EM_CHARFROMPOS, 0, MakePoint(10, 5)), -1);
    m.SetSelection(10, 10);
    m.Perform(EM_SCROLLCARET, 0, 0);
    EXPECT_EQ(m.Perform(EM_GETFIRSTVISIBLELINE, 0, 0), 1);
    m.Perform(EM_LINESCROLL, 0, -5);
    EXPECT_EQ(m.TopLine(), 0);
    m.Perform(SM_TOPLINE, kSmSet, 2);
    EXPECT_EQ(m.Perform(SM_TOPLINE, 0, 0), 2);
}

} // namespace
} // namespace morvane::editor

namespace morvane::editor {
namespace {
using namespace test;

TEST(LinesAndMessagesTest, OnChangeComesOncePerUpdate) {
    TCustomCodeMemo m;
    int changes = 0;
    m.OnChange = [&](TCustomCodeMemo* sender) {
        EXPECT_EQ(sender, &m);
        ++changes;
    };
    m.Lines().Add("one");
    EXPECT_EQ(changes, 1);
    m.Lines().BeginUpdate();
    m.Lines().Add("two");
    m.Lines().Put(0, "uno");
    m.Lines().Delete(1);
    EXPECT_EQ(changes, 1);
    m.Lines().EndUpdate();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(m.Lines().GetText(), "uno\r\n");
}

} // namespace
} // namespace morvane::editor
