#pragma once
// TAccountsForm: the account manager. It edits copies of the stored accounts; OK checks them
// and replaces the stored list in one write, Cancel forgets every change.

#include "core/net/Account.h"

#include <QDialog>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidgetItem;
class QPushButton;
class QTabWidget;

namespace morvane::app {

class TMainForm;
class AccountList;

class TAccountsForm : public QDialog {
    Q_OBJECT
public:
    explicit TAccountsForm(TMainForm& form, QWidget* parent = nullptr);
    ~TAccountsForm() override;

    // The records in list order (what OK would store).
    const std::vector<net::TAccount>& accounts() const { return accounts_; }
    int currentRow() const;
    void selectRow(int row);

    void newAccount();     // adds "New account", selects it and starts renaming it
    void renameSelected(); // starts renaming in place
    void deleteSelected(); // asks first
    void move(int to);     // the selected account to this row
    bool renaming() const;
    void accept() override; // ends a rename, or checks and stores the list

private:
    void buildPages();
    void fill(); // the controls from the selected record
    void updateEmptyState();
    void updateMoveButtons();
    void protocolShown(net::TRemoteProtocol protocol); // FTP's own fields off for SFTP
    void itemRenamed(QListWidgetItem* item);
    net::TAccount* current();
    template <class F> void writeThrough(F change);

    TMainForm& form_;
    std::vector<net::TAccount> accounts_;
    // The name each record was stored under ("" for a new one), so that a rename or deletion
    // reaches the password kept outside the settings.
    std::vector<std::string> storedNames_;
    std::vector<std::string> loadedNames_;
    bool filling_ = false;
    AccountList* list_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QLabel* emptyLabel_ = nullptr;
    QPushButton* newButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* topButton_ = nullptr;
    QPushButton* upButton_ = nullptr;
    QPushButton* downButton_ = nullptr;
    QPushButton* bottomButton_ = nullptr;
    QComboBox* protocol_ = nullptr;
    QLineEdit* host_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLabel* passwordPlace_ = nullptr; // where passwords are kept
    QLineEdit* directory_ = nullptr;
    QPushButton* directoryButton_ = nullptr;
    QCheckBox* usePort_ = nullptr;
    QLineEdit* port_ = nullptr;
    QCheckBox* firewall_ = nullptr;
    QCheckBox* prompt_ = nullptr;
    QCheckBox* closeConnection_ = nullptr;
    QComboBox* security_ = nullptr;
    QCheckBox* passive_ = nullptr;
    QCheckBox* passiveServerAddress_ = nullptr;
    QCheckBox* mirroring_ = nullptr;
    QLineEdit* mirrorFolder_ = nullptr;
    QCheckBox* useUMask_ = nullptr;
    QLineEdit* umask_ = nullptr;
    QLabel* umaskSample_ = nullptr;
};

} // namespace morvane::app
