#pragma once
// The editor control as a Qt widget. The core (TCustomCodeMemo) holds the text and computes
// the layout; this class measures the font, paints the rows the core lays out and turns scroll
// bars, wheel and mouse into core calls.

#include "editor/CustomCodeMemo.h"
#include "editor/qt/QtFontMetrics.h"
#include "highlight/ParserSlots.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>

#include <memory>

namespace morvane::editor {

class TCodeMemo : public QAbstractScrollArea,
                  public TCustomCodeMemo,
                  public highlight::TParserSlots,
                  private TCodeMemoView {
public:
    explicit TCodeMemo(QWidget* parent = nullptr);
    ~TCodeMemo() override;

    // A fixed-pitch font is expected; the default is the desktop's fixed font.
    void SetFont(const QFont& font);
    const QFont& Font() const { return font_; }

    QColor GutterColor;
    QColor MarginColor = Qt::white;
    QColor TextColor = Qt::black;
    QColor BackColor = Qt::white;
    QColor ControlCharColor = QColor(128, 128, 128);
    bool HideSelection = true; // the selection shows only while the control has the focus

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    // Highlighting and settings (CodeMemoSettings.cpp).
    bool viewportEvent(QEvent* event) override;
    void DirtyRecordHandedOver(RecIndex rec) override;
    void TextEdited(TextOffset start, TextOffset extent) override;
    void ApplySettings() override;
    void SchedulePendingHighlight() override;

private:
    void RepaintView() override;
    void UpdateScrollBars() override;
    int VerticalFactor() const;
    void RestartBlink();

    QFont font_;
    std::shared_ptr<TQtFontMetrics> metrics_;
    bool syncingBars_ = false;
    QBasicTimer blink_;
    bool caretShown_ = true;
    bool highlightIdleQueued_ = false;
};

// A key press as the control's shortcut value (virtual key code plus Shift, Ctrl and Alt
// bits); 0 for a key the control has no code for.
std::uint16_t ShortcutOf(int qtKey, Qt::KeyboardModifiers modifiers);
// The ANSI byte a typed character stands for; 0 when there is none.
char AnsiOf(QChar c);

// The character a byte is drawn as: printable ANSI as itself, control bytes as visible marks.
QChar GlyphOf(unsigned char byte, bool* isControl);

} // namespace morvane::editor
