#include "gui/app/EnterPasswordForm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace morvane::app {

TEnterPasswordForm::TEnterPasswordForm(const QString& caption, QWidget* parent) : QDialog(parent) {
    setObjectName("EnterPasswordForm");
    setWindowTitle(caption);
    password_ = new QLineEdit(this);
    password_->setObjectName("PasswordEdit");
    password_->setEchoMode(QLineEdit::Password);
    auto* label = new QLabel("&Password:", this);
    label->setBuddy(password_);
    save_ = new QCheckBox("&Save password", this);
    save_->setObjectName("SavePasswordCheck");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("Buttons");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(password_);
    layout->addWidget(save_);
    layout->addWidget(buttons);
    password_->setFocus();
}

} // namespace morvane::app
