// The command-line export, read back by a real browser and a real RTF converter.
#include "core/app/ExportCommand.h"
#include "core/app/AppRegistry.h"
#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/HighlightedMemo.h"
#include "core/platform/Registry.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <set>
#include <sstream>

namespace morvane::app {
namespace {

namespace fs = std::filesystem;
using morvane::testing::readFile;
using morvane::testing::TempDir;
using morvane::testing::writeFile;

// Runs a shell command (bounded by `timeout`) and returns its standard output.
std::string RunCommand(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(("timeout 120 " + command).c_str(), "r");
    if (!p) return out;
    std::array<char, 65536> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        out.append(buf.data(), n);
    int rc = ::pclose(p);
    if (status) *status = rc;
    return out;
}

bool Installed(const char* program) {
    int rc = 0;
    RunCommand(std::string("sh -c 'command -v ") + program + "' >/dev/null", &rc);
    return rc == 0;
}

struct ExportFixture : ::testing::Test {
    TempDir dir;
    platform::Registry registry{dir / "config"};
    fs::path home = dir / "home";

    int Export(const std::vector<std::string>& args, std::string* err = nullptr) {
        ExportRequest request;
        std::string error;
        if (!parseExportArguments(args, request, error)) {
            if (err) *err = error;
            return 2;
        }
        std::ostringstream messages;
        int rc = runExport(request, registry, MORVANE_SOURCE_RESOURCES, home, messages);
        if (err) *err = messages.str();
        return rc;
    }
};

TEST_F(ExportFixture, ArgumentsAndRefusals) {
    ExportRequest r;
    std::string error;
    ASSERT_TRUE(
        parseExportArguments({"rtf", "a.c", "-o", "b.rtf", "--highlighter", "C++"}, r, error));
    EXPECT_TRUE(r.rtf);
    EXPECT_EQ(r.input, "a.c");
    EXPECT_EQ(r.output, "b.rtf");
    EXPECT_EQ(r.highlighter, "C++");
    EXPECT_FALSE(parseExportArguments({"pdf", "a", "-o", "b"}, r, error));
    EXPECT_FALSE(parseExportArguments({"html", "a"}, r, error));
    EXPECT_FALSE(parseExportArguments({"html", "a", "-o"}, r, error));
    EXPECT_FALSE(parseExportArguments({"html", "a", "b", "-o", "c"}, r, error));

    std::string in = (dir / "a.cpp").string(), err;
    writeFile(in, "int x;\n");
    // The page never replaces the text it shows, nor under another name for it.
    fs::create_symlink(in, dir / "link.cpp");
    EXPECT_EQ(Export({"html", in, "-o", (dir / "link.cpp").string()}, &err), 1);
    EXPECT_NE(err.find("is the file being exported"), std::string::npos);
    EXPECT_EQ(readFile(in), "int x;\n");
    EXPECT_EQ(Export({"html", in, "-o", (dir / "o.html").string(), "--highlighter", "Cobol"}, &err),
              1);
    EXPECT_NE(err.find("\"C++\""), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "o.html"));
    EXPECT_EQ(
        Export({"html", (dir / "missing.cpp").string(), "-o", (dir / "o.html").string()}, &err), 1);
    EXPECT_FALSE(err.empty());
    // The highlighter by extension, by name regardless of case.
    ASSERT_EQ(Export({"html", in, "-o", (dir / "o.html").string()}), 0);
    EXPECT_NE(readFile(dir / "o.html").find("<B>int</B>"), std::string::npos);
    ASSERT_EQ(Export({"html", in, "-o", (dir / "o.html").string(), "--highlighter", "plain TEXT"}),
              0);
    EXPECT_EQ(readFile(dir / "o.html").find("<B>"), std::string::npos);
}

// The demo site's style sheet gets the CSS highlighter by its extension from the shipped
// file types, and a script without an extension gets one by its "#!" line.
TEST_F(ExportFixture, TheDemoStyleSheetAndScriptsByTheirFirstLine) {
    auto colours = [](const std::string& page) {
        std::set<std::string> seen;
        for (std::size_t at = page.find("<FONT COLOR=\""); at != std::string::npos;
             at = page.find("<FONT COLOR=\"", at + 1))
            seen.insert(page.substr(at, 20));
        return seen.size();
    };
    const fs::path css = fs::path(MORVANE_SOURCE_RESOURCES) / "demo" / "site" / "css" / "style.css";
    std::string err;
    ASSERT_EQ(Export({"html", css.string(), "-o", (dir / "css.html").string()}, &err), 0) << err;
    EXPECT_GE(colours(readFile(dir / "css.html")), 3u);
    ASSERT_EQ(Export({"html", css.string(), "-o", (dir / "plain.html").string(), "--highlighter",
                      "Plain text"}),
              0);
    EXPECT_LE(colours(readFile(dir / "plain.html")), 1u);

    writeFile(dir / "backup", "#!/usr/bin/env -S python3 -u\nimport os\n");
    ASSERT_EQ(Export({"html", (dir / "backup").string(), "-o", (dir / "py.html").string()}), 0);
    // Python's reserved words are bold navy.
    const std::string py = readFile(dir / "py.html");
    EXPECT_NE(py.find("<FONT COLOR=\"#000080\"><B>"), std::string::npos) << py;
}

// The page's text as the browser holds it (each character's code, in hexadecimal) and the
// computed colour of the text node holding `probe`.
struct PageView {
    std::u32string text;
    std::string probeColor;
};

PageView OpenInBrowser(const fs::path& page, const std::string& probe, const fs::path& scratch) {
    const std::string wrapper =
        "<html><body><pre id=out></pre><iframe src=\"" + page.filename().string() +
        "\" onload=\"var d=this.contentDocument, pre=d.querySelector('pre'), t=pre.textContent,"
        " h=[]; for (var i=0;i<t.length;i++) h.push(t.codePointAt(i).toString(16));"
        " var o='TEXT '+h.join(' ')+'\\n', w=d.createTreeWalker(pre, NodeFilter.SHOW_TEXT), n;"
        " while ((n=w.nextNode())) if (n.textContent.indexOf('" +
        probe +
        "')>=0) o+='COLOR '+getComputedStyle(n.parentElement).color+'\\n';"
        " document.getElementById('out').textContent=o;\"></iframe></body></html>";
    fs::path wrap = page.parent_path() / "wrapper.html";
    writeFile(wrap, wrapper);
    std::string dom = RunCommand("chromium --headless --no-sandbox --disable-gpu --user-data-dir=" +
                                 (scratch / "chromium").string() +
                                 " --allow-file-access-from-files --virtual-time-budget=10000"
                                 " --dump-dom file://" +
                                 wrap.string() + " 2>/dev/null");
    PageView view;
    std::size_t t = dom.find("TEXT ");
    if (t == std::string::npos) return view;
    std::istringstream codes(dom.substr(t + 5, dom.find('\n', t) - t - 5));
    std::string hex;
    while (codes >> hex)
        view.text.push_back(static_cast<char32_t>(std::stoul(hex, nullptr, 16)));
    std::size_t c = dom.find("COLOR ");
    if (c != std::string::npos) view.probeColor = dom.substr(c + 6, dom.find('\n', c) - c - 6);
    return view;
}

TEST_F(ExportFixture, BrowserShowsTheTextAndTheKeywordColourOfTheSettings) {
    ASSERT_TRUE(Installed("chromium")) << "chromium is missing: run scripts/deps.sh";
    // The user's settings give keywords a colour of their own.
    {
        auto list = highlight::compileBuiltinHighlighters(MORVANE_SOURCE_RESOURCES, kPerUserRoot);
        highlight::TCodeMemoParser& cpp = *list[1];
        ASSERT_EQ(cpp.languageName(), "C++");
        highlight::THighlightedMemo probe;
        probe.SetParser(1, &cpp);
        probe.Lines().SetText("return");
        probe.HighlightAll();
        std::uint8_t token = probe.Store().Attrs(0)[0];
        std::uint8_t style = cpp.settings().styleOfToken(token);
        ASSERT_NE(style, 0);
        highlight::StyleEffect e = cpp.settings().effect(style);
        e.foreground = 0x563412; // 0x00BBGGRR
        e.foregroundDefault = 0;
        cpp.settings().setEffect(style, e);
        // And a tab width of their own, which the page's TABs follow.
        cpp.settings().defaultTab = 3;
        probe.SetParser(1, nullptr);
        cpp.saveToRegistry(registry);
    }
    std::string source = "int main() {\n"
                         "\treturn a<b && c;\t// \"&lt;\" stays as written\n"
                         "\n"
                         "  char s[] = \"caf\xE9 \x80 \xA0 > <\";\n" +
                         std::string(3000, 'w') + "\n}\n";
    fs::path in = dir / "page.cpp", out = dir / "page.html";
    writeFile(in, source);
    ASSERT_EQ(Export({"html", in.string(), "-o", out.string()}), 0);

    PageView view = OpenInBrowser(out, "return", dir.path());
    // A TAB is the spaces to the next multiple of the settings' width (each byte of this
    // Windows-1252 text takes one column).
    std::u32string expected;
    std::size_t column = 0;
    for (unsigned char c : source) {
        if (c == '\t') {
            expected.append(3 - column % 3, U' ');
            column += 3 - column % 3;
            continue;
        }
        column = c == '\n' ? 0 : column + 1;
        expected.push_back(c == 0x80 ? U'\u20AC' : char32_t(c));
    }
    ASSERT_NE(expected.find(U"   return a<b && c;  // "), std::u32string::npos);
    EXPECT_TRUE(view.text == expected) << "the browser shows " << view.text.size()
                                       << " characters, the file has " << expected.size();
    EXPECT_EQ(view.probeColor, "rgb(18, 52, 86)");
}

// Whitespace runs become one blank: the converter's text output collapses blanks.
std::string Words(std::string_view s) {
    std::string out;
    for (char c : s) {
        bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (blank && (out.empty() || out.back() == ' ')) continue;
        out += blank ? ' ' : c;
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

TEST_F(ExportFixture, RtfReadBackByAConverterYieldsTheText) {
    ASSERT_TRUE(Installed("unrtf")) << "unrtf is missing: run scripts/deps.sh";
    std::string source = "{ if (a<b) x = 'q'; }\n\\\\ path\\to\\file\n"
                         "caf\xE9\f\n" +
                         std::string(2500, 'z') + "\n  indented\tend";
    fs::path in = dir / "doc.cpp", out = dir / "doc.rtf";
    writeFile(in, source);
    ASSERT_EQ(Export({"rtf", in.string(), "-o", out.string()}), 0);
    std::string text = RunCommand("unrtf --text " + out.string() + " 2>/dev/null");
    // The converter's own lines: its banner and the rule under the font table.
    std::string body;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("###", 0) != 0 && line.find_first_not_of('-') != std::string::npos)
            body += line + "\n";
    std::string expected = source;
    std::erase(expected, '\f'); // a page break, not a character
    EXPECT_EQ(Words(body), Words(expected));
}

// Characters beyond the code page: a converter that reads Unicode numbers gets each of them
// (its HTML output names them as numeric references; a character beyond the BMP as the two
// halves of its surrogate pair), and no letter after one is lost.
TEST_F(ExportFixture, RtfReadBackOfUnicodeByAConverterYieldsTheCharacters) {
    ASSERT_TRUE(Installed("unrtf")) << "unrtf is missing: run scripts/deps.sh";
    const std::string source = "a\xE6\x97\xA5"
                               "b\xED\x95\x9C"
                               "c\xCE\xA9"
                               "d\xF0\x9F\x98\x80"
                               "e";
    fs::path in = dir / "u.txt", out = dir / "u.rtf";
    writeFile(in, source + "\n");
    ASSERT_EQ(Export({"rtf", in.string(), "-o", out.string()}), 0);
    std::string html = RunCommand("unrtf --html " + out.string() + " 2>/dev/null");
    // The body's text with numeric references and surrogate pairs decoded, tags dropped.
    std::size_t at = html.find("<body");
    ASSERT_NE(at, std::string::npos) << html;
    std::u32string text;
    for (std::size_t i = html.find('>', at) + 1; i < html.size();) {
        if (html[i] == '<') {
            i = html.find('>', i) + 1;
        } else if (html.compare(i, 2, "&#") == 0) {
            std::size_t end = html.find(';', i);
            text.push_back(static_cast<char32_t>(std::stoul(html.substr(i + 2, end - i - 2))));
            i = end + 1;
        } else if (html.compare(i, 7, "&Omega;") == 0) {
            text.push_back(U'\u03A9');
            i += 7;
        } else {
            if (html[i] != '\n') text.push_back(static_cast<unsigned char>(html[i]));
            ++i;
        }
    }
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] >= 0xD800 && text[i] < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            text.replace(i, 2, 1, 0x10000 + ((text[i] - 0xD800) << 10) + (text[i + 1] - 0xDC00));
    EXPECT_TRUE(text == U"a\u65E5b\uD55Cc\u03A9d\U0001F600e")
        << "the converter reads " << text.size() << " characters";
}

} // namespace
} // namespace morvane::app
