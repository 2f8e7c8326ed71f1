#include "gui/app/KeyAssignDialog.h"

#include "core/editor/KeyStore.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace morvane::app {

TShortcutEdit::TShortcutEdit(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    setPlaceholderText("None");
}

void TShortcutEdit::SetShortcut(std::uint16_t shortcut) {
    shortcut_ = shortcut;
    setText(shortcut ? platform::fromBytes(editor::shortCutToText(shortcut)) : QString());
    if (OnChange) OnChange(shortcut);
}

namespace {

// TAB, Escape and Enter without modifiers keep their dialog meaning (move on, cancel, OK), so
// that a keyboard user is never caught in the field; with a modifier they are keys to capture.
bool dialogKey(const QKeyEvent* event) {
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    default:
        return false;
    }
}

} // namespace

bool TShortcutEdit::event(QEvent* event) {
    // Keys that are window or menu shortcuts elsewhere are captured here.
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (!dialogKey(key)) {
            if (event->type() == QEvent::KeyPress) keyPressEvent(key);
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress && key->key() != Qt::Key_Tab &&
            key->key() != Qt::Key_Backtab) {
            event->ignore(); // on to the dialog
            return false;
        }
    }
    return QLineEdit::event(event);
}

void TShortcutEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_AltGr:
        return; // a modifier alone is no key yet
    default:
        break;
    }
    std::uint16_t shortcut = editor::ShortcutOf(event->key(), event->modifiers());
    if (shortcut) SetShortcut(shortcut);
}

namespace {

QPushButton* wizardButton(const QString& caption, const char* name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QWidget* stepPage(const QString& text, TShortcutEdit*& field, const char* fieldName,
                  const char* clearName) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* label = new QLabel(text, page);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    field = new TShortcutEdit(page);
    field->setObjectName(fieldName);
    auto* clear = wizardButton("Clear", clearName, page);
    QObject::connect(clear, &QPushButton::clicked, field, [f = field] {
        f->SetShortcut(0);
        f->setFocus();
    });
    row->addWidget(field, 1);
    row->addWidget(clear);
    layout->addLayout(row);
    layout->addStretch(1);
    return page;
}

} // namespace

TKeyAssignDialog::TKeyAssignDialog(const QString& commandName, bool editing, std::uint16_t first,
                                   std::uint16_t second, QWidget* parent)
    : QDialog(parent) {
    setObjectName("KeyAssignDialog");
    setWindowTitle((editing ? "Edit " : "Add new ") + QString("key pair for: ") + commandName);
    auto* layout = new QVBoxLayout(this);
    stepLabel_ = new QLabel(this);
    stepLabel_->setObjectName("StepLabel");
    QFont bold = stepLabel_->font();
    bold.setBold(true);
    stepLabel_->setFont(bold);
    layout->addWidget(stepLabel_);
    steps_ = new QStackedWidget(this);
    steps_->addWidget(stepPage("Press the first key combination until the correct key sequence "
                               "appears then press the NEXT button",
                               first_, "FirstKey", "ClearFirst"));
    steps_->addWidget(stepPage("If the key sequence requires a 2nd key press then enter the key "
                               "now. Press the FINISH button to accept changes",
                               second_, "SecondKey", "ClearSecond"));
    layout->addWidget(steps_, 1);

    auto* buttons = new QHBoxLayout;
    back_ = wizardButton("< Back", "BackButton", this);
    next_ = wizardButton("Next >", "NextButton", this);
    auto* cancel = wizardButton("Cancel", "CancelButton", this);
    buttons->addStretch(1);
    buttons->addWidget(back_);
    buttons->addWidget(next_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(back_, &QPushButton::clicked, this, [this] { showStep(1); });
    connect(next_, &QPushButton::clicked, this, [this] {
        if (step_ == 1)
            showStep(2);
        else
            accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    first_->OnChange = [this](std::uint16_t) { updateButtons(); };
    first_->SetShortcut(first);
    second_->SetShortcut(second);
    showStep(1);
    resize(420, 200);
}

void TKeyAssignDialog::showStep(int step) {
    step_ = step;
    steps_->setCurrentIndex(step - 1);
    stepLabel_->setText("Step " + QString::number(step));
    (step == 1 ? first_ : second_)->setFocus();
    updateButtons();
}

void TKeyAssignDialog::updateButtons() {
    back_->setEnabled(step_ == 2);
    next_->setText(step_ == 1 ? "Next >" : "Finish");
    next_->setEnabled(first_->Shortcut() != 0);
}

} // namespace morvane::app
