#pragma once
// The remote file browser window: open, save and select modes over its own FTP session. The
// logic lives in net::TRemoteBrowser; this window shows it and turns clicks and keys into it.

#include "core/net/RemoteBrowser.h"
#include "core/platform/EventLoop.h"
#include "gui/app/RemoteServices.h"

#include <QDialog>

#include <memory>
#include <optional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace morvane::app {

class TMainForm;

class TOpenFileForm : public QDialog {
    Q_OBJECT
public:
    TOpenFileForm(TMainForm& main, TBrowserMode mode, const net::TAccount& account,
                  const std::string& fileName, QWidget* parent = nullptr);
    ~TOpenFileForm() override;

    net::TRemoteBrowser& browser() { return *browser_; }
    // Valid after the dialog ended with OK.
    const TBrowserResult& browserResult() const { return result_; }

    QTreeWidget* list() const { return list_; }
    QLineEdit* fileNameEdit() const { return edit_; }
    QComboBox* pathCombo() const { return combo_; }
    QComboBox* fileTypeCombo() const { return filter_; }
    QPushButton* okButton() const { return ok_; }
    QString status() const;

    // The context menu's commands, reachable for tests.
    void changeDirectoryCommand();
    void deleteSelected();
    void renameSelected();
    void propertiesOfSelected();
    void viewStyle(const QString& style);

    void done(int r) override;
    void reject() override;

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void firstActivation();
    void rebuildCombo();
    void comboChosen(int index);
    void connectTo(const net::TAccount& account);
    void fillList();
    void selectionChanged();
    void editTyped(const QString& text);
    void actOn(const std::string& name, bool isDirectory);
    void handle(net::TRemoteBrowser::Act act, const std::string& name, bool isDirectory);
    void okClicked();
    void filterChosen(int index);
    void contextMenu(const QPoint& pos);
    void itemEdited(QTreeWidgetItem* item, int column);
    std::vector<net::TDirectoryEntry> selectedEntries() const;
    std::string editBytes() const;
    void finish();
    void restoreSettings();
    void saveSettings();

    TMainForm& main_;
    TBrowserMode mode_;
    std::unique_ptr<platform::EventLoop> ownLoop_;
    std::unique_ptr<net::TRemoteBrowser> browser_;
    net::TAccount backup_;
    std::vector<net::TComboEntry> comboEntries_;
    std::vector<net::TFilterEntry> filters_;
    TBrowserResult result_;
    QComboBox* combo_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QComboBox* filter_ = nullptr;
    QPushButton* ok_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QString viewStyle_ = "Details";
    std::string editRaw_; // the bytes of a name put into the edit (may not be UTF-8)
    QString editShown_;
    bool filling_ = false;
    bool activated_ = false;
    bool finished_ = false;
};

// Fills the main window's remote().browse and remote().chooseDirectory.
void installBrowserWindows(TMainForm& main);

} // namespace morvane::app
