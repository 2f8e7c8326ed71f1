#include "gui/app/OpenFileForm.h"

#include "core/net/AccountSecrets.h"
#include "gui/app/ChangeDirectoryForm.h"
#include "gui/app/ChooseDirectoryForm.h"
#include "gui/app/FilePropertiesForm.h"
#include "gui/app/MainForm.h"
#include "gui/platform/QtEventLoop.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace morvane::app {

namespace {

constexpr int kNameRole = Qt::UserRole;
constexpr int kDirRole = Qt::UserRole + 1;

QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string bytes(const QString& s) {
    return s.toUtf8().toStdString();
}

std::string itemName(const QTreeWidgetItem* item) {
    return item->data(0, kNameRole).toByteArray().toStdString();
}

std::optional<int> settingInt(TMainForm& main, const char* name) {
    std::string text = main.readSetting(name);
    try {
        std::size_t used = 0;
        int v = std::stoi(text, &used);
        if (used == text.size()) return v;
    } catch (...) {
    }
    return std::nullopt;
}

} // namespace

TOpenFileForm::TOpenFileForm(TMainForm& main, TBrowserMode mode, const net::TAccount& account,
                             const std::string& fileName, QWidget* parent)
    : QDialog(parent), main_(main), mode_(mode) {
    platform::EventLoop* loop = main.context().loop;
    if (!loop) {
        ownLoop_ = platform::makeQtEventLoop();
        loop = ownLoop_.get();
    }
    browser_ = std::make_unique<net::TRemoteBrowser>(*loop, *main.context().dialogs,
                                                     main.sharedFileSystem(*loop));
    browser_->mode = mode == TBrowserMode::Save ? net::TRemoteBrowser::Mode::Save
                                                : net::TRemoteBrowser::Mode::Open;
    for (const auto& e : main.extensionTable().entries())
        if (e.extension != ".") browser_->fileTypes.push_back({e.extension, e.language});
    backup_ = account;

    setObjectName("OpenFileForm");
    setWindowTitle(mode == TBrowserMode::Save     ? "Save file"
                   : mode == TBrowserMode::Select ? "Select files to execute RExec on"
                                                  : "Open file");
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    combo_ = new QComboBox(this);
    combo_->setObjectName("PathCombo");
    combo_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto button = [&](const char* name, QStyle::StandardPixmap icon, const char* tip) {
        auto* b = new QPushButton(style()->standardIcon(icon), {}, this);
        b->setObjectName(name);
        b->setToolTip(tip);
        b->setAutoDefault(false);
        top->addWidget(b);
        return b;
    };
    top->addWidget(combo_);
    QPushButton* up = button("UpButton", QStyle::SP_FileDialogToParent, "Up one level");
    QPushButton* mkdir =
        button("NewFolderButton", QStyle::SP_FileDialogNewFolder, "Create new folder");
    QPushButton* accounts = button("AccountsButton", QStyle::SP_DirHomeIcon, "Accounts");
    layout->addLayout(top);

    list_ = new QTreeWidget(this);
    list_->setObjectName("FileList");
    list_->setHeaderLabels({"Name", "Size", "Type", "Date"});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(mode == TBrowserMode::Save ? QAbstractItemView::SingleSelection
                                                       : QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::EditKeyPressed);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->header()->setSectionsClickable(true);
    list_->installEventFilter(this);
    layout->addWidget(list_);

    auto* grid = new QHBoxLayout;
    auto* nameLabel = new QLabel("File &name:", this);
    edit_ = new QLineEdit(qs(fileName), this);
    edit_->setObjectName("FileName");
    nameLabel->setBuddy(edit_);
    ok_ = new QPushButton(mode == TBrowserMode::Open   ? "&Open"
                          : mode == TBrowserMode::Save ? "&Save"
                                                       : "&Select",
                          this);
    ok_->setObjectName("OkButton");
    ok_->setDefault(true);
    grid->addWidget(nameLabel);
    grid->addWidget(edit_);
    grid->addWidget(ok_);
    layout->addLayout(grid);
    auto* row = new QHBoxLayout;
    auto* typeLabel = new QLabel("Files of &type:", this);
    filter_ = new QComboBox(this);
    filter_->setObjectName("FileType");
    typeLabel->setBuddy(filter_);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("CancelButton");
    cancel->setAutoDefault(false);
    // Clicking Cancel must not take the focus: that would commit an in-place rename first.
    cancel->setFocusPolicy(Qt::NoFocus);
    row->addWidget(typeLabel);
    row->addWidget(filter_, 1);
    row->addWidget(cancel);
    layout->addLayout(row);
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName("StatusBar");
    layout->addWidget(statusBar_);

    filters_ = net::BuildFilterList(browser_->fileTypes);
    for (const auto& f : filters_)
        filter_->addItem(qs(f.caption));

    browser_->onListing = [this] {
        fillList();
        rebuildCombo();
    };
    browser_->onStatus = [this](const std::string& s) { statusBar_->showMessage(qs(s)); };
    browser_->onBusy = [this](bool busy) {
        if (busy)
            setCursor(Qt::WaitCursor);
        else
            unsetCursor();
    };
    browser_->onRenamed = [this](const std::string&, const std::string&) { fillList(); };
    browser_->onFolderCreated = [this](const std::string& name) {
        fillList();
        for (int i = 0; i < list_->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = list_->topLevelItem(i);
            if (itemName(item) != name) continue;
            list_->clearSelection();
            list_->setCurrentItem(item);
            item->setSelected(true);
            list_->editItem(item, 0);
            break;
        }
    };
    browser_->onClose = [this] { reject(); };
    browser_->onPick = [this](const std::string& name, bool asFile) {
        // The name alone goes into the box: the folder is entered already.
        editRaw_ = name;
        editShown_ = qs(name);
        edit_->setText(editShown_);
        if (asFile) return handle(browser_->actOnFile(name), name, false);
        const auto* e = browser_->find(name);
        actOn(name, e && net::IsDirectoryEntry(*e));
    };

    connect(combo_, QOverload<int>::of(&QComboBox::activated), this, &TOpenFileForm::comboChosen);
    connect(list_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        // While a command runs the entries belong to the listing being replaced.
        if (browser_->running()) return;
        actOn(itemName(item), item->data(0, kDirRole).toBool());
    });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &TOpenFileForm::selectionChanged);
    connect(list_, &QTreeWidget::itemChanged, this, &TOpenFileForm::itemEdited);
    connect(list_, &QWidget::customContextMenuRequested, this, &TOpenFileForm::contextMenu);
    connect(list_->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { browser_->setSortKey(net::TSortKey(column)); });
    connect(edit_, &QLineEdit::textEdited, this, &TOpenFileForm::editTyped);
    connect(filter_, QOverload<int>::of(&QComboBox::activated), this, &TOpenFileForm::filterChosen);
    connect(ok_, &QPushButton::clicked, this, &TOpenFileForm::okClicked);
    connect(cancel, &QPushButton::clicked, this, &TOpenFileForm::reject);
    connect(up, &QPushButton::clicked, this, [this] {
        browser_->enqueue(net::bcUp);
        browser_->kick();
    });
    connect(mkdir, &QPushButton::clicked, this, [this] {
        browser_->enqueue(net::bcMakeDir, "New folder");
        browser_->kick();
    });
    connect(accounts, &QPushButton::clicked, this, [this] {
        if (main_.remote().showAccounts && main_.remote().showAccounts()) rebuildCombo();
    });
    resize(560, 380);
    restoreSettings();
}

TOpenFileForm::~TOpenFileForm() = default;

QString TOpenFileForm::status() const {
    return statusBar_->currentMessage();
}

void TOpenFileForm::restoreSettings() {
    QString view = qs(main_.readSetting("FileView"));
    viewStyle(view == "Icons" || view == "SmallIcons" || view == "List" ? view : "Details");
    auto type = settingInt(main_, "Filetype");
    int index = type && *type >= 0 && *type < int(filters_.size()) ? *type : 0;
    if (!type || index != *type) index = int(filters_.size()) - 1;
    filter_->setCurrentIndex(index);
    browser_->setPatterns(filters_[std::size_t(index)].patterns);
    if (main_.readSetting("Restore window settings") == "False") return;
    auto top = settingInt(main_, "OpenWindowX"), left = settingInt(main_, "OpenWindowY");
    auto width = settingInt(main_, "OpenWindowWidth");
    auto height = settingInt(main_, "OpenWindowHeight");
    if (width && height && *width > 100 && *height > 100) resize(*width, *height);
    if (top && left) move(*left, *top);
}

void TOpenFileForm::saveSettings() {
    main_.writeSetting("FileView", bytes(viewStyle_));
    if (main_.readSetting("Restore window settings") != "False") {
        main_.writeSetting("OpenWindowX", std::to_string(y()));
        main_.writeSetting("OpenWindowY", std::to_string(x()));
        main_.writeSetting("OpenWindowWidth", std::to_string(width()));
        main_.writeSetting("OpenWindowHeight", std::to_string(height()));
    }
    main_.writeSetting("Filetype", std::to_string(filter_->currentIndex()));
}

void TOpenFileForm::viewStyle(const QString& style) {
    viewStyle_ = style;
    bool details = style == "Details";
    list_->setHeaderHidden(!details);
    int icon = style == "Icons" ? 32 : 16;
    list_->setIconSize(QSize(icon, icon));
}

void TOpenFileForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (activated_) return;
    activated_ = true;
    // A name typed at once goes into the name box, whatever the list does meanwhile.
    edit_->setFocus();
    QTimer::singleShot(0, this, [this] { firstActivation(); });
}

void TOpenFileForm::firstActivation() {
    auto names = net::AccountNames(*main_.context().registry);
    if (names.empty() && backup_.Name != net::kQuickConnectName) {
        main_.context().dialogs->beep();
        main_.context().dialogs->message(platform::MsgKind::Warning,
                                         "You do not have any accounts to connect to, please "
                                         "create one.");
        if (main_.remote().showAccounts) main_.remote().showAccounts();
        names = net::AccountNames(*main_.context().registry);
    }
    browser_->account() = backup_;
    rebuildCombo();
    bool known = !backup_.Name.empty() &&
                 (backup_.Name == net::kQuickConnectName ||
                  std::find(names.begin(), names.end(), backup_.Name) != names.end());
    if (known) {
        connectTo(backup_);
    } else {
        combo_->setCurrentIndex(0);
    }
}

void TOpenFileForm::connectTo(const net::TAccount& account) {
    browser_->abort();
    if (!net::ApplyAccount(account, browser_->fileSystem(), main_.firewallSettings(),
                           main_.remote().prompts)) {
        unsetCursor();
        return;
    }
    browser_->onLoginFailed = [this, name = account.Name] {
        if (net::TAccountSecrets* secrets = main_.context().secrets) secrets->forget(name);
    };
    browser_->connectAccount(account);
    rebuildCombo();
}

void TOpenFileForm::rebuildCombo() {
    auto names = net::AccountNames(*main_.context().registry);
    int selected = -1;
    const net::TAccount& a = browser_->account();
    comboEntries_ = net::BuildPathCombo(names, a.Name, browser_->fileSystem().Connected(),
                                        browser_->fileSystem().Capabilities().unixPaths,
                                        browser_->baseDirectory(),
                                        browser_->fileSystem().CurrentDirectory(), selected);
    QSignalBlocker block(combo_);
    combo_->clear();
    for (const auto& e : comboEntries_)
        combo_->addItem(
            style()->standardIcon(e.account ? QStyle::SP_DriveNetIcon : QStyle::SP_DirIcon),
            QString(2 * (e.level - 1), ' ') + qs(e.caption));
    if (selected >= 0) combo_->setCurrentIndex(selected);
}

void TOpenFileForm::comboChosen(int index) {
    if (index < 0 || index >= int(comboEntries_.size())) return;
    const net::TComboEntry e = comboEntries_[std::size_t(index)];
    if (!e.account) {
        browser_->abort();
        browser_->enqueue(net::bcChangeDir, e.path);
        browser_->kick();
        list_->setFocus();
        return;
    }
    const net::TAccount& current = browser_->account();
    if (e.caption == current.Name && e.caption != net::kQuickConnectName &&
        browser_->fileSystem().Connected()) {
        browser_->abort();
        if (browser_->fileSystem().Connected()) {
            browser_->enqueue(net::bcChangeDir, browser_->baseDirectory());
            browser_->kick();
            return;
        }
    }
    net::TAccount account;
    if (e.caption == net::kQuickConnectName) {
        account.Name = net::kQuickConnectName;
        account.Directory.clear();
    } else {
        std::string error;
        if (!net::LoadAccount(*main_.context().registry, e.caption, account, &error)) {
            main_.context().dialogs->error(error);
            return;
        }
    }
    backup_ = account;
    setCursor(Qt::WaitCursor);
    connectTo(account);
}

void TOpenFileForm::fillList() {
    filling_ = true;
    std::vector<std::string> selected;
    for (auto* item : list_->selectedItems())
        selected.push_back(itemName(item));
    list_->clear();
    QIcon dirIcon = style()->standardIcon(QStyle::SP_DirIcon);
    QIcon textIcon = style()->standardIcon(QStyle::SP_FileIcon);
    QIcon otherIcon = style()->standardIcon(QStyle::SP_FileLinkIcon);
    for (const auto& e : browser_->visible()) {
        auto type = net::EntryType(e, browser_->fileTypes);
        auto* item = new QTreeWidgetItem(
            list_, {qs(e.Name), qs(net::SizeColumn(e)), qs(type.text), qs(e.Date)});
        item->setData(0, kNameRole, QByteArray(e.Name.data(), qsizetype(e.Name.size())));
        item->setData(0, kDirRole, net::IsDirectoryEntry(e));
        item->setIcon(0, type.icon == 0 ? dirIcon : type.icon == 3 ? otherIcon : textIcon);
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        if (std::find(selected.begin(), selected.end(), e.Name) != selected.end())
            item->setSelected(true);
    }
    filling_ = false;
    if (list_->topLevelItemCount() && !list_->currentItem()) {
        QSignalBlocker block(list_);
        list_->setCurrentItem(list_->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    }
    if (!browser_->running()) statusBar_->clearMessage();
}

std::vector<net::TDirectoryEntry> TOpenFileForm::selectedEntries() const {
    std::vector<net::TDirectoryEntry> out;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        if (!item->isSelected()) continue;
        if (const auto* e = browser_->find(itemName(item))) out.push_back(*e);
    }
    return out;
}

void TOpenFileForm::selectionChanged() {
    if (filling_) return;
    auto sel = selectedEntries();
    if (sel.empty()) return;
    auto t = net::SelectionText(sel);
    editRaw_ = t.text;
    editShown_ = qs(t.text);
    edit_->setText(editShown_);
    statusBar_->showMessage(qs(std::to_string(t.bytes) + " bytes"));
}

std::string TOpenFileForm::editBytes() const {
    // A name from the server may not be UTF-8: use its bytes while the edit still shows it.
    if (edit_->text() == editShown_) return editRaw_;
    return bytes(edit_->text());
}

void TOpenFileForm::editTyped(const QString& text) {
    std::string name = bytes(text);
    QSignalBlocker block(list_);
    list_->clearSelection();
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        if (itemName(item) == name) {
            item->setSelected(true);
            list_->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
            break;
        }
    }
}

void TOpenFileForm::actOn(const std::string& name, bool isDirectory) {
    handle(browser_->actOn(name, isDirectory), name, isDirectory);
}

void TOpenFileForm::handle(net::TRemoteBrowser::Act act, const std::string& name,
                           bool isDirectory) {
    switch (act) {
    case net::TRemoteBrowser::Act::Filtered:
        edit_->selectAll();
        return;
    case net::TRemoteBrowser::Act::Queued:
        if (isDirectory) edit_->clear();
        return;
    case net::TRemoteBrowser::Act::Nothing:
        return;
    case net::TRemoteBrowser::Act::Finish:
        result_.fileNames.clear();
        for (const auto& e : selectedEntries())
            if (!net::IsDirectoryEntry(e)) result_.fileNames.push_back(e.Name);
        if (result_.fileNames.empty()) result_.fileNames.push_back(name);
        if (browser_->fileSystem().Capabilities().versionedNames)
            for (auto& n : result_.fileNames)
                if (auto semi = n.find(';'); semi != std::string::npos) n.resize(semi + 1);
        result_.fileNameText = editBytes();
        result_.account = browser_->account();
        finish();
        return;
    }
}

void TOpenFileForm::okClicked() {
    if (list_->hasFocus() && list_->currentItem() && list_->currentItem()->isSelected()) {
        QTreeWidgetItem* item = list_->currentItem();
        return actOn(itemName(item), item->data(0, kDirRole).toBool());
    }
    std::string text = editBytes();
    const auto* e = browser_->find(text);
    actOn(text, e && net::IsDirectoryEntry(*e));
}

void TOpenFileForm::finish() {
    finished_ = true;
    accept();
}

void TOpenFileForm::filterChosen(int index) {
    if (index < 0 || index >= int(filters_.size())) return;
    if (net::HasWildcard(bytes(edit_->text()))) edit_->clear();
    browser_->setPatterns(filters_[std::size_t(index)].patterns);
}

bool TOpenFileForm::eventFilter(QObject* watched, QEvent* e) {
    // Keys of an in-place editor go to the editor, not here.
    if (watched == list_ && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        switch (k->key()) {
        case Qt::Key_Backspace:
            browser_->enqueue(net::bcUp);
            browser_->kick();
            return true;
        case Qt::Key_F5:
            browser_->enqueue(net::bcRefresh);
            browser_->kick();
            return true;
        case Qt::Key_Delete:
            deleteSelected();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (QTreeWidgetItem* item = list_->currentItem())
                actOn(itemName(item), item->data(0, kDirRole).toBool());
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void TOpenFileForm::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && isMinimized()) main_.showMinimized();
}

void TOpenFileForm::contextMenu(const QPoint& pos) {
    QMenu menu(this);
    auto selected = selectedEntries();
    if (selected.empty()) {
        QMenu* view = menu.addMenu("&View");
        for (auto [caption, style] :
             {std::pair{"Lar&ge Icons", "Icons"}, std::pair{"S&mall Icons", "SmallIcons"},
              std::pair{"&List", "List"}, std::pair{"&Details", "Details"}})
            view->addAction(caption, this, [this, s = QString(style)] { viewStyle(s); });
        QMenu* sort = menu.addMenu("&Sort by");
        static const char* const kKeys[] = {"&Name", "&Size", "&Type", "&Date"};
        for (int k = 0; k < 4; ++k)
            sort->addAction(kKeys[k], this, [this, k] { browser_->setSortKey(net::TSortKey(k)); });
        if (browser_->fileSystem().Connected())
            menu.addAction("Change &Directory...", this, &TOpenFileForm::changeDirectoryCommand);
    } else {
        menu.addAction("&Delete", this, &TOpenFileForm::deleteSelected);
        menu.addAction("&Properties", this, &TOpenFileForm::propertiesOfSelected);
        if (selected.size() == 1) menu.addAction("Re&name", this, &TOpenFileForm::renameSelected);
    }
    menu.exec(list_->viewport()->mapToGlobal(pos));
}

void TOpenFileForm::changeDirectoryCommand() {
    TChangeDirectoryForm f("Change directory",
                           "Change to:", qs(browser_->fileSystem().CurrentDirectory()), this);
    if (f.exec() != QDialog::Accepted) return;
    browser_->enqueue(net::bcChangeDir, bytes(f.text()));
    browser_->kick();
}

void TOpenFileForm::deleteSelected() {
    auto selected = selectedEntries();
    if (!selected.empty()) browser_->deleteEntries(selected);
}

void TOpenFileForm::renameSelected() {
    if (QTreeWidgetItem* item = list_->currentItem()) list_->editItem(item, 0);
}

void TOpenFileForm::itemEdited(QTreeWidgetItem* item, int column) {
    if (filling_ || column != 0) return;
    std::string oldName = itemName(item);
    std::string newName = bytes(item->text(0));
    // The entry keeps its old caption until the server confirms the rename.
    filling_ = true;
    item->setText(0, qs(oldName));
    filling_ = false;
    if (newName.empty() || newName == oldName) return;
    browser_->enqueue(net::bcRename, oldName, newName);
    browser_->kick();
}

void TOpenFileForm::propertiesOfSelected() {
    auto selected = selectedEntries();
    if (browser_->running()) return; // the client is in use; its reply would be lost
    TFilePropertiesForm f(browser_->fileSystem(), browser_->fileSystem().CurrentDirectory(),
                          selected, *main_.context().dialogs, browser_->fileTypes, this);
    if (selected.empty()) return;
    if (f.exec() == QDialog::Accepted) {
        browser_->enqueue(net::bcRefresh);
        browser_->kick();
    }
}

void TOpenFileForm::reject() {
    QWidget* focus = QApplication::focusWidget();
    if (focus && focus != list_ && list_->isAncestorOf(focus)) {
        // An in-place rename runs: cancel it the way Escape does, without committing.
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(focus, &escape);
        list_->setFocus();
        return;
    }
    browser_->disconnect();
    QDialog::reject();
}

void TOpenFileForm::done(int r) {
    saveSettings();
    QDialog::done(r);
}

void installBrowserWindows(TMainForm& main) {
    main.remote().browse = [&main](TBrowserMode mode, const net::TAccount& account,
                                   const std::string& fileName) -> std::optional<TBrowserResult> {
        TOpenFileForm form(main, mode, account, fileName, &main);
        if (form.exec() != QDialog::Accepted) return std::nullopt;
        return form.browserResult();
    };
    main.remote().chooseDirectory =
        [&main](const net::TAccount& account) -> std::optional<std::string> {
        TChooseDirectoryForm form(main, {account}, &main);
        if (form.exec() != QDialog::Accepted) return std::nullopt;
        return form.path();
    };
}

} // namespace morvane::app
