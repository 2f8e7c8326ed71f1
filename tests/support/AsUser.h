#pragma once
// Runs a piece of a test in a child process as an unprivileged user, for cases that depend on
// permissions (root passes every permission check). The child reports through its exit code.

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace morvane::testing {

inline constexpr uid_t kNobody = 65534;

inline bool runningAsRoot() {
    return ::geteuid() == 0;
}

// CI sets CI=true (and runs as root). A user namespace cannot stand in for root here: an
// unprivileged process can map only its own uid, so it never gets a second user to test against.
inline bool runningUnderCi() {
    const char* ci = std::getenv("CI");
    return ci && *ci && std::string_view(ci) != "false" && std::string_view(ci) != "0";
}

} // namespace morvane::testing

// For tests that need root to act as another user: skipped on a developer's machine, failed
// under CI, where a skip would let a missing permission check pass unnoticed.
#define MORVANE_NEEDS_ROOT(why)                                                                    \
    do {                                                                                           \
        if (!::morvane::testing::runningAsRoot()) {                                                \
            if (::morvane::testing::runningUnderCi())                                              \
                FAIL() << why << ": CI must run this test as root, not skip it";                   \
            GTEST_SKIP() << why;                                                                   \
        }                                                                                          \
    } while (0)

namespace morvane::testing {

// The exit code of body() run in a child process (which, with asNobody and when this process is
// root, has dropped to kNobody without supplementary groups); 128 + signal when it died, -1
// when it could not start.
inline int runInChild(const std::function<int()>& body, bool asNobody = false) {
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (asNobody && runningAsRoot() &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
             ::setresuid(kNobody, kNobody, kNobody) != 0))
            ::_exit(100);
        int code = 101;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline int runAsNobody(const std::function<int()>& body) {
    return runInChild(body, true);
}

// Gives path (a file or folder) to kNobody when running as root, and lets everyone pass
// through its parent folders up to the temporary folder, so the child can reach it.
inline void giveToNobody(const std::filesystem::path& path) {
    if (!runningAsRoot()) return;
    [[maybe_unused]] int r = ::chown(path.c_str(), kNobody, kNobody);
    for (auto p = path.parent_path(); p.has_relative_path() && p != "/tmp"; p = p.parent_path())
        ::chmod(p.c_str(), 0755);
}

} // namespace morvane::testing
