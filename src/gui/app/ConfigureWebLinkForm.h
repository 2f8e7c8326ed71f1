#pragma once
// TConfigureWebLinkForm ("Configure Web links"): the list of weblinks with their properties
// (static address or lookup file, key, languages). OK writes the whole list back to the settings
// in one write; Cancel changes nothing.

#include "core/app/Weblinks.h"

#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QToolButton;

namespace morvane::platform {
class Registry;
class Dialogs;
} // namespace morvane::platform

namespace morvane::app {

class TShortcutEdit;

class TConfigureWebLinkForm : public QDialog {
    Q_OBJECT
public:
    // languages: the highlighter list's language names, in list order.
    TConfigureWebLinkForm(platform::Registry& registry, platform::Dialogs& dialogs,
                          std::vector<std::string> languages, QWidget* parent = nullptr);

    const std::vector<TWeblink>& Links() const { return links_; }
    QListWidget* LinkList() const { return list_; }
    QLineEdit* UrlEdit() const { return url_; }
    QLineEdit* LookupFileEdit() const { return file_; }
    QTabWidget* KindPages() const { return pages_; }
    QListWidget* LanguageList() const { return languageList_; }
    TShortcutEdit* ShortcutEdit() const { return shortcut_; }
    QPushButton* NewButton() const { return newButton_; }
    QPushButton* DeleteButton() const { return deleteButton_; }
    QPushButton* UpButton() const { return upButton_; }
    QPushButton* DownButton() const { return downButton_; }
    QToolButton* WordButton() const { return wordButton_; }

    void NewLink();
    void DeleteLink();
    void Move(int by);
    // Writes the list; false (the dialog stays) when the settings cannot be written.
    bool Save();

    void accept() override;

private:
    void showSelected();
    TWeblink* current();

    platform::Registry& registry_;
    platform::Dialogs& dialogs_;
    std::vector<std::string> languages_;
    std::vector<TWeblink> links_;
    bool filling_ = false;

    QListWidget* list_ = nullptr;
    QStackedWidget* panel_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QLineEdit* url_ = nullptr;
    QToolButton* wordButton_ = nullptr;
    QLineEdit* file_ = nullptr;
    TShortcutEdit* shortcut_ = nullptr;
    QListWidget* languageList_ = nullptr;
    QPushButton* newButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* upButton_ = nullptr;
    QPushButton* downButton_ = nullptr;
};

} // namespace morvane::app
