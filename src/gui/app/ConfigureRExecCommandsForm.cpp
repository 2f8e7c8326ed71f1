#include "gui/app/ConfigureRExecCommandsForm.h"

#include "core/net/Account.h"
#include "core/platform/UiServices.h"
#include "gui/app/KeyAssignDialog.h"
#include "gui/app/SelectListForm.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace morvane::app {

using platform::fromBytes;
using platform::toBytes;

QKeySequence RExecKeySequence(const std::string& text) {
    if (text.empty() || text == "(None)") return {};
    return QKeySequence::fromString(fromBytes(text), QKeySequence::PortableText);
}

std::string RExecShortcutText(std::uint16_t shortcut) {
    QKeySequence key = editor::KeySequenceOf(shortcut);
    return key.isEmpty() ? "(None)" : toBytes(key.toString(QKeySequence::PortableText));
}

namespace {
std::uint16_t shortcutOf(const std::string& text) {
    QKeySequence key = RExecKeySequence(text);
    if (key.isEmpty()) return 0;
    return editor::ShortcutOf(key[0].key(), key[0].keyboardModifiers());
}
} // namespace

TConfigureRExecCommandsForm::TConfigureRExecCommandsForm(platform::Registry& registry,
                                                         platform::Dialogs& dialogs,
                                                         QWidget* parent)
    : QDialog(parent), registry_(registry), dialogs_(dialogs),
      commands_(loadRExecCommands(registry)) {
    setObjectName("ConfigureRExecCommandsForm");
    setWindowTitle("Configure RExec tools");
    pickAccount = [this](const std::string& preset) -> std::optional<std::string> {
        TSelectListForm picker("Select an account", net::AccountNames(registry_), preset, this);
        if (picker.exec() != QDialog::Accepted) return std::nullopt;
        return picker.chosen();
    };

    list_ = new QListWidget(this);
    list_->setObjectName("CommandList");
    list_->setAccessibleName("RExec commands");
    list_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::SelectedClicked);
    for (const TRExecCommand& c : commands_) {
        auto* item = new QListWidgetItem(fromBytes(c.Name), list_);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    newButton_ = new QPushButton("&New", this);
    newButton_->setObjectName("NewButton");
    deleteButton_ = new QPushButton("&Delete", this);
    deleteButton_->setObjectName("DeleteButton");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(newButton_);
    buttons->addWidget(deleteButton_);
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel("RExec commands", this));
    left->addWidget(list_);
    left->addLayout(buttons);

    panel_ = new QStackedWidget(this);
    hint_ = new QLabel("Please hit &New to create a new command", panel_);
    hint_->setObjectName("EmptyHint");
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setBuddy(newButton_);
    properties_ = new QWidget(panel_);
    properties_->setObjectName("PropertyPanel");
    command_ = new QLineEdit(properties_);
    command_->setObjectName("CommandEdit");
    command_->setToolTip("%d: the remote directory; %f: the remote file; %n: the remote file "
                         "without its extension");
    clear_ = new QCheckBox("&Clear output before running", properties_);
    clear_->setObjectName("ClearOutputCheck");
    openFile_ = new QRadioButton("Use &Open File", properties_);
    openFile_->setObjectName("OpenFileRadio");
    useAccount_ = new QRadioButton("Use specified account:", properties_);
    useAccount_->setObjectName("AccountRadio");
    select_ = new QRadioButton("&Select an account when executed", properties_);
    select_->setObjectName("SelectRadio");
    auto* group = new QButtonGroup(properties_);
    group->addButton(openFile_, raOpenFile);
    group->addButton(useAccount_, raAccount);
    group->addButton(select_, raSelectOne);
    account_ = new QLineEdit(properties_);
    account_->setObjectName("AccountEdit");
    choose_ = new QToolButton(properties_);
    choose_->setObjectName("ChooseAccountButton");
    choose_->setText("...");
    choose_->setToolTip("Choose account");
    hotkey_ = new TShortcutEdit(properties_);
    hotkey_->setObjectName("HotkeyEdit");
    auto* grid = new QGridLayout(properties_);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(new QLabel("Command-line:", properties_), 0, 0, 1, 3);
    grid->addWidget(command_, 1, 0, 1, 3);
    grid->addWidget(clear_, 2, 0, 1, 3);
    grid->addWidget(openFile_, 3, 0, 1, 3);
    grid->addWidget(useAccount_, 4, 0, 1, 3);
    grid->addWidget(new QLabel("Account:", properties_), 5, 0);
    grid->addWidget(account_, 5, 1);
    grid->addWidget(choose_, 5, 2);
    grid->addWidget(select_, 6, 0, 1, 3);
    grid->addWidget(new QLabel("Hotkey:", properties_), 7, 0);
    grid->addWidget(hotkey_, 7, 1, 1, 2);
    grid->setRowStretch(8, 1);
    panel_->addWidget(hint_);
    panel_->addWidget(properties_);

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
        if (row >= 0 && std::size_t(row) < commands_.size())
            commands_[std::size_t(row)].Name = toBytes(item->text());
    });
    connect(newButton_, &QPushButton::clicked, this, &TConfigureRExecCommandsForm::NewCommand);
    connect(deleteButton_, &QPushButton::clicked, this,
            &TConfigureRExecCommandsForm::DeleteCommand);
    connect(command_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (TRExecCommand* c = current()) c->Command = toBytes(text);
    });
    connect(clear_, &QCheckBox::toggled, this, [this](bool on) {
        if (TRExecCommand* c = current(); c && !filling_) c->ClearOutput = on;
    });
    connect(group, &QButtonGroup::idClicked, this,
            [this](int id) { setAccountType(TRExecAccountType(id)); });
    connect(account_, &QLineEdit::textEdited, this, [this](const QString& text) {
        TRExecCommand* c = current();
        if (!c) return;
        c->Account = toBytes(text);
        setAccountType(raAccount);
    });
    connect(choose_, &QToolButton::clicked, this, [this] {
        TRExecCommand* c = current();
        if (!c || !pickAccount) return;
        std::optional<std::string> name = pickAccount(c->Account);
        if (!name) return;
        account_->setText(fromBytes(*name));
        c->Account = *name;
        setAccountType(raAccount);
    });
    hotkey_->OnChange = [this](std::uint16_t key) {
        if (TRExecCommand* c = current(); c && !filling_) c->Shortcut = RExecShortcutText(key);
    };

    if (list_->count() > 0) list_->setCurrentRow(0);
    showSelected();
    resize(560, 360);
}

TRExecCommand* TConfigureRExecCommandsForm::current() {
    int row = list_->currentRow();
    return row >= 0 && std::size_t(row) < commands_.size() ? &commands_[std::size_t(row)] : nullptr;
}

void TConfigureRExecCommandsForm::setAccountType(TRExecAccountType type) {
    TRExecCommand* c = current();
    if (!c) return;
    c->AccountType = type;
    if (type != raAccount) c->Account.clear();
    filling_ = true;
    openFile_->setChecked(type == raOpenFile);
    useAccount_->setChecked(type == raAccount);
    select_->setChecked(type == raSelectOne);
    if (type != raAccount) account_->clear();
    filling_ = false;
}

void TConfigureRExecCommandsForm::showSelected() {
    TRExecCommand* c = current();
    panel_->setCurrentIndex(c ? 1 : 0);
    deleteButton_->setEnabled(c != nullptr);
    if (!c) return;
    filling_ = true;
    command_->setText(fromBytes(c->Command));
    clear_->setChecked(c->ClearOutput);
    openFile_->setChecked(c->AccountType == raOpenFile);
    useAccount_->setChecked(c->AccountType == raAccount);
    select_->setChecked(c->AccountType == raSelectOne);
    account_->setText(fromBytes(c->Account));
    hotkey_->SetShortcut(shortcutOf(c->Shortcut));
    filling_ = false;
}

void TConfigureRExecCommandsForm::NewCommand() {
    TRExecCommand command;
    commands_.push_back(command);
    auto* item = new QListWidgetItem(fromBytes(command.Name), list_);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    list_->setCurrentItem(item);
    list_->editItem(item);
}

void TConfigureRExecCommandsForm::DeleteCommand() {
    const int row = list_->currentRow();
    if (!current()) return;
    commands_.erase(commands_.begin() + row);
    delete list_->takeItem(row);
    showSelected();
}

bool TConfigureRExecCommandsForm::Renaming() const {
    // The list's open editor is the line edit it puts on its viewport.
    for (auto* editor : list_->viewport()->findChildren<QLineEdit*>())
        if (editor->isVisible()) return true;
    return false;
}

void TConfigureRExecCommandsForm::accept() {
    if (Renaming()) {
        // OK ends the renaming; a second OK closes.
        for (auto* editor : list_->viewport()->findChildren<QLineEdit*>()) {
            if (!editor->isVisible()) continue;
            QMetaObject::invokeMethod(list_, "commitData", Q_ARG(QWidget*, editor));
            QMetaObject::invokeMethod(
                list_, "closeEditor", Q_ARG(QWidget*, editor),
                Q_ARG(QAbstractItemDelegate::EndEditHint, QAbstractItemDelegate::NoHint));
        }
        return;
    }
    if (!saveRExecCommands(registry_, commands_)) {
        dialogs_.error("Could not write to the registry.");
        return;
    }
    QDialog::accept();
}

} // namespace morvane::app
