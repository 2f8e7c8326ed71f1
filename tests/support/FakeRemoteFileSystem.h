#pragma once
// A remote file system in memory, for driving what sits on the interface (the remote session's
// save policy) without a server. One flat folder; every outcome comes from the loop as the real
// ones do. Failures are scripted per operation and name, and a write can lose the connection
// part-way.

#include "core/net/RemoteFileSystem.h"
#include "core/platform/EventLoop.h"

#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvane::testing {

class FakeRemoteFileSystem : public net::TRemoteFileSystem {
public:
    struct File {
        std::string bytes;
        int mode = 0644;
        int stamp = 1; // its modification time, to the second
    };

    explicit FakeRemoteFileSystem(platform::EventLoop& loop) : loop_(loop) {}

    std::map<std::string, File> files;
    // Failures for the next calls of "Operation name" ("Rename .a.morvane-tmp", "Write a"), one
    // per call, in order.
    std::map<std::string, std::deque<net::TRemoteResult>> failures;
    // The next write loses the connection after this many bytes (which the file keeps).
    std::optional<std::int64_t> dropWriteAfter;
    std::vector<std::string> calls; // "Connect", "Write .a.morvane-tmp", ...
    int connects = 0;

    void fail(const std::string& call, net::TRemoteError error, const std::string& message) {
        failures[call].push_back(net::TRemoteResult::Fail(error, message));
    }
    int count(const std::string& call) const {
        int n = 0;
        for (const auto& c : calls)
            n += c == call;
        return n;
    }

    void SetLogin(const net::TRemoteLogin& login) override { login_ = login; }
    const net::TRemoteLogin& Login() const override { return login_; }
    void SetReplyTimeout(std::chrono::milliseconds) override {}
    bool Connected() const override { return connected_; }
    bool Busy() const override { return busy_; }
    const std::string& Home() const override { return home_; }
    const std::string& CurrentDirectory() const override { return home_; }
    net::TRemoteCapabilities Capabilities() const override {
        return {true, true, true, true, '/', false};
    }

    void Connect(Done done) override {
        calls.push_back("Connect");
        ++connects;
        if (auto it = failures.find("Connect"); it != failures.end() && !it->second.empty()) {
            net::TRemoteResult refused = it->second.front();
            it->second.pop_front();
            return finish(std::move(done), refused);
        }
        connected_ = true;
        finish(std::move(done), {});
    }
    void Disconnect() override {
        ++serial_; // what runs ends without a report
        busy_ = false;
        connected_ = false;
    }
    void Cancel() override {
        if (!busy_) return;
        ++serial_;
        busy_ = false;
        connected_ = false;
        if (pending_) std::exchange(pending_, nullptr)(cancelled());
    }
    void KeepAlive(Done done) override {
        simple("KeepAlive", "", std::move(done), [] {});
    }
    void ChangeDirectory(const std::string& path, Done done) override {
        simple("ChangeDirectory", path, std::move(done), [] {});
    }
    void List(EntryFound entry, Done done) override {
        simple("List", "", std::move(done), [this, entry] {
            for (const auto& [name, file] : files) {
                net::TDirectoryEntry e;
                e.Name = name;
                e.Size = std::int64_t(file.bytes.size());
                if (entry) entry(e);
            }
        });
    }
    void Stat(const std::string& name, net::TStatNeeds, StatDone done) override {
        auto result = std::make_shared<net::TRemoteStat>();
        simple(
            "Stat", name,
            [done, result](const net::TRemoteResult& r) {
                done(r, r.ok() ? *result : net::TRemoteStat());
            },
            [this, name, result]() -> std::optional<net::TRemoteResult> {
                auto it = files.find(name);
                if (it == files.end())
                    return net::TRemoteResult::Fail(net::TRemoteError::NotFound,
                                                    "550 No such file");
                result->kind = net::TRemoteKind::File;
                result->size = std::int64_t(it->second.bytes.size());
                result->time = std::to_string(it->second.stamp);
                result->precision = net::TTimePrecision::Second;
                result->mode = it->second.mode;
                return std::nullopt;
            });
    }
    void Read(const std::string& name, Piece piece, Done done) override {
        simple("Read", name, std::move(done),
               [this, name, piece]() -> std::optional<net::TRemoteResult> {
                   auto it = files.find(name);
                   if (it == files.end())
                       return net::TRemoteResult::Fail(net::TRemoteError::NotFound,
                                                       "550 No such file");
                   if (piece) piece(it->second.bytes);
                   return std::nullopt;
               });
    }
    void ReadToFile(const std::string& name, const std::string& localFile, Progress,
                    Done done) override {
        simple("ReadToFile", name, std::move(done),
               [this, name, localFile]() -> std::optional<net::TRemoteResult> {
                   auto it = files.find(name);
                   if (it == files.end())
                       return net::TRemoteResult::Fail(net::TRemoteError::NotFound,
                                                       "550 No such file");
                   std::ofstream(localFile, std::ios::binary) << it->second.bytes;
                   return std::nullopt;
               });
    }
    void Write(const std::string& name, std::string_view text, Progress progress,
               Done done) override {
        std::string bytes(text);
        simple("Write", name, std::move(done),
               [this, name, bytes, progress]() -> std::optional<net::TRemoteResult> {
                   File& f = files[name];
                   f.stamp = ++clock_;
                   if (dropWriteAfter) {
                       auto keep = std::size_t(
                           std::min<std::int64_t>(*dropWriteAfter, std::int64_t(bytes.size())));
                       dropWriteAfter.reset();
                       f.bytes = bytes.substr(0, keep);
                       if (progress) progress(std::int64_t(keep));
                       connected_ = false;
                       return net::TRemoteResult::Fail(net::TRemoteError::ConnectionLost,
                                                       "Connection closed by server");
                   }
                   f.bytes = bytes;
                   if (progress) progress(std::int64_t(bytes.size()));
                   return std::nullopt;
               });
    }
    void Rename(const std::string& from, const std::string& to, Done done) override {
        simple("Rename", from, std::move(done),
               [this, from, to]() -> std::optional<net::TRemoteResult> {
                   auto it = files.find(from);
                   if (it == files.end())
                       return net::TRemoteResult::Fail(net::TRemoteError::NotFound,
                                                       "550 No such file");
                   File f = it->second;
                   files.erase(it);
                   files[to] = f;
                   return std::nullopt;
               });
    }
    void Remove(const std::string& name, Done done) override {
        simple("Remove", name, std::move(done),
               [this, name]() -> std::optional<net::TRemoteResult> {
                   if (files.erase(name) == 0)
                       return net::TRemoteResult::Fail(net::TRemoteError::NotFound,
                                                       "550 No such file");
                   return std::nullopt;
               });
    }
    void MakeFolder(const std::string& name, Done done) override {
        simple("MakeFolder", name, std::move(done), [] {});
    }
    void RemoveFolder(const std::string& name, Done done) override {
        simple("RemoveFolder", name, std::move(done), [] {});
    }
    void Chmod(const std::string& name, int mode, Done done) override {
        simple("Chmod", name, std::move(done),
               [this, name, mode]() -> std::optional<net::TRemoteResult> {
                   auto it = files.find(name);
                   if (it == files.end())
                       return net::TRemoteResult::Fail(net::TRemoteError::NotFound,
                                                       "550 No such file");
                   it->second.mode = mode;
                   return std::nullopt;
               });
    }

private:
    static net::TRemoteResult cancelled() {
        return net::TRemoteResult::Fail(net::TRemoteError::Cancelled, "Cancelled");
    }

    // Runs one operation from the loop: a scripted failure, the connection's absence, or what
    // act does (which may fail on its own).
    template <class Act>
    void simple(const std::string& op, const std::string& name, Done done, Act act) {
        std::string call = name.empty() ? op : op + " " + name;
        calls.push_back(call);
        busy_ = true;
        pending_ = done;
        std::uint64_t serial = ++serial_;
        loop_.post([this, call, serial, done = std::move(done), act]() mutable {
            if (serial != serial_) return; // disconnected or cancelled meanwhile
            busy_ = false;
            pending_ = nullptr;
            net::TRemoteResult result;
            if (!connected_) {
                result =
                    net::TRemoteResult::Fail(net::TRemoteError::ConnectionLost, "Not connected");
            } else if (auto it = failures.find(call); it != failures.end() && !it->second.empty()) {
                result = it->second.front();
                it->second.pop_front();
                if (result.connectionEnded()) connected_ = false;
            } else if constexpr (std::is_same_v<decltype(act()), void>) {
                act();
            } else if (auto failed = act()) {
                result = *failed;
            }
            done(result);
        });
    }
    void finish(Done done, net::TRemoteResult result) {
        std::uint64_t serial = ++serial_;
        busy_ = true;
        loop_.post([this, serial, done = std::move(done), result] {
            if (serial != serial_) return;
            busy_ = false;
            done(result);
        });
    }

    platform::EventLoop& loop_;
    net::TRemoteLogin login_;
    std::string home_ = "/home/user";
    bool connected_ = false;
    bool busy_ = false;
    std::uint64_t serial_ = 0;
    Done pending_;
    int clock_ = 100;
};

} // namespace morvane::testing
