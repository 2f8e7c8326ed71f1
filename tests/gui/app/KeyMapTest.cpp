// The window's state in sight (title, tab markers, closing tabs, status notes) and the two key
// maps: the window's keys, the languages' maps, the first start's question, Editor properties'
// choice and the manual's key list.

#include "MainFormFixture.h"
#include "core/editor/KeyboardActionContoller.h"
#include "gui/app/OptionsDialog.h"
#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <fstream>
#include <regex>

using namespace morvane;
using namespace morvane::app;
using morvane::testing::processUntil;
using morvane::testing::readFile;
using morvane::testing::settle;

namespace {

class KeyMapTest : public morvane::testing::MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        // The shipped extension table, so that a .py file is Python.
        std::filesystem::create_directories(dir / "home");
        std::filesystem::copy_file(std::filesystem::path(MORVANE_TEST_RESOURCES) / "data" /
                                       "filetypes.txt",
                                   dir / "home" / "filetypes.txt");
    }
    TMorvaneEditor* active() { return qobject_cast<TMorvaneEditor*>(form_->activeDocument()); }
    std::string folder() const { return dir.path().string(); }
    QStringList keys(const char* command) {
        QStringList out;
        for (const QKeySequence& k : form_->action(command)->shortcuts())
            out << k.toString();
        return out;
    }
    const editor::TKeyboardActionContoller& keysOf(const std::string& language) {
        for (const auto& h : form_->highlighters())
            if (h->languageName() == language) return h->settings().keys;
        ADD_FAILURE() << language;
        return editor::TKeyboardActionContoller::globalDefault();
    }
};

TEST_F(KeyMapTest, TitleAndTabShowTheNameThePlaceAndTheModifiedMarker) {
    TMainForm& f = form({file("a.txt", "one\n")});
    EXPECT_EQ(f.windowTitle().toStdString(), "a.txt - " + folder() + " - Morvane");
    active()->Editor().KeyPress('x');
    settle();
    EXPECT_EQ(f.windowTitle().toStdString(), "*a.txt - " + folder() + " - Morvane");
    EXPECT_EQ(f.pageControl()->tabText(0), "*a.txt");
    f.action("FileSave")->trigger();
    settle();
    EXPECT_EQ(readFile(dir / "a.txt"), "xone\n");
    EXPECT_EQ(f.windowTitle().toStdString(), "a.txt - " + folder() + " - Morvane");
    EXPECT_EQ(f.pageControl()->tabText(0), "a.txt");
    EXPECT_EQ(f.statusPanel(4)->text().toStdString(), "Saved a.txt to " + folder());

    // A second tab changes the title; the first keeps its own marker while not shown.
    f.openLocalFiles({file("b.txt", "two\n")});
    settle();
    EXPECT_EQ(f.windowTitle().toStdString(), "b.txt - " + folder() + " - Morvane");
    f.action("FileClose")->trigger();
    settle();
    EXPECT_EQ(f.windowTitle().toStdString(), "a.txt - " + folder() + " - Morvane");
    f.action("FileClose")->trigger();
    processUntil([&] { return f.documentCount() == 0; });
    EXPECT_EQ(f.windowTitle(), "Morvane");
}

TEST_F(KeyMapTest, TabsCloseByTheirButtonOrAMiddleClickAskingWhenModified) {
    TMainForm& f = form({file("a.txt", "one\n"), file("b.txt", "two\n")});
    ASSERT_EQ(f.documentCount(), 2);
    QTabBar* bar = f.pageControl()->tabBar();
    EXPECT_NE(bar->tabButton(0, QTabBar::RightSide), nullptr);
    f.pageControl()->setCurrentIndex(0);
    active()->Editor().KeyPress('x');
    settle();
    // Modified: the question comes, and Cancel keeps the tab.
    dialogs.answers.push_back(platform::MsgResult::Cancel);
    QTest::mouseClick(bar, Qt::MiddleButton, {}, bar->tabRect(0).center());
    settle();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_NE(dialogs.shown[0].text.find("a.txt"), std::string::npos);
    EXPECT_EQ(f.documentCount(), 2);
    // Unmodified: closes without a question.
    QTest::mouseClick(bar, Qt::MiddleButton, {}, bar->tabRect(1).center());
    processUntil([&] { return f.documentCount() == 1; });
    EXPECT_EQ(dialogs.shown.size(), 1u);
    // The button asks like Close does.
    dialogs.answers.push_back(platform::MsgResult::No);
    emit f.pageControl()->tabCloseRequested(0);
    processUntil([&] { return f.documentCount() == 0; });
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(readFile(dir / "a.txt"), "one\n");
}

TEST_F(KeyMapTest, AFirstStartAsksOnceAndTheDesktopAnswerChangesWindowAndEditorKeys) {
    TMainForm& f = form({file("a.py", "x = 1\n")});
    QWidget* question = f.keyMapQuestion();
    ASSERT_NE(question, nullptr);
    EXPECT_TRUE(question->isVisible());
    EXPECT_EQ(f.keyMap(), KeyMapKind::Classic);
    EXPECT_EQ(keys("EditRedo"), QStringList{"Ctrl+Shift+Z"});
    EXPECT_EQ(keys("FileClose"), QStringList{"Ctrl+F4"});
    EXPECT_TRUE(keys("FileSaveAs").isEmpty());
    EXPECT_TRUE(keysOf("Python") == editor::TKeyboardActionContoller::globalDefault());

    question->findChild<QPushButton*>("KeyMapDesktop")->click();
    EXPECT_FALSE(question->isVisible());
    EXPECT_EQ(f.readSetting("Key map"), "Desktop");
    EXPECT_EQ(keys("EditRedo"), (QStringList{"Ctrl+Y", "Ctrl+Shift+Z"}));
    EXPECT_EQ(keys("FileClose"), (QStringList{"Ctrl+W", "Ctrl+F4"}));
    EXPECT_EQ(keys("FileSaveAs"), QStringList{"Ctrl+Shift+S"});
    EXPECT_EQ(keys("FileNew"), QStringList{"Ctrl+N"});
    EXPECT_TRUE(keysOf("Python") == editor::TKeyboardActionContoller::globalDesktop());
    // The open document's editor runs the new keys at once, with the language's comment token.
    editor::TCodeMemo& memo = active()->Editor();
    EXPECT_TRUE(memo.KeyDown(std::uint16_t(editor::kShortcutCtrl | 'D')));
    EXPECT_TRUE(memo.KeyDown(
        std::uint16_t(editor::kShortcutCtrl | (editor::keyOfChar('/') & editor::scKeyMask))));
    EXPECT_EQ(memo.Text(editor::tfLF), "x = 1\n# x = 1\n");

    // The next start asks nothing and uses the stored map.
    form_.reset();
    TMainForm& again = form();
    EXPECT_EQ(again.keyMapQuestion(), nullptr);
    EXPECT_EQ(again.keyMap(), KeyMapKind::Desktop);
    EXPECT_EQ(keys("FileClose"), (QStringList{"Ctrl+W", "Ctrl+F4"}));
}

TEST_F(KeyMapTest, DismissingTheQuestionKeepsClassicAndALanguageTheUserChangedKeepsItsKeys) {
    TMainForm& f = form();
    ASSERT_NE(f.keyMapQuestion(), nullptr);
    f.keyMapQuestion()->findChild<QToolButton*>("KeyMapDismiss")->click();
    EXPECT_FALSE(f.keyMapQuestion()->isVisible());
    EXPECT_EQ(f.readSetting("Key map"), "Classic");
    EXPECT_EQ(f.keyMap(), KeyMapKind::Classic);

    // A language whose keys the user changed keeps them through a change of map.
    for (const auto& h : f.highlighters())
        if (h->languageName() == "SQL") h->settings().keys.addBinding(0x75 /* F6 */, 0, 41);
    f.applyKeyMap(KeyMapKind::Desktop);
    EXPECT_TRUE(keysOf("Perl") == editor::TKeyboardActionContoller::globalDesktop());
    EXPECT_FALSE(keysOf("SQL") == editor::TKeyboardActionContoller::globalDesktop());
    EXPECT_FALSE(keysOf("SQL") == editor::TKeyboardActionContoller::globalDefault());
    f.applyKeyMap(KeyMapKind::Classic);
    EXPECT_TRUE(keysOf("Perl") == editor::TKeyboardActionContoller::globalDefault());
    EXPECT_TRUE(f.keyMapQuestion()->isHidden());
}

TEST_F(KeyMapTest, NeitherMapBindsAnEditorKeyThatTheWindowTakesForAnotherCommand) {
    TMainForm& f = form();
    for (KeyMapKind map : {KeyMapKind::Classic, KeyMapKind::Desktop}) {
        f.applyKeyMap(map);
        const auto& keys = map == KeyMapKind::Desktop
                               ? editor::TKeyboardActionContoller::globalDesktop()
                               : editor::TKeyboardActionContoller::globalDefault();
        for (const auto& [first, second, command] : keys.bindings())
            EXPECT_EQ(f.windowKeyOwner(first, command), "")
                << editor::shortCutToText(first) << " under " << keyMapName(map);
    }
    // The same key for a different command is named.
    EXPECT_EQ(f.windowKeyOwner(std::uint16_t(editor::kShortcutCtrl | 'S'), editor::ecUndo), "Save");
    EXPECT_EQ(f.windowKeyOwner(std::uint16_t(editor::kShortcutCtrl | 'Z'), editor::ecUndo), "");
}

TEST_F(KeyMapTest, EditorPropertiesChoosesTheMapAndRefusesAKeyTheWindowTakes) {
    TMainForm& f = form();
    highlight::TCodeMemoParser* cpp = nullptr;
    for (const auto& h : f.highlighters())
        if (h->languageName() == "C++") cpp = h.get();
    ASSERT_NE(cpp, nullptr);
    TOptionsDialog d(*cpp, dialogs);
    d.ShowKeyMapChoice(false);
    d.WindowKeyOwner = [&](std::uint16_t shortcut, std::int32_t command) {
        return f.windowKeyOwner(shortcut, command);
    };
    auto* box = d.findChild<QComboBox*>("KeyMap");
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isHidden());
    auto* commands = d.findChild<QListWidget*>("Commands");
    EXPECT_TRUE(commands->findItems("Duplicate lines", Qt::MatchExactly).isEmpty());
    box->setCurrentIndex(1);
    emit box->activated(1);
    ASSERT_EQ(commands->findItems("Duplicate lines", Qt::MatchExactly).size(), 1);

    // Ctrl+S for Undo: the window's Save would take it first.
    commands->setCurrentItem(commands->findItems("Undo", Qt::MatchExactly)[0]);
    d.AskKeyPair = [](const QString&, bool, std::uint16_t& first, std::uint16_t& second) {
        first = std::uint16_t(editor::kShortcutCtrl | 'S');
        second = 0;
        return true;
    };
    d.findChild<QPushButton*>("AddKeys")->click();
    d.show();
    d.accept();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_NE(dialogs.shown[0].text.find("Ctrl+S is the key of \"Save\""), std::string::npos)
        << dialogs.shown[0].text;
    EXPECT_TRUE(d.isVisible());
    auto* keyList = d.findChild<QListWidget*>("UsesKeys");
    keyList->setCurrentRow(keyList->count() - 1);
    d.findChild<QPushButton*>("DeleteKeys")->click();
    d.accept();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_TRUE(d.DesktopKeyMapChosen());
    EXPECT_TRUE(cpp->settings().keys == editor::TKeyboardActionContoller::globalDesktop());
}

// Every command of both maps is in the manual's key tables with its keys.
TEST_F(KeyMapTest, TheManualListsEveryCommandOfBothMapsWithItsKeys) {
    TMainForm& f = form();
    std::ifstream in(std::string(MORVANE_TEST_RESOURCES) + "/../docs/manual/index.html");
    ASSERT_TRUE(in) << "the manual";
    std::string html{std::istreambuf_iterator<char>(in), {}};
    // Rows of the two tables: command, classic keys, desktop keys.
    std::map<std::string, std::pair<std::string, std::string>> editorRows, windowRows;
    for (auto [table, rows] : {std::pair{"editorkeys", &editorRows}, {"windowkeys", &windowRows}}) {
        std::size_t start = html.find(std::string("<table class=\"") + table + "\">");
        ASSERT_NE(start, std::string::npos) << table;
        std::string body = html.substr(start, html.find("</table>", start) - start);
        std::regex row("<tr><td>([^<]*)</td><td>([^<]*)</td><td>([^<]*)</td></tr>");
        for (std::sregex_iterator it(body.begin(), body.end(), row), end; it != end; ++it)
            (*rows)[(*it)[1]] = {(*it)[2], (*it)[3]};
    }
    auto listed = [](const std::string& cell, const std::string& key) {
        // Keys are separated by " or "; "&mdash;" is none.
        std::string rest = cell;
        for (std::size_t at; (at = rest.find(" or ")) != std::string::npos; rest.erase(0, at + 4))
            if (rest.substr(0, at) == key) return true;
        return rest == key;
    };
    for (bool desktop : {false, true}) {
        const auto& map = desktop ? editor::TKeyboardActionContoller::globalDesktop()
                                  : editor::TKeyboardActionContoller::globalDefault();
        for (const auto& [first, second, command] : map.bindings()) {
            std::string key = editor::shortCutToText(first);
            if (second) key += ", " + editor::shortCutToText(second);
            std::string name = map.commandName(command);
            auto it = editorRows.find(name);
            ASSERT_NE(it, editorRows.end()) << name;
            EXPECT_TRUE(listed(desktop ? it->second.second : it->second.first, key))
                << name << ": " << key << (desktop ? " (Desktop)" : " (Classic)");
        }
        f.applyKeyMap(desktop ? KeyMapKind::Desktop : KeyMapKind::Classic);
        for (const CommandInfo& c : mainCommands()) {
            QString caption = f.action(c.name)->text().remove('&');
            for (std::string_view k : commandKeys(c, f.keyMap())) {
                auto it = windowRows.find(caption.toStdString());
                ASSERT_NE(it, windowRows.end()) << caption.toStdString();
                EXPECT_TRUE(listed(desktop ? it->second.second : it->second.first, std::string(k)))
                    << caption.toStdString() << ": " << k;
            }
        }
        for (const WindowKey& k : windowKeys(f.keyMap())) {
            auto it = windowRows.find(std::string(k.caption));
            ASSERT_NE(it, windowRows.end()) << k.caption;
            EXPECT_TRUE(listed(it->second.second, std::string(k.key))) << k.caption;
        }
    }
}

TEST_F(KeyMapTest, CtrlPageKeysSwitchTabsUnderTheDesktopMapOnly) {
    TMainForm& f = form({file("a.txt", "a\n"), file("b.txt", "b\n")});
    f.activateWindow();
    f.pageControl()->setCurrentIndex(0);
    auto* next = f.findChild<QShortcut*>("WindowNextTab");
    EXPECT_EQ(next, nullptr);
    f.applyKeyMap(KeyMapKind::Desktop);
    next = f.findChild<QShortcut*>("WindowNextTab");
    ASSERT_NE(next, nullptr);
    emit next->activated();
    EXPECT_EQ(f.pageControl()->currentIndex(), 1);
    emit f.findChild<QShortcut*>("WindowPreviousTab")->activated();
    EXPECT_EQ(f.pageControl()->currentIndex(), 0);
}

} // namespace
