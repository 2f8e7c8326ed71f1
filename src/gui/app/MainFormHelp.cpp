// TMainForm: commands of the Help menu.

#include "gui/app/MainForm.h"

#include "core/app/ProgramFolder.h"
#include "core/app/UpdateCheck.h"
#include "gui/platform/QtUiServices.h"

#include <QLabel>
#include <QMessageBox>
#include <QUrl>

namespace morvane::app {

using platform::fromBytes;

const char* programFileVersion() {
    return MORVANE_FILE_VERSION;
}

void TMainForm::showAbout() {
    QString version = QString::fromLatin1(programFileVersion());
    QMessageBox box(QMessageBox::NoIcon, "About Morvane",
                    "<b>Morvane</b><br>" + fromBytes(aboutVersionLabel(version.toStdString())) +
                        "<br><br>An editor for files on FTP servers and local disks.<br><br>"
                        "<a href=\"" +
                        QString::fromLatin1(kUpdateHomePage) + "\">" +
                        QString::fromLatin1(kUpdateHomePage).toHtmlEscaped() + "</a>",
                    QMessageBox::Ok, this);
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    // The maker's address goes to the desktop's browser through the same opener as weblinks.
    if (auto* label = box.findChild<QLabel*>("qt_msgbox_label")) {
        label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        label->setOpenExternalLinks(false);
        connect(label, &QLabel::linkActivated, &box, [this](const QString& link) {
            if (context().shell) context().shell->openUrl(link.toStdString());
        });
    }
    box.exec();
}

// The manual is HTML shipped with the program; the desktop's browser shows it.
void TMainForm::showHelpTopics() {
    std::filesystem::path page = manualIndex(context().resources);
    if (page.empty()) {
        context().dialogs->message(platform::MsgKind::Error,
                                   "The user manual is not installed (manual/index.html in " +
                                       context().resources.string() + ").");
        return;
    }
    std::string address =
        QUrl::fromLocalFile(fromBytes(page.string())).toString(QUrl::FullyEncoded).toStdString();
    if (!context().shell || !context().shell->openUrl(address))
        context().dialogs->message(platform::MsgKind::Error,
                                   "No program could be started to show the manual " + address +
                                       ".");
}

} // namespace morvane::app
