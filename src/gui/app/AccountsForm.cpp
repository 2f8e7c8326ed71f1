#include "gui/app/AccountsForm.h"

#include "core/net/AccountSecrets.h"
#include "gui/app/MainForm.h"
#include "gui/app/MirrorForm.h"
#include "gui/platform/QtUiServices.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace morvane::app {

using platform::fromBytes;
using platform::toBytes;

// The list of account names, renamed in place; it tells whether a rename is under way and can
// end one as if the user had pressed Enter.
class AccountList : public QListWidget {
public:
    using QListWidget::QListWidget;
    std::function<void()> onDelete;

    bool editing() const { return state() == QAbstractItemView::EditingState; }
    void finishEditing() {
        if (!editing()) return;
        if (QWidget* editor = indexWidget(currentIndex())) {
            commitData(editor);
            closeEditor(editor, QAbstractItemDelegate::NoHint);
        }
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Delete && !editing() && onDelete) {
            onDelete();
            return;
        }
        QListWidget::keyPressEvent(event);
    }
};

namespace {

QPushButton* button(const QString& caption, const char* name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QLineEdit* lineEdit(const char* name, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    return e;
}

QCheckBox* checkBox(const QString& caption, const char* name, QWidget* parent) {
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

} // namespace

TAccountsForm::TAccountsForm(TMainForm& form, QWidget* parent)
    : QDialog(parent ? parent : &form), form_(form) {
    setObjectName("AccountsForm");
    setWindowTitle("Accounts");

    list_ = new AccountList(this);
    list_->setObjectName("AccountList");
    list_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    list_->onDelete = [this] { deleteSelected(); };
    list_->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* renameAction = new QAction("Rena&me", list_);
    renameAction->setObjectName("RenameAction");
    auto* deleteAction = new QAction("&Delete", list_);
    deleteAction->setObjectName("DeleteAction");
    list_->addAction(renameAction);
    list_->addAction(deleteAction);
    connect(renameAction, &QAction::triggered, this, &TAccountsForm::renameSelected);
    connect(deleteAction, &QAction::triggered, this, &TAccountsForm::deleteSelected);
    connect(list_, &QListWidget::currentRowChanged, this, [this] {
        fill();
        updateMoveButtons();
    });
    connect(list_, &QListWidget::itemChanged, this, &TAccountsForm::itemRenamed);

    newButton_ = button("&New", "NewButton", this);
    deleteButton_ = button("De&lete", "DeleteButton", this); // Alt+D is the directory
    topButton_ = button("Top", "MoveTopButton", this);
    upButton_ = button("Up", "MoveUpButton", this);
    downButton_ = button("Down", "MoveDownButton", this);
    bottomButton_ = button("Bottom", "MoveBottomButton", this);
    topButton_->setToolTip("Moves the account to the top");
    upButton_->setToolTip("Moves the account up one step");
    downButton_->setToolTip("Moves the account down one step");
    bottomButton_->setToolTip("Moves the account to the bottom of the list");
    connect(newButton_, &QPushButton::clicked, this, &TAccountsForm::newAccount);
    connect(deleteButton_, &QPushButton::clicked, this, &TAccountsForm::deleteSelected);
    connect(topButton_, &QPushButton::clicked, this, [this] { move(0); });
    connect(upButton_, &QPushButton::clicked, this, [this] { move(currentRow() - 1); });
    connect(downButton_, &QPushButton::clicked, this, [this] { move(currentRow() + 1); });
    connect(bottomButton_, &QPushButton::clicked, this,
            [this] { move(int(accounts_.size()) - 1); });

    pages_ = new QTabWidget(this);
    pages_->setObjectName("Pages");
    buildPages();
    emptyLabel_ = new QLabel("Please create an account by hitting the New button", this);
    emptyLabel_->setObjectName("NoAccountsLabel");
    emptyLabel_->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(this);
    buttons->setObjectName("Buttons");
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName("OKButton");
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName("CancelButton");
    connect(buttons, &QDialogButtonBox::accepted, this, &TAccountsForm::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* side = new QVBoxLayout;
    side->addWidget(list_);
    auto* listButtons = new QGridLayout;
    listButtons->addWidget(newButton_, 0, 0);
    listButtons->addWidget(deleteButton_, 0, 1);
    listButtons->addWidget(topButton_, 1, 0);
    listButtons->addWidget(upButton_, 1, 1);
    listButtons->addWidget(downButton_, 2, 0);
    listButtons->addWidget(bottomButton_, 2, 1);
    side->addLayout(listButtons);
    auto* right = new QVBoxLayout;
    right->addWidget(pages_);
    right->addWidget(emptyLabel_);
    auto* body = new QHBoxLayout;
    body->addLayout(side, 1);
    body->addLayout(right, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addWidget(buttons);

    // The stored accounts in the store's order.
    platform::Registry& registry = *form_.context().registry;
    net::TAccountSecrets* secrets = form_.context().secrets;
    // The keyring's passwords are shown like the settings' (read once, waiting on the loop).
    if (secrets) {
        secrets->load();
        passwordPlace_->setText(fromBytes(secrets->placeText())); // after the reading
    }
    for (const std::string& name : net::AccountNames(registry)) {
        net::TAccount account;
        if (!net::LoadAccount(registry, name, account)) continue;
        if (secrets && account.Password.empty() && !account.PromptForPassword)
            account.Password = secrets->inKeyring(name).value_or("");
        accounts_.push_back(account);
        storedNames_.push_back(name);
        loadedNames_.push_back(name);
        auto* item = new QListWidgetItem(fromBytes(name));
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        list_->addItem(item);
    }
    pages_->setCurrentIndex(0);
    if (!accounts_.empty()) list_->setCurrentRow(0);
    fill();
    updateEmptyState();
    updateMoveButtons();
}

TAccountsForm::~TAccountsForm() = default;

void TAccountsForm::buildPages() {
    // Basic
    auto* basic = new QWidget;
    basic->setObjectName("BasicPage");
    protocol_ = new QComboBox(basic);
    protocol_->setObjectName("ProtocolCombo");
    for (net::TRemoteProtocol p : {net::TRemoteProtocol::Ftp, net::TRemoteProtocol::Sftp})
        protocol_->addItem(QString::fromUtf8(net::ProtocolText(p)), int(p));
    protocol_->setToolTip("SFTP logs in over SSH: with the SSH agent, your keys in ~/.ssh, or "
                          "the password");
    host_ = lineEdit("HostEdit", basic);
    user_ = lineEdit("UserEdit", basic);
    password_ = lineEdit("PasswordEdit", basic);
    password_->setEchoMode(QLineEdit::Password);
    directory_ = lineEdit("DirectoryEdit", basic);
    directoryButton_ = button("...", "DirectoryButton", basic);
    directoryButton_->setToolTip("Choose the directory on the server");
    directoryButton_->setEnabled(bool(form_.remote().chooseDirectory));
    auto* dirRow = new QHBoxLayout;
    dirRow->addWidget(directory_);
    dirRow->addWidget(directoryButton_);
    security_ = new QComboBox(basic);
    security_->setObjectName("SecurityCombo");
    for (net::TTlsMode mode : {net::TTlsMode::Plain, net::TTlsMode::Try, net::TTlsMode::Require})
        security_->addItem(QString::fromUtf8(net::TlsModeText(mode)), int(mode));
    security_->setToolTip("FTP over TLS protects the password and the files on the way");
    auto* basicLayout = new QFormLayout(basic);
    basicLayout->addRow("Pro&tocol:", protocol_);
    basicLayout->addRow("&Hostname:", host_);
    basicLayout->addRow("U&sername:", user_); // Alt+U is the UNIX page
    basicLayout->addRow("&Password:", password_);
    passwordPlace_ = new QLabel(basic);
    passwordPlace_->setObjectName("PasswordPlaceLabel");
    passwordPlace_->setWordWrap(true);
    passwordPlace_->setVisible(form_.context().secrets != nullptr);
    basicLayout->addRow(QString(), passwordPlace_);
    // A label made for a row of several widgets has no buddy and would show its '&'.
    auto* directoryLabel = new QLabel("&Directory:", basic);
    directoryLabel->setBuddy(directory_);
    basicLayout->addRow(directoryLabel, dirRow);
    basicLayout->addRow("Securit&y:", security_);
    pages_->addTab(basic, "Basic");

    // Advanced
    auto* advanced = new QWidget;
    advanced->setObjectName("AdvancedPage");
    usePort_ = checkBox("Use different port:", "UsePortCheck", advanced);
    port_ = lineEdit("PortEdit", advanced);
    port_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), port_));
    firewall_ = checkBox("Use &firewall", "UseFirewallCheck", advanced);
    auto* firewallProperties =
        button("Firewall p&roperties...", "FirewallPropertiesButton", advanced);
    connect(firewallProperties, &QPushButton::clicked, this,
            [this] { form_.optionsCommand(1, this); });
    prompt_ = checkBox("&Prompt for password", "PromptPasswordCheck", advanced);
    closeConnection_ =
        checkBox("Close connection after open and save", "CloseConnectionCheck", advanced);
    passive_ = checkBox("P&assive mode", "PassiveModeCheck", advanced);
    passive_->setToolTip("Open data connections from here: needed behind most routers");
    passiveServerAddress_ = checkBox("Always connect to the server's own address in passive mode",
                                     "PassiveServerAddressCheck", advanced);
    passiveServerAddress_->setToolTip(
        "Ignore the address a server names for passive connections (a server behind a NAT "
        "often names one that cannot be reached)");
    auto* advancedLayout = new QGridLayout(advanced);
    advancedLayout->addWidget(usePort_, 0, 0);
    advancedLayout->addWidget(port_, 0, 1);
    advancedLayout->addWidget(firewall_, 1, 0);
    advancedLayout->addWidget(firewallProperties, 1, 1);
    advancedLayout->addWidget(prompt_, 2, 0, 1, 2);
    advancedLayout->addWidget(closeConnection_, 3, 0, 1, 2);
    advancedLayout->addWidget(passive_, 4, 0, 1, 2);
    advancedLayout->addWidget(passiveServerAddress_, 5, 0, 1, 2);
    advancedLayout->setRowStretch(6, 1);
    pages_->addTab(advanced, "Advanced");

    // Mirroring
    auto* mirror = new QWidget;
    mirror->setObjectName("MirroringPage");
    mirroring_ = checkBox("Enable &mirroring", "EnableMirroringCheck", mirror);
    mirrorFolder_ = lineEdit("MirrorFolderEdit", mirror);
    auto* mirrorBrowse = button("...", "MirrorFolderButton", mirror);
    auto* mirrorNow = button("Mirror now", "MirrorNowButton", mirror);
    auto* mirrorLabel = new QLabel("Mirror &folder:", mirror);
    mirrorLabel->setBuddy(mirrorFolder_);
    auto* mirrorLayout = new QGridLayout(mirror);
    mirrorLayout->addWidget(mirroring_, 0, 0, 1, 3);
    mirrorLayout->addWidget(mirrorLabel, 1, 0);
    mirrorLayout->addWidget(mirrorFolder_, 1, 1);
    mirrorLayout->addWidget(mirrorBrowse, 1, 2);
    mirrorLayout->addWidget(mirrorNow, 2, 0);
    mirrorLayout->setRowStretch(3, 1);
    pages_->addTab(mirror, "Mirroring");

    // UNIX
    auto* unixPage = new QWidget;
    unixPage->setObjectName("UnixPage");
    useUMask_ = checkBox("Set U&MASK to", "UseUMaskCheck", unixPage);
    umask_ = lineEdit("UMaskEdit", unixPage);
    umask_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-7]{0,4}"), umask_));
    umaskSample_ = new QLabel(unixPage);
    umaskSample_->setObjectName("UMaskSampleLabel");
    auto* unixLayout = new QGridLayout(unixPage);
    unixLayout->addWidget(new QLabel("[ Use this page only for UNIX systems ]", unixPage), 0, 0, 1,
                          2);
    unixLayout->addWidget(useUMask_, 1, 0);
    unixLayout->addWidget(umask_, 1, 1);
    unixLayout->addWidget(new QLabel("New files will have attributes like:", unixPage), 2, 0);
    unixLayout->addWidget(umaskSample_, 2, 1);
    unixLayout->setRowStretch(3, 1);
    pages_->addTab(unixPage, "&UNIX");

    // Every edit goes to the selected record at once.
    connect(protocol_, &QComboBox::currentIndexChanged, this, [this](int index) {
        auto protocol = net::TRemoteProtocol(protocol_->itemData(index).toInt());
        protocolShown(protocol);
        writeThrough([&](auto& a) {
            // A port left at the old protocol's usual one follows to the new one's.
            if (a.Port == net::DefaultPort(a.Protocol)) a.Port = net::DefaultPort(protocol);
            a.Protocol = protocol;
        });
        if (!filling_ && current() && !usePort_->isChecked()) port_->clear();
    });
    connect(host_, &QLineEdit::textChanged, this,
            [this](const QString& t) { writeThrough([&](auto& a) { a.Hostname = toBytes(t); }); });
    connect(user_, &QLineEdit::textChanged, this,
            [this](const QString& t) { writeThrough([&](auto& a) { a.Username = toBytes(t); }); });
    connect(password_, &QLineEdit::textChanged, this,
            [this](const QString& t) { writeThrough([&](auto& a) { a.Password = toBytes(t); }); });
    connect(directory_, &QLineEdit::textChanged, this,
            [this](const QString& t) { writeThrough([&](auto& a) { a.Directory = toBytes(t); }); });
    connect(security_, &QComboBox::currentIndexChanged, this, [this](int index) {
        writeThrough([&](auto& a) { a.Tls = net::TTlsMode(security_->itemData(index).toInt()); });
    });
    connect(directoryButton_, &QPushButton::clicked, this, [this] {
        net::TAccount* a = current();
        if (!a || !form_.remote().chooseDirectory) return;
        if (auto chosen = form_.remote().chooseDirectory(*a))
            directory_->setText(fromBytes(*chosen));
    });
    connect(usePort_, &QCheckBox::toggled, this, [this](bool on) {
        port_->setEnabled(on);
        if (filling_) return;
        if (!on)
            port_->clear(); // an empty port edit means the protocol's usual port
        else
            port_->setFocus();
    });
    connect(port_, &QLineEdit::textChanged, this, [this](const QString& t) {
        writeThrough([&](auto& a) {
            bool ok = false;
            int v = t.toInt(&ok);
            if (t.isEmpty())
                a.Port = net::DefaultPort(a.Protocol);
            else if (ok)
                a.Port = v; // checked to lie in 1..65535 on OK
        });
    });
    connect(firewall_, &QCheckBox::toggled, this,
            [this](bool on) { writeThrough([&](auto& a) { a.UseFirewall = on; }); });
    connect(prompt_, &QCheckBox::toggled, this,
            [this](bool on) { writeThrough([&](auto& a) { a.PromptForPassword = on; }); });
    connect(closeConnection_, &QCheckBox::toggled, this,
            [this](bool on) { writeThrough([&](auto& a) { a.CloseConnection = on; }); });
    connect(passive_, &QCheckBox::toggled, this, [this](bool on) {
        passiveServerAddress_->setEnabled(on && passive_->isEnabled());
        writeThrough([&](auto& a) { a.PassiveMode = on; });
    });
    connect(passiveServerAddress_, &QCheckBox::toggled, this,
            [this](bool on) { writeThrough([&](auto& a) { a.PassiveUsesServerAddress = on; }); });
    connect(mirroring_, &QCheckBox::toggled, this,
            [this](bool on) { writeThrough([&](auto& a) { a.EnableMirroring = on; }); });
    connect(mirrorFolder_, &QLineEdit::textChanged, this, [this](const QString& t) {
        writeThrough([&](auto& a) { a.MirrorDirectory = toBytes(t); });
    });
    connect(mirrorBrowse, &QPushButton::clicked, this, [this] {
        if (auto chosen = form_.context().dialogs->chooseDirectory("Directory to mirror to",
                                                                   toBytes(mirrorFolder_->text())))
            mirrorFolder_->setText(fromBytes(*chosen));
    });
    connect(mirrorNow, &QPushButton::clicked, this, [this] {
        net::TAccount* a = current();
        if (!a) return;
        if (a->MirrorDirectory.empty()) {
            form_.context().dialogs->error("You must enter a directory to mirror to.");
            return;
        }
        // Modal over the manager; it frees itself when closed.
        auto* mirror = new TMirrorForm(form_, *a, this);
        mirror->setAttribute(Qt::WA_DeleteOnClose);
        mirror->open();
    });
    connect(useUMask_, &QCheckBox::toggled, this, [this](bool on) {
        umask_->setEnabled(on);
        writeThrough([&](auto& a) { a.UseUMask = on; });
    });
    connect(umask_, &QLineEdit::textChanged, this, [this](const QString& t) {
        umaskSample_->setText(fromBytes(net::UMaskSample(toBytes(t))));
        writeThrough([&](auto& a) { a.UMask = net::UMaskFromText(toBytes(t)).value_or(0); });
    });
}

net::TAccount* TAccountsForm::current() {
    int row = currentRow();
    return row >= 0 && row < int(accounts_.size()) ? &accounts_[std::size_t(row)] : nullptr;
}

template <class F> void TAccountsForm::writeThrough(F change) {
    if (filling_) return;
    if (net::TAccount* a = current()) change(*a);
}

int TAccountsForm::currentRow() const {
    return list_->currentRow();
}

void TAccountsForm::selectRow(int row) {
    list_->setCurrentRow(row);
}

bool TAccountsForm::renaming() const {
    return list_->editing();
}

void TAccountsForm::fill() {
    filling_ = true;
    net::TAccount blank;
    const net::TAccount* a = current();
    if (!a) a = &blank;
    host_->setText(fromBytes(a->Hostname));
    user_->setText(fromBytes(a->Username));
    password_->setText(fromBytes(a->Password));
    directory_->setText(fromBytes(a->Directory));
    security_->setCurrentIndex(security_->findData(int(a->Tls)));
    protocol_->setCurrentIndex(protocol_->findData(int(a->Protocol)));
    protocolShown(a->Protocol);
    bool otherPort = a->Port != net::DefaultPort(a->Protocol);
    usePort_->setChecked(otherPort);
    port_->setEnabled(otherPort);
    port_->setText(otherPort ? QString::number(a->Port) : QString());
    firewall_->setChecked(a->UseFirewall);
    prompt_->setChecked(a->PromptForPassword);
    closeConnection_->setChecked(a->CloseConnection);
    passive_->setChecked(a->PassiveMode);
    passiveServerAddress_->setChecked(a->PassiveUsesServerAddress);
    passiveServerAddress_->setEnabled(a->PassiveMode && a->Protocol == net::TRemoteProtocol::Ftp);
    mirroring_->setChecked(a->EnableMirroring);
    mirrorFolder_->setText(fromBytes(a->MirrorDirectory));
    useUMask_->setChecked(a->UseUMask);
    umask_->setEnabled(a->UseUMask);
    umask_->setText(fromBytes(net::UMaskText(a->UMask)));
    umaskSample_->setText(fromBytes(net::UMaskSample(net::UMaskText(a->UMask))));
    filling_ = false;
}

void TAccountsForm::protocolShown(net::TRemoteProtocol protocol) {
    bool ftp = protocol == net::TRemoteProtocol::Ftp;
    for (QWidget* w : {static_cast<QWidget*>(firewall_), static_cast<QWidget*>(security_),
                       static_cast<QWidget*>(passive_)})
        w->setEnabled(ftp);
    passiveServerAddress_->setEnabled(ftp && passive_->isChecked());
}

void TAccountsForm::updateEmptyState() {
    bool none = accounts_.empty();
    pages_->setVisible(!none);
    emptyLabel_->setVisible(none);
    newButton_->setStyleSheet(none ? "color: red" : "");
    deleteButton_->setEnabled(!none);
}

void TAccountsForm::updateMoveButtons() {
    int row = currentRow();
    int last = int(accounts_.size()) - 1;
    topButton_->setEnabled(row > 0);
    upButton_->setEnabled(row > 0);
    downButton_->setEnabled(row >= 0 && row < last);
    bottomButton_->setEnabled(row >= 0 && row < last);
}

void TAccountsForm::newAccount() {
    net::TAccount fresh;
    fresh.Tls = net::TTlsMode::Try; // made now: TLS when the server offers it
    accounts_.push_back(fresh);
    storedNames_.emplace_back();
    auto* item = new QListWidgetItem(fromBytes(accounts_.back().Name));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    list_->addItem(item);
    updateEmptyState();
    list_->setCurrentRow(int(accounts_.size()) - 1);
    pages_->setCurrentIndex(0);
    renameSelected();
}

void TAccountsForm::renameSelected() {
    if (QListWidgetItem* item = list_->currentItem()) {
        list_->setFocus();
        list_->editItem(item);
    }
}

void TAccountsForm::itemRenamed(QListWidgetItem* item) {
    int row = list_->row(item);
    if (row < 0 || row >= int(accounts_.size())) return;
    std::string typed = toBytes(item->text());
    std::string name = net::RemoveBlanks(typed);
    accounts_[std::size_t(row)].Name = name;
    if (name != typed) {
        QSignalBlocker block(list_);
        item->setText(fromBytes(name));
    }
}

void TAccountsForm::deleteSelected() {
    net::TAccount* a = current();
    if (!a) return;
    if (form_.context().dialogs->message(platform::MsgKind::Warning,
                                         "Delete account " + a->Name + "?",
                                         platform::mbYesNo) != platform::MsgResult::Yes)
        return;
    int row = currentRow();
    accounts_.erase(accounts_.begin() + row);
    storedNames_.erase(storedNames_.begin() + row);
    {
        QSignalBlocker block(list_);
        delete list_->takeItem(row);
    }
    if (!accounts_.empty()) list_->setCurrentRow(std::min(row, int(accounts_.size()) - 1));
    fill();
    updateEmptyState();
    updateMoveButtons();
}

void TAccountsForm::move(int to) {
    int from = currentRow();
    int count = int(accounts_.size());
    if (from < 0 || to < 0 || to >= count || to == from) return;
    list_->finishEditing();
    net::TAccount moved = accounts_[std::size_t(from)];
    accounts_.erase(accounts_.begin() + from);
    accounts_.insert(accounts_.begin() + to, moved);
    std::string storedName = storedNames_[std::size_t(from)];
    storedNames_.erase(storedNames_.begin() + from);
    storedNames_.insert(storedNames_.begin() + to, storedName);
    {
        QSignalBlocker block(list_);
        QListWidgetItem* item = list_->takeItem(from);
        list_->insertItem(to, item);
    }
    list_->setCurrentRow(to);
    fill();
    updateMoveButtons();
}

void TAccountsForm::accept() {
    if (renaming()) {
        list_->finishEditing(); // the first OK only ends the rename
        return;
    }
    platform::Dialogs& dialogs = *form_.context().dialogs;
    for (std::size_t i = 0; i < accounts_.size(); ++i) {
        const net::TAccount& a = accounts_[i];
        std::vector<std::string> others;
        // A repeated name is reported on the later account, naming the one listed first.
        for (std::size_t j = 0; j < i; ++j)
            others.push_back(accounts_[j].Name);
        std::string problem = net::AccountNameProblem(a.Name, others);
        if (problem.empty() && (a.Port < 1 || a.Port > 65535))
            problem =
                "The port of the account " + quoted(a.Name) + " must be a number from 1 to 65535.";
        if (problem.empty() && a.UseUMask && !net::UMaskFromText(net::UMaskText(a.UMask)))
            problem = "The umask of the account " + quoted(a.Name) +
                      " must be written with the octal digits 0 to 7.";
        if (!problem.empty()) {
            list_->setCurrentRow(int(i));
            dialogs.message(platform::MsgKind::Error, problem);
            return;
        }
    }
    // A password the keyring already holds is not written to the settings again.
    net::TAccountSecrets* secrets = form_.context().secrets;
    std::vector<net::TAccount> stored = accounts_;
    if (secrets)
        for (net::TAccount& a : stored)
            a.Password = secrets->passwordToWrite(a);
    std::string error;
    if (!net::SaveAccountList(*form_.context().registry, stored, &error)) {
        dialogs.message(platform::MsgKind::Error, error);
        return;
    }
    if (secrets) {
        std::vector<std::pair<std::string, net::TAccount>> records;
        for (std::size_t i = 0; i < accounts_.size(); ++i)
            records.emplace_back(storedNames_[i], accounts_[i]);
        std::vector<std::string> deleted;
        for (const std::string& name : loadedNames_)
            if (std::find(storedNames_.begin(), storedNames_.end(), name) == storedNames_.end())
                deleted.push_back(name);
        secrets->accountsSaved(records, deleted);
    }
    form_.reloadDefaultAccount();
    QDialog::accept();
}

} // namespace morvane::app
