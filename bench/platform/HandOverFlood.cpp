// A flood of hand-overs at a first instance whose handler behaves like the program's: each
// argument names a missing file, and the message about it runs a nested loop until the "user"
// dismisses it a little later. Prints how many hand-overs arrived, the deepest nesting of the
// handler and the time from the first send to the last delivery.
//   morvane_handover_flood [hand-overs] [senders] [box-ms]
// Each sender is a process that hands over one argument per start, as a script starting the
// program in a loop would.
#include "core/platform/SingleInstance.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace morvane::platform;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int senders = argc > 2 ? std::max(1, std::atoi(argv[2])) : 8;
    const auto box = std::chrono::milliseconds(argc > 3 ? std::atoi(argv[3]) : 1);
    const fs::path dir =
        fs::temp_directory_path() / ("morvane-flood-" + std::to_string(::getpid()));
    auto loop = makePollEventLoop();
    SingleInstance first(dir);
    if (first.claim() != SingleInstance::Role::First) {
        std::fprintf(stderr, "cannot claim %s: %s\n", dir.c_str(), first.error().c_str());
        return 1;
    }
    int received = 0, depth = 0, deepest = 0;
    auto t0 = std::chrono::steady_clock::now();
    if (!first.listen(*loop, [&](std::vector<std::string>) {
            deepest = std::max(deepest, ++depth);
            ++received;
            // The message box: its nested loop runs until the box is dismissed.
            auto until = std::chrono::steady_clock::now() + box;
            while (std::chrono::steady_clock::now() < until)
                loop->processEvents(1ms);
            --depth;
            if (received == count) loop->quit();
        })) {
        std::fprintf(stderr, "cannot listen: %s\n", first.error().c_str());
        return 1;
    }
    std::vector<pid_t> children;
    for (int s = 0; s < senders; ++s) {
        pid_t pid = ::fork();
        if (pid == 0) {
            int failed = 0;
            for (int i = s; i < count; i += senders) {
                SingleInstance second(dir);
                auto block = encodeHandOver({"morvane", "/missing/file-" + std::to_string(i)});
                if (!second.handOver(block.bytes, 15s)) ++failed;
            }
            ::_exit(failed > 255 ? 255 : failed);
        }
        children.push_back(pid);
    }
    auto guard = loop->addTimer(120s, false, [&] { loop->quit(); });
    loop->run();
    loop->cancelTimer(guard);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    int failed = 0;
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        failed += WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    std::printf("hand-overs %d of %d delivered, %d senders failed, deepest nesting %d, "
                "%.2f s (%.0f per second)\n",
                received, count, failed, deepest, seconds, received / seconds);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return received == count && deepest == 1 ? 0 : 1;
}
