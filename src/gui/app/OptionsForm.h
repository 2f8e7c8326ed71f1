#pragma once
// TOptionsForm ("Options"): the application-wide settings (window restore, recent files, the
// default account, single instance, update check, the firewall). OK checks every field first and
// writes nothing while one is not valid; the dialog then stays open on that field.

#include "core/app/AppOptions.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace morvane::platform {
class Dialogs;
class Registry;
} // namespace morvane::platform

namespace morvane::app {

class TOptionsForm : public QDialog {
    Q_OBJECT
public:
    enum Page { pageGeneral = 0, pageFirewall = 1 };

    TOptionsForm(platform::Registry& registry, platform::Dialogs& dialogs, Page page,
                 QWidget* parent = nullptr);

    // The fields as they stand.
    AppOptions options() const;
    void accept() override;

    QTabWidget* pages() const { return pages_; }
    QPushButton* helpButton() const { return help_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    platform::Registry& registry_;
    platform::Dialogs& dialogs_;
    Page firstPage_;
    QTabWidget* pages_ = nullptr;
    QCheckBox* restore_ = nullptr;
    QLineEdit* numRecent_ = nullptr;
    QLineEdit* keepAlive_ = nullptr;
    QCheckBox* noDefaultAccount_ = nullptr;
    QCheckBox* oneInstance_ = nullptr;
    QCheckBox* checkForUpdates_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLineEdit* port_ = nullptr;
    QPushButton* help_ = nullptr;
};

} // namespace morvane::app
