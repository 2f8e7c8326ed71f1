#include "gui/app/ChooseDirectoryForm.h"

#include "gui/app/MainForm.h"
#include "gui/platform/QtEventLoop.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace morvane::app {

namespace {

QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

constexpr int kNameRole = Qt::UserRole;
constexpr int kLoadedRole = Qt::UserRole + 1;

} // namespace

TChooseDirectoryForm::TChooseDirectoryForm(TMainForm& main, std::vector<net::TAccount> accounts,
                                           QWidget* parent)
    : QDialog(parent), main_(main) {
    platform::EventLoop* loop = main.context().loop;
    if (!loop) {
        ownLoop_ = platform::makeQtEventLoop();
        loop = ownLoop_.get();
    }
    setObjectName("ChooseDirectoryForm");
    setWindowTitle("Select a directory");
    auto* layout = new QVBoxLayout(this);
    tree_ = new QTreeWidget(this);
    tree_->setObjectName("FolderTree");
    tree_->setHeaderHidden(true);
    layout->addWidget(tree_);
    auto* row = new QHBoxLayout;
    row->addStretch();
    ok_ = new QPushButton("OK", this);
    ok_->setObjectName("OkButton");
    ok_->setEnabled(false);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("CancelButton");
    row->addWidget(ok_);
    row->addWidget(cancel);
    layout->addLayout(row);
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName("StatusBar");
    layout->addWidget(statusBar_);

    if (accounts.empty())
        for (const auto& name : net::AccountNames(*main.context().registry)) {
            net::TAccount a;
            if (net::LoadAccount(*main.context().registry, name, a)) accounts.push_back(a);
        }
    for (auto& a : accounts) {
        auto root = std::make_unique<Root>();
        root->account = a;
        root->ftp = std::make_unique<net::TMsgFTP>(*loop);
        root->item = new QTreeWidgetItem(tree_, {qs(a.Name + " (" + a.Directory + ")")});
        root->item->setIcon(0, style()->standardIcon(QStyle::SP_DriveNetIcon));
        root->item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        Root* r = root.get();
        r->ftp->OnConnect = [this, r](net::TMsgFTP*, bool e) { connected(*r, e); };
        r->ftp->OnFTPCommandDone = [this, r](net::TMsgFTP*, net::TFTPState s, bool e) {
            done(*r, s, e);
        };
        r->ftp->OnDirectoryListing = [this, r](net::TMsgFTP*, const std::string& name,
                                               const std::string&, std::int64_t, std::int32_t kind,
                                               const std::string&, const std::string&,
                                               const std::string&) {
            if (kind != 1 || !r->listing || name == "." || name == "..") return;
            auto* child = new QTreeWidgetItem(r->listing, {qs(name)});
            child->setData(0, kNameRole, QByteArray(name.data(), qsizetype(name.size())));
            child->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
            child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        };
        r->ftp->OnTransferProgress = [this](net::TMsgFTP*, std::int64_t count) {
            statusBar_->showMessage(qs(std::to_string(count) + " bytes received"));
        };
        roots_.push_back(std::move(root));
    }
    connect(tree_, &QTreeWidget::itemExpanded, this, &TChooseDirectoryForm::expand);
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { ok_->setEnabled(item != nullptr); });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item) accept();
    });
    connect(ok_, &QPushButton::clicked, this, &TChooseDirectoryForm::accept);
    connect(cancel, &QPushButton::clicked, this, &TChooseDirectoryForm::reject);
    resize(360, 420);
}

TChooseDirectoryForm::~TChooseDirectoryForm() {
    for (auto& r : roots_) {
        r->ftp->OnConnect = nullptr;
        r->ftp->OnFTPCommandDone = nullptr;
        r->ftp->OnDirectoryListing = nullptr;
        r->ftp->OnTransferProgress = nullptr;
    }
}

TChooseDirectoryForm::Root* TChooseDirectoryForm::rootOf(QTreeWidgetItem* item) const {
    while (item && item->parent())
        item = item->parent();
    for (auto& r : roots_)
        if (r->item == item) return r.get();
    return nullptr;
}

bool TChooseDirectoryForm::idle() const {
    for (auto& r : roots_)
        if (r->listing || !r->pending.empty()) return false;
    return true;
}

std::string TChooseDirectoryForm::pathOf(QTreeWidgetItem* item) const {
    Root* root = rootOf(item);
    if (!root) return {};
    std::vector<std::string> names;
    for (QTreeWidgetItem* i = item; i && i->parent(); i = i->parent())
        names.insert(names.begin(), i->data(0, kNameRole).toByteArray().toStdString());
    std::string base = root->account.Directory.empty() ? root->login : root->account.Directory;
    // An account without a start directory that never connected: its login directory.
    if (base.empty() && names.empty()) return {};
    char sep = root->ftp->Connected() ? root->ftp->PathSeparator() : '/';
    std::string path = base;
    if (path.empty() || path.back() != sep) path += sep;
    for (std::size_t i = 0; i < names.size(); ++i)
        path += (i ? std::string(1, sep) : std::string()) + names[i];
    return path;
}

void TChooseDirectoryForm::expand(QTreeWidgetItem* item) {
    if (item->data(0, kLoadedRole).toBool()) return;
    Root* root = rootOf(item);
    if (!root) return;
    item->setData(0, kLoadedRole, true);
    root->pending.push_back(item);
    runNext(*root);
}

void TChooseDirectoryForm::runNext(Root& root) {
    if (root.listing || root.pending.empty()) return;
    if (!root.ftp->Connected()) {
        if (root.ftp->State() != net::ftpNotConnected) return; // logging in
        if (!net::ApplyAccount(root.account, *root.ftp, main_.firewallSettings(),
                               main_.remote().prompts)) {
            for (QTreeWidgetItem* i : root.pending)
                i->setData(0, kLoadedRole, false);
            root.pending.clear();
            return;
        }
        root.ftp->Connect();
        return;
    }
    root.listing = root.pending.front();
    root.pending.pop_front();
    std::string path = pathOf(root.listing);
    if (path.empty()) {
        root.ftp->ListDirectory();
    } else {
        root.ftp->ChangeDir(path);
    }
}

void TChooseDirectoryForm::connected(Root& root, bool error) {
    if (error) {
        std::string message = root.ftp->ErrorMessage();
        root.ftp->Disconnect();
        for (QTreeWidgetItem* i : root.pending)
            i->setData(0, kLoadedRole, false);
        root.pending.clear();
        main_.context().dialogs->error("Error connecting to host \"" + root.ftp->Hostname() +
                                       "\"\r\n" + message);
        return;
    }
    root.login = root.ftp->CurrentDirectory();
    runNext(root);
}

void TChooseDirectoryForm::done(Root& root, net::TFTPState state, bool error) {
    if (!root.listing) {
        // The connection closed during the login: give the waiting folders back.
        if (error && !root.ftp->Connected()) {
            for (QTreeWidgetItem* i : root.pending)
                i->setData(0, kLoadedRole, false);
            root.pending.clear();
            statusBar_->showMessage(qs(root.ftp->ErrorMessage()));
        }
        return;
    }
    if (state == net::ftpChangingDir || state == net::ftpChangingDirUp) {
        if (!error) return root.ftp->ListDirectory();
    }
    if (error) {
        std::string message = root.ftp->ErrorMessage();
        statusBar_->showMessage(qs(message));
    } else {
        statusBar_->clearMessage();
    }
    root.listing->setChildIndicatorPolicy(root.listing->childCount()
                                              ? QTreeWidgetItem::ShowIndicator
                                              : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    root.listing = nullptr;
    runNext(root);
}

void TChooseDirectoryForm::accept() {
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item) return;
    path_ = pathOf(item);
    QDialog::accept();
}

void TChooseDirectoryForm::reject() {
    for (auto& r : roots_)
        if (r->ftp->State() != net::ftpNotConnected) r->ftp->Abort();
    QDialog::reject();
}

} // namespace morvane::app
