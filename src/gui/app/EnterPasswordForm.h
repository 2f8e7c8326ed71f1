#pragma once
// TEnterPasswordForm: asks for the password of an account that does not store it.

#include <QDialog>

class QLineEdit;

namespace morvane::app {

class TEnterPasswordForm : public QDialog {
    Q_OBJECT
public:
    explicit TEnterPasswordForm(const QString& caption, QWidget* parent = nullptr);
    QLineEdit* passwordEdit() const { return password_; }

private:
    QLineEdit* password_;
};

} // namespace morvane::app
