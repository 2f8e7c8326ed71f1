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
        root->fs = net::MakeFileSystem(*loop, a);
        root->item = new QTreeWidgetItem(tree_, {qs(a.Name + " (" + a.Directory + ")")});
        root->item->setIcon(0, style()->standardIcon(QStyle::SP_DriveNetIcon));
        root->item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        root->fs->onStatus = [this](const std::string& text) {
            if (!text.empty()) statusBar_->showMessage(qs(text));
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
        r->fs->onStatus = nullptr;
        r->fs->Disconnect();
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
    char sep = root->fs->Connected() ? root->fs->Capabilities().separator : '/';
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
    if (!root.fs->Connected()) {
        if (root.fs->Busy()) return; // logging in
        // A connection that went away logs in again with the login it had, without asking.
        if (!root.applied && !net::ApplyAccount(root.account, *root.fs, main_.firewallSettings(),
                                                main_.remote().prompts)) {
            for (QTreeWidgetItem* i : root.pending)
                i->setData(0, kLoadedRole, false);
            root.pending.clear();
            return;
        }
        root.applied = true;
        Root* r = &root;
        root.fs->Connect([this, r](const net::TRemoteResult& res) { connected(*r, res); });
        return;
    }
    root.listing = root.pending.front();
    root.pending.pop_front();
    std::string path = pathOf(root.listing);
    if (path.empty()) return list(root);
    Root* r = &root;
    root.fs->ChangeDirectory(path, [this, r](const net::TRemoteResult& res) {
        if (!res.ok()) return done(*r, res);
        list(*r);
    });
}

void TChooseDirectoryForm::list(Root& root) {
    Root* r = &root;
    root.fs->List(
        [this, r](const net::TDirectoryEntry& e) {
            if (e.Kind != 1 || !r->listing || e.Name == "." || e.Name == "..") return;
            auto* child = new QTreeWidgetItem(r->listing, {qs(e.Name)});
            child->setData(0, kNameRole, QByteArray(e.Name.data(), qsizetype(e.Name.size())));
            child->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
            child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        },
        [this, r](const net::TRemoteResult& res) { done(*r, res); });
}

void TChooseDirectoryForm::connected(Root& root, const net::TRemoteResult& r) {
    if (!r.ok()) {
        root.fs->Disconnect();
        if (!r.connectionEnded()) root.applied = false; // refused: the next try asks again
        for (QTreeWidgetItem* i : root.pending)
            i->setData(0, kLoadedRole, false);
        root.pending.clear();
        // A connection that went (or fell silent) during the login is said in the status bar;
        // a refused or impossible login asks for the user's attention.
        if (r.connectionEnded()) return statusBar_->showMessage(qs(r.message));
        main_.context().dialogs->error("Error connecting to host \"" + root.fs->Login().host +
                                       "\"\r\n" + r.message);
        return;
    }
    root.login = root.fs->CurrentDirectory();
    runNext(root);
}

void TChooseDirectoryForm::done(Root& root, const net::TRemoteResult& r) {
    if (!r.ok() && r.error == net::TRemoteError::ConnectionLost && !root.retried) {
        // The server dropped the connection: log in again and list the folder once more.
        root.retried = true;
        qDeleteAll(root.listing->takeChildren());
        root.pending.push_front(std::exchange(root.listing, nullptr));
        root.fs->Disconnect();
        return runNext(root);
    }
    root.retried = false;
    if (!r.ok()) {
        statusBar_->showMessage(qs(r.message));
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
    if (Root* root = rootOf(item)) chosen_ = root->account;
    QDialog::accept();
}

void TChooseDirectoryForm::reject() {
    for (auto& r : roots_)
        r->fs->Disconnect();
    QDialog::reject();
}

} // namespace morvane::app
