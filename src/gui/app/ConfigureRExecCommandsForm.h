#pragma once
// TConfigureRExecCommandsForm ("Configure RExec tools"): the list of remote commands with their
// properties (command line, clearing the output, where the account comes from, key). Edits go
// to the window's copy of the list; OK writes the whole list back in one write.

#include "core/app/RExecCommands.h"

#include <QDialog>
#include <QKeySequence>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QToolButton;

namespace morvane::platform {
class Registry;
class Dialogs;
} // namespace morvane::platform

namespace morvane::app {

class TShortcutEdit;

class TConfigureRExecCommandsForm : public QDialog {
    Q_OBJECT
public:
    TConfigureRExecCommandsForm(platform::Registry& registry, platform::Dialogs& dialogs,
                                QWidget* parent = nullptr);

    // The account picker behind "..."; the default opens TSelectListForm on the stored
    // accounts. nullopt: cancelled.
    std::function<std::optional<std::string>(const std::string& preset)> pickAccount;

    const std::vector<TRExecCommand>& Commands() const { return commands_; }
    QListWidget* CommandList() const { return list_; }
    QLineEdit* CommandEdit() const { return command_; }
    QCheckBox* ClearOutputCheck() const { return clear_; }
    QRadioButton* OpenFileRadio() const { return openFile_; }
    QRadioButton* AccountRadio() const { return useAccount_; }
    QRadioButton* SelectRadio() const { return select_; }
    QLineEdit* AccountEdit() const { return account_; }
    QToolButton* ChooseAccountButton() const { return choose_; }
    TShortcutEdit* HotkeyEdit() const { return hotkey_; }
    QPushButton* NewButton() const { return newButton_; }
    QPushButton* DeleteButton() const { return deleteButton_; }
    QLabel* EmptyHint() const { return hint_; }
    QWidget* PropertyPanel() const { return properties_; }

    void NewCommand();
    void DeleteCommand();
    // True while a command's name is being typed in the list.
    bool Renaming() const;

    void accept() override;

private:
    void showSelected();
    void setAccountType(TRExecAccountType type);
    TRExecCommand* current();

    platform::Registry& registry_;
    platform::Dialogs& dialogs_;
    std::vector<TRExecCommand> commands_;
    bool filling_ = false;

    QListWidget* list_ = nullptr;
    QStackedWidget* panel_ = nullptr;
    QLabel* hint_ = nullptr;
    QWidget* properties_ = nullptr;
    QLineEdit* command_ = nullptr;
    QCheckBox* clear_ = nullptr;
    QRadioButton* openFile_ = nullptr;
    QRadioButton* useAccount_ = nullptr;
    QRadioButton* select_ = nullptr;
    QLineEdit* account_ = nullptr;
    QToolButton* choose_ = nullptr;
    TShortcutEdit* hotkey_ = nullptr;
    QPushButton* newButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
};

// The shortcut text stored with a command as a key sequence, and back ("(None)" for none).
QKeySequence RExecKeySequence(const std::string& text);
std::string RExecShortcutText(std::uint16_t shortcut);

} // namespace morvane::app
