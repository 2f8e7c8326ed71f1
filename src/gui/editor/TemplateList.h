#pragma once
// The code-template choice list: an owner-drawn list inside the editor control, below (or above)
// the caret's line. Typing searches by name prefix, Enter or a double click expands the entry,
// Escape or leaving the list closes it.

#include "core/editor/CustomCodeMemo.h"

#include <QListWidget>

#include <functional>
#include <optional>

namespace morvane::editor {

class TTemplateList : public QListWidget {
public:
    // parent is the control; chosen is called with the name of the entry picked.
    TTemplateList(QWidget* parent, std::function<void(const std::string& name)> chosen,
                  std::function<void()> closed);

    // Fills the list and shows it with its top left corner near at (the control's coordinates),
    // below the line of height lineHeight, or above it when there is no room below.
    void Open(const TTemplatePopup& popup, QPoint at, int lineHeight);
    void Close();
    bool IsOpen() const { return open_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Choose();

    std::function<void(const std::string&)> chosen_;
    std::function<void()> closed_;
    std::optional<TTemplateSearch> search_;
    bool open_ = false;
};

} // namespace morvane::editor
