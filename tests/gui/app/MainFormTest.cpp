#include "gui/app/MainForm.h"
#include "core/app/AppRegistry.h"
#include "core/app/UpdateCheck.h"
#include "core/platform/FakeUi.h"
#include "gui/app/DocumentPage.h"
#include "support/QtTestSupport.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>

#include <fstream>
#include <memory>

using namespace morvane::app;
using namespace morvane::platform;
using morvane::testing::processUntil;
using morvane::testing::settle;
using morvane::testing::TempDir;
using ::testing::ElementsAre;

namespace {

// A document that asks whether to save when it is modified, as the real ones do.
class FakeDocument : public DocumentPage {
public:
    FakeDocument(TMainForm& form, Dialogs& dialogs, bool modified)
        : form_(form), dialogs_(dialogs), modified_(modified) {}
    void closeRequest(bool force) override {
        ++closeRequests;
        if (modified_ && !force) {
            auto answer = dialogs_.message(MsgKind::Confirmation, "Save changes?", mbYesNoCancel);
            if (answer == MsgResult::Cancel) {
                form_.clearClosingFlag();
                return;
            }
        }
        form_.postDocumentClosed(this);
    }
    int closeRequests = 0;

private:
    TMainForm& form_;
    Dialogs& dialogs_;
    bool modified_;
};

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override { morvane::testing::qtApp(); }

    std::unique_ptr<TMainForm> makeForm(std::vector<std::string> arguments = {}) {
        AppContext c;
        c.registry = &registry;
        c.dialogs = &dialogs;
        c.clipboard = &clipboard;
        c.shell = &shell;
        c.programFolder = dir.path();
        c.resources = resources;
        c.arguments = std::move(arguments);
        auto form = std::make_unique<TMainForm>(c);
        form->onOpenArgument = [this](const std::string& a) { opened.push_back(a); };
        return form;
    }

    void showAndActivate(TMainForm& form) {
        form.show();
        ASSERT_TRUE(processUntil([&] { return form.firstActivationDone(); }));
        settle();
    }

    RegKey settings() { return RegKey(registry, Hive::CurrentUser, kSettingsKey); }

    TempDir dir;
    Registry registry{dir.path() / "cfg"};
    FakeDialogs dialogs;
    FakeClipboard clipboard;
    FakeShell shell;
    std::vector<std::string> opened;
    std::filesystem::path resources = MORVANE_TEST_RESOURCES;
};

QStringList captions(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() ? "|" : a->text());
    return out;
}

TEST_F(MainFormTest, HasItsCaptionSizeAndEveryMenu) {
    auto form = makeForm();
    EXPECT_EQ(form->windowTitle(), "Morvane");
    EXPECT_EQ(form->size(), QSize(619, 497));
    QStringList titles;
    for (QAction* a : form->menuBar()->actions())
        titles << a->text();
    EXPECT_EQ(titles,
              (QStringList{"&File", "&Edit", "&Search", "HT&ML", "&Tools", "Sett&ings", "&Help"}));
    // Each menu has its own Alt key: a shared one would need a second press.
    QSet<QChar> keys;
    for (const QString& t : titles)
        keys.insert(t.at(t.indexOf('&') + 1).toLower());
    EXPECT_EQ(keys.size(), titles.size());
    EXPECT_EQ(
        captions(form->menu("File")),
        (QStringList{"&New", "&Open...", "Open &Local File...", "&Reopen", "|", "&Save",
                     "Save &As...", "Save As Local &File...", "|", "Re&vert", "Export as &HTML...",
                     "Export as R&TF...", "|", "Print Setup", "&Print", "&Close", "|", "E&xit"}));
    EXPECT_EQ(captions(form->menu("Edit")),
              (QStringList{"&Undo", "&Redo", "|", "Cu&t", "&Copy", "&Paste", "|", "Select &All",
                           "&Indent", "U&nindent", "&Word wrap", "Enc&oding",
                           "S&yntax highlighting", "&Editor properties"}));
    EXPECT_EQ(captions(form->menu("Search")),
              (QStringList{"&Find...", "Find &Next", "&Replace...", "Use Regular &Expressions",
                           "&Goto Line..."}));
    EXPECT_EQ(captions(form->menu("HTML")), (QStringList{"&Bold", "&Italic", "&Underline",
                                                         "&Comment", "&Link", "|", "&Strip Tags"}));
    EXPECT_EQ(captions(form->menu("Tools")), (QStringList{"&RExec", "&Weblink"}));
    EXPECT_EQ(captions(form->menu("Settings")),
              (QStringList{"&Options...", "&Accounts...", "Show &Toolbars", "Show O&utput"}));
    EXPECT_EQ(captions(form->menu("Show Toolbars")), (QStringList{"&Main", "&Edit", "&HTML"}));
    EXPECT_EQ(captions(form->menu("Help")), (QStringList{"&Help Topics", "|", "&About..."}));
    EXPECT_EQ(form->action("EditRedo")->shortcut(), QKeySequence("Ctrl+Shift+Z"));
    EXPECT_EQ(form->action("EditIndent")->shortcut(), QKeySequence("Ctrl+]"));
}

TEST_F(MainFormTest, CommandsWithoutADocumentAreDisabled) {
    auto form = makeForm();
    showAndActivate(*form);
    for (const char* name : {"FileSave", "FileClose", "FilePrint", "FilePrintSetup", "HTMLBold",
                             "EditUndo", "EditPaste", "SearchFind"})
        EXPECT_FALSE(form->action(name)->isEnabled()) << name;
    EXPECT_TRUE(form->action("FileExit")->isEnabled());
    EXPECT_TRUE(form->action("SettingsShowOutput")->isEnabled());
}

TEST_F(MainFormTest, StatusBarHasFivePanelsAndHiddenTransferControls) {
    auto form = makeForm();
    showAndActivate(*form);
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(form->statusPanel(i), nullptr);
    EXPECT_EQ(form->statusPanel(3)->minimumWidth(), 100);
    EXPECT_FALSE(form->cancelTransferButton()->isVisible());
    EXPECT_EQ(form->cancelTransferButton()->text(), "&Cancel");
    EXPECT_EQ(form->transferProgressBar()->maximum(), 100);
}

TEST_F(MainFormTest, GeometryToolbarsAndOutputSurviveARestart) {
    {
        auto form = makeForm();
        showAndActivate(*form);
        form->move(33, 44);
        form->resize(700, 520);
        form->toolbar("HTML")->hide();
        form->setOutputVisible(true);
        settle();
        form->close();
    }
    EXPECT_EQ(settings().readString("Window state"), "Normal");
    EXPECT_EQ(settings().readString("Width"), "700");
    EXPECT_EQ(settings().readString("Show HTML toolbar"), "False");
    EXPECT_EQ(settings().readString("Show output"), "True");
    auto form = makeForm();
    showAndActivate(*form);
    EXPECT_EQ(form->pos(), QPoint(33, 44));
    EXPECT_EQ(form->size(), QSize(700, 520));
    EXPECT_FALSE(form->toolbar("HTML")->isVisible());
    EXPECT_TRUE(form->toolbar("Main")->isVisible());
    EXPECT_TRUE(form->outputVisible());
    EXPECT_TRUE(form->outputList()->isVisible());
}

TEST_F(MainFormTest, AFloatingToolbarFloatsAgainWhereItWas) {
    settings().writeString("Edit Toolbar float", "True");
    settings().writeString("Edit Toolbar left", "300");
    settings().writeString("Edit Toolbar top", "200");
    {
        auto form = makeForm();
        showAndActivate(*form);
        QToolBar* bar = form->toolbar("Edit");
        EXPECT_TRUE(bar->isWindow());
        EXPECT_EQ(bar->pos(), QPoint(300, 200));
        EXPECT_EQ(bar->windowTitle(), "Edit toolbar");
        bar->move(310, 210);
        form->close();
    }
    EXPECT_EQ(settings().readString("Edit Toolbar float"), "True");
    EXPECT_EQ(settings().readString("Edit Toolbar left"), "310");
    EXPECT_EQ(settings().readString("Main Toolbar float"), "False");
}

TEST_F(MainFormTest, AMaximisedWindowKeepsTheLastNormalGeometry) {
    settings().writeString("Left", "5");
    settings().writeString("Width", "640");
    {
        auto form = makeForm();
        form->showMaximized();
        processUntil([&] { return form->firstActivationDone(); });
        form->setWindowState(Qt::WindowMaximized);
        settle();
        form->close();
    }
    EXPECT_EQ(settings().readString("Window state"), "Maximized");
    EXPECT_EQ(settings().readString("Left"), "5");
    EXPECT_EQ(settings().readString("Width"), "640");
    auto form = makeForm();
    showAndActivate(*form);
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
}

TEST_F(MainFormTest, WindowSettingsAreLeftAloneWhenTheUserSaysSo) {
    settings().writeString("Restore window settings", "False");
    settings().writeString("Save window settings", "False");
    settings().writeString("Left", "77");
    auto form = makeForm();
    showAndActivate(*form);
    EXPECT_NE(form->x(), 77);
    form->move(10, 10);
    form->close();
    EXPECT_EQ(settings().readString("Left"), "77");
    EXPECT_EQ(settings().readString("Window state"), "");
}

TEST_F(MainFormTest, AGeometryTextThatIsNoNumberIsShownAndStartUpGoesOn) {
    settings().writeString("Top", "abc");
    auto form = makeForm({"a.txt", "b.txt"});
    showAndActivate(*form);
    processUntil([&] { return !dialogs.shown.empty(); });
    EXPECT_THAT(dialogs.texts(), ElementsAre("'abc' is not a valid integer value"));
    EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Error);
    EXPECT_THAT(opened, ElementsAre("a.txt", "b.txt"));
}

TEST_F(MainFormTest, OutputPaneSplitsTextIntoLines) {
    auto form = makeForm();
    form->appendOutput("first\r\nsecond\n\nthird");
    form->appendOutput("\n");
    QStringList lines;
    for (int i = 0; i < form->outputList()->count(); ++i)
        lines << form->outputList()->item(i)->text();
    // Each call starts new lines: the second call's empty piece before its LF is a line too.
    EXPECT_EQ(lines, (QStringList{"first", "second", "", "third", ""}));
    form->action("SettingsShowOutput")->trigger();
    EXPECT_TRUE(form->outputVisible());
    form->action("SettingsShowOutput")->trigger();
    EXPECT_FALSE(form->outputVisible());
}

TEST_F(MainFormTest, HandOverOpensEachArgumentAndRestoresTheWindow) {
    auto form = makeForm();
    showAndActivate(*form);
    form->showMinimized();
    settle();
    form->handOverReceived({"a.txt", "MORVANE://site:/www/index.html"});
    EXPECT_FALSE(form->isMinimized());
    EXPECT_THAT(opened, ElementsAre("a.txt", "MORVANE://site:/www/index.html"));
}

TEST_F(MainFormTest, ClosingAsksEveryDocumentLastTabFirst) {
    auto form = makeForm();
    showAndActivate(*form);
    auto* first = new FakeDocument(*form, dialogs, true);
    auto* second = new FakeDocument(*form, dialogs, true);
    form->addDocument(first, "first");
    form->addDocument(second, "second");
    dialogs.answers = {MsgResult::No, MsgResult::Cancel}; // last tab: No; first tab: Cancel
    EXPECT_FALSE(form->close());
    EXPECT_EQ(first->closeRequests, 1);
    EXPECT_EQ(second->closeRequests, 1);
    ASSERT_TRUE(processUntil([&] { return form->documentCount() == 1; }));
    settle();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isClosing());
    EXPECT_EQ(form->pageControl()->tabText(0), "first");

    dialogs.answers = {MsgResult::No};
    form->close();
    ASSERT_TRUE(processUntil([&] { return !form->isVisible(); }));
    EXPECT_EQ(form->documentCount(), 0);
    EXPECT_FALSE(form->action("EditUndo")->isEnabled());
}

TEST_F(MainFormTest, ADocumentThatArrivesWhileClosingKeepsTheProgramOpen) {
    auto form = makeForm();
    showAndActivate(*form);
    auto* asked = new FakeDocument(*form, dialogs, true);
    form->addDocument(asked, "asked");
    dialogs.answers = {MsgResult::No};
    EXPECT_FALSE(form->close());
    // A second start hands a file over before the answered document has gone.
    auto* handedOver = new FakeDocument(*form, dialogs, false);
    form->addDocument(handedOver, "handed over");
    ASSERT_TRUE(processUntil([&] { return form->documentCount() == 1; }));
    settle();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isClosing());
    // Closing the remaining tab later leaves the program running.
    handedOver->closeRequest(false);
    ASSERT_TRUE(processUntil([&] { return form->documentCount() == 0; }));
    settle();
    EXPECT_TRUE(form->isVisible());
}

// A document that closes later (after a save it started) still ends the program when it was
// asked by the close, also after the others have gone.
TEST_F(MainFormTest, ClosingWaitsForEveryAskedDocument) {
    auto form = makeForm();
    showAndActivate(*form);
    class LateDocument : public DocumentPage {
    public:
        void closeRequest(bool) override { asked = true; }
        bool asked = false;
    };
    auto* late = new LateDocument;
    form->addDocument(late, "late");
    form->addDocument(new FakeDocument(*form, dialogs, false), "quick");
    EXPECT_FALSE(form->close());
    ASSERT_TRUE(processUntil([&] { return form->documentCount() == 1; }));
    settle();
    EXPECT_TRUE(late->asked);
    EXPECT_TRUE(form->isClosing());
    form->postDocumentClosed(late);
    ASSERT_TRUE(processUntil([&] { return !form->isVisible(); }));
}

TEST_F(MainFormTest, AWindowStoredOffEveryScreenComesBackOntoOne) {
    RegKey s = settings();
    s.writeString("Window state", "Normal");
    s.writeString("Left", "9000");
    s.writeString("Top", "7000");
    s.writeString("Width", "300");
    s.writeString("Height", "200");
    auto form = makeForm();
    showAndActivate(*form);
    QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QRect g = form->frameGeometry();
    EXPECT_TRUE(screen.contains(g))
        << g.x() << "," << g.y() << " " << g.width() << "x" << g.height() << " in "
        << screen.width() << "x" << screen.height();
    EXPECT_EQ(form->size(), QSize(300, 200));
}

// No stored size: the window takes a good share of the screen and its toolbar row shows whole.
TEST_F(MainFormTest, TheFirstWindowFitsItsToolbarsAndAShareOfTheScreen) {
    auto form = makeForm();
    showAndActivate(*form);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize outer = form->frameGeometry().size();
    EXPECT_LE(outer.width(), screen.width());
    EXPECT_LE(outer.height(), screen.height());
    EXPECT_GE(outer.width(), screen.width() * 3 / 4);
    EXPECT_GE(outer.height(), screen.height() * 3 / 4);
    int row = 0;
    for (const char* name : {"Main", "Edit", "HTML"})
        row += form->toolbar(name)->sizeHint().width();
    const int frame = outer.width() - form->width();
    EXPECT_GE(form->width(), std::min(row, screen.width() - frame));
}

TEST_F(MainFormTest, ClosingWithoutDocumentsClosesAtOnce) {
    auto form = makeForm();
    showAndActivate(*form);
    EXPECT_TRUE(form->close());
}

} // namespace

// Help Topics hands the manual beside the resources (installed) to the desktop as a file://
// address, else the source tree's; when nothing can show it, the user is told which address.
TEST_F(MainFormTest, HelpTopicsHandsTheManualToTheDesktop) {
    TempDir installed;
    std::filesystem::create_directories(installed.path() / "my manual" / "manual");
    std::ofstream(installed.path() / "my manual" / "manual" / "index.html") << "<p>manual</p>";
    {
        auto form = makeForm();
        showAndActivate(*form);
        ASSERT_TRUE(form->action("HelpHelpTopics")->isEnabled()) << "no document is needed";
        form->action("HelpHelpTopics")->trigger();
        ASSERT_EQ(shell.opened.size(), 1u);
        EXPECT_THAT(shell.opened[0], ::testing::StartsWith("file:///"));
        EXPECT_THAT(shell.opened[0], ::testing::EndsWith("/docs/manual/index.html"));
    }
    shell.opened.clear();
    resources = installed.path() / "my manual";
    auto form = makeForm();
    shell.succeed = false;
    form->action("HelpHelpTopics")->trigger();
    std::string expected =
        "file://" + (installed.path() / "my%20manual/manual/index.html").string();
    EXPECT_EQ(shell.opened, std::vector<std::string>{expected});
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_THAT(dialogs.shown[0].text, ::testing::HasSubstr(expected));
}

// The About box names the version and hands the maker's address to the desktop when clicked.
TEST_F(MainFormTest, TheAboutBoxLinkOpensTheMakersAddress) {
    auto form = makeForm();
    showAndActivate(*form);
    bool seen = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) continue;
            auto* label = box->findChild<QLabel*>("qt_msgbox_label");
            if (label) {
                seen = label->text().contains("Version ");
                emit label->linkActivated(QString::fromLatin1(morvane::app::kUpdateHomePage));
            }
            box->accept();
        }
    });
    form->action("HelpAbout")->trigger();
    EXPECT_TRUE(seen);
    EXPECT_EQ(shell.opened, std::vector<std::string>{morvane::app::kUpdateHomePage});
}
