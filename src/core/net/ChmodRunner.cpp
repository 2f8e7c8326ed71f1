#include "core/net/ChmodRunner.h"

#include <cstdio>
#include <string_view>

namespace morvane::net {

std::optional<TFileMode> ParseAttributes(const std::string& attributes) {
    if (attributes.size() < 10) return std::nullopt;
    std::string_view a(attributes.data(), 10);
    static const char kRwx[] = "rwx";
    TFileMode m;
    for (int who = 0; who < 3; ++who) {
        for (int k = 0; k < 3; ++k) {
            char c = a[std::size_t(1 + who * 3 + k)];
            unsigned bit = 1u << (8 - (who * 3 + k));
            if (c == kRwx[k]) {
                m.bits |= bit;
            } else if (k == 2 && (c == 's' || c == 'S') && who < 2) {
                if (c == 's') m.bits |= bit;
                m.special |= who == 0 ? 04000u : 02000u;
            } else if (k == 2 && (c == 't' || c == 'T') && who == 2) {
                if (c == 't') m.bits |= bit;
                m.special |= 01000u;
            } else if (c != '-') {
                return std::nullopt; // not a permission string
            }
        }
    }
    return m;
}

std::string ModeText(const TFileMode& mode) {
    char buf[16];
    if (mode.special)
        std::snprintf(buf, sizeof buf, "%04o", (mode.special | mode.bits) & 07777u);
    else
        std::snprintf(buf, sizeof buf, "%o", mode.bits & 0777u);
    return buf;
}

TChmodRunner::TChmodRunner(TRemoteFileSystem& fs, std::string directory, std::vector<Item> items)
    : fs_(fs), directory_(std::move(directory)), items_(std::move(items)) {}

TChmodRunner::~TChmodRunner() = default;

TRemoteFileSystem::Done TChmodRunner::mine(void (TChmodRunner::*handler)(const TRemoteResult&)) {
    std::weak_ptr<bool> alive = alive_;
    return [this, alive, handler](const TRemoteResult& r) {
        if (alive.expired() || finished_) return;
        (this->*handler)(r);
    };
}

void TChmodRunner::start() {
    if (fs_.Connected()) {
        if (onStatus) onStatus("Checking connection...");
        fs_.KeepAlive(mine(&TChmodRunner::probed));
    } else {
        reconnected_ = true;
        if (onStatus) onStatus("Connecting...");
        fs_.Connect(mine(&TChmodRunner::connected));
    }
}

void TChmodRunner::probed(const TRemoteResult& r) {
    if (r.ok()) return sendNext();
    if (reconnected_) return stop("Error: " + r.message);
    // The connection was lost: log in again and go back to the folder.
    reconnected_ = true;
    if (onStatus) onStatus("Connecting...");
    fs_.Connect(mine(&TChmodRunner::connected));
}

void TChmodRunner::connected(const TRemoteResult& r) {
    if (!r.ok()) return stop("Error: " + r.message);
    changeDirectory();
}

void TChmodRunner::changeDirectory() {
    if (directory_.empty()) return sendNext();
    if (onStatus) onStatus("Changing directory...");
    fs_.ChangeDirectory(directory_, mine(&TChmodRunner::changed));
}

void TChmodRunner::changed(const TRemoteResult& r) {
    // Never change modes of same-named files in another folder.
    if (!r.ok()) return stop("Error: " + r.message);
    sendNext();
}

void TChmodRunner::sendNext() {
    if (items_.empty()) {
        finished_ = true;
        if (onStatus) onStatus("Done.");
        if (onDone) onDone();
        return;
    }
    const Item& item = items_.front();
    if (onStatus) onStatus("Changing attributes for " + item.name + "...");
    fs_.Chmod(item.name, item.mode, mine(&TChmodRunner::chmodded));
}

void TChmodRunner::chmodded(const TRemoteResult& r) {
    if (items_.empty()) return;
    if (!r.ok()) {
        std::string why = r.message;
        if (r.connectionEnded() || !fs_.Connected()) return stop("Error: " + why);
        std::string name = items_.front().name;
        if (onStatus) onStatus("Error: " + why);
        if (!onFailure || onFailure(name, why) == Answer::Stop) return stop("Error: " + why);
    }
    items_.erase(items_.begin());
    sendNext();
}

void TChmodRunner::stop(const std::string& why) {
    finished_ = true;
    if (onStopped) onStopped(why);
}

void TChmodRunner::cancel() {
    // What runs is ours: it ends without a report, and the connection with it.
    if (!finished_ && fs_.Busy()) fs_.Disconnect();
    finished_ = true;
}

} // namespace morvane::net
