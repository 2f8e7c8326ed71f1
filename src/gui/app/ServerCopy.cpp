#include "gui/app/ServerCopy.h"

#include "core/net/RemoteFileSystem.h"
#include "gui/app/MainForm.h"

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <memory>

namespace morvane::app {

std::optional<std::string> fetchServerCopy(TMainForm& form, const net::TAccount& account,
                                           const std::string& directory,
                                           const std::string& fileName, std::string& error) {
    std::unique_ptr<net::TRemoteFileSystem> fs = form.sharedFileSystem(*form.context().loop);
    if (!fs) {
        error = "No connection can be made for the comparison.";
        return std::nullopt;
    }
    if (!net::ApplyAccount(account, *fs, form.firewallSettings(), form.remote().prompts)) {
        error = "The comparison was cancelled.";
        return std::nullopt;
    }
    fs->SetReplyTimeout(std::chrono::seconds(30));
    QEventLoop wait;
    bool finished = false, ok = false;
    std::string bytes;
    auto finish = [&](bool success, const std::string& why) {
        if (finished) return;
        finished = true;
        ok = success;
        if (!success) error = why;
        wait.quit();
    };
    net::TRemoteFileSystem& remote = *fs;
    remote.Connect([&](const net::TRemoteResult& r) {
        if (!r.ok()) return finish(false, r.message);
        auto read = [&] {
            remote.Read(
                fileName, [&](std::string_view piece) { bytes.append(piece); },
                [&](const net::TRemoteResult& rr) { finish(rr.ok(), rr.message); });
        };
        if (directory.empty()) return read();
        remote.ChangeDirectory(directory, [&, read](const net::TRemoteResult& rc) {
            if (!rc.ok()) return finish(false, rc.message);
            read();
        });
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &wait, [&] {
        remote.Cancel();
        finish(false, "The server did not send the file in time.");
    });
    limit.start(60000);
    if (!finished) wait.exec();
    remote.Disconnect();
    if (!ok) return std::nullopt;
    return bytes;
}

} // namespace morvane::app
