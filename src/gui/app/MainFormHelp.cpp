// TMainForm: commands of the Help menu.

#include "gui/app/MainForm.h"

#include "gui/platform/QtUiServices.h"

#include <QMessageBox>

namespace morvane::app {

using platform::fromBytes;

void TMainForm::showAbout() {
    QString version = QStringLiteral(MORVANE_FILE_VERSION);
    QMessageBox box(QMessageBox::NoIcon, "About Morvane",
                    "<b>Morvane</b><br>" + fromBytes(aboutVersionLabel(version.toStdString())) +
                        "<br><br>An editor for files on FTP servers and local disks.",
                    QMessageBox::Ok, this);
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.exec();
}

} // namespace morvane::app
