#pragma once
// Helpers shared by the files of TOptionsDialog (one file per page); for the dialog only.

#include <QString>
#include <Qt>

#include <optional>
#include <string>

class QPushButton;
class QWidget;

namespace morvane::app::options_dialog {

// Item data holding a name of the auto-replace and template stores.
constexpr int kNameRole = Qt::UserRole + 2;

// A whole integer, blanks around it allowed.
std::optional<int> parseInt(const std::string& text);
// A button of a page; Enter in the dialog stays with OK.
QPushButton* pageButton(const QString& caption, const char* name, QWidget* parent);
// Names are kept in lower case by the stores.
std::string lowerBytes(std::string s);

} // namespace morvane::app::options_dialog
