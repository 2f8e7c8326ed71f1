// Times a remote document on a real server: open until the text is editable, and Save until the
// server has it; also the same file opened as a local document (the editor's own load).
// Usage: remote_document_bench PORT USER PASSWORD FILE LOCAL_COPY   (prints "open S" and
// "save S", seconds)
//        remote_document_bench --local LOCAL_COPY   (prints "load S": the same file opened as a
// local document in a fresh process, so that neither measurement warms the other's memory)
#include "core/platform/FakeUi.h"
#include "core/platform/Registry.h"
#include "gui/app/AppContext.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtEventLoop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace morvane;

namespace {
// Sleeps in the event loop between events (a spinning wait would take the CPU the server needs).
template <class Pred> bool waitFor(Pred done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    QTimer tick; // bounds each wait, so the timeout is noticed
    tick.start(50);
    while (!done() && t.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return done();
}
double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}
} // namespace

int main(int argc, char** argv) {
    bool localOnly = argc == 3 && std::string(argv[1]) == "--local";
    if (argc != 6 && !localOnly) {
        std::fprintf(stderr, "usage: %s PORT USER PASSWORD FILE LOCAL_COPY | --local FILE\n",
                     argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    auto scratch = std::filesystem::temp_directory_path() /
                   ("morvane-remote-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch / "home");
    // Removed however the run ends; declared before the form, so it goes after it.
    struct RemoveAtEnd {
        std::filesystem::path path;
        ~RemoveAtEnd() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } removeScratch{scratch};
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
        c.resources = MORVANE_SOURCE_RESOURCES;
        app::TMorvaneEditor::SetReplyTimeout(std::chrono::seconds(120));
        auto form = std::make_unique<app::TMainForm>(c);
        form->show();
        waitFor([&] { return form->firstActivationDone(); }, 10000);

        if (localOnly) {
            auto t = std::chrono::steady_clock::now();
            form->openLocalFiles({argv[2]});
            std::printf("load %.4f\n", seconds(t));
            return 0;
        }

        net::TAccount account;
        account.Name = "bench";
        account.Hostname = "127.0.0.1";
        account.Port = std::atoi(argv[1]);
        account.Username = argv[2];
        account.Password = argv[3];

        auto t0 = std::chrono::steady_clock::now();
        form->remote().openRemoteDocument(account, "", argv[4]);
        // A failed open closes the document: the pointer must not outlive it.
        QPointer<app::TMorvaneEditor> doc =
            qobject_cast<app::TMorvaneEditor*>(form->activeDocument());
        // MORVANE_BENCH_TRACE=1 prints when each status text appeared.
        bool trace = std::getenv("MORVANE_BENCH_TRACE") != nullptr;
        std::string last;
        auto busy = [&] {
            if (trace && doc && doc->StatusText() != last) {
                last = doc->StatusText();
                std::fprintf(stderr, "%.4f %s\n", seconds(t0), last.c_str());
            }
            return doc && doc->Busy();
        };
        if (!doc || !waitFor([&] { return !busy(); }, 120000) || !doc || !dialogs.shown.empty() ||
            doc->Editor().ReadOnly()) {
            std::fprintf(stderr, "open failed%s%s\n", dialogs.shown.empty() ? "" : ": ",
                         dialogs.shown.empty() ? "" : dialogs.shown.front().text.c_str());
            return 1;
        }
        double open = seconds(t0);

        doc->Editor().SetSelection(0, 0);
        doc->Editor().ReplaceSel("x");
        auto t1 = std::chrono::steady_clock::now();
        t0 = t1;
        doc->Save();
        if (trace) std::fprintf(stderr, "%.4f save queued\n", seconds(t1));
        if (!waitFor([&] { return !busy(); }, 120000) || !doc || doc->Editor().Modified()) {
            std::fprintf(stderr, "save failed\n");
            return 1;
        }
        double save = seconds(t1);

        std::printf("open %.4f\nsave %.4f\n", open, save);
        if (!dialogs.shown.empty())
            std::fprintf(stderr, "message: %s\n", dialogs.shown.front().text.c_str());
        form.reset();
    }
    return 0;
}
