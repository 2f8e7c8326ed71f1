#pragma once
// TEnterPasswordForm: asks for the password of an account that does not store it. The password
// is kept for the program's run; "Save password" stores it with the account.

#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace morvane::app {

class TEnterPasswordForm : public QDialog {
    Q_OBJECT
public:
    explicit TEnterPasswordForm(const QString& caption, QWidget* parent = nullptr);
    QLineEdit* passwordEdit() const { return password_; }
    QCheckBox* saveCheck() const { return save_; }

private:
    QLineEdit* password_;
    QCheckBox* save_;
};

} // namespace morvane::app
