#include "app/qt/MorvaneEditor.h"

#include "app/DocumentRules.h"
#include "app/qt/MainForm.h"
#include "editor/CodeMemoError.h"
#include "editor/qt/CodeMemo.h"
#include "platform/Paths.h"
#include "platform/qt/QtUiServices.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <filesystem>

namespace morvane::app {

using platform::MsgKind;
using platform::MsgResult;

TMorvaneEditor::TMorvaneEditor(TMainForm& form) : form_(form) {
    setObjectName("MorvaneEditor");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    editor_ = new editor::TCodeMemo(this);
    editor_->setObjectName("Editor");
    layout->addWidget(editor_);
    editor_->SetDialogs(form.context().dialogs);
    editor_->SetClipboard(form.context().clipboard);
    editor_->OnChange = [this](editor::TCustomCodeMemo*) {
        if (IsActive()) activate();
    };
    // Each file dropped on the text opens in a document of its own, once the drop has ended.
    editor_->OnFilesDropped = [this](editor::TCustomCodeMemo*,
                                     const std::vector<std::string>& files, editor::TPixelPoint) {
        QMetaObject::invokeMethod(
            &form_, [form = &form_, files] { form->openLocalFiles(files); }, Qt::QueuedConnection);
    };
    if (form.readSetting("Wordwrap") == "True")
        editor_->SetOptions(editor_->Options() | editor::smoWordWrap);
    progressTimer_.setSingleShot(true);
    connect(&progressTimer_, &QTimer::timeout, this, [this] { ShowDownloadCount(); });
    form.addDocument(this, QString());
    activate();
}

// A document enters the recent-files list when it closes (closeRequest), while the main window's
// services still exist.
TMorvaneEditor::~TMorvaneEditor() = default;

bool TMorvaneEditor::IsActive() const {
    return form_.activeDocument() == this;
}

void TMorvaneEditor::SetKind(Kind kind) {
    kind_ = kind;
    if (IsActive()) activate();
}

bool TMorvaneEditor::OpenLocal(const std::string& path, bool isNew) {
    SetKind(kLocal);
    new_ = isNew;
    // The document's folder is where the file is saved: it must not depend on the working
    // folder at the time of saving.
    std::filesystem::path p(platform::absolutePath(path));
    fileName_ = p.filename().string();
    directory_ = p.parent_path().string();
    if (directory_.empty() || directory_.back() != '/') directory_ += '/';
    ApplyFileName();
    accountName_.clear();
    try {
        editor_->LoadFromFile(p.string());
    } catch (const std::exception& e) {
        form_.context().dialogs->message(MsgKind::Error, e.what());
        closeRequest(true);
        return false;
    }
    CheckDoubleSpaced();
    activate();
    return true;
}

void TMorvaneEditor::ApplyFileName() {
    int index = form_.pageControl()->indexOf(this);
    form_.setDocumentCaption(this, fileName_);
    if (index >= 0)
        form_.pageControl()->setTabToolTip(index, platform::fromBytes(directory_ + fileName_));
    UseHighlighter(form_.highlighterIndexFor(fileName_));
}

void TMorvaneEditor::ManualAssociation(int index) {
    const auto& list = form_.highlighters();
    if (index < 0 || std::size_t(index) >= list.size()) return;
    UseHighlighter(index);
    const std::string& language = list[std::size_t(index)]->languageName();
    std::size_t dot = fileName_.rfind('.');
    std::string extension = dot == std::string::npos ? "." : fileName_.substr(dot);
    auto* dialogs = form_.context().dialogs;
    dialogs->beep();
    if (dialogs->message(MsgKind::Confirmation, associationQuestion(fileName_, language),
                         platform::mbYesNo) != MsgResult::Yes)
        return;
    form_.extensionTable().associate(extension, language);
    std::string error =
        form_.extensionTable().save(form_.context().programFolder / "filetypes.txt");
    if (!error.empty()) dialogs->message(MsgKind::Error, error); // the association in memory stays
}

void TMorvaneEditor::UseHighlighter(int index) {
    const auto& list = form_.highlighters();
    highlighter_ = index >= 0 && std::size_t(index) < list.size() ? index : -1;
    // The settings record brings its own options; the document's word-wrap choice stays.
    std::uint32_t wrap = editor_->Options() & editor::smoWordWrap;
    editor_->SetParser(1, highlighter_ < 0 ? nullptr : list[std::size_t(highlighter_)].get());
    editor_->SetActiveParser(1);
    if ((editor_->Options() & editor::smoWordWrap) != wrap)
        editor_->SetOptions((editor_->Options() & ~editor::smoWordWrap) | wrap);
}

void TMorvaneEditor::CheckDoubleSpaced() {
    DoubleSpacing spacing = detectDoubleSpacing(*editor_);
    if (spacing == DoubleSpacing::None) return;
    if (form_.context().dialogs->message(MsgKind::Confirmation, kDoubleSpacedQuestion,
                                         platform::mbYesNo) != MsgResult::Yes)
        return;
    removeDoubleSpacing(*editor_, spacing);
}

void TMorvaneEditor::activate() {
    if (closed_) return;
    QAction* other = form_.action("FileSaveAsLocalFile");
    if (kind_ == kLocal) {
        other->setText("Save As Remote &File...");
        other->setStatusTip("Save current file on remote system");
    } else {
        other->setText("Save As Local &File...");
        other->setStatusTip("Save current file on local drive");
    }
    other->setToolTip(other->statusTip());
    form_.action("SearchUseRegularExpressions")->setChecked(useRegularExpressions_);
    form_.action("EditWordWrap")->setChecked(editor_->Options() & editor::smoWordWrap);
    bool selected = editor_->Anchor() != editor_->Caret();
    bool writable = !editor_->ReadOnly();
    form_.enableCommand("EditCopy", selected);
    form_.enableCommand("EditCut", selected && writable);
    // What the clipboard holds was asked when it changed: never on a caret move.
    form_.enableCommand("EditPaste", writable && form_.clipboardHasText());
    form_.enableCommand("EditUndo", editor_->CanUndo() && writable);
    form_.enableCommand("EditRedo", editor_->CanRedo() && writable);
    form_.cancelTransferButton()->setVisible(Transferring());
    form_.transferProgressBar()->setVisible(Transferring());
    form_.enableCommand("FileRevert", !new_);
    RefreshStatus();
    if (!editor_->hasFocus()) editor_->setFocus();
}

void TMorvaneEditor::RefreshStatus() {
    auto pos = editor_->CaretPosition();
    form_.statusPanel(0)->setText(
        QString::fromStdString(caretPositionText(long(pos.line), long(pos.column))));
    form_.statusPanel(1)->setText(editor_->Modified() ? "Modified" : "");
    form_.statusPanel(2)->setText(kind_ == kLocal ? "Local" : "Remote");
    form_.statusPanel(3)->clear();
    form_.statusPanel(4)->setText(platform::fromBytes(statusText_));
}

void TMorvaneEditor::Save() {
    if (new_) {
        SaveAs();
        return;
    }
    if (Busy()) {
        form_.context().dialogs->message(MsgKind::Error, "Cannot save while busy.");
        return;
    }
    if (kind_ == kRemote) {
        RemoteSession().Save(TextForUpload());
        activate();
        return;
    }
    Enqueue(opSave);
    RunQueue();
}

bool TMorvaneEditor::WriteFile(const std::string& path) {
    try {
        editor_->SaveToFile(path);
    } catch (const std::exception& e) {
        form_.context().dialogs->message(MsgKind::Error, e.what());
        return false;
    }
    editor_->SetModified(false);
    return true;
}

void TMorvaneEditor::RunQueue() {
    while (!queue_.empty() && !closed_) {
        Operation op = queue_.front();
        queue_.pop_front();
        if (op == opSave) {
            bool saved;
            if (new_) {
                SaveAs(); // clears new_ once the file is written
                saved = !new_;
            } else {
                saved = WriteFile(directory_ + fileName_);
            }
            if (!saved) {
                // A failed save keeps the document open, also when a close was waiting.
                queue_.clear();
                form_.clearClosingFlag();
            }
        } else if (op == opClose) {
            closeRequest(false);
        }
        activate();
    }
}

void TMorvaneEditor::SaveAs() {
    if (kind_ == kRemote)
        SaveAsRemote();
    else
        SaveAsLocal();
}

void TMorvaneEditor::SaveAsOtherSide() {
    if (kind_ == kRemote)
        SaveAsLocal();
    else
        SaveAsRemote();
}

void TMorvaneEditor::SaveAsLocal() {
    platform::FileDialogOptions o;
    o.title = "Save As";
    o.filter = "All Files (*.*)|*.*";
    if (kind_ == kLocal) o.directory = directory_;
    o.fileName = fileName_;
    o.mustExist = false;
    auto chosen = form_.context().dialogs->saveFile(o);
    if (!chosen) return;
    std::filesystem::path p(platform::absolutePath(*chosen));
    std::string oldName = fileName_, oldDirectory = directory_;
    fileName_ = p.filename().string();
    directory_ = p.parent_path().string();
    if (directory_.empty() || directory_.back() != '/') directory_ += '/';
    ApplyFileName();
    if (!WriteFile(p.string())) {
        // The document still belongs where it was.
        fileName_ = oldName;
        directory_ = oldDirectory;
        ApplyFileName();
        return;
    }
    new_ = false;
    if (session_) session_->Disconnect();
    accountName_.clear();
    SetKind(kLocal);
}

void TMorvaneEditor::Export(bool rtf) {
    platform::FileDialogOptions o;
    o.title = rtf ? "Export as RTF" : "Export as HTML";
    o.filter = rtf ? "Rich Text Format (*.rtf)|*.rtf|All Files (*.*)|*.*"
                   : "HTML Files (*.html;*.htm)|*.html;*.htm|All Files (*.*)|*.*";
    if (kind_ == kLocal) o.directory = directory_;
    o.fileName = std::filesystem::path(fileName_).stem().string() + (rtf ? ".rtf" : ".html");
    o.mustExist = false;
    auto chosen = form_.context().dialogs->saveFile(o);
    if (!chosen) return;
    std::string path = platform::absolutePath(*chosen);
    // The page would replace the very text it shows.
    std::error_code ec;
    if (kind_ == kLocal && !new_ && std::filesystem::equivalent(path, directory_ + fileName_, ec)) {
        form_.context().dialogs->message(MsgKind::Error,
                                         "The export cannot replace the file being exported.");
        return;
    }
    try {
        editor_->ExportToFile(path, rtf ? editor::tfRTF : editor::tfHTML);
    } catch (const std::exception& e) {
        form_.context().dialogs->message(MsgKind::Error, e.what());
    }
}

void TMorvaneEditor::closeRequest(bool force) {
    if (closed_) return;
    if (!force && editor_->Modified()) {
        MsgResult answer = form_.context().dialogs->message(
            MsgKind::Confirmation, saveBeforeClosingQuestion(fileName_), platform::mbYesNoCancel);
        if (answer == MsgResult::Cancel) {
            form_.clearClosingFlag();
            return;
        }
        if (answer == MsgResult::Yes) {
            if (kind_ == kRemote && !new_) {
                if (Busy()) {
                    form_.context().dialogs->message(MsgKind::Error, "Cannot save while busy.");
                    form_.clearClosingFlag();
                    return;
                }
                RemoteSession().Save(TextForUpload());
                session_->EnqueueClose();
                activate();
                return;
            }
            Enqueue(opSave);
            Enqueue(opClose);
            RunQueue();
            return;
        }
    }
    closed_ = true;
    queue_.clear();
    if (session_) session_->Disconnect();
    if (!new_ && form_.remote().addRecent)
        form_.remote().addRecent(kind_ == kRemote ? accountName_ : std::string(), directory_,
                                 fileName_);
    form_.postDocumentClosed(this);
}

void TMorvaneEditor::ToggleRegularExpressions() {
    useRegularExpressions_ = !useRegularExpressions_;
    activate();
}

} // namespace morvane::app
