#pragma once
// One running instance per user: the first process holds a lock file and listens on a Unix
// socket beside it; a later start connects, hands over its arguments as a block of NUL-terminated
// strings and waits for the first instance to acknowledge them.
//
// The lock is an flock on a file in the runtime folder, so it vanishes with the process that
// held it: a crashed first instance never blocks the next start.

#include "core/platform/EventLoop.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace morvane::platform {

inline constexpr std::size_t handOverBlockSize = 65536;

// The block for argv (program path first): each string followed by NUL, then one more NUL.
// Fails with a message when the block would exceed handOverBlockSize.
struct HandOverBlock {
    std::string bytes;
    std::string error;
};
HandOverBlock encodeHandOver(const std::vector<std::string>& argv);

// The strings of a block up to the first empty one, without the program path. nullopt when the
// block is malformed (too long, or its last string is not NUL-terminated).
std::optional<std::vector<std::string>> decodeHandOver(std::string_view block);

// $MORVANE_RUNTIME_DIR, else $XDG_RUNTIME_DIR/morvane, else /tmp/morvane-<uid>.
std::filesystem::path defaultRuntimeDir();

class SingleInstance {
public:
    explicit SingleInstance(std::filesystem::path runtimeDir);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    enum class Role { First, Second, Failed };
    // Takes the lock when nobody holds it (First), or finds that another instance runs (Second).
    // Failed when the folder or the lock file is not this user's alone (error() says why).
    Role claim();
    const std::string& error() const { return error_; }

    // Second: sends the block and waits for the acknowledgement. False with error() on failure.
    bool handOver(const std::string& block, std::chrono::milliseconds timeout);

    // First: listens for hand-overs on the loop, acknowledges each well-formed block and then
    // calls onArguments with its list (program path removed).
    bool listen(EventLoop& loop, std::function<void(std::vector<std::string>)> onArguments);

private:
    struct Connection;
    bool prepareFolder();
    void accept();
    void readFrom(Connection& c);
    void drop(int fd);

    std::filesystem::path dir_;
    std::filesystem::path lockFile_;
    std::filesystem::path socketFile_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    EventLoop* loop_ = nullptr;
    WatchId listenWatch_ = 0;
    std::function<void(std::vector<std::string>)> onArguments_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::string error_;
};

} // namespace morvane::platform
