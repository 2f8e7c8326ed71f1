// Printing to a PDF file, which works on a machine without printers.

#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>

#include <fstream>
#include <iterator>
#include <regex>

namespace morvane::editor {
namespace {

class PrintTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { morvane::testing::qtApp(); }
    std::string PrintToPdf(TCodeMemo& memo, bool selection) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        QString file = dir.filePath("out.pdf");
        printer.setOutputFileName(file);
        memo.Print(printer, selection);
        std::ifstream in(file.toStdString(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static int Pages(const std::string& pdf) {
        std::regex page("/Type\\s*/Page[^s]");
        return static_cast<int>(std::distance(std::sregex_iterator(pdf.begin(), pdf.end(), page),
                                              std::sregex_iterator()));
    }
    QTemporaryDir dir;
};

TEST_F(PrintTest, TwoPagesOfTextGiveATwoPagePdf) {
    TCodeMemo memo;
    memo.SetPrintTitle("sample.txt");
    QPrinter probe(QPrinter::HighResolution);
    probe.setOutputFormat(QPrinter::PdfFormat);
    probe.setOutputFileName(dir.filePath("probe.pdf"));
    // Enough lines for a page and a half at the printer's resolution.
    QPainter measure(&probe);
    TQtFontMetrics m(memo.Font(), measure.device());
    int perPage = (measure.device()->height() - 7 * m.LineHeight()) / m.LineHeight();
    measure.end();
    std::string text;
    for (int i = 0; i < perPage * 3 / 2; ++i)
        text += "line " + std::to_string(i + 1) + "\tof the document\n";
    memo.Lines().SetText(text);
    std::string pdf = PrintToPdf(memo, false);
    ASSERT_GE(pdf.size(), 4u);
    EXPECT_EQ(pdf.substr(0, 4), "%PDF");
    EXPECT_EQ(Pages(pdf), 2);
    EXPECT_FALSE(memo.Printing());
    // The lines the selection touches fit on one page.
    memo.SetSelection(0, 30);
    EXPECT_EQ(Pages(PrintToPdf(memo, true)), 1);
}

TEST_F(PrintTest, HeaderFooterHandlerNarrowsTheText) {
    TCodeMemo memo;
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "row\n";
    memo.Lines().SetText(text);
    int calls = 0;
    memo.OnPrintHeaderFooter = [&](TCodeMemo*, QPainter& p, QRect& r, bool& transparent) {
        ++calls;
        p.drawText(r.topLeft() + QPoint(0, 50), "custom");
        // Room for only ten rows a page.
        r.setHeight(10 * TQtFontMetrics(memo.Font(), p.device()).LineHeight());
        transparent = true;
    };
    std::string pdf = PrintToPdf(memo, false);
    EXPECT_EQ(Pages(pdf), 4);
    EXPECT_EQ(calls, 4);
}

} // namespace
} // namespace morvane::editor
