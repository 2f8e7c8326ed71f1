#pragma once
// The modeless find and replace dialogs an editor control opens. They only collect the search
// text and options; the control runs the search when a button asks for it.

#include <QDialog>

#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace morvane::editor {

class TFindDialog : public QDialog {
public:
    enum class Mode { Find, Replace };
    TFindDialog(Mode mode, QWidget* parent);

    Mode mode() const { return mode_; }
    QString findText() const;
    void setFindText(const QString& text);
    QString replaceText() const;
    void setReplaceText(const QString& text);
    bool matchCase() const;
    void setMatchCase(bool on);
    bool wholeWord() const;
    void setWholeWord(bool on);
    bool regularExpressions() const;
    void setRegularExpressions(bool on);
    // The replace dialog always searches down.
    bool down() const;
    void setDown(bool on);
    bool wrapAround() const;
    void setWrapAround(bool on);
    bool markAll() const;
    void setMarkAll(bool on);
    // Replace All from the top rather than from the last match (the replace dialog's box).
    bool wholeDocument() const;
    void setWholeDocument(bool on);

    // Shows the dialog (or raises it) with the find text selected, ready to type over.
    void present();

    std::function<void()> onFindNext;
    std::function<void()> onReplace;
    std::function<void()> onReplaceAll;
    std::function<void(bool)> onRegularExpressionsToggled;
    // The find text or a box changed (also when set from outside); the dialog was hidden.
    std::function<void()> onChanged;
    std::function<void()> onHidden;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void updateButtons();

    Mode mode_;
    QLineEdit* findEdit_;
    QLineEdit* replaceEdit_ = nullptr;
    QCheckBox* wholeWord_;
    QCheckBox* matchCase_;
    QCheckBox* regExpr_;
    QCheckBox* wrapAround_;
    QCheckBox* markAll_;
    QCheckBox* wholeDocument_ = nullptr;
    QRadioButton* up_ = nullptr;
    QRadioButton* down_ = nullptr;
    QPushButton* findNext_;
    QPushButton* replace_ = nullptr;
    QPushButton* replaceAll_ = nullptr;
};

} // namespace morvane::editor
