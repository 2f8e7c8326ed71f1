// Typing at the middle of a large document in the real window, with recovery files on or off.
// Usage: recovery_typing_bench FILE on|off [characters]
// Typing pauses for 130 ms every 500 characters (not counted), both on and off.
// Prints the mean time per keystroke (key event and the event processing after it), the
// slowest keystroke, how many took over 16 ms, and how many recovery snapshots were taken.
#include "core/platform/FakeUi.h"
#include "core/platform/Registry.h"
#include "gui/app/AppContext.h"
#include "gui/app/DocumentRecovery.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtEventLoop.h"

#include <QApplication>
#include <QKeyEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace morvane;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE on|off [characters]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const bool on = std::string(argv[2]) == "on";
    const int count = argc > 3 ? std::atoi(argv[3]) : 10000;
    char tmpl[] = "/tmp/morvane-recovery-bench-XXXXXX";
    fs::path dir = ::mkdtemp(tmpl);

    platform::Registry registry(dir / "cfg");
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
    c.programFolder = dir / "home";
    c.resources = MORVANE_BENCH_RESOURCES;
    std::unique_ptr<app::TRecoveryService> service;
    if (on) {
        service = std::make_unique<app::TRecoveryService>(dir / "recovery");
        // Shorter than the program's pauses, so that a fast typist's run takes several snapshots.
        service->quietMs = 100;
        service->ceilingMs = 1000;
        c.recovery = service.get();
    }
    int snapshots = 0;
    {
        app::TMainForm form(c);
        form.show();
        while (!form.firstActivationDone())
            QApplication::processEvents();
        auto* doc = new app::TMorvaneEditor(form);
        if (!doc->OpenLocal(argv[1], false)) return 1;
        editor::TCodeMemo& memo = doc->Editor();
        memo.GoToPosition(1, memo.LineCount() / 2);
        for (int i = 0; i < 50; ++i)
            QApplication::processEvents();

        std::vector<double> ms;
        ms.reserve(std::size_t(count));
        for (int i = 0; i < count; ++i) {
            char ch = char('a' + i % 26);
            QString text(QChar::fromLatin1(ch));
            auto start = Clock::now();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_A + i % 26, Qt::NoModifier, text);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_A + i % 26, Qt::NoModifier, text);
            QApplication::sendEvent(&memo, &press);
            QApplication::sendEvent(&memo, &release);
            QApplication::processEvents();
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            // A short pause every 500 characters, as a typist makes: with recovery on, the copy
            // of the text starts in it and may still be going when typing goes on.
            if (i % 500 == 499) {
                auto until = Clock::now() + std::chrono::milliseconds(130);
                while (Clock::now() < until)
                    QApplication::processEvents(QEventLoop::AllEvents, 5);
            }
        }
        if (service) {
            snapshots = doc->Recovery()->snapshots();
            service->writer().flush();
        }
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        double sum = 0;
        for (double v : ms)
            sum += v;
        int over = int(std::count_if(ms.begin(), ms.end(), [](double v) { return v > 16.0; }));
        std::printf("recovery %-3s chars %d  mean %.4f ms  median %.4f ms  p99 %.3f ms  max %.3f ms"
                    "  over-16ms %d  snapshots %d\n",
                    on ? "on" : "off", count, sum / count, sorted[sorted.size() / 2],
                    sorted[sorted.size() * 99 / 100], sorted.back(), over, snapshots);
        doc->closeRequest(true);
        QApplication::processEvents();
    }
    service.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
