// TMorvaneEditor: reading a local file into the document, in slices on the event loop with its
// progress and Cancel in the status bar.
#include "core/editor/Streams.h"
#include "core/platform/Paths.h"
#include "gui/app/LocalLoad.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/app/Trace.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <filesystem>
#include <malloc.h>

namespace morvane::app {

using platform::MsgKind;

namespace {
// The commands that would treat a partly read text as the document.
const char* const kNotWhileLoading[] = {
    "FileSave",       "FileSaveAs",   "FileSaveAsLocalFile", "FileRevert",     "FileExportHtml",
    "FileExportRtf",  "FilePrint",    "SearchFind",          "SearchFindNext", "SearchReplace",
    "SearchGotoLine", "EditWordWrap", "EditSelectAll"};
} // namespace

bool TMorvaneEditor::OpenLocal(const std::string& path, bool isNew, bool whole) {
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
    // No watch while the file is read: the text is not yet the file's.
    ForgetDisk();
    std::string error;
    auto slices = editor::TSliceLoad::Open(*editor_, p.string(), error);
    if (!slices) {
        form_.context().dialogs->message(MsgKind::Error, error);
        closeRequest(true);
        return false;
    }
    // The opened file's, taken before reading: a change made while the file is read, or another
    // file put in its place, shows at the next check.
    loadIdentity_ = slices->Identity();
    loadWasReadOnly_ = editor_->ReadOnly();
    editor_->SetReadOnly(true);
    // The pieces go in at the caret: no key or click may move it until the last one is in.
    editor_->setEnabled(false);
    load_ = new TLocalLoad(std::move(slices), this);
    load_->onProgress = [this] { ShowLoadProgress(); };
    load_->onFinished = [this] { LoadFinished(); };
    HoldBackground(true);
    load_->Start(whole);
    if (load_) {
        trace("loading " + fileName_);
        activate();
    }
    return !closed_;
}

void TMorvaneEditor::WhenLoaded(std::function<void()> then) {
    if (load_)
        whenLoaded_.push_back(std::move(then));
    else if (!closed_)
        then();
}

void TMorvaneEditor::CancelLoad() {
    if (load_) load_->Cancel();
}

void TMorvaneEditor::ShowLoadProgress() {
    if (!load_) return;
    statusText_ = load_->ProgressText();
    if (!loadShown_) {
        loadShown_ = true;
        form_.transferProgressBar()->reset(); // the first value is news
        if (IsActive()) activate();
    }
    if (!IsActive()) return;
    form_.statusPanel(4)->setText(platform::fromBytes(statusText_));
    auto* bar = form_.transferProgressBar();
    bar->setMaximum(100);
    const int percent = load_->Load().Percent();
    if (bar->value() == percent) return;
    bar->setValue(percent);
    // Journeys follow the progress and find the button here.
    QPushButton* cancel = form_.cancelTransferButton();
    const QPoint at = cancel->mapTo(cancel->window(), cancel->rect().center());
    trace("load-progress " + fileName_ + " " + std::to_string(percent) + "% cancel " +
          std::to_string(at.x()) + "," + std::to_string(at.y()));
}

void TMorvaneEditor::LoadFinished() {
    TLocalLoad* load = std::exchange(load_, nullptr);
    load->deleteLater(); // it is still on the stack
    const editor::TSliceLoad& slices = load->Load();
    const bool shown = std::exchange(loadShown_, false);
    HoldBackground(session_ && session_->Busy());
    editor_->SetReadOnly(loadWasReadOnly_);
    editor_->setEnabled(true);
    if (shown) statusText_.clear();
    auto waiting = std::exchange(whenLoaded_, {});
    if (slices.Status() != editor::TSliceLoad::State::Done) {
        const bool cancelled = slices.Status() == editor::TSliceLoad::State::Cancelled;
        trace(std::string(cancelled ? "load-cancelled " : "load-failed ") + fileName_);
        if (!cancelled) form_.context().dialogs->message(MsgKind::Error, slices.Error());
        // The part that was read goes now, not when the page is deleted later.
        editor::TMemoryStream nothing;
        editor_->LoadFromStream(nothing);
        malloc_trim(0);
        closeRequest(true);
        return;
    }
    RememberDisk(loadIdentity_);
    // The name was applied before the text was there: a script's "#!" line may choose now.
    if (form_.highlighterIndexFor(fileName_, FirstLine()) != highlighter_) ApplyFileName();
    trace("loaded " + fileName_);
    WarnIfUtf16();
    CheckDoubleSpaced();
    for (auto& then : waiting)
        if (!closed_) then();
    if (IsActive()) activate();
}

// Every activation sets them, so that switching from a loading tab to another gives them back.
void TMorvaneEditor::EnableForLoad() {
    for (const char* name : kNotWhileLoading)
        form_.enableCommand(name, !load_ && (!new_ || std::string_view(name) != "FileRevert"));
}

} // namespace morvane::app
