#pragma once
// TSelectListForm: picks one entry of a list, by default the names of the stored accounts (remote
// commands use it to choose the account they run on).

#include <QDialog>

#include <optional>
#include <string>
#include <vector>

class QListWidget;
class QListWidgetItem;

namespace morvane::app {

class TSelectListForm : public QDialog {
    Q_OBJECT
public:
    // For accounts the caller passes net::AccountNames. The entry equal to preset starts
    // selected.
    TSelectListForm(const QString& caption, std::vector<std::string> entries,
                    const std::string& preset, QWidget* parent = nullptr);
    QListWidget* list() const { return list_; }
    const std::optional<std::string>& chosen() const { return chosen_; }

private:
    void choose(QListWidgetItem* item);
    QListWidget* list_;
    std::optional<std::string> chosen_;
};

} // namespace morvane::app
