// The local side of a document: what the file on disk was when the document last read or wrote
// it, the watch that notices another program changing it, and reloading it.
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/app/RecoveryDialog.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <QApplication>
#include <QFileSystemWatcher>

#include <fstream>

namespace morvane::app {

using platform::MsgKind;
using platform::MsgResult;

namespace {
// Another program writing a file may take several writes: the check waits until they settle.
constexpr int kSettleMs = 200;
} // namespace

std::string TMorvaneEditor::LocalPath() const {
    return directory_ + fileName_;
}

void TMorvaneEditor::WatchDisk() {
    if (!watcher_) {
        watcher_ = new QFileSystemWatcher(this);
        connect(watcher_, &QFileSystemWatcher::fileChanged, this,
                [this] { diskCheckTimer_.start(kSettleMs); });
        diskCheckTimer_.setSingleShot(true);
        connect(&diskCheckTimer_, &QTimer::timeout, this, [this] {
            // A file deleted and written again is a new file: the watch of the old one is gone.
            if (watcher_->files().isEmpty() && diskIdentity_.exists &&
                platform::fileIdentity(LocalPath()).exists)
                watcher_->addPath(platform::fromBytes(LocalPath()));
            // A question about a tab the user is not looking at waits until it is shown.
            if (IsActive() && QGuiApplication::applicationState() == Qt::ApplicationActive)
                CheckDiskFile();
            else
                diskCheckDue_ = true;
        });
        // Changes the watch cannot see (a file system without notices, a file that was gone for
        // a while) are caught when the user comes back to the program.
        connect(qApp, &QGuiApplication::applicationStateChanged, this,
                [this](Qt::ApplicationState state) {
                    if (state == Qt::ApplicationActive && IsActive())
                        QTimer::singleShot(0, this, [this] { CheckDiskFile(); });
                });
    }
    if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
    // A file saved by renaming a new one over it is another file: the watch starts again.
    if (diskIdentity_.exists) watcher_->addPath(platform::fromBytes(LocalPath()));
}

void TMorvaneEditor::RememberDisk(const platform::FileIdentity& identity) {
    diskIdentity_ = identity;
    dismissedIdentity_ = {};
    WatchDisk();
}

void TMorvaneEditor::ForgetDisk() {
    diskIdentity_ = dismissedIdentity_ = {};
    diskCheckDue_ = false;
    if (watcher_ && !watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
}

bool TMorvaneEditor::ChangedOnDisk(platform::FileIdentity* now) const {
    if (kind_ != kLocal || new_ || !diskIdentity_.exists) return false;
    *now = platform::fileIdentity(LocalPath());
    // A file that is gone has nothing to lose: saving writes it again.
    return now->exists && !(*now == diskIdentity_);
}

TChangedAnswer TMorvaneEditor::AskBeforeOverwritingDisk() {
    platform::FileIdentity now;
    if (!ChangedOnDisk(&now)) return TChangedAnswer::Overwrite;
    MsgResult answer;
    // Compare shows the differences, then the same question comes again.
    while ((answer = form_.context().dialogs->message(
                MsgKind::Warning,
                "The file '" + fileName_ + "' was changed on disk since you opened it.",
                platform::mbOverwriteReloadCancel | platform::mbCompare)) == MsgResult::Compare) {
        std::ifstream in(LocalPath(), std::ios::binary);
        std::string onDisk{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        showDifferences(this, platform::fromBytes("Differences: " + fileName_), onDisk,
                        TextForUpload(), "on disk: " + LocalPath(), "your text");
    }
    if (answer == MsgResult::Overwrite) return TChangedAnswer::Overwrite;
    dismissedIdentity_ = now; // seen: the watch does not ask about it again
    if (answer == MsgResult::Reload) {
        ReloadLocal();
        return TChangedAnswer::Reload;
    }
    return TChangedAnswer::Cancel;
}

void TMorvaneEditor::CheckDiskFile() {
    if (closed_ || askingDisk_) return;
    // Not over another question: asked when the document is next activated.
    if (QApplication::activeModalWidget()) {
        diskCheckDue_ = true;
        return;
    }
    diskCheckDue_ = false;
    platform::FileIdentity now;
    if (!ChangedOnDisk(&now) || now == dismissedIdentity_) return;
    askingDisk_ = true;
    auto* dialogs = form_.context().dialogs;
    bool reload;
    if (!editor_->Modified()) {
        reload = dialogs->message(MsgKind::Confirmation,
                                  "The file '" + fileName_ +
                                      "' was changed on disk by another program.\n\nReload it?",
                                  platform::mbYesNo) == MsgResult::Yes;
    } else {
        reload = dialogs->message(MsgKind::Warning,
                                  "The file '" + fileName_ +
                                      "' was changed on disk by another program, and your "
                                      "changes to it are not saved.\n\nReload it? Undo brings "
                                      "your text back.",
                                  platform::mbReload | platform::mbCancel) == MsgResult::Reload;
    }
    askingDisk_ = false;
    if (closed_) return;
    if (reload)
        ReloadLocal();
    else
        dismissedIdentity_ = now;
}

void TMorvaneEditor::ReloadLocal() {
    std::string path = LocalPath();
    platform::FileIdentity identity = platform::fileIdentity(path);
    try {
        // Edits not saved stay one undo step back; an unmodified text simply loads again.
        editor_->ReloadFromFile(path, editor_->Modified());
    } catch (const std::exception& e) {
        form_.context().dialogs->message(MsgKind::Error, e.what());
        return;
    }
    RememberDisk(identity);
    if (IsActive()) activate();
}

} // namespace morvane::app
