#include "gui/app/RExecTool.h"

#include "core/app/AppRegistry.h"
#include "core/net/SftpFileSystem.h"
#include "core/net/SshExecRunner.h"
#include "core/platform/UiServices.h"
#include "gui/app/ChooseDirectoryForm.h"
#include "gui/app/ConfigureRExecCommandsForm.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/app/SelectListForm.h"
#include "gui/platform/QtUiServices.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <charconv>

namespace morvane::app {

using platform::fromBytes;

namespace {

std::string withSeparator(std::string directory) {
    if (directory.empty() || (directory.back() != '/' && directory.back() != '\\'))
        directory += '/';
    return directory;
}

// Output waits this long for more before it goes to the pane, so that a flood of lines costs
// a few list updates a second rather than one per piece.
constexpr int kFlushMillis = 100;

} // namespace

TRExecTool::TRExecTool(TMainForm& form) : QObject(&form), form_(form) {
    setObjectName("RExecTool");
    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(kFlushMillis);
    connect(flushTimer_, &QTimer::timeout, this, [this] { flush(false); });
    chooseDirectory = [this](const std::vector<net::TAccount>& accounts)
        -> std::optional<std::pair<net::TAccount, std::string>> {
        TChooseDirectoryForm chooser(form_, accounts, &form_);
        if (chooser.exec() != QDialog::Accepted) return std::nullopt;
        return std::make_pair(chooser.chosenAccount(), chooser.path());
    };
    pickAccount = [this]() -> std::optional<std::string> {
        TSelectListForm picker("Select an account", net::AccountNames(*form_.context().registry),
                               form_.lastUsedAccount().Name, &form_);
        if (picker.exec() != QDialog::Accepted) return std::nullopt;
        return picker.chosen();
    };
    makeRunner =
        [this](const net::TAccount& account) -> std::unique_ptr<net::TRemoteCommandRunner> {
        platform::EventLoop& loop = *form_.context().loop;
        if (account.Protocol != net::TRemoteProtocol::Sftp)
            return std::make_unique<net::TRExecClient>(loop);
        // An SFTP account runs its commands over SSH, logged in as its documents are.
        auto fs = std::make_unique<net::TSftpFileSystem>(loop);
        if (!net::ApplyAccount(account, *fs, form_.firewallSettings(), form_.remote().prompts))
            return nullptr;
        fs->SetReplyTimeout(std::chrono::minutes(10)); // the limit for a silent command
        return std::make_unique<net::TSshExecRunner>(loop, std::move(fs));
    };
    connect(form_.cancelTransferButton(), &QPushButton::clicked, this, [this] { cancel(); });
}

TRExecTool::~TRExecTool() {
    if (runner_) {
        runner_->onOutput = nullptr;
        runner_->onDone = nullptr;
    }
}

void TRExecTool::rebuild() {
    for (QAction* a : dynamic_)
        delete a; // also leaves the menu and the window
    dynamic_.clear();
    delete separator_;
    separator_ = nullptr;
    QMenu* menu = form_.menu("RExec");
    const std::vector<TRExecCommand> commands = loadRExecCommands(*form_.context().registry);
    if (!commands.empty()) separator_ = menu->addSeparator();
    // Keys the window's own commands (and weblinks) use win; among commands, the first one.
    QList<QKeySequence> taken;
    for (QAction* a : form_.actions())
        if (!a->shortcut().isEmpty()) taken.append(a->shortcut());
    for (std::size_t n = 0; n < commands.size(); ++n) {
        auto* a = new QAction(fromBytes(commands[n].Name), &form_);
        a->setObjectName(QString("RExecCommand%1").arg(n));
        QKeySequence key = RExecKeySequence(commands[n].Shortcut);
        if (!key.isEmpty() && !taken.contains(key)) {
            a->setShortcut(key);
            taken.append(key);
        }
        a->setEnabled(!running_);
        connect(a, &QAction::triggered, this, [this, n] { run(int(n)); });
        menu->addAction(a);
        form_.addAction(a); // the key works with the menu closed, whatever has the focus
        dynamic_.push_back(a);
    }
}

void TRExecTool::configure() {
    TConfigureRExecCommandsForm dialog(*form_.context().registry, *form_.context().dialogs, &form_);
    if (dialog.exec() == QDialog::Accepted) rebuild();
}

int TRExecTool::port() const {
    std::string text = form_.readSetting("RExec port");
    int port = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || port < 1 ||
        port > 65535)
        return 512;
    return port;
}

std::optional<std::string> TRExecTool::passwordFor(const net::TAccount& account) {
    if (!account.PromptForPassword && !account.Password.empty()) return account.Password;
    const net::TAccountPrompts& prompts = form_.remote().prompts;
    if (prompts.keptPassword)
        if (auto kept = prompts.keptPassword(account)) return kept;
    if (!account.PromptForPassword) return account.Password;
    if (prompts.askPassword) return prompts.askPassword(account);
    if (prompts.password) return prompts.password("Password for " + account.Name);
    return std::nullopt;
}

std::optional<TRExecTool::Target> TRExecTool::prepare(const TRExecCommand& command) {
    platform::Registry& registry = *form_.context().registry;
    platform::Dialogs& dialogs = *form_.context().dialogs;
    Target t;
    std::string directory;
    std::vector<std::string> files;
    if (command.AccountType == raAccount) {
        std::string error;
        if (!net::LoadAccount(registry, command.Account, t.account, &error)) {
            dialogs.error(error);
            return std::nullopt;
        }
        directory = withSeparator(t.account.Directory);
    } else if (command.AccountType == raOpenFile) {
        auto* doc = qobject_cast<TMorvaneEditor*>(form_.activeDocument());
        if (!doc) {
            dialogs.error("This command must have an open file to be run.");
            return std::nullopt;
        }
        if (doc->DocumentKind() != TMorvaneEditor::kRemote) {
            dialogs.error("This command can only be used with remote files.");
            return std::nullopt;
        }
        t.account = doc->Account();
        files = {doc->FileName()};
        directory = withSeparator(doc->Directory());
    }

    if (usesFiles(command.Command)) {
        if (files.empty()) {
            if (!form_.remote().browse) return std::nullopt;
            auto chosen = form_.remote().browse(
                TBrowserMode::Select,
                command.AccountType == raAccount ? t.account : form_.lastUsedAccount(), "");
            if (!chosen || chosen->fileNames.empty()) return std::nullopt;
            t.account = chosen->account;
            files = chosen->fileNames;
            directory = withSeparator(chosen->account.Directory);
        }
        for (const std::string& file : files)
            t.commands.push_back(expandPlaceholders(command.Command, directory, file));
    } else if (usesDirectory(command.Command)) {
        if (command.AccountType != raOpenFile) {
            std::vector<net::TAccount> accounts;
            if (command.AccountType == raAccount) accounts.push_back(t.account);
            auto chosen = chooseDirectory ? chooseDirectory(accounts) : std::nullopt;
            if (!chosen) return std::nullopt;
            t.account = chosen->first;
            directory = withSeparator(chosen->second);
        }
        t.commands.push_back(expandPlaceholders(command.Command, directory, ""));
    } else {
        if (command.AccountType == raSelectOne) {
            auto name = pickAccount ? pickAccount() : std::nullopt;
            if (!name) return std::nullopt;
            std::string error;
            if (!net::LoadAccount(registry, *name, t.account, &error)) {
                dialogs.error(error);
                return std::nullopt;
            }
        }
        t.commands.push_back(command.Command);
    }
    auto password = passwordFor(t.account);
    if (!password) return std::nullopt;
    t.password = *password;
    return t;
}

void TRExecTool::run(int n) {
    if (running_) return;
    std::optional<TRExecCommand> command = loadRExecCommand(*form_.context().registry, n);
    if (!command) return; // removed since the menu was built
    if (command->ClearOutput) form_.outputList()->clear();
    // The dialogs of the preparation are modal: the commands stay off until the run is over.
    running_ = true;
    for (QAction* a : dynamic_)
        a->setEnabled(false);
    std::optional<Target> target = prepare(*command);
    if (!target) {
        running_ = false;
        for (QAction* a : dynamic_)
            a->setEnabled(true);
        return;
    }
    start(std::move(*target));
}

void TRExecTool::start(Target target) {
    target_ = std::move(target);
    nextCommand_ = 0;
    cancelled_ = false;
    form_.setCommandRunning(true);
    next();
}

void TRExecTool::next() {
    runner_.reset();
    if (cancelled_ || nextCommand_ >= target_.commands.size()) return end();
    const std::string& command = target_.commands[nextCommand_++];
    form_.setOutputVisible(true);
    form_.appendOutput("-- Executing " + command);
    // The password is known by now: the transport asks no second time.
    net::TAccount account = target_.account;
    account.Password = target_.password;
    account.PromptForPassword = false;
    runner_ = makeRunner(account);
    if (!runner_) {
        cancelled_ = true;
        return next();
    }
    runner_->onOutput = [this](std::string_view bytes) {
        pending_.append(bytes);
        if (!flushTimer_->isActive()) flushTimer_->start(kFlushMillis);
    };
    runner_->onDone = [this](bool) {
        // The runner goes after its own call has returned; the output goes first.
        QTimer::singleShot(0, this, [this] { drainThenNext(); });
    };
    net::TRemoteCommandRequest request;
    request.host = target_.account.Hostname;
    request.port = port();
    request.user = target_.account.Username;
    request.password = target_.password;
    request.command = command;
    runner_->start(request);
}

void TRExecTool::flush(bool all) {
    flushTimer_->stop();
    // At most this much per turn of the loop, so that a flood never holds the window long;
    // the rest follows at once on the next turn.
    constexpr std::size_t kBatch = 128 * 1024;
    std::size_t cut = pending_.size();
    if (!all || cut > kBatch) {
        // A line that has not ended yet waits for its end, so that it stays one line.
        cut = pending_.rfind('\n', std::min(pending_.size(), kBatch) - 1);
        if (cut == std::string::npos)
            cut = pending_.size() > kBatch ? kBatch : 0; // a very long line goes in pieces
        else
            ++cut; // with its line feed
    }
    if (cut > 0) {
        form_.appendOutput(std::string_view(pending_).substr(0, cut));
        pending_.erase(0, cut);
    }
    if (pending_.empty()) return;
    if (all) return; // the caller drains the rest turn by turn
    flushTimer_->start(pending_.size() >= kBatch ? 0 : kFlushMillis);
}

void TRExecTool::drainThenNext() {
    if (!pending_.empty()) {
        flush(true);
        if (!pending_.empty()) return QTimer::singleShot(0, this, [this] { drainThenNext(); });
    }
    next();
}

void TRExecTool::end() {
    runner_.reset();
    target_ = {};
    running_ = false;
    form_.appendOutput("-- End of output");
    form_.setCommandRunning(false);
    for (QAction* a : dynamic_)
        a->setEnabled(true);
}

void TRExecTool::cancel() {
    if (!running_ || !runner_) return;
    cancelled_ = true;
    runner_->cancel();
}

void installRExec(TMainForm& form) {
    auto* tool = new TRExecTool(form);
    form.setCommandAvailable("RExecSettings", true);
    QObject::connect(form.action("RExecSettings"), &QAction::triggered, tool,
                     [tool] { tool->configure(); });
    QObject::connect(&form, &TMainForm::firstActivationFinished, tool, [tool] { tool->rebuild(); });
}

} // namespace morvane::app
