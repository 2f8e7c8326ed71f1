#include "gui/editor/FindDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace morvane::editor {

TFindDialog::TFindDialog(Mode mode, QWidget* parent) : QDialog(parent), mode_(mode) {
    const bool replace = mode == Mode::Replace;
    setObjectName(replace ? "ReplaceDialog" : "FindDialog");
    setWindowTitle(replace ? "Replace" : "Find");
    setModal(false);

    auto* fields = new QGridLayout;
    findEdit_ = new QLineEdit(this);
    findEdit_->setObjectName("FindEdit");
    auto* findLabel = new QLabel("Fi&nd what:", this);
    findLabel->setBuddy(findEdit_);
    fields->addWidget(findLabel, 0, 0);
    fields->addWidget(findEdit_, 0, 1);
    if (replace) {
        replaceEdit_ = new QLineEdit(this);
        replaceEdit_->setObjectName("ReplaceEdit");
        auto* replaceLabel = new QLabel("Re&place with:", this);
        replaceLabel->setBuddy(replaceEdit_);
        fields->addWidget(replaceLabel, 1, 0);
        fields->addWidget(replaceEdit_, 1, 1);
    }

    wholeWord_ = new QCheckBox("Match &whole word only", this);
    wholeWord_->setObjectName("WholeWordBox");
    matchCase_ = new QCheckBox("Match &case", this);
    matchCase_->setObjectName("MatchCaseBox");
    regExpr_ = new QCheckBox("Regular e&xpressions", this);
    regExpr_->setObjectName("RegExprBox");
    wrapAround_ = new QCheckBox("Wrap ar&ound", this);
    wrapAround_->setObjectName("WrapAroundBox");
    wrapAround_->setChecked(true);
    markAll_ = new QCheckBox("Mar&k all matches", this);
    markAll_->setObjectName("MarkAllBox");
    markAll_->setChecked(true);
    auto* options = new QVBoxLayout;
    options->addWidget(wholeWord_);
    options->addWidget(matchCase_);
    options->addWidget(regExpr_);
    options->addWidget(wrapAround_);
    options->addWidget(markAll_);
    if (replace) {
        wholeDocument_ = new QCheckBox("W&hole document", this);
        wholeDocument_->setObjectName("WholeDocumentBox");
        wholeDocument_->setToolTip("Replace All from the top, not from the last match");
        wholeDocument_->setChecked(true);
        options->addWidget(wholeDocument_);
    }

    auto* bottom = new QHBoxLayout;
    bottom->addLayout(options);
    if (!replace) {
        auto* direction = new QGroupBox("Direction", this);
        up_ = new QRadioButton("&Up", direction);
        up_->setObjectName("UpButton");
        down_ = new QRadioButton("&Down", direction);
        down_->setObjectName("DownButton");
        down_->setChecked(true);
        auto* d = new QHBoxLayout(direction);
        d->addWidget(up_);
        d->addWidget(down_);
        bottom->addWidget(direction);
    }

    auto* left = new QVBoxLayout;
    left->addLayout(fields);
    left->addLayout(bottom);
    left->addStretch();

    auto* buttons = new QVBoxLayout;
    findNext_ = new QPushButton("&Find Next", this);
    findNext_->setObjectName("FindNextButton");
    findNext_->setDefault(true);
    buttons->addWidget(findNext_);
    if (replace) {
        replace_ = new QPushButton("&Replace", this);
        replace_->setObjectName("ReplaceButton");
        replaceAll_ = new QPushButton("Replace &All", this);
        replaceAll_->setObjectName("ReplaceAllButton");
        buttons->addWidget(replace_);
        buttons->addWidget(replaceAll_);
    }
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("CancelButton");
    buttons->addWidget(cancel);
    buttons->addStretch();

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(buttons);

    connect(findNext_, &QPushButton::clicked, this, [this] {
        if (onFindNext) onFindNext();
    });
    if (replace) {
        connect(replace_, &QPushButton::clicked, this, [this] {
            if (onReplace) onReplace();
        });
        connect(replaceAll_, &QPushButton::clicked, this, [this] {
            if (onReplaceAll) onReplaceAll();
        });
    }
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(findEdit_, &QLineEdit::textChanged, this, [this] { updateButtons(); });
    connect(regExpr_, &QCheckBox::toggled, this, [this](bool on) {
        if (onRegularExpressionsToggled) onRegularExpressionsToggled(on);
    });
    auto changed = [this] {
        if (onChanged) onChanged();
    };
    connect(findEdit_, &QLineEdit::textChanged, this, changed);
    for (QCheckBox* box : {wholeWord_, matchCase_, regExpr_, wrapAround_, markAll_})
        connect(box, &QCheckBox::toggled, this, changed);
    if (wholeDocument_) connect(wholeDocument_, &QCheckBox::toggled, this, changed);
    updateButtons();
}

void TFindDialog::updateButtons() {
    const bool any = !findEdit_->text().isEmpty();
    findNext_->setEnabled(any);
    if (replace_) replace_->setEnabled(any);
    if (replaceAll_) replaceAll_->setEnabled(any);
}

QString TFindDialog::findText() const {
    return findEdit_->text();
}
void TFindDialog::setFindText(const QString& text) {
    findEdit_->setText(text);
}
QString TFindDialog::replaceText() const {
    return replaceEdit_ ? replaceEdit_->text() : QString();
}
void TFindDialog::setReplaceText(const QString& text) {
    if (replaceEdit_) replaceEdit_->setText(text);
}
bool TFindDialog::matchCase() const {
    return matchCase_->isChecked();
}
void TFindDialog::setMatchCase(bool on) {
    matchCase_->setChecked(on);
}
bool TFindDialog::wholeWord() const {
    return wholeWord_->isChecked();
}
void TFindDialog::setWholeWord(bool on) {
    wholeWord_->setChecked(on);
}
bool TFindDialog::regularExpressions() const {
    return regExpr_->isChecked();
}
void TFindDialog::setRegularExpressions(bool on) {
    {
        // Only the user's click is told to the document's mode; the marks follow either way.
        QSignalBlocker quiet(regExpr_);
        regExpr_->setChecked(on);
    }
    if (onChanged) onChanged();
}
bool TFindDialog::down() const {
    return !up_ || !up_->isChecked();
}
void TFindDialog::setDown(bool on) {
    if (down_) (on ? down_ : up_)->setChecked(true);
}

bool TFindDialog::wrapAround() const {
    return wrapAround_->isChecked();
}
void TFindDialog::setWrapAround(bool on) {
    wrapAround_->setChecked(on);
}
bool TFindDialog::markAll() const {
    return markAll_->isChecked();
}
void TFindDialog::setMarkAll(bool on) {
    markAll_->setChecked(on);
}
bool TFindDialog::wholeDocument() const {
    return wholeDocument_ && wholeDocument_->isChecked();
}
void TFindDialog::setWholeDocument(bool on) {
    if (wholeDocument_) wholeDocument_->setChecked(on);
}

void TFindDialog::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (onHidden) onHidden();
}

void TFindDialog::present() {
    show();
    raise();
    activateWindow();
    findEdit_->setFocus(Qt::OtherFocusReason);
    findEdit_->selectAll();
}

} // namespace morvane::editor
