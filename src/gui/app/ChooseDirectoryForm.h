#pragma once
// Picking a remote folder: a tree with one node per account; a node connects its account's own
// FTP client, changes to its folder and lists it when it is expanded.

#include "core/net/Account.h"
#include "core/net/RemoteFileSystem.h"
#include "core/platform/EventLoop.h"

#include <QDialog>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QPushButton;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace morvane::app {

class TMainForm;

class TChooseDirectoryForm : public QDialog {
    Q_OBJECT
public:
    // No accounts given: every stored account.
    TChooseDirectoryForm(TMainForm& main, std::vector<net::TAccount> accounts,
                         QWidget* parent = nullptr);
    ~TChooseDirectoryForm() override;

    QTreeWidget* tree() const { return tree_; }
    QPushButton* okButton() const { return ok_; }
    // The chosen node's path: the start directory (or the login directory when the account has
    // none) with the separator appended, then the folder names down to the node.
    std::string path() const { return path_; }
    // The account of the chosen node (after OK).
    const net::TAccount& chosenAccount() const { return chosen_; }
    std::string pathOf(QTreeWidgetItem* item) const;
    bool idle() const;

    void accept() override;
    void reject() override;

private:
    struct Root {
        net::TAccount account;
        std::unique_ptr<net::TRemoteFileSystem> fs;
        QTreeWidgetItem* item = nullptr;
        std::deque<QTreeWidgetItem*> pending;
        QTreeWidgetItem* listing = nullptr;
        std::string login;    // the directory the server put us in
        bool applied = false; // the account's login is set (asked once)
        bool retried = false; // the listing running again after a lost connection
    };
    Root* rootOf(QTreeWidgetItem* item) const;
    void expand(QTreeWidgetItem* item);
    void runNext(Root& root);
    void connected(Root& root, const net::TRemoteResult& r);
    void list(Root& root);
    void done(Root& root, const net::TRemoteResult& r);

    TMainForm& main_;
    std::unique_ptr<platform::EventLoop> ownLoop_;
    std::vector<std::unique_ptr<Root>> roots_;
    QTreeWidget* tree_ = nullptr;
    QPushButton* ok_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    std::string path_;
    net::TAccount chosen_;
};

} // namespace morvane::app
