#include "gui/app/Trace.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace morvane::app {

bool traceEnabled() {
    static const char* file = std::getenv("MORVANE_TRACE_FILE");
    return file && *file;
}

void trace(std::string_view event) {
    static const char* file = std::getenv("MORVANE_TRACE_FILE");
    if (!file || !*file) return;
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
    std::string line = std::to_string(us) + " " + std::to_string(::getpid()) + " ";
    line.append(event);
    line.push_back('\n');
    int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    [[maybe_unused]] auto n = ::write(fd, line.data(), line.size());
    ::close(fd);
}

} // namespace morvane::app
