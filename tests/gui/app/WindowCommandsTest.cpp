// The main window's own commands: the document commands as a group, the check marks refreshed
// when a menu opens, the tabs (drag and menu), the output pane's menu and the version shown.
#include "MainFormFixture.h"
#include "core/app/Commands.h"
#include "core/app/MainFormSettings.h"
#include "gui/editor/CodeMemo.h"

#include <gmock/gmock.h>

#include <QListWidget>
#include <QMenu>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>

#include <cstdio>

namespace morvane::testing {
namespace {

using app::TMorvaneEditor;

class WindowCommands : public MainFormFixture {
protected:
    TMorvaneEditor* doc(int i) {
        return qobject_cast<TMorvaneEditor*>(form_->pageControl()->widget(i));
    }
    void closeAll() {
        for (int i = form_->documentCount() - 1; i >= 0; --i)
            doc(i)->closeRequest(true);
        processUntil([&] { return form_->documentCount() == 0; });
    }
    // What a menu shows once it has refreshed itself.
    static void opened(QMenu* menu) { emit menu->aboutToShow(); }
};

TEST_F(WindowCommands, DocumentCommandsFollowTheFirstAndTheLastDocument) {
    app::TMainForm& f = form();
    for (auto name : app::documentCommands())
        EXPECT_FALSE(f.action(name)->isEnabled()) << name;
    for (auto name : app::documentEditCommands())
        EXPECT_FALSE(f.action(name)->isEnabled()) << name;
    EXPECT_FALSE(f.findChild<QMenu*>("SyntaxHighlightingMenu")->menuAction()->isEnabled());
    // Its choice re-reads the active document: with none it could only say so.
    EXPECT_FALSE(f.encodingMenu()->menuAction()->isEnabled());
    for (const char* always :
         {"FileNew", "FileOpen", "FileOpenLocalFile", "FileExit", "SettingsOptions",
          "SettingsAccounts", "SettingsShowOutput", "HelpAbout"})
        EXPECT_TRUE(f.action(always)->isEnabled()) << always;

    f.openLocalFiles({file("a.txt", "one\n"), file("b.txt", "two\n")});
    for (auto name : app::documentCommands())
        EXPECT_TRUE(f.action(name)->isEnabled()) << name;
    EXPECT_TRUE(f.findChild<QMenu*>("SyntaxHighlightingMenu")->menuAction()->isEnabled());
    EXPECT_TRUE(f.encodingMenu()->menuAction()->isEnabled());
    doc(1)->Editor().SelectAll();
    doc(1)->activate();
    EXPECT_TRUE(f.action("EditCopy")->isEnabled());

    // Closing one leaves the group on; closing the last turns it off, edit commands included.
    doc(0)->closeRequest(true);
    processUntil([&] { return f.documentCount() == 1; });
    EXPECT_TRUE(f.action("FileSave")->isEnabled());
    closeAll();
    for (auto name : app::documentCommands())
        EXPECT_FALSE(f.action(name)->isEnabled()) << name;
    for (auto name : app::documentEditCommands())
        EXPECT_FALSE(f.action(name)->isEnabled()) << name;
    EXPECT_FALSE(f.findChild<QMenu*>("SyntaxHighlightingMenu")->menuAction()->isEnabled());
    EXPECT_FALSE(f.encodingMenu()->menuAction()->isEnabled());
}

TEST_F(WindowCommands, WordWrapAndHighlighterMarksFollowTheActiveDocument) {
    std::filesystem::create_directories(dir / "home");
    writeFile(dir / "home" / "filetypes.txt", ".html\tHTML\n.pl\tPerl\n");
    app::TMainForm& f = form({file("a.html", "<p>\n"), file("b.pl", "1;\n")});
    ASSERT_EQ(f.documentCount(), 2);
    auto* menu = f.findChild<QMenu*>("SyntaxHighlightingMenu");
    auto checkedItem = [&] {
        QString out;
        for (QAction* a : menu->actions())
            if (a->isChecked()) out += a->text();
        return out;
    };
    f.pageControl()->setCurrentIndex(1);
    f.action("EditWordWrap")->trigger();
    EXPECT_TRUE(doc(1)->Editor().Options() & editor::smoWordWrap);
    opened(f.menu("Edit"));
    EXPECT_TRUE(f.action("EditWordWrap")->isChecked());
    opened(menu);
    EXPECT_EQ(checkedItem(), "Perl");

    f.pageControl()->setCurrentIndex(0);
    opened(f.menu("Edit"));
    EXPECT_FALSE(f.action("EditWordWrap")->isChecked());
    opened(menu);
    EXPECT_EQ(checkedItem(), "HTML");

    // A choice from the menu is the document's highlighter, and marked the next time.
    for (QAction* a : menu->actions())
        if (a->text() == "Plain text") a->trigger();
    opened(menu);
    EXPECT_EQ(checkedItem(), "Plain text");
}

// A letter shared by two items of one menu only moves between them: Settings had Options and
// Show Output on "O".
TEST_F(WindowCommands, EachItemOfAMenuHasALetterOfItsOwn) {
    app::TMainForm& f = form();
    for (QMenu* menu : f.findChildren<QMenu*>()) {
        if (menu->objectName() == "TabMenu")
            continue; // its Copy and Close share "C", as the command table has them
        QMap<QChar, QStringList> owners;
        for (QAction* a : menu->actions()) {
            const QString text = a->text();
            const int amp = text.indexOf('&');
            if (amp >= 0 && amp + 1 < text.size()) owners[text.at(amp + 1).toLower()] << text;
        }
        for (auto it = owners.begin(); it != owners.end(); ++it)
            EXPECT_EQ(it.value().size(), 1)
                << menu->objectName().toStdString() << ": " << it.value().join(", ").toStdString();
    }
}

TEST_F(WindowCommands, ShowToolbarsTogglesEachBarAndMarksItsState) {
    app::TMainForm& f = form();
    QMenu* show = f.menu("Show Toolbars");
    f.toolbar("Main")->setVisible(true);
    f.toolbar("HTML")->setVisible(false);
    opened(show);
    ASSERT_EQ(show->actions().size(), 3);
    EXPECT_TRUE(show->actions()[0]->isChecked());
    EXPECT_FALSE(show->actions()[2]->isChecked());
    show->actions()[2]->trigger();
    EXPECT_TRUE(f.toolbar("HTML")->isVisible());
    show->actions()[0]->trigger();
    EXPECT_FALSE(f.toolbar("Main")->isVisible());
}

TEST_F(WindowCommands, DraggingTheThirdTabOntoTheFirstMakesItTheFirst) {
    app::TMainForm& f = form({file("one.txt", "1"), file("two.txt", "2"), file("three.txt", "3")});
    ASSERT_EQ(f.documentCount(), 3);
    QTabBar* bar = f.pageControl()->tabBar();
    const QPoint from = bar->tabRect(2).center();
    const QPoint to = bar->tabRect(0).center();
    QTest::mousePress(bar, Qt::LeftButton, {}, from);
    // In steps, as a hand moves: the drag starts past the threshold and follows the mouse.
    for (int step = 1; step <= 10; ++step) {
        QMouseEvent move(QEvent::MouseMove, from + (to - from) * step / 10,
                         bar->mapToGlobal(from + (to - from) * step / 10), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &move);
    }
    QTest::mouseRelease(bar, Qt::LeftButton, {}, to);
    processUntil([&] { return f.pageControl()->tabText(0) == "three.txt"; }, 2000);
    EXPECT_EQ(f.pageControl()->tabText(0), "three.txt");
    EXPECT_EQ(f.pageControl()->tabText(1), "one.txt");
    EXPECT_EQ(f.pageControl()->tabText(2), "two.txt");
    EXPECT_EQ(doc(0)->FileName(), "three.txt");
}

TEST_F(WindowCommands, TheTabMenuActivatesTheTabItWasOpenedOn) {
    app::TMainForm& f = form({file("one.txt", "1"), file("two.txt", "2")});
    QTabBar* bar = f.pageControl()->tabBar();
    f.pageControl()->setCurrentIndex(1);
    emit bar->customContextMenuRequested(bar->tabRect(0).center());
    auto* menu = f.findChild<QMenu*>("TabMenu");
    ASSERT_NE(menu, nullptr);
    processUntil([&] { return menu->isVisible(); }, 2000);
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(f.pageControl()->currentIndex(), 0);
    QStringList items;
    for (QAction* a : menu->actions())
        items << (a->isSeparator() ? "|" : a->objectName());
    EXPECT_EQ(items, (QStringList{"EditCut", "EditCopy", "EditPaste", "|", "FileClose"}));
    menu->hide();
    menu->actions().back()->trigger();
    processUntil([&] { return f.documentCount() == 1; });
    EXPECT_EQ(f.pageControl()->tabText(0), "two.txt");
}

TEST_F(WindowCommands, TheOutputMenuClearsAndHidesThePane) {
    app::TMainForm& f = form();
    f.setOutputVisible(true);
    f.appendOutput("one\ntwo\n");
    auto* menu = f.outputList()->findChild<QMenu*>("OutputMenu");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(f.outputList()->contextMenuPolicy(), Qt::CustomContextMenu);
    QAction* clear = nullptr;
    QAction* hide = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->objectName() == "ClearOutput") clear = a;
        if (a->objectName() == "HideOutput") hide = a;
    }
    ASSERT_TRUE(clear && hide);
    EXPECT_EQ(clear->text(), "&Clear output");
    EXPECT_EQ(hide->text(), "&Hide output");
    clear->trigger();
    EXPECT_EQ(f.outputList()->count(), 0);
    EXPECT_TRUE(f.outputVisible());
    hide->trigger();
    EXPECT_FALSE(f.outputVisible());
    EXPECT_FALSE(f.action("SettingsShowOutput")->isChecked());
}

// The version is compiled in from the build: the About box never has to say it cannot tell.
TEST_F(WindowCommands, TheAboutBoxAndVersionOptionShowTheCompiledInVersion) {
    const std::string label = app::aboutVersionLabel(app::programFileVersion());
    EXPECT_TRUE(QRegularExpression("^Version \\d+\\.\\d+ build \\d+$")
                    .match(QString::fromStdString(label))
                    .hasMatch())
        << label;
    // Without a display: the option must not need one.
    std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
                          MORVANE_EXECUTABLE + " --version";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    char buffer[256] = {};
    std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
    int status = ::pclose(out);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::string(buffer, n), std::string("morvane ") + app::programFileVersion() + "\n");
}

} // namespace
} // namespace morvane::testing
