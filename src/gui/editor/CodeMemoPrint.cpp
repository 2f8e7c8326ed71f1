// Printing: the lines laid out by PrintRows, with the header and footer, on a QPrinter (a
// system printer or a PDF file).

#include "core/editor/PrintLayout.h"
#include "gui/editor/CodeMemo.h"

#include <QDateTime>
#include <QLocale>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace morvane::editor {

using highlight::StyleEffect;

QPrinter& SharedPrinter() {
    static QPrinter printer(QPrinter::HighResolution);
    return printer;
}

bool TCodeMemo::PrintWithDialog(bool selectionOnly) {
    QPrinter& printer = SharedPrinter();
    // The dialog proposes "<document name>.pdf" when printing to a file.
    printer.setDocName(QString::fromStdString(PrintTitle()));
    QPrintDialog dialog(&printer, this);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, Anchor() != Caret());
    if (selectionOnly && Anchor() != Caret()) dialog.setPrintRange(QAbstractPrintDialog::Selection);
    if (dialog.exec() != QDialog::Accepted) return false;
    Print(printer, dialog.printRange() == QAbstractPrintDialog::Selection);
    return true;
}

std::string TCodeMemo::PrintTitle() const {
    return printTitle_.empty() ? FileName() : printTitle_;
}

void TCodeMemo::Print(QPrinter& printer, bool selectionOnly) {
    printer.setDocName(QString::fromStdString(PrintTitle()));
    QPainter p;
    if (!p.begin(&printer)) throw ECodeMemo("The printer could not be started");
    struct Flag {
        bool& f;
        ~Flag() { f = false; }
    } printing{printing_};
    printing_ = true;
    const QRect page(0, 0, p.device()->width(), p.device()->height());
    QFont font(font_);
    TQtFontMetrics metrics(font, p.device());
    const int lh = metrics.LineHeight();
    QFontMetrics plainMetrics(font, p.device());

    QRect textRect = page;
    bool transparent = false;
    const bool custom = static_cast<bool>(OnPrintHeaderFooter);
    TPageFrame frame = PageFrame(custom ? 0 : Options(), page.top(), page.bottom() + 1, lh);
    const QString date = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat) + " - " +
                         QLocale().toString(QTime::currentTime(), QLocale::ShortFormat);
    const QString title = QString::fromStdString(PrintTitle());

    auto furniture = [&](int pageNo) {
        if (custom) {
            QRect r = page;
            p.save();
            OnPrintHeaderFooter(this, p, r, transparent);
            p.restore();
            textRect = r;
            frame.textTop = r.top();
            frame.textBottom = r.bottom() + 1;
            return;
        }
        p.setFont(font);
        p.setPen(Qt::black);
        if (frame.header) {
            QRect first(page.left(), frame.titleTop, page.width(), lh);
            if (Options() & smoPrintFilename)
                p.drawText(first, Qt::AlignLeft | Qt::AlignVCenter, title);
            if (Options() & smoPrintDate)
                p.drawText(first, Qt::AlignRight | Qt::AlignVCenter, date);
            p.drawLine(page.left(), frame.headerRule, page.right(), frame.headerRule);
        }
        if (frame.footer) {
            p.drawText(QRect(page.left(), frame.pageNumberTop, page.width(), lh), Qt::AlignCenter,
                       QString::fromStdString(PageNumberText(pageNo)));
            p.drawLine(page.left(), frame.footerRule, page.right(), frame.footerRule);
        }
    };

    // The custom furniture decides the text width, so it is asked before the layout.
    int pageNo = 1;
    furniture(pageNo);
    std::vector<TPrintRow> rows = PrintRows(*this, selectionOnly, metrics, textRect.width());
    const int perPage = std::max(1, (frame.textBottom - frame.textTop) / std::max(1, lh));
    const auto& st = Settings();
    const bool syntax = Options() & smoSyntaxHighlight;
    const QColor defText = ColorOf(st.effect(0).foreground);
    const QColor defBack = ColorOf(st.effect(0).background);
    const bool numbers = Options() & smoPrintLineNos;
    int onPage = 0;
    for (const TPrintRow& row : rows) {
        if (onPage == perPage) {
            printer.newPage();
            furniture(++pageNo);
            onPage = 0;
        }
        const int y = frame.textTop + onPage * lh;
        ++onPage;
        int x = textRect.left();
        if (OnDrawLine) {
            TLineDrawRecord rec;
            rec.Kind = ldkPrinter;
            rec.Text = row.text.data();
            rec.Length = static_cast<int>(row.text.size());
            rec.Canvas = &p;
            rec.Left = x;
            rec.Top = y;
            rec.Right = textRect.right() + 1;
            rec.Bottom = y + lh;
            OnDrawLine(this, &rec);
            if (rec.Handled) continue;
        }
        if (numbers) {
            p.setFont(font);
            p.setPen(defText);
            p.drawText(QPoint(x, y + plainMetrics.ascent()),
                       QString::fromLatin1(LineNumberColumn(row.lineNumber)));
            x += kLineNumberColumns * metrics.CharWidth();
        }
        for (std::size_t i = 0; i < row.text.size();) {
            auto styleAt = [&](std::size_t k) -> std::uint8_t {
                return syntax && !row.attrs.empty()
                           ? st.styleOfToken(static_cast<std::uint8_t>(row.attrs[k]))
                           : 0;
            };
            std::uint8_t style = styleAt(i);
            QString run;
            const TTextEncoding enc = Encoding();
            while (i < row.text.size() && styleAt(i) == style) {
                const auto byte = static_cast<unsigned char>(row.text[i]);
                TCharInfo ch = DecodeChar(enc, row.text, i);
                if (byte < 128) {
                    bool control;
                    run.append(GlyphOf(byte, &control));
                } else {
                    // A byte that is no character prints as the replacement character.
                    const char32_t code[1] = {ch.valid ? ch.code : U'\uFFFD'};
                    run.append(QString::fromUcs4(code, 1));
                }
                i += ch.length;
            }
            const StyleEffect& e = st.effect(style);
            QFont f(font);
            f.setBold(e.fontStyle & highlight::fsBoldBit);
            f.setItalic(e.fontStyle & highlight::fsItalicBit);
            f.setUnderline(e.fontStyle & highlight::fsUnderlineBit);
            f.setStrikeOut(e.fontStyle & highlight::fsStrikeBit);
            QFontMetrics fm(f, p.device());
            int w = fm.horizontalAdvance(run);
            QColor bg = e.backgroundDefault ? defBack : ColorOf(e.background);
            if (!transparent && bg != defBack) p.fillRect(QRect(x, y, w, lh), bg);
            p.setFont(f);
            p.setPen(e.foregroundDefault ? defText : ColorOf(e.foreground));
            p.drawText(QPoint(x, y + fm.ascent()), run);
            x += w;
        }
    }
    p.end();
    Invalidate();
}

} // namespace morvane::editor
