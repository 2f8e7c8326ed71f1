#pragma once
// A one-line question for a path: "Change directory" in the remote browser; the caption and
// the label are parameters so that other commands can reuse it.

#include <QDialog>

class QLineEdit;

namespace morvane::app {

class TChangeDirectoryForm : public QDialog {
    Q_OBJECT
public:
    TChangeDirectoryForm(const QString& caption, const QString& label, const QString& text,
                         QWidget* parent = nullptr);
    QString text() const;
    QLineEdit* edit() const { return edit_; }

private:
    QLineEdit* edit_;
};

} // namespace morvane::app
