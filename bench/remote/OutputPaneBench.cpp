// A remote command's flood of output into the output pane: a runner hands over LINES lines
// (default 100,000) in 64 KiB pieces as fast as the loop takes them, and the window keeps a
// 10 ms timer. Prints the time until "-- End of output" and the longest gap between two ticks
// of the timer (how long the window could not answer), in milliseconds.
// Usage: output_pane_bench [LINES]
#include "core/app/RExecCommands.h"
#include "core/net/Account.h"
#include "core/platform/FakeUi.h"
#include "core/platform/Registry.h"
#include "gui/app/AppContext.h"
#include "gui/app/MainForm.h"
#include "gui/app/RExecTool.h"
#include "gui/platform/QtEventLoop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace morvane;

namespace {

// Sends the text piece by piece, one piece per turn of the loop.
struct FloodRunner : net::TRemoteCommandRunner {
    explicit FloodRunner(std::string text) : text_(std::move(text)) {}
    void start(const net::TRemoteCommandRequest&) override {
        running_ = true;
        step();
    }
    void step() {
        if (at_ >= text_.size()) {
            running_ = false;
            return onDone(false);
        }
        std::size_t n = std::min<std::size_t>(65536, text_.size() - at_);
        onOutput(std::string_view(text_).substr(at_, n));
        at_ += n;
        QTimer::singleShot(0, [this] { step(); });
    }
    void cancel() override {}
    bool running() const override { return running_; }
    std::string text_;
    std::size_t at_ = 0;
    bool running_ = false;
};

} // namespace

int main(int argc, char** argv) {
    int lines = argc > 1 ? std::atoi(argv[1]) : 100000;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    auto scratch = std::filesystem::temp_directory_path() /
                   ("morvane-output-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch / "home");
    {
        platform::Registry registry(scratch / "cfg");
        platform::FakeDialogs dialogs;
        platform::FakeClipboard clipboard;
        platform::FakeShell shell;
        auto loop = platform::makeQtEventLoop();
        app::AppContext c;
        c.registry = &registry;
        c.dialogs = &dialogs;
        c.clipboard = &clipboard;
        c.shell = &shell;
        c.loop = loop.get();
        c.programFolder = scratch / "home";
        auto form = std::make_unique<app::TMainForm>(c);
        form->show();
        QElapsedTimer wait;
        wait.start();
        while (!form->firstActivationDone() && wait.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);

        std::string text;
        for (int i = 0; i < lines; ++i)
            text += "drwxr-xr-x 2 user group 4096 Jan  1 12:00 folder-" + std::to_string(i) + "\n";
        auto* tool = form->findChild<app::TRExecTool*>("RExecTool");
        tool->makeRunner = [&](const net::TAccount&) {
            return std::make_unique<FloodRunner>(text);
        };
        net::TAccount account;
        account.Name = "bench";
        account.Hostname = "127.0.0.1";
        net::SaveAccount(registry, "bench", account);
        app::saveRExecCommands(registry,
                               {{"Flood", "yes", true, "(None)", "bench", app::raAccount}});

        QElapsedTimer clock;
        qint64 lastTick = 0, longest = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            qint64 now = clock.elapsed();
            longest = std::max(longest, now - lastTick);
            lastTick = now;
        });
        clock.start();
        ticker.start(10);
        tool->run(0);
        while (tool->running() && clock.elapsed() < 300000)
            QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        qint64 total = clock.elapsed();
        std::printf("lines %d pane_rows %d total_ms %lld longest_gap_ms %lld\n", lines,
                    form->outputList()->count(), static_cast<long long>(total),
                    static_cast<long long>(longest));
        form.reset();
    }
    std::filesystem::remove_all(scratch);
    return 0;
}
