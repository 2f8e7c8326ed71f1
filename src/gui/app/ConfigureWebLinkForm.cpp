#include "gui/app/ConfigureWebLinkForm.h"

#include "core/platform/UiServices.h"
#include "gui/app/KeyAssignDialog.h"
#include "gui/platform/QtUiServices.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace morvane::app {

using platform::fromBytes;
using platform::toBytes;

namespace {
bool sameNoCase(const std::string& a, const std::string& b) {
    return QString::compare(fromBytes(a), fromBytes(b), Qt::CaseInsensitive) == 0;
}
} // namespace

TConfigureWebLinkForm::TConfigureWebLinkForm(platform::Registry& registry,
                                             platform::Dialogs& dialogs,
                                             std::vector<std::string> languages, QWidget* parent)
    : QDialog(parent), registry_(registry), dialogs_(dialogs), languages_(std::move(languages)),
      links_(loadWeblinks(registry)) {
    setObjectName("ConfigureWebLinkForm");
    setWindowTitle("Configure Web links");

    // Left: the list and its buttons.
    list_ = new QListWidget(this);
    list_->setObjectName("WebLinkList");
    list_->setAccessibleName("Web links");
    list_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::SelectedClicked);
    for (const TWeblink& l : links_) {
        auto* item = new QListWidgetItem(fromBytes(l.caption), list_);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    auto makeButton = [this](const char* text, const char* name, const char* hint) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setToolTip(hint);
        return b;
    };
    newButton_ = makeButton("&New", "NewButton", "Create new Weblink");
    deleteButton_ = makeButton("&Delete", "DeleteButton", "Delete selected Weblink");
    upButton_ = makeButton("&Up", "UpButton", "Move select Weblink up one space");
    downButton_ = makeButton("Do&wn", "DownButton", "Move select Weblink down one space");
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {newButton_, deleteButton_, upButton_, downButton_})
        buttons->addWidget(b);
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel("Web links:", this));
    left->addWidget(list_);
    left->addLayout(buttons);

    // Right: the selected weblink's properties, or the hint to make one.
    panel_ = new QStackedWidget(this);
    auto* hint = new QLabel("Please create a new weblink\nwith the button on the left", panel_);
    hint->setAlignment(Qt::AlignCenter);
    auto* properties = new QWidget(panel_);
    properties->setObjectName("PropertyPanel");
    pages_ = new QTabWidget(properties);
    pages_->setObjectName("KindPages");
    auto* staticPage = new QWidget(pages_);
    url_ = new QLineEdit(staticPage);
    url_->setObjectName("UrlEdit");
    wordButton_ = new QToolButton(staticPage);
    wordButton_->setObjectName("WordButton");
    wordButton_->setText("%WORD%");
    wordButton_->setToolTip("Include word at cursor here when launching link.");
    auto* staticLayout = new QGridLayout(staticPage);
    staticLayout->addWidget(new QLabel("URL:", staticPage), 0, 0);
    staticLayout->addWidget(url_, 0, 1);
    staticLayout->addWidget(wordButton_, 0, 2);
    staticLayout->setRowStretch(1, 1);
    auto* lookupPage = new QWidget(pages_);
    file_ = new QLineEdit(lookupPage);
    file_->setObjectName("LookupFileEdit");
    auto* browse = new QToolButton(lookupPage);
    browse->setText("...");
    browse->setToolTip("Choose the lookup file");
    auto* lookupLayout = new QGridLayout(lookupPage);
    lookupLayout->addWidget(new QLabel("Lookup file:", lookupPage), 0, 0);
    lookupLayout->addWidget(file_, 0, 1);
    lookupLayout->addWidget(browse, 0, 2);
    lookupLayout->setRowStretch(1, 1);
    pages_->addTab(staticPage, "Static link");
    pages_->addTab(lookupPage, "Look up word");
    shortcut_ = new TShortcutEdit(properties);
    shortcut_->setObjectName("ShortcutEdit");
    languageList_ = new QListWidget(properties);
    languageList_->setObjectName("LanguageList");
    for (const std::string& language : languages_) {
        auto* item = new QListWidgetItem(fromBytes(language), languageList_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    auto* props = new QVBoxLayout(properties);
    props->setContentsMargins(0, 0, 0, 0);
    props->addWidget(pages_);
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(new QLabel("Short cut key:", properties));
    keyRow->addWidget(shortcut_);
    props->addLayout(keyRow);
    props->addWidget(new QLabel("Use this weblink in these languages:", properties));
    props->addWidget(languageList_);
    panel_->addWidget(hint);
    panel_->addWidget(properties);

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addWidget(panel_, 2);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(columns);
    outer->addWidget(box);

    connect(list_, &QListWidget::currentRowChanged, this, [this] { showSelected(); });
    connect(list_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        int row = list_->row(item);
        if (row >= 0 && std::size_t(row) < links_.size())
            links_[std::size_t(row)].caption = toBytes(item->text());
    });
    connect(newButton_, &QPushButton::clicked, this, &TConfigureWebLinkForm::NewLink);
    connect(deleteButton_, &QPushButton::clicked, this, &TConfigureWebLinkForm::DeleteLink);
    connect(upButton_, &QPushButton::clicked, this, [this] { Move(-1); });
    connect(downButton_, &QPushButton::clicked, this, [this] { Move(1); });
    connect(pages_, &QTabWidget::currentChanged, this, [this](int page) {
        if (TWeblink* l = current(); l && !filling_) l->kind = TWeblinkKind(page);
    });
    connect(url_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (TWeblink* l = current()) {
            l->kind = wkStatic;
            l->address = toBytes(text);
        }
    });
    connect(file_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (TWeblink* l = current()) {
            l->kind = wkLookup;
            l->lookupFile = toBytes(text);
        }
    });
    connect(browse, &QToolButton::clicked, this, [this] {
        QString chosen = QFileDialog::getOpenFileName(this, "Lookup file", file_->text(),
                                                      "Text files (*.txt);;All files (*)");
        if (chosen.isEmpty()) return;
        file_->setText(chosen);
        emit file_->textEdited(chosen);
    });
    shortcut_->OnChange = [this](std::uint16_t key) {
        if (TWeblink* l = current(); l && !filling_) l->shortcut = key;
    };
    connect(languageList_, &QListWidget::itemChanged, this, [this] {
        TWeblink* l = current();
        if (!l || filling_) return;
        l->languages.clear();
        for (int i = 0; i < languageList_->count(); ++i)
            if (languageList_->item(i)->checkState() == Qt::Checked)
                l->languages.push_back(toBytes(languageList_->item(i)->text()));
    });
    connect(wordButton_, &QToolButton::clicked, this, [this] {
        url_->insert("%WORD%"); // replaces the field's selection
        emit url_->textEdited(url_->text());
    });

    if (list_->count() > 0) list_->setCurrentRow(0);
    showSelected();
    resize(560, 360);
}

TWeblink* TConfigureWebLinkForm::current() {
    int row = list_->currentRow();
    return row >= 0 && std::size_t(row) < links_.size() ? &links_[std::size_t(row)] : nullptr;
}

void TConfigureWebLinkForm::showSelected() {
    const int row = list_->currentRow();
    TWeblink* l = current();
    panel_->setCurrentIndex(l ? 1 : 0);
    deleteButton_->setEnabled(l != nullptr);
    upButton_->setEnabled(l && row > 0);
    downButton_->setEnabled(l && row + 1 < list_->count());
    if (!l) return;
    filling_ = true;
    pages_->setCurrentIndex(l->kind == wkLookup ? 1 : 0);
    url_->setText(l->kind == wkStatic ? fromBytes(l->address) : QString());
    file_->setText(l->kind == wkLookup ? fromBytes(l->lookupFile) : QString());
    shortcut_->SetShortcut(l->shortcut);
    for (int i = 0; i < languageList_->count(); ++i) {
        std::string name = toBytes(languageList_->item(i)->text());
        bool on = std::any_of(l->languages.begin(), l->languages.end(),
                              [&](const std::string& x) { return sameNoCase(x, name); });
        languageList_->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    filling_ = false;
}

void TConfigureWebLinkForm::NewLink() {
    TWeblink link;
    link.caption = "untitled";
    links_.push_back(link);
    auto* item = new QListWidgetItem("untitled", list_);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    list_->setCurrentItem(item);
    list_->editItem(item);
}

void TConfigureWebLinkForm::DeleteLink() {
    const int row = list_->currentRow();
    TWeblink* l = current();
    if (!l) return;
    if (dialogs_.message(platform::MsgKind::Confirmation, "Delete weblink " + l->caption,
                         platform::mbYesNo) != platform::MsgResult::Yes)
        return;
    links_.erase(links_.begin() + row);
    delete list_->takeItem(row);
    showSelected();
}

void TConfigureWebLinkForm::Move(int by) {
    const int row = list_->currentRow(), to = row + by;
    if (row < 0 || to < 0 || to >= list_->count()) return;
    std::swap(links_[std::size_t(row)], links_[std::size_t(to)]);
    QListWidgetItem* item = list_->takeItem(row);
    list_->insertItem(to, item);
    list_->setCurrentRow(to);
    showSelected();
}

bool TConfigureWebLinkForm::Save() {
    if (!saveWeblinks(registry_, links_)) {
        dialogs_.error("Could not write to the registry.");
        return false;
    }
    return true;
}

void TConfigureWebLinkForm::accept() {
    // A caption being typed is committed when the editor loses the focus to the OK button.
    if (Save()) QDialog::accept();
}

} // namespace morvane::app
