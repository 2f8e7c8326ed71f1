#include "gui/app/MorvaneEditor.h"

#include "core/app/DocumentRules.h"
#include "core/editor/CodeMemoError.h"
#include "core/platform/Paths.h"
#include "gui/app/DocumentRecovery.h"
#include "gui/app/LocalLoad.h"
#include "gui/app/MainForm.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace morvane::app {

using platform::MsgKind;
using platform::MsgResult;

namespace {
const char* const kUtf16Notice =
    "This file is UTF-16 text (it starts with a UTF-16 byte order mark).\n\n"
    "Morvane edits 8-bit text: the file is opened as its bytes and shown as Windows-1252. "
    "Saving writes the bytes back exactly as they are, mark included.";
} // namespace

TMorvaneEditor::TMorvaneEditor(TMainForm& form) : form_(form) {
    setObjectName("MorvaneEditor");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    editor_ = new editor::TCodeMemo(this);
    editor_->setObjectName("Editor");
    layout->addWidget(editor_);
    editor_->SetDialogs(form.context().dialogs);
    editor_->SetClipboard(form.context().clipboard);
    if (form.context().recovery) recovery_ = new TDocumentRecovery(*this, *form.context().recovery);
    editor_->OnChange = [this](editor::TCustomCodeMemo*) {
        // A file being read is no edit to keep a recovery copy of.
        if (recovery_ && !load_) recovery_->changed();
        if (IsActive())
            activate();
        else
            ShowState();
    };
    // Each file dropped on the text opens in a document of its own, once the drop has ended.
    editor_->OnFilesDropped = [this](editor::TCustomCodeMemo*,
                                     const std::vector<std::string>& files, editor::TPixelPoint) {
        QMetaObject::invokeMethod(
            &form_, [form = &form_, files] { form->openLocalFiles(files); }, Qt::QueuedConnection);
    };
    // The matches marked while a find dialog is open, counted in the status bar.
    editor_->OnMatchCount = [this](editor::TCodeMemo*, long long count, bool atLeast) {
        matchText_ = count < 0    ? std::string()
                     : count == 1 ? std::string("1 match")
                                  : std::to_string(count) + (atLeast ? "+" : "") + " matches";
        if (IsActive()) RefreshStatus();
    };
    editor_->OnReplaceAllDone = [this](editor::TCodeMemo*, long long count) {
        SessionStatus(std::to_string(count) + " replaced");
    };
    // The dialog's box and the Search menu's command are one setting of the document.
    editor_->OnRegularExpressionsToggled = [this](editor::TCodeMemo*, bool on) {
        if (on != useRegularExpressions_) ToggleRegularExpressions();
    };
    // A typed character the encoding cannot hold: the beep has sounded, the status bar says
    // why and offers UTF-8.
    editor_->OnCharRefused = [this](editor::TCustomCodeMemo*, char32_t code) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "U+%04X", unsigned(code));
        statusText_ = std::string("The character ") + hex + " cannot be written in " +
                      editor::EncodingName(editor_->Encoding()) +
                      ": choose UTF-8 in Edit > Encoding to type it";
        if (IsActive()) RefreshStatus();
    };
    editor_->OnContextMenu = [this](editor::TCodeMemo*, QPoint at) { ShowContextMenu(at); };
    // New documents: the encoding chosen for new files (UTF-8 unless set otherwise).
    if (auto e = editor::EncodingFromName(form.readSetting("NewFileEncoding")))
        editor_->SetEncoding(*e);
    else
        editor_->SetEncoding(editor::TTextEncoding::teUTF8);
    if (form.readSetting("Wordwrap") == "True")
        editor_->SetOptions(editor_->Options() | editor::smoWordWrap);
    flashTimer_.setSingleShot(true);
    flashTimer_.setInterval(5000);
    connect(&flashTimer_, &QTimer::timeout, this, [this] {
        if (statusText_ != flashed_) return;
        statusText_.clear();
        if (IsActive()) RefreshStatus();
    });
    progressTimer_.setSingleShot(true);
    connect(&progressTimer_, &QTimer::timeout, this, [this] { ShowDownloadCount(); });
    form.addDocument(this, QString());
    activate();
}

// A document enters the recent-files list when it closes (closeRequest), while the main window's
// services still exist.
TMorvaneEditor::~TMorvaneEditor() {
    // Before the control it reads into goes with the other children.
    if (load_) {
        load_->onFinished = nullptr;
        delete std::exchange(load_, nullptr);
    }
    HoldBackground(false);
}

bool TMorvaneEditor::IsActive() const {
    return form_.activeDocument() == this;
}

void TMorvaneEditor::SetKind(Kind kind) {
    kind_ = kind;
    if (kind != kLocal) ForgetDisk();
    if (IsActive()) activate();
}

void TMorvaneEditor::WarnIfUtf16() {
    if (!editor::HasUtf16Bom(editor_->RangeText(0, 2, editor::tfStored))) return;
    form_.context().dialogs->message(MsgKind::Warning, kUtf16Notice);
}

void TMorvaneEditor::SetEncoding(editor::TTextEncoding encoding) {
    if (load_) return; // the load decides the encoding when its last byte is in
    editor_->SetEncoding(encoding);
    if (statusText_.rfind("The character ", 0) == 0) statusText_.clear();
    if (IsActive()) activate();
}

void TMorvaneEditor::ApplyFileName() {
    int index = form_.pageControl()->indexOf(this);
    ShowState();
    // Remote folders come without their last slash, local ones with it.
    std::string path = directory_;
    if (!path.empty() && path.back() != '/') path += '/';
    if (index >= 0)
        form_.pageControl()->setTabToolTip(index, platform::fromBytes(path + fileName_));
    UseHighlighter(form_.highlighterIndexFor(fileName_, FirstLine()));
    // The user's auto-replace list and templates from the program folder.
    if (highlighter_ >= 0)
        form_.applyEditorAids(form_.highlighters()[std::size_t(highlighter_)]->settings());
}

std::string TMorvaneEditor::Place() const {
    if (new_ || (directory_.empty() && accountName_.empty())) return {};
    return documentPlace(accountName_, directory_, kind_ == kRemote);
}

void TMorvaneEditor::ShowState() {
    if (closed_) return;
    bool modified = editor_->Modified();
    form_.setDocumentCaption(this, tabCaption(fileName_, modified),
                             documentWindowTitle(fileName_, Place(), modified));
}

void TMorvaneEditor::Flash(const std::string& text) {
    statusText_ = flashed_ = text;
    flashTimer_.start();
    if (IsActive()) RefreshStatus();
}

std::string TMorvaneEditor::FirstLine() const {
    return editor_->RangeText(0, std::min<editor::TextOffset>(editor_->TextLength(), 256),
                              editor::tfStored);
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
    form_.cancelTransferButton()->setVisible(Transferring() || form_.commandRunning());
    form_.transferProgressBar()->setVisible(Transferring());
    EnableForLoad(); // FileRevert too
    ShowState();
    RefreshStatus();
    if (!editor_->hasFocus()) editor_->setFocus();
    if (diskCheckDue_) QTimer::singleShot(0, this, [this] { CheckDiskFile(); });
}

void TMorvaneEditor::RefreshStatus() {
    auto pos = editor_->CaretPosition();
    // While a file loads, the caret is where the text is being added: no place to show.
    form_.statusPanel(0)->setText(
        load_ ? QString()
              : QString::fromStdString(caretPositionText(long(pos.line), long(pos.column))));
    form_.statusPanel(1)->setText(editor_->Modified() ? "Modified" : "");
    form_.statusPanel(2)->setText(kind_ == kLocal ? "Local" : "Remote");
    form_.statusPanel(3)->setText(QString::fromStdString(matchText_));
    form_.statusPanel(4)->setText(platform::fromBytes(statusText_));
    form_.showEncoding(int(editor_->Encoding()), editor_->HasBom());
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
        savingState_ = editor_->TextState();
        RemoteSession().Save(TextForUpload());
        if (Busy() && (statusText_.empty() || statusText_ == flashed_))
            SessionStatus("Saving " + fileName_ + " to " + Place() + "\u2026");
        activate();
        return;
    }
    Enqueue(opSave);
    RunQueue();
}

bool TMorvaneEditor::WriteFile(const std::string& path) {
    try {
        // Unmodified afterwards only if nothing changed the text while it was written.
        editor_->SaveToFile(path);
    } catch (const std::exception& e) {
        form_.context().dialogs->message(MsgKind::Error, e.what());
        return false;
    }
    RememberDisk(platform::fileIdentity(path));
    if (recovery_) recovery_->changed(); // saved: the recovery file goes
    std::filesystem::path p(path);
    Flash("Saved " + p.filename().string() + " to " +
          documentPlace({}, p.parent_path().string(), false));
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
                saved = AskBeforeOverwritingDisk() == TChangedAnswer::Overwrite &&
                        WriteFile(directory_ + fileName_);
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
    const std::string ext = rtf ? ".rtf" : ".html";
    o.fileName = std::filesystem::path(fileName_).stem().string() + ext;
    // "page.html" must not be offered its own name.
    if (QString::fromStdString(o.fileName)
            .compare(QString::fromStdString(fileName_), Qt::CaseInsensitive) == 0)
        o.fileName = fileName_ + ext;
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
    // A file still being read has nothing to save: its load stops and the document goes.
    if (load_) {
        CancelLoad();
        return;
    }
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
                savingState_ = editor_->TextState();
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
    if (recovery_) recovery_->closed();
    queue_.clear();
    if (session_) session_->Disconnect();
    // A remote file that never arrived is no file to come back to.
    bool arrived = kind_ != kRemote || (session_ && session_->KnowsFile());
    if (!new_ && arrived && form_.remote().addRecent)
        form_.remote().addRecent(kind_ == kRemote ? accountName_ : std::string(), directory_,
                                 fileName_);
    form_.postDocumentClosed(this);
}

void TMorvaneEditor::ToggleWordWrap() {
    editor_->SetOptions(editor_->Options() ^ editor::smoWordWrap);
    activate();
}

void TMorvaneEditor::ToggleRegularExpressions() {
    useRegularExpressions_ = !useRegularExpressions_;
    activate();
}

} // namespace morvane::app
