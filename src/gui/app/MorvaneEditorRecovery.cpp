// TMorvaneEditor: documents brought back from recovery files.
#include "core/app/Recovery.h"
#include "core/editor/Streams.h"
#include "core/net/Account.h"
#include "core/platform/Paths.h"
#include "gui/app/DocumentRecovery.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <filesystem>

namespace morvane::app {

std::string TMorvaneEditor::HighlighterName() const {
    const auto& list = form_.highlighters();
    if (highlighter_ < 0 || std::size_t(highlighter_) >= list.size()) return {};
    return list[std::size_t(highlighter_)]->languageName();
}

void TMorvaneEditor::UseHighlighterNamed(const std::string& name) {
    if (name.empty() || HighlighterName() == name) return;
    const auto& list = form_.highlighters();
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i]->languageName() == name) UseHighlighter(int(i));
}

bool TMorvaneEditor::OpenRecovered(const RecoveryHeader& header, const std::string& text,
                                   const std::string& recoveryFile) {
    namespace fs = std::filesystem;
    std::error_code ec;
    bool original = false; // the text replaces the original's, which Undo brings back
    if (header.kind == RecoveryHeader::Local && fs::is_regular_file(header.localPath, ec)) {
        if (!OpenLocal(header.localPath, false, true)) return false; // the text goes over it
        original = true;
    } else if (header.kind == RecoveryHeader::Local) {
        // The file is gone: Save writes it again where it was.
        fs::path p(header.localPath);
        new_ = false;
        fileName_ = p.filename().string();
        directory_ = p.parent_path().string();
        if (directory_.empty() || directory_.back() != '/') directory_ += '/';
        SetKind(kLocal);
        ApplyFileName();
        form_.appendOutput("The file " + header.localPath +
                           " no longer exists: saving the recovered text creates it again.");
    } else if (header.kind == RecoveryHeader::Remote) {
        net::TAccount account;
        std::string error;
        if (net::LoadAccount(*form_.context().registry, header.account, account, &error)) {
            // Nothing is downloaded: the server may be out of reach, and Save needs no copy.
            account.Directory = header.directory;
            account_ = account;
            accountName_ = account.Name;
            fileName_ = header.fileName;
            directory_ = header.directory;
            new_ = false;
            TRemoteSession& session = RemoteSession();
            if (!net::ApplyAccount(account, session.FileSystem(), form_.firewallSettings(),
                                   form_.remote().prompts)) {
                closeRequest(true);
                return false;
            }
            session.SetAccount(account);
            session.SetLocation(header.directory, header.fileName);
            if (header.serverSize >= 0) {
                TRemoteSession::Stamp stamp;
                stamp.known = true;
                stamp.size = header.serverSize;
                stamp.time = header.serverTime;
                stamp.precision = net::TTimePrecision(header.serverPrecision);
                session.SetServerStamp(stamp);
            }
            SetKind(kRemote);
            ApplyFileName();
        } else {
            form_.appendOutput("The account '" + header.account + "' of the recovered file " +
                               header.fileName +
                               " no longer exists: the text opens as a new document.");
            NewBlank(kRemote);
            fileName_ = header.fileName;
            ApplyFileName();
        }
    } else {
        NewBlank(kLocal);
        if (!header.fileName.empty()) fileName_ = header.fileName;
        ApplyFileName();
    }
    if (auto e = editor::EncodingFromName(header.encoding)) editor_->SetEncoding(*e);
    try {
        if (!original) {
            // An empty text stands for what there was: the recovered one is a change from it.
            editor::TMemoryStream empty{std::string()};
            editor_->LoadFromStream(empty);
        }
        const std::uint64_t before = editor_->TextState();
        editor::TMemoryStream in{std::string(text)};
        editor_->ReloadFromStream(in, true);
        editor_->MarkSaved(before);
    } catch (const std::exception& e) {
        form_.context().dialogs->message(platform::MsgKind::Error, e.what());
        closeRequest(true);
        return false;
    }
    UseHighlighterNamed(header.highlighter);
    editor_->GoToPosition(editor::DisplayColumn(header.caretColumn + 1),
                          editor::RecIndex(header.caretLine + 1));
    if (recovery_) recovery_->adopt(recoveryFile);
    activate();
    return true;
}

} // namespace morvane::app
