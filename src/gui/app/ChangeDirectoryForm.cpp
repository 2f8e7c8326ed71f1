#include "gui/app/ChangeDirectoryForm.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace morvane::app {

TChangeDirectoryForm::TChangeDirectoryForm(const QString& caption, const QString& label,
                                           const QString& text, QWidget* parent)
    : QDialog(parent) {
    setObjectName("ChangeDirectoryForm");
    setWindowTitle(caption);
    auto* layout = new QVBoxLayout(this);
    auto* l = new QLabel(label, this);
    edit_ = new QLineEdit(text, this);
    edit_->setObjectName("Path");
    edit_->selectAll();
    l->setBuddy(edit_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(l);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
    resize(360, sizeHint().height());
}

QString TChangeDirectoryForm::text() const {
    return edit_->text();
}

} // namespace morvane::app
