// TMainForm: commands of the Help menu.

#include "gui/app/MainForm.h"

#include "gui/platform/QtUiServices.h"

#include <QMessageBox>

namespace morvane::app {

using platform::fromBytes;

const char* programFileVersion() {
    return MORVANE_FILE_VERSION;
}

void TMainForm::showAbout() {
    QString version = QString::fromLatin1(programFileVersion());
    QMessageBox box(QMessageBox::NoIcon, "About Morvane",
                    "<b>Morvane</b><br>" + fromBytes(aboutVersionLabel(version.toStdString())) +
                        "<br><br>An editor for files on FTP servers and local disks.",
                    QMessageBox::Ok, this);
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.exec();
}

} // namespace morvane::app
