#pragma once
// Tools > RExec on the main window: the Settings item, one item per remote command with its key,
// and the run of a command: where its account, directory and files come from, one exchange per
// file, and the output streamed into the output pane in batches.

#include "core/app/RExecCommands.h"
#include "core/net/Account.h"
#include "core/net/RExecClient.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QTimer;

namespace morvane::app {

class TMainForm;

class TRExecTool : public QObject {
    Q_OBJECT
public:
    explicit TRExecTool(TMainForm& form);
    ~TRExecTool() override;

    // Drops the command items and adds one per stored command.
    void rebuild();
    void configure();
    // Runs the stored command n (its position in the list).
    void run(int n);
    bool running() const { return running_; }
    // Ends the running exchange; the commands still to run are dropped.
    void cancel();
    const std::vector<QAction*>& commandActions() const { return dynamic_; }

    // The windows a run opens, replaceable by tests. The folder chooser returns the chosen
    // account with its path; the picker an account name. nullopt: cancelled.
    std::function<std::optional<std::pair<net::TAccount, std::string>>(
        const std::vector<net::TAccount>& accounts)>
        chooseDirectory;
    std::function<std::optional<std::string>()> pickAccount;
    // The transport for an account (rexec unless a test says otherwise).
    std::function<std::unique_ptr<net::TRemoteCommandRunner>(const net::TAccount& account)>
        makeRunner;

private:
    struct Target {
        net::TAccount account; // Hostname and Username are the server's own
        std::string password;
        std::vector<std::string> commands;
    };
    std::optional<Target> prepare(const TRExecCommand& command);
    std::optional<std::string> passwordFor(const net::TAccount& account);
    void start(Target target);
    void next();
    // all: the unfinished last line too (the exchange is over).
    void flush(bool all);
    void drainThenNext();
    void end();
    int port() const;

    TMainForm& form_;
    std::vector<QAction*> dynamic_;
    QAction* separator_ = nullptr;
    bool running_ = false;
    bool cancelled_ = false;
    Target target_;
    std::size_t nextCommand_ = 0;
    std::unique_ptr<net::TRemoteCommandRunner> runner_;
    std::string pending_; // output not yet in the pane
    QTimer* flushTimer_ = nullptr;
};

} // namespace morvane::app
