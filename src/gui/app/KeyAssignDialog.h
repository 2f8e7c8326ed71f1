#pragma once
// TKeyAssignDialog: the two-step wizard that asks for a key pair of one editor command (a first
// key with modifiers, then an optional second key). TShortcutEdit is its key field: it shows the
// key combination last pressed in it instead of typing it.

#include <QDialog>
#include <QLineEdit>

#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace morvane::app {

class TShortcutEdit : public QLineEdit {
public:
    explicit TShortcutEdit(QWidget* parent = nullptr);
    std::uint16_t Shortcut() const { return shortcut_; }
    void SetShortcut(std::uint16_t shortcut);
    std::function<void(std::uint16_t)> OnChange;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::uint16_t shortcut_ = 0;
};

class TKeyAssignDialog : public QDialog {
public:
    // editing: the title says "Edit" instead of "Add new"; the fields start with the given keys.
    TKeyAssignDialog(const QString& commandName, bool editing, std::uint16_t first = 0,
                     std::uint16_t second = 0, QWidget* parent = nullptr);

    int Step() const { return step_; }
    std::uint16_t FirstKey() const { return first_->Shortcut(); }
    // 0: a one-key binding.
    std::uint16_t SecondKey() const { return second_->Shortcut(); }
    TShortcutEdit* FirstField() const { return first_; }
    TShortcutEdit* SecondField() const { return second_; }
    QPushButton* NextButton() const { return next_; }
    QPushButton* BackButton() const { return back_; }

private:
    void showStep(int step);
    void updateButtons();

    int step_ = 1;
    QLabel* stepLabel_ = nullptr;
    QStackedWidget* steps_ = nullptr;
    TShortcutEdit* first_ = nullptr;
    TShortcutEdit* second_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
};

} // namespace morvane::app
