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

} // namespace morvane::app
