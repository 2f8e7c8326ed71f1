// The remote side of a document: its FTP session (TRemoteSession) and the commands that move a
// document between the local disk and a server.
#include "core/app/RemoteReference.h"
#include "core/editor/SliceLoad.h"
#include "core/editor/Streams.h"
#include "core/net/AccountSecrets.h"
#include "core/net/RemoteFileSystem.h"
#include "gui/app/DocumentRecovery.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/app/RecoveryDialog.h"
#include "gui/app/ServerCopy.h"
#include "gui/app/Trace.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>

namespace morvane::app {

using platform::MsgKind;
using platform::MsgResult;

namespace {
std::chrono::milliseconds replyTimeout{30000};
} // namespace

void TMorvaneEditor::SetReplyTimeout(std::chrono::milliseconds timeout) {
    replyTimeout = timeout;
}

TRemoteSession& TMorvaneEditor::RemoteSession() {
    if (!session_) {
        TRemoteSessionHost& host = *this; // a private base: converted here, not in make_unique
        platform::EventLoop& loop = *form_.context().loop;
        session_ = std::make_unique<TRemoteSession>(loop, host, form_.sharedFileSystem(loop));
        session_->SetReplyTimeout(replyTimeout);
    }
    return *session_;
}

// The text's bytes exactly, with the line ends the file had when it was opened.
std::string TMorvaneEditor::TextForUpload() const {
    switch (editor_->LineEnd()) {
    case editor::TLineEnd::leCRLF:
        return editor_->Text(editor::tfCRLF);
    case editor::TLineEnd::leCR:
        return editor_->Text(editor::tfCR);
    case editor::TLineEnd::leLF:
        break;
    }
    return editor_->Text(editor::tfLF);
}

void TMorvaneEditor::OpenRemote(const std::string& fileName, const net::TAccount& account) {
    TRemoteSession& session = RemoteSession();
    fileName_ = fileName;
    directory_ = account.Directory;
    account_ = account;
    accountName_ = account.Name;
    if (!net::ApplyAccount(account, session.FileSystem(), form_.firewallSettings(),
                           form_.remote().prompts)) {
        ApplyFileName();
        closeRequest(false);
        return;
    }
    editor_->SetReadOnly(true);
    new_ = false;
    SetKind(kRemote);
    session.SetAccount(account);
    session.SetLocation(account.Directory, fileName);
    session.Open();
    // The connection is on its way while the tab gets its name and highlighter.
    ApplyFileName();
    if (statusText_.empty()) SessionStatus("Opening " + fileName_ + " from " + Place() + "\u2026");
    activate();
}

void TMorvaneEditor::SaveAsRemote() {
    auto* dialogs = form_.context().dialogs;
    if (Busy()) {
        dialogs->beep();
        dialogs->message(MsgKind::Error, "Cannot save while busy.");
        return;
    }
    const net::TAccount& start = new_ || account_.Name.empty() ? form_.lastUsedAccount() : account_;
    if (!form_.remote().browse) return;
    auto chosen = form_.remote().browse(TBrowserMode::Save, start, new_ ? "" : fileName_);
    if (!chosen) return;
    std::string name = !chosen->fileNameText.empty() ? chosen->fileNameText
                       : !chosen->fileNames.empty()  ? chosen->fileNames.front()
                                                     : std::string();
    if (name.empty()) return;
    TRemoteSession& session = RemoteSession();
    bool otherAccount = kind_ != kRemote || chosen->account.Name != account_.Name;
    // The password prompt may be cancelled: nothing about the document changes before it.
    if (otherAccount && !net::ApplyAccount(chosen->account, session.FileSystem(),
                                           form_.firewallSettings(), form_.remote().prompts))
        return;
    session.Disconnect();
    if (otherAccount) {
        account_ = chosen->account;
        accountName_ = account_.Name;
        session.SetAccount(account_);
    }
    SetKind(kRemote);
    fileName_ = name;
    directory_ = chosen->account.Directory;
    session.SetLocation(directory_, fileName_);
    ApplyFileName();
    form_.lastUsedAccount() = chosen->account;
    new_ = false;
    Save();
}

void TMorvaneEditor::Revert() {
    auto* dialogs = form_.context().dialogs;
    if (new_) {
        dialogs->message(MsgKind::Error, "Cannot revert new file");
        return;
    }
    if (Busy()) {
        dialogs->beep();
        dialogs->message(MsgKind::Error, "Cannot save while busy.");
        return;
    }
    // With nothing to discard there is nothing to ask: reload straight away.
    if (editor_->Modified()) {
        dialogs->beep();
        if (dialogs->message(MsgKind::Confirmation, "Discard changes and reload original file?",
                             platform::mbYesNo) != MsgResult::Yes)
            return;
    }
    if (kind_ == kLocal) {
        OpenLocal(directory_ + fileName_, false);
        return;
    }
    editor_->SetReadOnly(true);
    RemoteSession().Open();
    SessionStatus("Opening " + fileName_ + " from " + Place() + "\u2026");
    activate();
}

void TMorvaneEditor::CancelTransfer() {
    if (load_) {
        CancelLoad();
        return;
    }
    if (!session_ || !session_->Transferring()) return;
    // A first download stopped by the user is no error to report: its document just goes.
    cancelling_ = !session_->KnowsFile();
    session_->Cancel();
}

// --- what the session reports --------------------------------------------------------------------

void TMorvaneEditor::SessionStatus(const std::string& text) {
    // The end of an operation leaves its note up for its few seconds.
    if (text.empty() && flashTimer_.isActive() && statusText_ == flashed_) return;
    statusText_ = text;
    if (!IsActive()) return;
    form_.statusPanel(4)->setText(platform::fromBytes(text));
    form_.statusPanel(4)->repaint();
}

void TMorvaneEditor::SessionProgress(bool storing, std::int64_t bytes, std::int64_t total) {
    if (!IsActive()) return;
    if (storing) {
        // The bar counts in KiB so that files beyond 2 GiB fit its int range.
        auto* bar = form_.transferProgressBar();
        bar->setMaximum(int(std::max<std::int64_t>(1, total / 1024)));
        bar->setValue(int(std::max<std::int64_t>(0, bytes) / 1024));
    } else {
        // The count is shown a few times a second, the latest one last: a label laid out again
        // for every piece of a fast download costs more than the reading.
        downloaded_ = bytes;
        downloadTotal_ = total;
        if (bytes == 0) form_.transferProgressBar()->setValue(0);
        if (bytes == 0 || !progressShown_.isValid() || progressShown_.elapsed() >= 100)
            ShowDownloadCount();
        else if (!progressTimer_.isActive())
            progressTimer_.start(100 - int(progressShown_.elapsed()));
    }
}

void TMorvaneEditor::ShowDownloadCount() {
    progressTimer_.stop();
    progressShown_.start();
    if (!IsActive() || !Transferring()) return;
    std::string text = "Loading " + fileName_ + ": ";
    if (downloadTotal_ > 0) {
        const int percent = int(std::min<std::int64_t>(100, downloaded_ * 100 / downloadTotal_));
        text += std::to_string(percent) + "%";
        form_.transferProgressBar()->setMaximum(100);
        form_.transferProgressBar()->setValue(percent);
    } else {
        text += editor::SizeText(std::uint64_t(std::max<std::int64_t>(0, downloaded_)));
    }
    form_.statusPanel(3)->setText(platform::fromBytes(text));
}

void TMorvaneEditor::HoldBackground(bool hold) {
    if (hold == holdsBackground_) return;
    holdsBackground_ = hold;
    editor::TCodeMemo::HoldBackgroundWork(hold);
}

void TMorvaneEditor::SessionBusyChanged() {
    HoldBackground(session_ && session_->Busy());
    if (session_ && !session_->Directory().empty()) directory_ = session_->Directory();
    if (IsActive()) activate();
}

void TMorvaneEditor::Downloaded(std::string& bytes) {
    editor_->SetReadOnly(false);
    editor::TMemoryStream stream(std::move(bytes));
    try {
        // A reload over edits (Revert, or Reload when the server's file changed) keeps them one
        // undo step back.
        editor_->ReloadFromStream(stream, editor_->Modified());
    } catch (const std::exception& e) {
        form_.context().dialogs->message(MsgKind::Error, e.what());
    }
    TextArrived();
}

// A first download loads while it arrives: the text is ready soon after its last byte.
bool TMorvaneEditor::TakesPieces() {
    pieceError_.clear();
    return true;
}

void TMorvaneEditor::DownloadPiece(std::string_view bytes) {
    if (!pieceError_.empty()) return;
    try {
        if (!editor_->LoadingPieces()) {
            editor_->BeginLoad();
            // The pieces go in at the caret: no key or click may move it until the end.
            editor_->setEnabled(false);
        }
        editor_->LoadPiece(bytes);
    } catch (const std::exception& e) {
        pieceError_ = e.what(); // reported once the download ends
    }
}

void TMorvaneEditor::DownloadDone() {
    editor_->setEnabled(true);
    if (pieceError_.empty()) {
        try {
            if (!editor_->LoadingPieces()) editor_->BeginLoad();
            editor_->EndLoad();
        } catch (const std::exception& e) {
            pieceError_ = e.what();
        }
    }
    if (!pieceError_.empty()) {
        // Part of a file is no document: saving it would cut the server's file short.
        editor_->AbandonLoad();
        SessionFailed("Error getting file " + fileName_ + ":\r\n" + pieceError_, true);
        return;
    }
    editor_->SetReadOnly(false);
    TextArrived();
}

// A load leaves the text unmodified; a reload over edits leaves them in the undo log.
void TMorvaneEditor::TextArrived() {
    cancelling_ = false;
    if (session_) directory_ = session_->Directory();
    ApplyFileName();
    Flash("Opened " + fileName_ + " from " + Place());
    WarnIfUtf16();
    CheckDoubleSpaced();
    if (std::exchange(reopening_, false))
        editor_->GoToPosition(editor::DisplayColumn(reopenColumn_), editor::RecIndex(reopenLine_));
    if (IsActive()) activate();
    trace("remote-opened " + fileName_);
}

void TMorvaneEditor::SessionLoginFailed() {
    if (net::TAccountSecrets* secrets = form_.context().secrets) secrets->forget(accountName_);
}

void TMorvaneEditor::SessionFailed(const std::string& message, bool closeDocument) {
    editor_->AbandonLoad();
    editor_->setEnabled(true);
    form_.clearClosingFlag();
    editor_->SetReadOnly(false);
    if (std::exchange(cancelling_, false) && closeDocument) {
        trace("download-cancelled " + fileName_);
        closeRequest(true);
        return;
    }
    if (closeDocument && std::exchange(reopening_, false)) {
        Note("Not reopened: " + message);
        closeRequest(true);
        return;
    }
    form_.context().dialogs->message(MsgKind::Error, message);
    if (closeDocument)
        closeRequest(false);
    else if (IsActive())
        activate();
}

bool TMorvaneEditor::AskRetrySave(const std::string& message) {
    form_.clearClosingFlag();
    auto* dialogs = form_.context().dialogs;
    dialogs->beep();
    bool retry =
        dialogs->message(MsgKind::Error, message, platform::mbRetryCancel) == MsgResult::Retry;
    if (!retry && IsActive()) activate();
    return retry;
}

TChangedAnswer TMorvaneEditor::AskChanged(const std::string& question) {
    MsgResult answer;
    // Compare shows the differences, then the same question comes again.
    while ((answer = form_.context().dialogs->message(
                MsgKind::Warning, question,
                platform::mbOverwriteReloadCancel | platform::mbCompare)) == MsgResult::Compare) {
        std::string error;
        auto copy = fetchServerCopy(form_, account_, session_ ? session_->Directory() : directory_,
                                    fileName_, error);
        if (!copy) {
            form_.context().dialogs->message(MsgKind::Error,
                                             "The server's copy cannot be fetched: " + error);
            continue;
        }
        showDifferences(this, platform::fromBytes("Differences: " + fileName_), *copy,
                        TextForUpload(), "on the server: " + fileName_, "your text");
    }
    if (answer == MsgResult::Overwrite) return TChangedAnswer::Overwrite;
    if (answer == MsgResult::Reload) {
        editor_->SetReadOnly(true);
        return TChangedAnswer::Reload;
    }
    form_.clearClosingFlag();
    return TChangedAnswer::Cancel;
}

bool TMorvaneEditor::AskCreateMirrorFolder(const std::string& question) {
    auto* dialogs = form_.context().dialogs;
    dialogs->beep();
    return dialogs->message(MsgKind::Confirmation, question, platform::mbYesNo) == MsgResult::Yes;
}

bool TMorvaneEditor::AskWriteInPlace(const std::string& question) {
    auto* dialogs = form_.context().dialogs;
    dialogs->beep();
    bool yes = dialogs->message(MsgKind::Warning, question, platform::mbYesNo) == MsgResult::Yes;
    if (!yes) form_.clearClosingFlag();
    return yes;
}

// The server has the text as it was when the save began; typing since then is not saved.
void TMorvaneEditor::Saved() {
    editor_->MarkSaved(savingState_);
    if (recovery_) recovery_->changed(); // saved: the recovery file goes
    trace("remote-saved " + fileName_);
    Flash("Saved " + fileName_ + " to " + Place());
    if (IsActive()) activate();
}

void TMorvaneEditor::Note(const std::string& text) {
    form_.appendOutput(text);
    form_.setOutputVisible(true);
}

void TMorvaneEditor::CloseRequested() {
    closeRequest(false);
}

// --- the commands
// ----------------------------------------------------------------------------------

namespace {

// The document that holds this file of this login already, if any.
TMorvaneEditor* openRemoteDocument(TMainForm& form, const net::TAccount& account,
                                   const std::string& directory, const std::string& fileName) {
    for (int i = 0; i < form.pageControl()->count(); ++i) {
        auto* doc = qobject_cast<TMorvaneEditor*>(form.pageControl()->widget(i));
        if (!doc || doc->DocumentKind() != TMorvaneEditor::kRemote || !doc->Session()) continue;
        const TRemoteSession& session = *doc->Session();
        const net::TAccount& other = session.Account();
        if (other.Name != account.Name || other.Hostname != account.Hostname ||
            other.Port != account.Port || other.Username != account.Username)
            continue;
        // One login has one home folder: the document's, once it is known, serves for both.
        const std::string& home = session.Home();
        if (RemoteFileKey(home, session.Directory(), session.FileName()) ==
            RemoteFileKey(home, directory, fileName))
            return doc;
    }
    return nullptr;
}

} // namespace

void installRemoteDocuments(TMainForm& form) {
    form.remote().openRemoteDocument = [&form](const net::TAccount& account,
                                               const std::string& directory,
                                               const std::string& fileName) {
        // Two documents of one file would each save over the other's edits.
        if (auto* open = openRemoteDocument(form, account, directory, fileName)) {
            form.pageControl()->setCurrentWidget(open);
            return;
        }
        net::TAccount where = account;
        where.Directory = directory;
        auto* doc = new TMorvaneEditor(form);
        doc->OpenRemote(fileName, where);
    };
    auto active = [&form]() { return qobject_cast<TMorvaneEditor*>(form.activeDocument()); };
    QObject::connect(form.cancelTransferButton(), &QPushButton::clicked, &form, [active] {
        if (auto* doc = active()) doc->CancelTransfer();
    });
    QObject::connect(form.action("FileSaveAsLocalFile"), &QAction::triggered, &form, [active] {
        if (auto* doc = active()) doc->SaveAsOtherSide();
    });
    QObject::connect(form.action("FileRevert"), &QAction::triggered, &form, [active] {
        if (auto* doc = active()) doc->Revert();
    });
    for (const char* name : {"FileSaveAsLocalFile", "FileRevert"})
        form.setCommandAvailable(name, true);
}

} // namespace morvane::app
