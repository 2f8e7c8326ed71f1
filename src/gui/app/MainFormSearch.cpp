// TMainForm: commands of the Search menu that need more than the editor control's own.

#include "gui/app/MainForm.h"

#include "gui/app/ChangeDirectoryForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

namespace morvane::app {

void TMainForm::gotoLineCommand() {
    auto* doc = requireDocument();
    if (!doc) return;
    TChangeDirectoryForm form("Goto line number", "Line number:", QString(), this);
    form.setObjectName("GotoLineForm");
    if (form.exec() != QDialog::Accepted) return;
    auto line = parseInteger(platform::toBytes(form.text().trimmed()));
    if (!line) {
        context_.dialogs->message(platform::MsgKind::Error, "Please enter an integer value.");
        return;
    }
    auto& editor = doc->Editor();
    editor.GoToPosition(1, static_cast<editor::RecIndex>(*line));
    editor.ScrollToCaret();
    editor.setFocus();
}

void TMainForm::loadFindChoices() {
    auto& choices = editor::TCodeMemo::FindChoices();
    // Unset values keep the defaults (all on).
    choices.wrapAround = readSetting("Find wrap around") != "False";
    choices.wholeDocument = readSetting("Replace whole document") != "False";
    choices.markAll = readSetting("Mark all matches") != "False";
    editor::TCodeMemo::OnFindChoicesChanged() = [this](const editor::TCodeMemo::TFindChoices& c) {
        writeSetting("Find wrap around", c.wrapAround ? "True" : "False");
        writeSetting("Replace whole document", c.wholeDocument ? "True" : "False");
        writeSetting("Mark all matches", c.markAll ? "True" : "False");
    };
}

} // namespace morvane::app
