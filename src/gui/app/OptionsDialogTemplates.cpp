#include "gui/app/OptionsDialog.h"

#include "core/editor/Streams.h"
#include "gui/app/KeyAssignDialog.h"
#include "gui/app/OptionsDialogShared.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace morvane::app {

using editor::TCodeMemo;
using options_dialog::kNameRole;
using options_dialog::lowerBytes;
using options_dialog::pageButton;
using platform::fromBytes;
using platform::toBytes;

void TOptionsDialog::buildTemplatesPage() {
    auto* page = new QWidget;
    page->setObjectName("TemplatesPage");
    auto* layout = new QVBoxLayout(page);
    templates_ = new QListWidget(page);
    templates_->setObjectName("Templates");
    layout->addWidget(templates_, 1);
    auto* form = new QFormLayout;
    templateName_ = new QLineEdit(page);
    templateName_->setObjectName("TemplateName");
    templateDescription_ = new QLineEdit(page);
    templateDescription_->setObjectName("TemplateDescription");
    hotkey_ = new TShortcutEdit(page);
    hotkey_->setObjectName("Hotkey");
    hotkey_->SetShortcut(Working().templates.hotkey);
    form->addRow("Name", templateName_);
    form->addRow("Description", templateDescription_);
    layout->addLayout(form);
    templateText_ = new TCodeMemo(page);
    templateText_->setObjectName("TemplateText");
    templateText_->SetParser(1, scratch_.get());
    templateText_->SetActiveParser(1);
    templateText_->setMinimumHeight(100);
    layout->addWidget(templateText_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel("Hotkey", page));
    bottom->addWidget(hotkey_);
    bottom->addStretch(1);
    auto* add = pageButton("Add", "AddTemplate", page);
    auto* replace = pageButton("Replace", "ReplaceTemplate", page);
    auto* remove = pageButton("Delete", "DeleteTemplate", page);
    bottom->addWidget(add);
    bottom->addWidget(replace);
    bottom->addWidget(remove);
    layout->addLayout(bottom);
    connect(templates_, &QListWidget::currentRowChanged, this, [this] { templateSelected(); });
    connect(add, &QPushButton::clicked, this, [this] { addTemplate(false); });
    connect(replace, &QPushButton::clicked, this, [this] { addTemplate(true); });
    connect(remove, &QPushButton::clicked, this, [this] { deleteTemplate(); });
    hotkey_->OnChange = [this](std::uint16_t key) {
        if (!filling_) Working().templates.hotkey = key;
    };
    fillTemplates();
    pages_->addTab(page, "Code Templates");
}

void TOptionsDialog::fillTemplates(const std::string& select) {
    bool was = filling_;
    filling_ = true;
    templates_->clear();
    for (const auto& [name, entry] : Working().templates.entries()) {
        QString caption = fromBytes(name);
        if (entry.description) caption += "\t" + fromBytes(*entry.description);
        auto* item = new QListWidgetItem(caption, templates_);
        item->setData(kNameRole, QByteArray(name.data(), qsizetype(name.size())));
        if (name == select) templates_->setCurrentItem(item);
    }
    filling_ = was;
}

void TOptionsDialog::templateSelected() {
    if (filling_) return;
    QListWidgetItem* item = templates_->currentItem();
    if (!item) return;
    std::string name = item->data(kNameRole).toByteArray().toStdString();
    const editor::MacroEntry* e = Working().templates.entry(name);
    templateName_->setText(fromBytes(name));
    templateDescription_->setText(e && e->description ? fromBytes(*e->description) : QString());
    editor::TMemoryStream text(e && e->expansion ? *e->expansion : std::string());
    templateText_->LoadFromStream(text);
}

void TOptionsDialog::addTemplate(bool replaceSelected) {
    const std::string name = toBytes(templateName_->text());
    const std::string description = toBytes(templateDescription_->text());
    QListWidgetItem* selected = templates_->currentItem();
    if (replaceSelected && !selected) {
        error("Select the template to replace first.");
        return;
    }
    if (name.empty()) {
        error("Enter a name for the template.");
        return;
    }
    if (!fitsByteLength(name, "The template name") ||
        !fitsByteLength(description, "The description"))
        return;
    auto& store = Working().templates;
    if (replaceSelected)
        store.deleteTemplate(selected->data(kNameRole).toByteArray().toStdString());
    store.addTemplate(name, description, templateText_->Text());
    fillTemplates(lowerBytes(name));
    refreshSamples();
}

void TOptionsDialog::deleteTemplate() {
    QListWidgetItem* selected = templates_->currentItem();
    if (!selected) return;
    Working().templates.deleteTemplate(selected->data(kNameRole).toByteArray().toStdString());
    fillTemplates();
    refreshSamples();
}

} // namespace morvane::app
