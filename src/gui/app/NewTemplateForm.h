#pragma once
// TNewTemplateForm ("New items"): the templates of the program folder, one tab per group, and
// Blank for an empty document. "New local file" makes the new document a local one, so that its
// first Save asks for a local path; otherwise it is remote and its first Save asks for a place
// on a server.

#include <QDialog>

#include <filesystem>
#include <vector>

class QCheckBox;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace morvane::platform {
class Dialogs;
}

namespace morvane::app {

class TNewTemplateForm : public QDialog {
    Q_OBJECT
public:
    enum class Choice { Cancel, Template, Blank };

    // localByDefault: the state "New local file" starts in (a user without accounts has no
    // server to save on).
    TNewTemplateForm(const std::filesystem::path& programFolder, platform::Dialogs& dialogs,
                     bool localByDefault, QWidget* parent = nullptr);

    Choice choice() const { return choice_; }
    const std::filesystem::path& templatePath() const { return path_; }
    bool localFile() const;

    // OK: the selected template of the active tab; without one, says so and stays open.
    void accept() override;
    void blank();

    QTabWidget* groups() const { return groups_; }
    QListWidget* group(int index) const;
    QCheckBox* localBox() const { return local_; }
    QPushButton* blankButton() const { return blank_; }

private:
    platform::Dialogs& dialogs_;
    Choice choice_ = Choice::Cancel;
    std::filesystem::path path_;
    std::vector<std::filesystem::path> paths_; // of every item shown
    QTabWidget* groups_ = nullptr;
    QCheckBox* local_ = nullptr;
    QPushButton* blank_ = nullptr;
};

} // namespace morvane::app
