// What the Qt control gives an export: its own font, the settings' colours, system colours from
// its palette.

#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>

namespace morvane::editor {
namespace {

TEST(QtExportLook, FontSettingsColoursAndPaletteColours) {
    morvane::testing::qtApp();

    TCodeMemo memo;
    QFont font("DejaVu Sans Mono", 13);
    memo.SetFont(font);
    auto& s = memo.Settings();
    highlight::StyleEffect keyword;
    keyword.fontStyle = highlight::fsBoldBit;
    keyword.foreground = 0x563412; // 0x00BBGGRR
    keyword.background = highlight::kSysColorHighlight;
    keyword.inUse = 1;
    s.setEffect(1, keyword);
    s.setStyleOfToken(5, 1);
    const TCustomCodeMemo& core = memo; // the look is asked for through the core control
    TExportLook look = core.ExportLook();
    EXPECT_EQ(look.fontName, memo.Font().family().toStdString());
    EXPECT_EQ(look.fontSize, 13);
    EXPECT_EQ(look.tokenStyle[5], 1);
    EXPECT_EQ(look.styles[1].text, 0x123456u);
    EXPECT_EQ(look.styles[1].back, memo.palette().color(QPalette::Highlight).rgb() & 0xFFFFFFu);
    EXPECT_TRUE(look.styles[1].defined);

    memo.Lines().SetText("int x");
    std::vector<std::uint8_t> tokens(5, 0);
    tokens[0] = tokens[1] = tokens[2] = 5;
    memo.Store().SetAttrs(0, tokens.data());
    memo.SetSelection(-1, 0);
    std::string rtf = memo.SelectionAsRtf();
    EXPECT_NE(rtf.find("\\fs26"), std::string::npos);
    EXPECT_NE(rtf.find("\\b1 \\cf2 \\cb3 int\\b0 \\cf0 \\cb1  x"), std::string::npos) << rtf;
}

} // namespace
} // namespace morvane::editor
