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
        probe.SetParser(1, nullptr);
        cpp.saveToRegistry(registry);
    }
    std::string source = "int main() {\n"
                         "\treturn a<b && c; // \"&lt;\" stays as written\n"
                         "\n"
                         "  char s[] = \"caf\xE9 \x80 \xA0 > <\";\n" +
                         std::string(3000, 'w') + "\n}\n";
    fs::path in = dir / "page.cpp", out = dir / "page.html";
    writeFile(in, source);
    ASSERT_EQ(Export({"html", in.string(), "-o", out.string()}), 0);

    PageView view = OpenInBrowser(out, "return", dir.path());
    std::u32string expected;
    for (unsigned char c : source)
        expected.push_back(c == '\t' ? U'\u00A0' : c == 0x80 ? U'\u20AC' : char32_t(c));
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

} // namespace
} // namespace morvane::app
