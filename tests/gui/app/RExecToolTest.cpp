// Tools > RExec on the window: the configuration window and its store, the menu with its keys,
// where a run takes its account, directory and files from, and the output pane while it runs.
#include "FtpServers.h"
#include "MainFormFixture.h"

#include "core/app/RExecCommands.h"
#include "core/net/Account.h"
#include "gui/app/ConfigureRExecCommandsForm.h"
#include "gui/app/KeyAssignDialog.h"
#include "gui/app/RExecTool.h"
#include "gui/editor/CodeMemo.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

namespace morvane::testing {
namespace {

using ::testing::ElementsAre;

// Plays a server: records each request; answers at once with its reply unless told to wait.
struct RunnerLog {
    std::vector<net::TRemoteCommandRequest> requests;
    struct FakeRunner* current = nullptr;
    bool answerAtOnce = true;
    std::string reply = "done\n";
    int cancels = 0;
};

struct FakeRunner : net::TRemoteCommandRunner {
    explicit FakeRunner(RunnerLog& log) : log(log) {}
    ~FakeRunner() override {
        if (log.current == this) log.current = nullptr;
    }
    void start(const net::TRemoteCommandRequest& request) override {
        log.requests.push_back(request);
        log.current = this;
        running_ = true;
        if (log.answerAtOnce)
            QTimer::singleShot(0, [this] {
                onOutput(log.reply);
                end(false);
            });
    }
    void end(bool error) {
        running_ = false;
        onDone(error);
    }
    void cancel() override {
        ++log.cancels;
        onOutput("Cancelled.");
        QTimer::singleShot(0, [this] { end(true); });
    }
    bool running() const override { return running_; }
    RunnerLog& log;
    bool running_ = false;
};

class RExecToolTest : public MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        net::TAccount live;
        live.Name = "Live";
        live.Hostname = "srv.example";
        live.Username = "bob";
        live.Password = "pw";
        live.Directory = "/home/bob";
        ASSERT_TRUE(net::SaveAccount(registry, "Live", live));
        net::TAccount asks = live;
        asks.Name = "Asks";
        asks.Password.clear();
        asks.PromptForPassword = true;
        ASSERT_TRUE(net::SaveAccount(registry, "Asks", asks));
    }
    app::TRExecTool& tool() {
        auto* t = form_->findChild<app::TRExecTool*>("RExecTool");
        EXPECT_NE(t, nullptr);
        t->makeRunner = [this](const net::TAccount&) { return std::make_unique<FakeRunner>(log); };
        return *t;
    }
    app::TMainForm& formWith(std::vector<app::TRExecCommand> commands,
                             std::vector<std::string> arguments = {}) {
        EXPECT_TRUE(app::saveRExecCommands(registry, commands));
        form(std::move(arguments));
        form_->writeSetting("RExec port", "5512");
        return *form_;
    }
    QStringList pane() const {
        QStringList lines;
        for (int i = 0; i < form_->outputList()->count(); ++i)
            lines << form_->outputList()->item(i)->text();
        return lines;
    }
    bool runAndWait(int n) {
        tool().run(n);
        return processUntil([&] { return !tool().running(); });
    }
    RunnerLog log;
};

TEST_F(RExecToolTest, ConfigurationWindowEditsTheListAndOkWritesIt) {
    form();
    {
        app::TConfigureRExecCommandsForm dialog(registry, dialogs, form_.get());
        dialog.show();
        EXPECT_EQ(dialog.windowTitle(), "Configure RExec tools");
        EXPECT_TRUE(dialog.EmptyHint()->isVisible());
        EXPECT_FALSE(dialog.PropertyPanel()->isVisible());
        EXPECT_FALSE(dialog.DeleteButton()->isEnabled());

        dialog.NewCommand();
        settle();
        ASSERT_EQ(dialog.CommandList()->count(), 1);
        EXPECT_EQ(dialog.CommandList()->item(0)->text(), "Untitled command");
        EXPECT_TRUE(dialog.Renaming());
        dialog.accept(); // ends the renaming, keeps the window
        settle();
        EXPECT_FALSE(dialog.Renaming());
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.ClearOutputCheck()->isChecked());
        EXPECT_TRUE(dialog.OpenFileRadio()->isChecked());

        dialog.CommandList()->item(0)->setText("Count");
        dialog.CommandEdit()->setText("wc -l %f");
        emit dialog.CommandEdit()->textEdited(dialog.CommandEdit()->text());
        dialog.ClearOutputCheck()->setChecked(false);
        // Typing an account name chooses the specified account; the other choices clear it.
        dialog.AccountEdit()->setText("Li");
        emit dialog.AccountEdit()->textEdited("Li");
        EXPECT_TRUE(dialog.AccountRadio()->isChecked());
        dialog.SelectRadio()->click();
        EXPECT_EQ(dialog.AccountEdit()->text(), "");
        std::string offered;
        dialog.pickAccount = [&](const std::string& preset) {
            offered = preset;
            return std::optional<std::string>("Live");
        };
        dialog.ChooseAccountButton()->click();
        EXPECT_TRUE(dialog.AccountRadio()->isChecked());
        EXPECT_EQ(dialog.AccountEdit()->text(), "Live");
        dialog.HotkeyEdit()->SetShortcut(0x4000 | 0x2000 | 'R');

        dialog.NewCommand();
        dialog.accept();
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    auto stored = app::loadRExecCommands(registry);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0], (app::TRExecCommand{"Count", "wc -l %f", false, "Ctrl+Shift+R", "Live",
                                             app::raAccount}));
    EXPECT_EQ(stored[1], app::TRExecCommand{});

    // A second window shows them; Delete and Cancel leave the store as it was.
    app::TConfigureRExecCommandsForm dialog(registry, dialogs, form_.get());
    dialog.show();
    EXPECT_EQ(dialog.CommandEdit()->text(), "wc -l %f");
    EXPECT_EQ(dialog.HotkeyEdit()->Shortcut(), 0x4000 | 0x2000 | 'R');
    dialog.DeleteCommand();
    dialog.DeleteCommand();
    EXPECT_TRUE(dialog.EmptyHint()->isVisible());
    dialog.reject();
    EXPECT_EQ(app::loadRExecCommands(registry).size(), 2u);
}

TEST_F(RExecToolTest, TheMenuFollowsTheStoreAndAKeyRunsWhileTheEditorHasTheFocus) {
    formWith({{"Uptime", "uptime", true, "Ctrl+Shift+U", "Live", app::raAccount},
              {"Bold twin", "id", true, "Ctrl+B", "Live", app::raAccount}},
             {file("page.html", "<p>\n")});
    QMenu* menu = form_->menu("RExec");
    ASSERT_EQ(menu->actions().size(), 4);
    EXPECT_EQ(menu->actions()[2]->text(), "Uptime");
    EXPECT_EQ(menu->actions()[2]->shortcut(), QKeySequence("Ctrl+Shift+U"));
    EXPECT_TRUE(menu->actions()[3]->shortcut().isEmpty()); // Ctrl+B is the window's Bold
    EXPECT_TRUE(form_->action("RExecSettings")->isEnabled());
    tool();

    auto* doc = qobject_cast<app::TMorvaneEditor*>(form_->activeDocument());
    ASSERT_NE(doc, nullptr);
    doc->Editor().setFocus();
    QTest::keyClick(&doc->Editor(), Qt::Key_U, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(processUntil([&] { return pane().contains("-- End of output"); }));
    ASSERT_EQ(log.requests.size(), 1u);
    EXPECT_EQ(log.requests[0].host, "srv.example");
    EXPECT_EQ(log.requests[0].port, 5512);
    EXPECT_EQ(log.requests[0].user, "bob");
    EXPECT_EQ(log.requests[0].password, "pw");
    EXPECT_EQ(log.requests[0].command, "uptime");
    EXPECT_THAT(pane(), ElementsAre("-- Executing uptime", "done", "-- End of output"));
    EXPECT_EQ(doc->Editor().Text(editor::tfLF), "<p>\n"); // the key typed nothing

    app::saveRExecCommands(registry, {});
    tool().rebuild();
    EXPECT_EQ(menu->actions().size(), 1);
}

TEST_F(RExecToolTest, FilesChosenInTheBrowserRunOneExchangeEach) {
    formWith({{"Count", "wc -l %F %d", true, "(None)", "", app::raSelectOne}});
    app::TBrowserMode mode{};
    form_->remote().browse = [&](app::TBrowserMode m, const net::TAccount&, const std::string&) {
        mode = m;
        app::TBrowserResult r;
        net::LoadAccount(registry, "Live", r.account);
        r.account.Directory = "/www";
        r.fileNames = {"a.html", "b c.html", "noext"};
        return std::optional<app::TBrowserResult>(r);
    };
    ASSERT_TRUE(runAndWait(0));
    EXPECT_EQ(mode, app::TBrowserMode::Select);
    EXPECT_THAT(pane(),
                ElementsAre("-- Executing wc -l /www/a.html /www/", "done",
                            "-- Executing wc -l '/www/b c.html' /www/", "done",
                            "-- Executing wc -l /www/noext /www/", "done", "-- End of output"));
    ASSERT_EQ(log.requests.size(), 3u);
    EXPECT_EQ(log.requests[2].host, "srv.example");

    // A cancelled browser ends the command: nothing runs, no end line.
    form_->outputList()->clear();
    form_->remote().browse = [](app::TBrowserMode, const net::TAccount&, const std::string&) {
        return std::optional<app::TBrowserResult>();
    };
    ASSERT_TRUE(runAndWait(0));
    EXPECT_TRUE(pane().isEmpty());
    EXPECT_EQ(log.requests.size(), 3u);
}

TEST_F(RExecToolTest, AccountsComeFromTheDocumentTheStoreThePickerOrTheFolderChooser) {
    formWith({{"Here", "ls %d", true, "(None)", "", app::raOpenFile},
              {"Gone", "id", true, "(None)", "Nobody", app::raAccount},
              {"Pick", "id", false, "(None)", "", app::raSelectOne},
              {"Folder", "ls -l %D", false, "(None)", "", app::raSelectOne},
              {"Asks", "id", false, "(None)", "Asks", app::raAccount}});
    ASSERT_TRUE(runAndWait(0));
    EXPECT_EQ(dialogs.texts().back(), "This command must have an open file to be run.");
    form_->openLocalFiles({file("local.txt", "x\n")});
    settle();
    ASSERT_TRUE(runAndWait(0));
    EXPECT_EQ(dialogs.texts().back(), "This command can only be used with remote files.");
    ASSERT_TRUE(runAndWait(1));
    EXPECT_EQ(dialogs.texts().back(), "Cannot find the specified account.");
    EXPECT_TRUE(log.requests.empty());

    tool().pickAccount = [] { return std::optional<std::string>("Live"); };
    ASSERT_TRUE(runAndWait(2));
    ASSERT_EQ(log.requests.size(), 1u);
    EXPECT_EQ(log.requests[0].user, "bob");

    std::size_t offered = 99;
    tool().chooseDirectory = [&](const std::vector<net::TAccount>& accounts) {
        offered = accounts.size(); // none given: the chooser shows every account
        net::TAccount a;
        net::LoadAccount(registry, "Live", a);
        return std::optional<std::pair<net::TAccount, std::string>>({a, "/home/u/www"});
    };
    ASSERT_TRUE(runAndWait(3));
    EXPECT_EQ(offered, 0u);
    EXPECT_EQ(log.requests.back().command, "ls -l /home/u/www/");

    // An account that prompts is asked for its password; a cancelled question runs nothing.
    std::vector<std::string> asked;
    std::optional<std::string> answer = "typed";
    form_->remote().prompts.askPassword = [&](const net::TAccount& a) {
        asked.push_back(a.Name);
        return answer;
    };
    ASSERT_TRUE(runAndWait(4));
    EXPECT_EQ(log.requests.back().password, "typed");
    answer.reset();
    std::size_t before = log.requests.size();
    ASSERT_TRUE(runAndWait(4));
    EXPECT_EQ(log.requests.size(), before);
    EXPECT_THAT(asked, ElementsAre("Asks", "Asks"));
}

TEST_F(RExecToolTest, TheOpenRemoteFileGivesItsFolderFileHostAndUser) {
    FtpServerProcess server(ServerKind::Pyftpdlib);
    ASSERT_EQ(server.error(), "");
    std::filesystem::create_directories(server.root() / "www");
    std::ofstream(server.root() / "www" / "page.old.html") << "<p>\n";
    formWith({{"Check", "tidy %f > %n.log; ls %d", true, "(None)", "", app::raOpenFile}});
    net::TAccount account;
    account.Name = "Site";
    account.Hostname = "127.0.0.1";
    account.Port = server.port();
    account.Username = server.user();
    account.Password = server.password();
    form_->remote().openRemoteDocument(account, "/www", "page.old.html");
    auto* doc = qobject_cast<app::TMorvaneEditor*>(form_->activeDocument());
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(processUntil([&] { return !doc->Busy(); }, 15000));
    form_->remote().browse = [](app::TBrowserMode, const net::TAccount&, const std::string&) {
        ADD_FAILURE() << "the open file names the file: no browser";
        return std::optional<app::TBrowserResult>();
    };
    ASSERT_TRUE(runAndWait(0));
    ASSERT_EQ(log.requests.size(), 1u);
    EXPECT_EQ(log.requests[0].command, "tidy /www/page.old.html > /www/page.old.log; ls /www/");
    EXPECT_EQ(log.requests[0].host, "127.0.0.1");
    EXPECT_EQ(log.requests[0].user, server.user());
    EXPECT_EQ(log.requests[0].password, server.password());
    form_.reset(); // the document's session goes before the server
}

TEST_F(RExecToolTest, OutputReachesThePaneWhileItRunsInFewBatchesAndCancelEndsIt) {
    formWith({{"Flood", "yes", true, "Ctrl+Shift+Y", "Live", app::raAccount}},
             {file("notes.txt", "x\n")});
    log.answerAtOnce = false;
    QAction* action = tool().commandActions().at(0);
    action->trigger();
    ASSERT_TRUE(processUntil([&] { return log.current != nullptr; }));
    EXPECT_TRUE(tool().running());
    EXPECT_FALSE(action->isEnabled());
    EXPECT_TRUE(form_->cancelTransferButton()->isVisibleTo(form_.get()));
    // Typing in a document (which shows its own transfers' state) keeps the button.
    auto* doc = qobject_cast<app::TMorvaneEditor*>(form_->activeDocument());
    ASSERT_NE(doc, nullptr);
    QTest::keyClick(&doc->Editor(), Qt::Key_Z);
    settle();
    EXPECT_TRUE(form_->cancelTransferButton()->isVisibleTo(form_.get()));

    log.current->onOutput("first line\npart");
    ASSERT_TRUE(processUntil([&] { return pane().contains("first line"); }));
    EXPECT_FALSE(pane().contains("part")); // an unfinished line waits for its end

    int insertions = 0;
    QObject::connect(form_->outputList()->model(), &QAbstractItemModel::rowsInserted,
                     [&] { ++insertions; });
    std::string chunk;
    for (int i = 0; i < 1000; ++i)
        chunk += "line " + std::to_string(i) + "\n";
    for (int piece = 0; piece < 100; ++piece) {
        log.current->onOutput(piece == 0 ? "ial\n" + chunk : chunk);
        if (piece % 10 == 0) QCoreApplication::processEvents();
    }
    ASSERT_TRUE(processUntil([&] { return form_->outputList()->count() >= 100003; }));
    EXPECT_EQ(form_->outputList()->item(2)->text(), "partial");
    EXPECT_LT(insertions, 50); // batches, not one insertion per line or piece

    form_->cancelTransferButton()->click();
    ASSERT_TRUE(processUntil([&] { return !tool().running(); }));
    EXPECT_EQ(log.cancels, 1);
    QStringList lines = pane();
    EXPECT_EQ(lines.mid(lines.size() - 2), QStringList({"Cancelled.", "-- End of output"}));
    EXPECT_TRUE(action->isEnabled());
    EXPECT_FALSE(form_->cancelTransferButton()->isVisibleTo(form_.get()));
}

} // namespace
} // namespace morvane::testing
