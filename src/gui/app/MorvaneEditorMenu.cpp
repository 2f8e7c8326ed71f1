// The context menu of a document's text.

#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"

#include <QAction>
#include <QMenu>

namespace morvane::app {

namespace {
bool IsMarkup(const std::string& language) {
    return language == "HTML" || language == "PHP";
}
} // namespace

void TMorvaneEditor::ShowContextMenu(QPoint globalPos) {
    activate(); // the window's commands enabled for this document's state now
    QMenu menu(editor_);
    menu.setObjectName("EditorContextMenu");
    auto add = [&](const char* name) {
        if (QAction* a = form_.action(name)) menu.addAction(a);
    };
    add("EditUndo");
    add("EditRedo");
    menu.addSeparator();
    add("EditCut");
    add("EditCopy");
    add("EditPaste");
    QAction* remove = menu.addAction("&Delete");
    remove->setObjectName("ContextDelete");
    remove->setEnabled(editor_->SelLength() > 0 && !editor_->ReadOnly());
    connect(remove, &QAction::triggered, this,
            [this] { editor_->ExecuteCommand(editor::ecDeleteChar, 0, false); });
    menu.addSeparator();
    add("EditSelectAll");
    const auto& list = form_.highlighters();
    if (highlighter_ >= 0 && std::size_t(highlighter_) < list.size() &&
        IsMarkup(list[std::size_t(highlighter_)]->languageName())) {
        QMenu* html = menu.addMenu("&HTML");
        html->setObjectName("EditorContextHtml");
        for (const char* name : {"HTMLBold", "HTMLItalic", "HTMLUnderline", "HTMLComment",
                                 "HTMLLink", "HTMLStripTags"})
            if (QAction* a = form_.action(name)) html->addAction(a);
    }
    menu.exec(globalPos);
}

} // namespace morvane::app
