#pragma once
// Unix permission bits read from a listing's attribute string, their octal text, and the run of
// chmod over several files of one folder on a borrowed remote file system.

#include "core/net/RemoteFileSystem.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane::net {

struct TFileMode {
    unsigned bits = 0;    // the nine permission bits, 0400 user read ... 01 others execute
    unsigned special = 0; // 04000 set-user-id, 02000 set-group-id, 01000 sticky
};

// Reads the first ten characters ("-rwxr-xr-x", listings may add "+", "." or "@"). "s" and "t"
// count as execute on, "S" and "T" as off; both keep the special bit. nullopt when the string
// is too short or is not a permission string at all.
std::optional<TFileMode> ParseAttributes(const std::string& attributes);

// The octal digits without leading zeros ("644", "0" for nothing); four digits when a
// special bit is set ("4755").
std::string ModeText(const TFileMode& mode);

// Changes the mode of each file in turn in the given folder, over a file system it borrows
// (the browser's); one operation at a time, and nothing of it reaches the owner.
class TChmodRunner {
public:
    struct Item {
        std::string name;
        int mode = 0; // the permission bits with the special ones
    };
    enum class Answer { Continue, Stop };

    TChmodRunner(TRemoteFileSystem& fs, std::string directory, std::vector<Item> items);
    ~TChmodRunner();
    TChmodRunner(const TChmodRunner&) = delete;
    TChmodRunner& operator=(const TChmodRunner&) = delete;

    std::function<void(const std::string&)> onStatus;
    // A file failed: continue with the next one or stop. Empty counts as stop.
    std::function<Answer(const std::string& name, const std::string& reply)> onFailure;
    // Every file was changed (or skipped by the user after a failure).
    std::function<void()> onDone;
    // Stopped: the folder could not be reached, the login failed, or the user said stop.
    std::function<void(const std::string& why)> onStopped;

    void start();
    void cancel();
    bool finished() const { return finished_; }

private:
    // Wraps a handler: once this runner is gone or finished, what arrives is nobody's.
    TRemoteFileSystem::Done mine(void (TChmodRunner::*handler)(const TRemoteResult&));
    void probed(const TRemoteResult& r);
    void connected(const TRemoteResult& r);
    void changeDirectory();
    void changed(const TRemoteResult& r);
    void sendNext();
    void chmodded(const TRemoteResult& r);
    void stop(const std::string& why);

    TRemoteFileSystem& fs_;
    std::string directory_;
    std::vector<Item> items_;
    bool finished_ = false;
    bool reconnected_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace morvane::net
