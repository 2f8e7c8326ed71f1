// The HTML menu and the weblinks on the window: keys, menus, the settings dialog.
#include "MainFormFixture.h"

#include "core/app/AppRegistry.h"
#include "core/app/Weblinks.h"
#include "gui/app/ConfigureWebLinkForm.h"
#include "gui/app/KeyAssignDialog.h"
#include "gui/editor/CodeMemo.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gmock/gmock.h>

namespace morvane::testing {
namespace {

using ::testing::ElementsAre;

class ToolMenusTest : public MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        std::filesystem::create_directories(dir / "home" / "Weblinks");
        file("home/filetypes.txt", ".html\tHTML\n");
    }
    app::TMorvaneEditor* active() {
        return qobject_cast<app::TMorvaneEditor*>(form_->activeDocument());
    }
    editor::TCodeMemo& memo() { return active()->Editor(); }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        memo().setFocus();
        QTest::keyClick(&memo(), Qt::Key(key), modifiers);
        settle();
    }
};

TEST_F(ToolMenusTest, HtmlKeysWrapTheSelectionWithDocumentsOnly) {
    form();
    EXPECT_FALSE(form_->action("HTMLBold")->isEnabled());
    form_->close();
    form({file("page.html", "say word now\n")});
    ASSERT_TRUE(active());
    for (const char* name :
         {"HTMLBold", "HTMLItalic", "HTMLUnderline", "HTMLComment", "HTMLLink", "HTMLStripTags"})
        EXPECT_TRUE(form_->action(name)->isEnabled()) << name;
    memo().SetSelection(4, 8);
    press(Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(memo().Text(editor::tfLF), "say <B>word</B> now\n");
    press(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(memo().Text(editor::tfLF), "say word now\n");

    form_->writeSetting("Lowercase html", "1");
    memo().SetSelection(0, 0);
    press(Qt::Key_U, Qt::ControlModifier);
    press(Qt::Key_X);
    EXPECT_EQ(memo().Text(editor::tfLF), "<u>x</u>say word now\n");
    form_->action("HTMLStripTags")->trigger();
    EXPECT_EQ(memo().Text(editor::tfLF), "xsay word now\n");
}

TEST_F(ToolMenusTest, WeblinkKeyOpensTheAddressForTheWordUnderTheCaret) {
    ASSERT_TRUE(app::installDefaultWeblinks(registry, dir / "home"));
    file("home/Weblinks/HTML weblinks.txt", "[0-255]\nTABLE=https://ref.example/table\n");
    form({file("page.html", "<html>\n<TABLE border=1>\n")});
    QMenu* menu = form_->menu("Weblink");
    ASSERT_EQ(menu->actions().size(), 4); // Settings, separator, the two weblinks
    EXPECT_EQ(menu->actions()[2]->text(), "HTML on-line help");
    EXPECT_EQ(menu->actions()[2]->shortcut(), QKeySequence(Qt::Key_F1));

    memo().SetSelStart(10);
    press(Qt::Key_F1); // while the editor has the focus, with no menu open
    EXPECT_THAT(shell.opened, ElementsAre("https://ref.example/table"));
    // The Perl weblink refuses an HTML document.
    press(Qt::Key_F2);
    EXPECT_EQ(dialogs.texts().back(), "The selected language is not supported by this lookup");
}

TEST_F(ToolMenusTest, SettingsDialogEditsTheListAndTheMenuFollowsAfterOk) {
    ASSERT_TRUE(app::installDefaultWeblinks(registry, dir / "home"));
    form();
    std::vector<std::string> languages;
    for (const auto& h : form_->highlighters())
        languages.push_back(h->languageName());
    {
        app::TConfigureWebLinkForm dialog(registry, dialogs, languages, form_.get());
        ASSERT_EQ(dialog.LinkList()->count(), 2);
        EXPECT_EQ(dialog.LookupFileEdit()->text().toStdString(),
                  (dir / "home" / "Weblinks" / "HTML weblinks.txt").string());
        EXPECT_FALSE(dialog.UpButton()->isEnabled());
        dialog.NewLink();
        dialog.LinkList()->currentItem()->setText("Search");
        dialog.UrlEdit()->setText("https://s.example/?q=");
        emit dialog.UrlEdit()->textEdited(dialog.UrlEdit()->text());
        dialog.UrlEdit()->end(false);
        dialog.WordButton()->click();
        // Ctrl+B belongs to the window's Bold command: the weblink keeps it but gets no key.
        dialog.ShortcutEdit()->SetShortcut(0x4000 | 'B');
        dialog.LanguageList()->item(0)->setCheckState(Qt::Checked); // HTML
        dialog.Move(-1);
        EXPECT_EQ(dialog.LinkList()->currentRow(), 1);
        dialogs.answers = {platform::MsgResult::Yes};
        dialog.LinkList()->setCurrentRow(2); // the Perl weblink
        dialog.DeleteLink();
        dialog.accept();
    }
    auto links = app::loadWeblinks(registry);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[1].caption, "Search");
    EXPECT_EQ(links[1].address, "https://s.example/?q=%WORD%");
    EXPECT_EQ(links[1].shortcut, 0x4000 | 'B');
    EXPECT_THAT(links[1].languages, ElementsAre("HTML"));
    EXPECT_EQ(dialogs.texts().back(), "Delete weblink Perl on-line help");

    // The menu is rebuilt after OK (the window's command does so; here by the same path).
    form_->close();
    form();
    QMenu* menu = form_->menu("Weblink");
    ASSERT_EQ(menu->actions().size(), 4);
    EXPECT_EQ(menu->actions()[3]->text(), "Search");
    EXPECT_TRUE(menu->actions()[3]->shortcut().isEmpty());
}

} // namespace
} // namespace morvane::testing
