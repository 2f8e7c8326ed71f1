#include "gui/app/SelectListForm.h"

#include "gui/platform/QtUiServices.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QVBoxLayout>

namespace morvane::app {

using platform::fromBytes;

TSelectListForm::TSelectListForm(const QString& caption, std::vector<std::string> entries,
                                 const std::string& preset, QWidget* parent)
    : QDialog(parent) {
    setObjectName("SelectListForm");
    setWindowTitle(caption);
    list_ = new QListWidget(this);
    list_->setObjectName("List");
    for (const std::string& entry : entries) {
        auto* item = new QListWidgetItem(fromBytes(entry), list_);
        item->setData(Qt::UserRole, QByteArray::fromStdString(entry));
        if (entry == preset) list_->setCurrentItem(item);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("Buttons");
    // OK without a selection does nothing: the dialog stays open.
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { choose(list_->currentItem()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemDoubleClicked, this, &TSelectListForm::choose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    list_->setFocus();
}

void TSelectListForm::choose(QListWidgetItem* item) {
    if (!item || !item->isSelected()) return;
    chosen_ = item->data(Qt::UserRole).toByteArray().toStdString();
    accept();
}

} // namespace morvane::app
