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

TChmodRunner::TChmodRunner(TMsgFTP& ftp, std::string directory, std::vector<Item> items)
    : ftp_(ftp), directory_(std::move(directory)), items_(std::move(items)) {}

TChmodRunner::~TChmodRunner() {
    restore();
}

void TChmodRunner::restore() {
    if (restored_) return;
    restored_ = true;
    ftp_.OnConnect = std::move(savedConnect_);
    ftp_.OnFTPCommandDone = std::move(savedDone_);
    ftp_.OnCustomFTPCommandDone = std::move(savedCustom_);
}

void TChmodRunner::start() {
    savedConnect_ = ftp_.OnConnect;
    savedDone_ = ftp_.OnFTPCommandDone;
    savedCustom_ = ftp_.OnCustomFTPCommandDone;
    ftp_.OnConnect = [this](TMsgFTP*, bool error) {
        if (error) return stop("Error: " + ftp_.ErrorMessage());
        changeDirectory();
    };
    ftp_.OnFTPCommandDone = [this](TMsgFTP*, TFTPState state, bool error) {
        if (finished_ || selfAbort_) return;
        if (state == ftpNoop) {
            if (!error) return sendNext();
            if (reconnected_) return stop("Error: " + ftp_.ErrorMessage());
            // The connection was lost: log in again and go back to the folder.
            reconnected_ = true;
            if (onStatus) onStatus("Connecting...");
            selfAbort_ = true;
            ftp_.Abort();
            selfAbort_ = false;
            ftp_.Connect();
            return;
        }
        if (state == ftpChangingDir) {
            // Never change modes of same-named files in another folder.
            if (error) return stop("Error: " + ftp_.ErrorMessage());
            return sendNext();
        }
        if (error && !ftp_.Connected() && state != ftpCustomCommand)
            return stop("Error: " + ftp_.ErrorMessage()); // the login did not complete
        if (state == ftpCustomCommand && error) {
            // Refused before sending (a line break in the name) or the connection was lost.
            std::string why = ftp_.ErrorMessage();
            if (!ftp_.Connected()) return stop("Error: " + why);
            std::string name = items_.empty() ? std::string() : items_.front().name;
            if (onStatus) onStatus("Error: " + why);
            if (!onFailure || onFailure(name, why) == Answer::Stop) return stop("Error: " + why);
            if (!items_.empty()) items_.erase(items_.begin());
            sendNext();
        }
    };
    ftp_.OnCustomFTPCommandDone = [this](TMsgFTP*, int code, const std::string& reply) {
        if (finished_ || items_.empty()) return;
        std::string name = items_.front().name;
        if (code != 200) {
            if (onStatus) onStatus("Error: " + reply);
            Answer a = onFailure ? onFailure(name, reply) : Answer::Stop;
            if (a == Answer::Stop) return stop("Error: " + reply);
        }
        items_.erase(items_.begin());
        sendNext();
    };
    if (ftp_.Connected()) {
        if (onStatus) onStatus("Checking connection...");
        ftp_.Noop();
    } else {
        reconnected_ = true;
        if (onStatus) onStatus("Connecting...");
        ftp_.Connect();
    }
}

void TChmodRunner::changeDirectory() {
    if (directory_.empty()) return sendNext();
    if (onStatus) onStatus("Changing directory...");
    ftp_.ChangeDir(directory_);
}

void TChmodRunner::sendNext() {
    if (items_.empty()) {
        finished_ = true;
        if (onStatus) onStatus("Done.");
        restore();
        if (onDone) onDone();
        return;
    }
    const Item& item = items_.front();
    if (onStatus) onStatus("Changing attributes for " + item.name + "...");
    ftp_.SendCommand("SITE CHMOD " + item.mode + " " + item.name);
}

void TChmodRunner::stop(const std::string& why) {
    finished_ = true;
    restore();
    if (onStopped) onStopped(why);
}

void TChmodRunner::cancel() {
    if (!finished_ && ftp_.State() != ftpNotConnected && ftp_.State() != ftpReady) {
        selfAbort_ = true;
        ftp_.Abort();
        selfAbort_ = false;
    }
    finished_ = true;
    restore();
}

} // namespace morvane::net
