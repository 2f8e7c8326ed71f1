// The text's right-click menu: the Edit commands for every document, the HTML tools only in
// markup files, and a right click outside the selection moving the caret first.
#include "MainFormFixture.h"
#include "gui/editor/CodeMemo.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

#include <filesystem>

namespace morvane::testing {
namespace {

using app::TMorvaneEditor;

class EditorContextMenu : public MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        std::filesystem::create_directories(dir / "home");
        std::filesystem::copy_file(std::filesystem::path(MORVANE_TEST_RESOURCES) / "data" /
                                       "filetypes.txt",
                                   dir / "home" / "filetypes.txt");
    }
    TMorvaneEditor* doc(int i) {
        return qobject_cast<TMorvaneEditor*>(form_->pageControl()->widget(i));
    }
    // Right-clicks a point of the text and returns the captions the menu showed (submenus
    // as "HTML/..."); the menu is closed again unless run picks an entry.
    QStringList rightClick(editor::TCodeMemo& memo, QPoint at, const QString& run = QString()) {
        QStringList seen;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            QAction* chosen = nullptr;
            for (QAction* a : menu->actions()) {
                if (a->isSeparator()) continue;
                QString text = a->text().remove('&');
                if (a->menu())
                    for (QAction* sub : a->menu()->actions())
                        seen << text + "/" + sub->text().remove('&');
                else
                    seen << text + (a->isEnabled() ? "" : " (off)");
                if (text == run) chosen = a;
            }
            menu->close();
            if (chosen) chosen->trigger();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, memo.viewport()->mapToGlobal(at));
        QApplication::sendEvent(memo.viewport(), &event);
        settle();
        return seen;
    }
};

TEST_F(EditorContextMenu, EditCommandsEverywhereAndHtmlToolsInHtmlFiles) {
    app::TMainForm& f = form({file("a.txt", "one two\n"), file("p.html", "<p>x</p>\n")});
    ASSERT_EQ(f.documentCount(), 2);
    editor::TCodeMemo& text = doc(0)->Editor();
    f.pageControl()->setCurrentIndex(0);
    settle();
    text.SetSelection(0, 3);
    auto point = text.PosFromChar(1);
    QStringList items = rightClick(text, QPoint(point.x, point.y + 2));
    EXPECT_EQ(items, (QStringList{"Undo (off)", "Redo (off)", "Cut", "Copy", "Paste (off)",
                                  "Delete", "Select All"}));
    EXPECT_EQ(text.SelLength(), 3) << "a click inside the selection keeps it";
    rightClick(text, QPoint(point.x, point.y + 2), "Delete");
    EXPECT_EQ(text.Text(editor::tfLF), " two\n");
    EXPECT_TRUE(text.CanUndo());
    // Outside the selection the caret moves to the click first, so Paste lands there.
    text.SetSelection(0, 1);
    auto end = text.PosFromChar(4);
    items = rightClick(text, QPoint(end.x + 1, end.y + 2));
    EXPECT_EQ(text.SelLength(), 0);
    EXPECT_EQ(text.Caret(), 4);
    EXPECT_TRUE(items.contains("Delete (off)"));

    f.pageControl()->setCurrentIndex(1);
    settle();
    editor::TCodeMemo& html = doc(1)->Editor();
    ASSERT_NE(html.Active(), nullptr);
    ASSERT_EQ(html.Active()->languageName(), "HTML");
    items = rightClick(html, QPoint(html.TextLeft() + 2, 2));
    EXPECT_TRUE(items.contains("HTML/Bold")) << items.join(", ").toStdString();
    EXPECT_TRUE(items.contains("HTML/Strip Tags"));
}

} // namespace
} // namespace morvane::testing
