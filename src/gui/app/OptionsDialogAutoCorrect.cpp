#include "gui/app/OptionsDialog.h"

#include "gui/app/OptionsDialogShared.h"
#include "gui/platform/QtUiServices.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace morvane::app {

using options_dialog::kNameRole;
using options_dialog::lowerBytes;
using options_dialog::pageButton;
using platform::fromBytes;
using platform::toBytes;

void TOptionsDialog::buildAutoCorrectPage() {
    auto* page = new QWidget;
    page->setObjectName("AutoCorrectPage");
    auto* layout = new QVBoxLayout(page);
    replacements_ = new QListWidget(page);
    replacements_->setObjectName("Replacements");
    layout->addWidget(replacements_, 1);
    auto* form = new QFormLayout;
    replaceItem_ = new QLineEdit(page);
    replaceItem_->setObjectName("ReplaceItem");
    replaceWith_ = new QLineEdit(page);
    replaceWith_->setObjectName("ReplaceWith");
    endKeys_ = new QLineEdit(fromBytes(Working().autoReplace.endKeyText()), page);
    endKeys_->setObjectName("ActKeys");
    form->addRow("Replace", replaceItem_);
    form->addRow("With", replaceWith_);
    form->addRow("Act key(s)", endKeys_);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout;
    auto* add = pageButton("Add", "AddReplacement", page);
    auto* replace = pageButton("Replace", "ReplaceReplacement", page);
    auto* remove = pageButton("Delete", "DeleteReplacement", page);
    buttons->addStretch(1);
    buttons->addWidget(add);
    buttons->addWidget(replace);
    buttons->addWidget(remove);
    layout->addLayout(buttons);
    connect(replacements_, &QListWidget::currentRowChanged, this,
            [this] { autoCorrectSelected(); });
    connect(add, &QPushButton::clicked, this, [this] { addReplacement(false); });
    connect(replace, &QPushButton::clicked, this, [this] { addReplacement(true); });
    connect(remove, &QPushButton::clicked, this, [this] { deleteReplacement(); });
    connect(endKeys_, &QLineEdit::editingFinished, this, [this] {
        if (!filling_) takeEndKeys();
    });
    fillAutoCorrect();
    pages_->addTab(page, "Auto Correct");
}

void TOptionsDialog::fillAutoCorrect(const std::string& select) {
    bool was = filling_;
    filling_ = true;
    replacements_->clear();
    for (const auto& [name, entry] : Working().autoReplace.entries()) {
        auto* item = new QListWidgetItem(fromBytes(name) + "\t" +
                                             fromBytes(entry.expansion.value_or(std::string())),
                                         replacements_);
        item->setData(kNameRole, QByteArray(name.data(), qsizetype(name.size())));
        if (name == select) replacements_->setCurrentItem(item);
    }
    filling_ = was;
}

void TOptionsDialog::autoCorrectSelected() {
    if (filling_) return;
    QListWidgetItem* item = replacements_->currentItem();
    if (!item) return;
    QByteArray name = item->data(kNameRole).toByteArray();
    const editor::MacroEntry* e = Working().autoReplace.entry(name.toStdString());
    replaceItem_->setText(fromBytes(name.toStdString()));
    replaceWith_->setText(e && e->expansion ? fromBytes(*e->expansion) : QString());
}

void TOptionsDialog::addReplacement(bool replaceSelected) {
    const std::string item = toBytes(replaceItem_->text());
    const std::string with = toBytes(replaceWith_->text());
    QListWidgetItem* selected = replacements_->currentItem();
    if (replaceSelected && !selected) {
        error("Select the entry to replace first.");
        return;
    }
    if (item.empty()) {
        error("Enter the word to replace.");
        return;
    }
    if (!fitsByteLength(item, "The word to replace")) return;
    auto& store = Working().autoReplace;
    if (replaceSelected) store.deleteEntry(selected->data(kNameRole).toByteArray().toStdString());
    store.addReplacement(item, with);
    fillAutoCorrect(lowerBytes(item));
    refreshSamples();
}

void TOptionsDialog::deleteReplacement() {
    QListWidgetItem* selected = replacements_->currentItem();
    if (!selected) return;
    Working().autoReplace.deleteEntry(selected->data(kNameRole).toByteArray().toStdString());
    fillAutoCorrect();
    refreshSamples();
}

bool TOptionsDialog::takeEndKeys() {
    auto& store = Working().autoReplace;
    const std::string text = toBytes(endKeys_->text());
    if (text == store.endKeyText()) return true;
    std::string problem;
    if (text.size() > 255) {
        problem = "The act keys are " + std::to_string(text.size()) +
                  " bytes long; at most 255 bytes can be stored.";
    } else {
        try {
            store.setEndKeyText(text);
        } catch (const std::exception& e) {
            problem = e.what();
        }
    }
    bool was = filling_;
    filling_ = true;
    endKeys_->setText(fromBytes(store.endKeyText()));
    filling_ = was;
    if (!problem.empty()) {
        pages_->setCurrentIndex(tabAutoCorrect);
        error(problem);
        return false;
    }
    return true;
}

} // namespace morvane::app
