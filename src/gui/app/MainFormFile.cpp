// TMainForm: commands of the File menu (opening local files, the recent-files list).

#include "gui/app/MainForm.h"

#include "core/app/RecentFiles.h"
#include "core/net/Account.h"
#include "core/platform/Paths.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/app/NewTemplateForm.h"
#include "gui/platform/QtUiServices.h"

#include <QAction>
#include <QMenu>

namespace morvane::app {

using platform::fromBytes;
using platform::Hive;

void TMainForm::openLocalFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        auto* doc = new TMorvaneEditor(*this);
        doc->OpenLocal(platform::absolutePath(path), false);
    }
}

void TMainForm::newCommand() {
    // Without an account there is no server to save on: the new file starts out local.
    const bool noAccounts = net::AccountNames(*context_.registry).empty();
    TNewTemplateForm form(context_.programFolder, *context_.dialogs, noAccounts, this);
    if (form.exec() != QDialog::Accepted) return;
    const auto kind = form.localFile() ? TMorvaneEditor::kLocal : TMorvaneEditor::kRemote;
    auto* doc = new TMorvaneEditor(*this);
    if (form.choice() == TNewTemplateForm::Choice::Blank)
        doc->NewBlank(kind);
    else
        doc->OpenTemplate(form.templatePath().string(), kind);
}

void TMainForm::openLocalFileCommand() {
    platform::FileDialogOptions o;
    o.title = "Open local file";
    o.filter = "Any file (*.*)|*.*";
    o.multiple = true;
    o.mustExist = true;
    if (auto* doc = qobject_cast<TMorvaneEditor*>(activeDocument());
        doc && doc->DocumentKind() == TMorvaneEditor::kLocal)
        o.directory = doc->Directory();
    openLocalFiles(context_.dialogs->openFiles(o));
}

void TMainForm::addRecentFile(const std::string& account, const std::string& directory,
                              const std::string& fileName) {
    std::string error;
    if (!TRecentFiles(*context_.registry).Add(account, directory, fileName, &error))
        context_.dialogs->message(platform::MsgKind::Error, error);
    rebuildRecentMenus();
}

void TMainForm::rebuildRecentMenus() {
    recentMenu_->clear();
    for (const TRecentEntry& e : TRecentFiles(*context_.registry).MenuEntries()) {
        QAction* item = recentMenu_->addAction(fromBytes(TRecentFiles::Caption(e)));
        item->setData(e.number);
    }
    recentMenu_->menuAction()->setEnabled(!recentMenu_->isEmpty());
}

void TMainForm::reopenRecent(int n) {
    platform::Registry& registry = *context_.registry;
    if (!registry.keyExists(Hive::CurrentUser, kRecentKey)) return;
    TRecentEntry e = TRecentFiles(registry).Entry(n);
    if (e.fileName.empty()) return;
    if (e.account.empty()) {
        openLocalFiles({e.directory + e.fileName});
        return;
    }
    net::TAccount account;
    std::string error;
    if (!net::LoadAccount(registry, e.account, account, &error)) {
        context_.dialogs->message(platform::MsgKind::Error, error);
        return;
    }
    if (remote_.openRemoteDocument) remote_.openRemoteDocument(account, e.directory, e.fileName);
}

} // namespace morvane::app
