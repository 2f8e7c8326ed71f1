// The queue, the connection, getting the file and the failures of a remote document's session.
#include "core/app/RemoteSession.h"
#include "core/app/RemoteSessionText.h"

#include "core/editor/SliceLoad.h"
#include "core/net/ProtocolFileSystem.h"

#include <algorithm>
#include <string>
#include <utility>

namespace morvane::app {

using net::TRemoteError;
using net::TRemoteResult;
using net::TRemoteStat;
using session_text::Format;

TRemoteSession::TRemoteSession(platform::EventLoop& loop, TRemoteSessionHost& host,
                               std::unique_ptr<net::TRemoteFileSystem> fs)
    : loop_(loop), host_(host), fs_(std::move(fs)) {
    if (!fs_) fs_ = std::make_unique<net::TProtocolFileSystem>(loop_);
    fs_->SetReplyTimeout(timeout_);
    fs_->onStatus = [this](const std::string& text) { host_.SessionStatus(text); };
}

TRemoteSession::~TRemoteSession() {
    step_ = Step::Idle;
    fs_->onStatus = nullptr;
    fs_->Disconnect();
}

void TRemoteSession::SetLocation(const std::string& directory, const std::string& fileName) {
    directory_ = directory;
    fileName_ = fileName;
    stamp_ = Stamp();
}

void TRemoteSession::SetReplyTimeout(std::chrono::milliseconds timeout) {
    timeout_ = timeout;
    fs_->SetReplyTimeout(timeout);
}

// --- the queue ---------------------------------------------------------------------------------

void TRemoteSession::Open() {
    queue_.push_back({OpKind::Get, {}});
    RunQueue();
}

void TRemoteSession::Save(std::string bytes) {
    queue_.push_back({OpKind::Save, std::move(bytes)});
    SetBusy(true, transferring_);
    RunQueue();
}

void TRemoteSession::EnqueueClose() {
    queue_.push_back({OpKind::Close, {}});
    RunQueue();
}

void TRemoteSession::Cancel() {
    if (step_ == Step::Idle || step_ == Step::Asking) return;
    fs_->Cancel();
}

void TRemoteSession::Disconnect() {
    step_ = Step::Idle;
    ResetConnection();
}

void TRemoteSession::RunQueue() {
    if (step_ != Step::Idle || queue_.empty()) return;
    if (queue_.front().kind == OpKind::Close) return NextOp(); // needs no connection
    SetBusy(true, transferring_);
    step_ = Step::Running;
    if (fs_->Connected() && queue_.front().kind == OpKind::Save &&
        std::chrono::steady_clock::now() - lastReply_ < std::chrono::seconds(1)) {
        // The server answered a moment ago; should the connection have gone since, the save's
        // first step finds out and the session logs in again.
        unprobed_ = true;
        NextOp();
    } else if (fs_->Connected()) {
        fs_->KeepAlive([this](const TRemoteResult& r) {
            Heard();
            if (r.ok()) return NextOp();
            // The connection went away while idle: open it again and go on with the queue.
            StartConnect();
        });
    } else {
        StartConnect();
    }
}

void TRemoteSession::ResetConnection() {
    fs_->Disconnect(); // drops what runs without a report
}

void TRemoteSession::StartConnect() {
    unprobed_ = false;
    ResetConnection();
    step_ = Step::Running;
    net::TRemoteLogin login = fs_->Login();
    login.umask = account_.UseUMask ? std::optional<int>(account_.UMask) : std::nullopt;
    fs_->SetLogin(login);
    host_.SessionStatus("Connecting to " + (account_.Name.empty() ? login.host : account_.Name) +
                        "\u2026");
    fs_->Connect([this](const TRemoteResult& r) { Connected(r); });
}

void TRemoteSession::Connected(const TRemoteResult& r) {
    Heard();
    if (!r.ok()) return LoginFailed(r);
    home_ = fs_->Home();
    if (directory_.empty()) directory_ = home_;
    // Login leaves the session in the home directory; changing to it again is a no-op.
    if (directory_ == fs_->CurrentDirectory()) return NextOp();
    fs_->ChangeDirectory(directory_, [this](const TRemoteResult& cwd) {
        Heard();
        if (!cwd.ok()) return CwdFailed(cwd);
        NextOp();
    });
}

void TRemoteSession::NextOp() {
    if (queue_.empty()) {
        step_ = Step::Idle;
        SetBusy(false, false);
        return;
    }
    step_ = Step::Running;
    Op& op = queue_.front();
    switch (op.kind) {
    case OpKind::Get:
        SetBusy(true, true);
        host_.SessionProgress(false, 0, 0);
        // A time to the second and the size (checked against the memory); without the time,
        // the entry's date and size.
        fs_->Stat(fileName_, {true, true, false},
                  [this](const TRemoteResult& r, const TRemoteStat& st) {
                      Heard();
                      if (!r.ok() && Gone(r)) return OpenFailed(FailureText(r));
                      stamp_ = Stamp();
                      if (r.ok() && st.precision == net::TTimePrecision::Second) {
                          stamp_.time = st.time;
                          stamp_.precision = st.precision;
                          return StartRetrieve(st.size);
                      }
                      // A link's own date and size say nothing of the file it points to.
                      bool file = r.ok() && (st.kind == net::TRemoteKind::File ||
                                             st.kind == net::TRemoteKind::Folder);
                      if (file) {
                          stamp_.time = st.time;
                          stamp_.precision = st.precision;
                      }
                      StartRetrieve(file ? st.size : -1);
                  });
        return;
    case OpKind::Save:
        SetBusy(true, false);
        StartSave();
        return;
    case OpKind::Cleanup:
        fs_->Remove(TempName(), [this](const TRemoteResult& r) {
            Heard();
            if (r.ok() || r.error == TRemoteError::NotFound) tempMayExist_ = false;
            queue_.pop_front();
            NextOp();
        });
        return;
    case OpKind::Restore:
        SetBusy(true, false);
        PutBack(false);
        return;
    case OpKind::Close:
        queue_.pop_front();
        step_ = Step::Idle;
        SetBusy(false, false);
        host_.CloseRequested();
        NextOp();
        return;
    }
}

// --- getting the file --------------------------------------------------------------------------

void TRemoteSession::StartRetrieve(std::int64_t listedSize) {
    buffer_.clear();
    received_ = 0;
    listedSize_ = std::max<std::int64_t>(0, listedSize);
    // Refused before a byte comes: the machine would swap or the program be killed.
    if (std::string refusal = editor::TooBigForMemory(fileName_, std::uint64_t(listedSize_));
        !refusal.empty())
        return OpenFailed(refusal);
    // A document's first text may load as it arrives: a failure closes the document anyway.
    // A reload keeps the text it has until the whole file is here.
    pieces_ = !downloaded_ && host_.TakesPieces();
    // The listed size spares the buffer its regrowing copies; a server's figure is only a hint.
    constexpr std::int64_t kMaxReserve = std::int64_t(1) << 30;
    if (!pieces_ && listedSize > 0)
        buffer_.reserve(std::size_t(std::min(listedSize + 1, kMaxReserve)));
    fs_->Read(
        fileName_,
        [this](std::string_view bytes) {
            received_ += std::int64_t(bytes.size());
            if (pieces_)
                host_.DownloadPiece(bytes);
            else
                buffer_.append(bytes);
            host_.SessionProgress(false, received_, listedSize_);
        },
        [this](const TRemoteResult& r) { Retrieved(r); });
}

void TRemoteSession::Retrieved(const TRemoteResult& r) {
    Heard();
    if (!r.ok()) return OpenFailed(FailureText(r));
    queue_.pop_front();
    stamp_.known = true;
    stamp_.size = received_;
    downloaded_ = true;
    step_ = Step::Idle;
    SetBusy(busy_, false);
    if (std::exchange(pieces_, false)) {
        host_.DownloadDone();
    } else {
        host_.Downloaded(buffer_);
    }
    buffer_.clear();
    buffer_.shrink_to_fit();
    host_.SessionStatus("");
    NextOp();
}

void TRemoteSession::OpenFailed(const std::string& detail) {
    if (!fs_->Connected()) ResetConnection();
    pieces_ = false;
    step_ = Step::Idle;
    queue_.clear();
    buffer_.clear();
    buffer_.shrink_to_fit();
    SetBusy(false, false);
    host_.SessionStatus("");
    host_.SessionFailed(Format("Error getting file %s:\r\n%s", {fileName_, detail}), !downloaded_);
}

// --- failures ----------------------------------------------------------------------------------

void TRemoteSession::LoginFailed(const TRemoteResult& r) {
    host_.SessionLoginFailed();
    std::string detail = FailureText(r);
    ResetConnection();
    step_ = Step::Idle;
    bool saving = !queue_.empty() && queue_.front().kind == OpKind::Save;
    if (!queue_.empty() && queue_.front().kind != OpKind::Save &&
        queue_.front().kind != OpKind::Get && queue_.front().kind != OpKind::Close)
        return Quiet();
    std::string message = Format("Error connecting to host \"%s\"", {fs_->Login().host});
    if (!detail.empty()) message += ":\r\n" + detail;
    if (saving) return SaveFailed(message);
    queue_.clear();
    SetBusy(false, false);
    host_.SessionStatus("");
    host_.SessionFailed(message, !downloaded_);
}

void TRemoteSession::CwdFailed(const TRemoteResult& r) {
    std::string detail = FailureText(r);
    step_ = Step::Idle;
    bool saving = !queue_.empty() && queue_.front().kind == OpKind::Save;
    if (!queue_.empty() && queue_.front().kind != OpKind::Save &&
        queue_.front().kind != OpKind::Get && queue_.front().kind != OpKind::Close)
        return Quiet();
    std::string message = Format("Error changing to directory %s:\r\n%s", {directory_, detail});
    if (saving) return SaveFailed(message);
    queue_.clear();
    SetBusy(false, false);
    host_.SessionStatus("");
    host_.SessionFailed(message, !downloaded_);
}

// A cleanup that cannot reach the server gives up without troubling the user.
void TRemoteSession::Quiet() {
    if (backupMade_) {
        backupMade_ = false;
        host_.Note("The original of '" + SaveName() + "' is kept on the server as '" +
                   BackupName() + "'.");
    }
    step_ = Step::Idle;
    queue_.clear();
    SetBusy(false, false);
    host_.SessionStatus("");
}

std::string TRemoteSession::FailureText(const TRemoteResult& r) const {
    if (r.error == TRemoteError::Timeout)
        return "No reply from the server within " +
               std::to_string(std::max<long long>(1, timeout_.count() / 1000)) + " seconds";
    if (r.error == TRemoteError::Cancelled) return "Cancelled";
    if (!r.message.empty()) return r.message;
    return "The connection was closed";
}

bool TRemoteSession::Gone(const TRemoteResult& r) const {
    return r.connectionEnded() || !fs_->Connected();
}

void TRemoteSession::Heard() {
    lastReply_ = std::chrono::steady_clock::now();
}

void TRemoteSession::SetBusy(bool busy, bool transferring) {
    if (busy == busy_ && transferring == transferring_) return;
    busy_ = busy;
    transferring_ = transferring;
    host_.SessionBusyChanged();
}

TRemoteSession::Entry TRemoteSession::EntryOf(const TRemoteResult& r, const TRemoteStat& st) {
    Entry e;
    if (!r.ok() || st.kind == net::TRemoteKind::Unknown) return e;
    e.found = true;
    e.size = st.size;
    e.time = st.time;
    e.precision = st.precision;
    e.mode = st.mode;
    e.link = st.kind == net::TRemoteKind::Link;
    e.linkTarget = st.linkTarget;
    return e;
}

} // namespace morvane::app
