#include "core/net/MsgFTP.h"

#include "core/net/HostLookup.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace morvane::net {

namespace {

bool HasLineBreak(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}

int ReplyCode(const std::string& reply) {
    if (reply.size() < 3) return 0;
    int v = 0;
    for (int i = 0; i < 3; ++i) {
        if (reply[i] < '0' || reply[i] > '9') return 0;
        v = v * 10 + (reply[i] - '0');
    }
    return v;
}

const char* kLineBreakRefused = "Refused to send a command containing CR or LF: ";

std::chrono::milliseconds defaultTimeout = TMsgFTP::DefaultReplyTimeout;

// Consumed replies are dropped from the front of the buffer only once they are a good share
// of it, so that taking one reply never moves all the others.
constexpr std::size_t kCompactAfter = 64 * 1024;
constexpr int kControlChunk = 256 * 1024;

} // namespace

std::chrono::milliseconds TMsgFTP::DefaultTimeout() {
    return defaultTimeout;
}

void TMsgFTP::SetDefaultTimeout(std::chrono::milliseconds v) {
    defaultTimeout = v;
}

std::string FTPStatusText(TFTPState state, const std::string& host) {
    switch (state) {
    case ftpResolving:
        return "Resalving host name '" + host + "'";
    case ftpConnecting:
        return "Connecting to " + host;
    case ftpWaitGreeting:
        return "Connected to " + host + ", waiting for greeting";
    case ftpSendingUser:
        return "Sending username";
    case ftpSendingPassword:
        return "Sending password";
    case ftpSystemType:
        return "Determining system type";
    case ftpGettingDir:
        return "Getting current directory";
    case ftpSendingPort:
        return "Sending port command";
    case ftpRetrieving:
        return "Getting file";
    case ftpStoring:
        return "Saving file";
    case ftpChangingDir:
        return "Changing directory";
    case ftpRenamingFrom:
        return "Renaming file..";
    case ftpRenamingTo:
        return "Renaming file...";
    case ftpSecuring:
    case ftpTlsHandshake:
        return "Securing the connection to " + host;
    case ftpSettingProtection:
        return "Securing data connections";
    default:
        return "";
    }
}
TMsgFTP::TMsgFTP(platform::EventLoop& loop)
    : loop_(loop), alive_(std::make_shared<bool>(true)),
      control_(std::make_unique<TAsyncSocket>(loop)), listen_(std::make_unique<TAsyncSocket>(loop)),
      data_(std::make_unique<TAsyncSocket>(loop)), replyTimeout_(defaultTimeout) {
    // Socket failures become this client's error texts; nothing is thrown out of an event.
    for (TAsyncSocket* s : {control_.get(), listen_.get(), data_.get()})
        s->OnError = [](TCustomAsyncSocket*) {};
}

TMsgFTP::~TMsgFTP() {
    CancelTimer();
    for (TAsyncSocket* s : {control_.get(), listen_.get(), data_.get()}) {
        s->OnDataAvailable = nullptr;
        s->OnDataSent = nullptr;
        s->OnSessionClosed = nullptr;
        s->OnSessionAvailable = nullptr;
        s->OnSessionConnected = nullptr;
        s->OnDnsLookupDone = nullptr;
    }
    FinishLocalFile(false); // a download cut short leaves the old file alone
}

bool TMsgFTP::SetState(TFTPState s) {
    state_ = s;
    return Fire(OnStatusChange, s);
}

void TMsgFTP::AddLog(const char* direction, const std::string& line) {
    if (commandLog_.size() >= MaxLogLines) commandLog_.pop_front();
    std::string entry = direction;
    if (line.size() > MaxLogLineLength)
        entry.append(line, 0, MaxLogLineLength).append("...");
    else
        entry += line;
    commandLog_.push_back(std::move(entry));
}

bool TMsgFTP::Log(const std::string& line) {
    AddLog("<- ", line);
    return Fire(OnDebug, false, line);
}

// --- reply timeout ---------------------------------------------------------------------------

// Waiting for the server: a command (or the login) is under way and has not had its answer.
bool TMsgFTP::Waiting() const {
    return state_ != ftpReady && state_ != ftpNotConnected && !answered_;
}

void TMsgFTP::SetReplyTimeout(std::chrono::milliseconds v) {
    replyTimeout_ = v;
    // A wait under way counts against the new time from its last activity.
    CancelTimer();
    if (Waiting() && v.count() > 0) {
        auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - lastActivity_);
        ArmTimer(std::max(std::chrono::milliseconds(0), v - quiet));
    }
}

// Anything heard from the server, or a new command: the wait starts again from now.
void TMsgFTP::Activity() {
    lastActivity_ = std::chrono::steady_clock::now();
    if (!timerArmed_ && replyTimeout_.count() > 0) ArmTimer(replyTimeout_);
}

// One timer per wait, not one per reply or received block: when it fires it waits again for
// what is left since the last activity.
void TMsgFTP::ArmTimer(std::chrono::milliseconds wait) {
    timerArmed_ = true;
    std::weak_ptr<bool> alive = alive_;
    timer_ = loop_.addTimer(wait, false, [this, alive] {
        if (alive.expired()) return;
        timerArmed_ = false;
        TimerFired();
    });
}

void TMsgFTP::CancelTimer() {
    if (timerArmed_) loop_.cancelTimer(timer_);
    timerArmed_ = false;
}

void TMsgFTP::TimerFired() {
    if (!Waiting() || replyTimeout_.count() <= 0) return;
    auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - lastActivity_);
    if (quiet < replyTimeout_) return ArmTimer(replyTimeout_ - quiet);
    auto ms = replyTimeout_.count();
    std::string span = ms == 1000       ? "1 second"
                       : ms % 1000 == 0 ? std::to_string(ms / 1000) + " seconds"
                                        : std::to_string(ms) + " milliseconds";
    // An address that does not answer, or takes the connection and never greets, gives way to
    // the host's next one: nothing has been sent to it yet.
    if ((state_ == ftpConnecting || state_ == ftpWaitGreeting) &&
        RetryNextAddress((state_ == ftpConnecting ? "no answer in " : "no greeting in ") + span))
        return;
    errorMessage_ = (state_ == ftpTlsHandshake ? "The TLS negotiation did not finish in "
                                               : "The server did not answer in ") +
                    span + "; the connection was closed.";
    timedOut_ = true;
    if (Log(errorMessage_)) AbortSession();
}

// A failed send may close the connection at once, and that reports the command as failed.
bool TMsgFTP::SendLine(const std::string& line) {
    // The log is shown and kept: it never holds the password.
    std::string shown = line.rfind("PASS ", 0) == 0 ? "PASS ****" : line;
    AddLog("-> ", shown);
    if (!Fire(OnDebug, true, shown)) return false;
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t session = session_;
    control_->SendStr(line + "\r\n");
    return !alive.expired() && session == session_;
}

// Reports a command that could not start, from the loop like every other outcome.
void TMsgFTP::FailLater(TFTPState state, const std::string& message) {
    errorMessage_ = message;
    answered_ = true; // nothing was sent: there is no answer to wait for
    std::uint64_t op = ++operation_;
    if (!SetState(state)) return;
    std::weak_ptr<bool> alive = alive_;
    loop_.post([this, alive, op, state] {
        if (alive.expired() || op != operation_ || state_ != state) return;
        if (!CommandDone(true)) return;
        if (!connected_ && state_ == ftpReady) SetState(ftpNotConnected);
    });
}

bool TMsgFTP::StartCommand(TFTPState state, const std::string& line) {
    if (busy_) return false;
    if (HasLineBreak(line)) {
        FailLater(state, kLineBreakRefused + line.substr(0, line.find_first_of("\r\n")));
        return false;
    }
    if (!connected_) {
        FailLater(state, "Not connected");
        return false;
    }
    ++operation_;
    answered_ = false;
    Activity();
    return SetState(state) && SendLine(line);
}

bool TMsgFTP::CommandDone(bool error) {
    TFTPState done = state_;
    if (!SetState(ftpReady)) return false;
    busy_ = false;
    ++operation_;
    if (transferActive_ && !EndTransfer(!error)) error = true;
    return Fire(OnFTPCommandDone, done, error);
}

// --- connecting ------------------------------------------------------------------------------

void TMsgFTP::Connect() {
    aborted_ = false;
    timedOut_ = false;
    if (busy_) return;
    if (state_ != ftpNotConnected) {
        std::weak_ptr<bool> alive = alive_;
        Disconnect(); // reports the end of the old session, and a handler may end us
        if (alive.expired()) return;
        aborted_ = false;
        if (busy_) return;
    }
    if (HasLineBreak(username_) || HasLineBreak(password_)) {
        errorMessage_ = "User name or password contains CR or LF";
        Fire(OnConnect, true);
        return;
    }
    ++session_;
    if (!SetState(ftpResolving)) return;
    loginComplete_ = false;
    busy_ = true;
    answered_ = false;
    Activity();
    replyBuffer_.clear();
    replyPos_ = replyScan_ = 0;
    systemType_ = 0;
    tlsContext_.reset();
    secure_ = dataProtected_ = false;
    serverCert_ = {};
    epsvRefused_ = false;
    retrying_ = false;
    addresses_.clear();
    nextAddress_ = 0;
    connectedAddress_.clear();
    control_->OnDnsLookupDone = [this](TCustomAsyncSocket*, std::uint16_t e) { ControlDnsDone(e); };
    control_->OnSessionConnected = [this](TCustomAsyncSocket*, std::uint16_t e) {
        ControlConnected(e);
    };
    control_->OnSessionClosed = [this](TCustomAsyncSocket*, std::uint16_t e) { ControlClosed(e); };
    control_->OnDataAvailable = [this](TCustomAsyncSocket*, std::uint16_t e) { ControlData(e); };
    control_->DnsLookup(hostname_);
}

void TMsgFTP::ControlDnsDone(std::uint16_t error) {
    if (aborting_ || state_ != ftpResolving) return;
    if (error != 0) {
        errorMessage_ = "Could not look up hostname: " + hostname_;
        busy_ = false;
        if (SetState(ftpNotConnected)) Fire(OnConnect, true);
        return;
    }
    // IPv4 first, then IPv6, one after the other: the next address is tried when one refuses
    // or stays silent.
    addresses_ = control_->DnsResultList();
    nextAddress_ = 0;
    if (!SetState(ftpConnecting) || state_ != ftpConnecting) return;
    ConnectNext();
}

// Starts connecting to the next address; false when the client is gone or none is left.
bool TMsgFTP::ConnectNext() {
    std::weak_ptr<bool> alive = alive_;
    while (nextAddress_ < addresses_.size()) {
        connectingAddress_ = addresses_[nextAddress_++];
        if (addresses_.size() > 1 || connectingAddress_ != HostWithoutBrackets(hostname_)) {
            bool v6 = connectingAddress_.find(':') != std::string::npos;
            if (!Log("Connecting to " + connectingAddress_ + (v6 ? " (IPv6)" : " (IPv4)")))
                return false;
            if (state_ != ftpConnecting) return false;
        }
        control_->SetAddr(connectingAddress_);
        control_->SetPort(std::to_string(port_));
        control_->SetProto("tcp");
        try {
            control_->Connect();
        } catch (const std::exception&) {
        }
        if (alive.expired()) return false;
        if (state_ != ftpConnecting) return false;
        if (control_->State() == wsConnecting || control_->State() == wsConnected) return true;
        retrying_ = true; // a socket that could not even start is closed quietly
        control_->Abort();
        retrying_ = false;
        if (alive.expired() || state_ != ftpConnecting) return false;
    }
    errorMessage_ = "Could not connect to host " + hostname_;
    busy_ = false;
    if (SetState(ftpNotConnected)) Fire(OnConnect, true);
    return false;
}

// The address being tried failed: closes it and tries the next one from the loop. False when
// there is none left (the caller reports the failure).
bool TMsgFTP::RetryNextAddress(const std::string& why) {
    if (nextAddress_ >= addresses_.size() || aborting_) return false;
    if (!Log("Could not connect to " + connectingAddress_ + ": " + why)) return true;
    if (state_ == ftpWaitGreeting) {
        connected_ = false;
        connectedAddress_.clear();
        if (!SetState(ftpConnecting)) return true;
    }
    retrying_ = true;
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t session = session_;
    loop_.post([this, alive, session] {
        if (alive.expired() || session != session_) return;
        if (state_ == ftpConnecting && !aborting_ && control_->State() != wsClosed)
            control_->Abort(); // quietly: retrying_ is still set
        if (alive.expired()) return;
        retrying_ = false;
        if (state_ != ftpConnecting || aborting_) return;
        Activity();
        ConnectNext();
    });
    return true;
}

void TMsgFTP::ControlConnected(std::uint16_t error) {
    if (error != 0) {
        if (RetryNextAddress(SocketErrorDesc(error))) return;
        errorMessage_ = "Could not connect to host " + hostname_;
        answered_ = true;
        Fire(OnConnect, true);
        return;
    }
    connected_ = true;
    connectedAddress_ = connectingAddress_;
    Activity();
    SetState(ftpWaitGreeting);
}

void TMsgFTP::Disconnect() {
    std::weak_ptr<bool> alive = alive_;
    disconnecting_ = true;
    control_->Close();
    if (!alive.expired()) disconnecting_ = false;
}

void TMsgFTP::ControlClosed(std::uint16_t error) {
    if (retrying_) return; // a failed address, closed before the next is tried
    bool wasConnected = connected_;
    connected_ = false;
    ++session_;
    if (aborting_) return; // Abort finishes the job
    // The server (or the network) ended an established session: say so, so that nobody is
    // left with an empty message or the text of an older failure.
    if (wasConnected && !disconnecting_) {
        errorMessage_ = !control_->TlsError().empty() ? control_->TlsError()
                        : error == 0                  ? "Connection closed by server"
                                                      : SocketErrorDesc(error);
        if (state_ == ftpSecuring || state_ == ftpTlsHandshake || state_ == ftpSettingProtection)
            errorMessage_ += " while the connection was being secured; the login was not sent.";
    }
    AbortSession();
}

void TMsgFTP::Abort() {
    AbortSession();
}

bool TMsgFTP::AbortSession() {
    if (aborting_) return true;
    if (state_ == ftpNotConnected) {
        busy_ = false;
        return true;
    }
    aborting_ = true;
    std::weak_ptr<bool> alive = alive_;
    if (state_ == ftpResolving) {
        control_->CancelDnsLookup();
    } else {
        if (transferActive_) EndTransfer(false);
        Disconnect();
    }
    if (alive.expired()) return false;
    aborted_ = true;
    busy_ = false;
    aborting_ = false;
    std::uint64_t session = session_;
    if (!CommandDone(true)) return false;
    // A handler may have started a new session; its state is its own.
    if (!connected_ && session == session_) return SetState(ftpNotConnected);
    return true;
}

// --- replies ---------------------------------------------------------------------------------

void TMsgFTP::ControlData(std::uint16_t error) {
    if (error != 0) {
        errorMessage_ = "Error reading data.";
        return;
    }
    // Read in bounded pieces (the socket calls again while more waits), so that what the
    // kernel gathered while we were busy never lands in memory at once.
    int waiting = std::min(control_->RcvdCount(), kControlChunk);
    std::string bytes;
    if (waiting > 0) {
        bytes.resize(std::size_t(waiting));
        int got = control_->Receive(bytes.data(), waiting);
        bytes.resize(std::size_t(std::max(got, 0)));
    }
    if (!bytes.empty()) Activity();
    std::size_t unread = replyBuffer_.size() - replyPos_;
    if (replyPos_ > 0 && (unread == 0 || (replyPos_ >= kCompactAfter && replyPos_ >= unread))) {
        replyBuffer_.erase(0, replyPos_);
        replyScan_ -= std::min(replyScan_, replyPos_);
        replyPos_ = 0;
    }
    std::size_t oldSize = replyBuffer_.size();
    replyBuffer_.reserve(oldSize + bytes.size());
    for (char c : bytes)
        if (c != '\r') replyBuffer_ += c;
    if (!CheckReplyBounds(oldSize)) return;
    std::uint64_t session = session_;
    std::string reply;
    // Every complete reply is handled, in order; a handler may end the session (or this
    // client) meanwhile.
    while (ExtractReply(reply)) {
        if (reply.empty()) continue;
        if (!HandleReply(reply) || session != session_) return;
    }
    if (replyBuffer_.size() - replyPos_ > MaxReplyBuffer) {
        errorMessage_ = "Host reply too long: more than " + std::to_string(MaxReplyBuffer) +
                        " bytes without an end";
        replyBuffer_.clear();
        replyPos_ = replyScan_ = 0;
        if (Log(errorMessage_)) AbortSession();
    }
}

// A line that grows past the bound ends the session before it can eat memory.
bool TMsgFTP::CheckReplyBounds(std::size_t oldSize) {
    std::size_t lineStart = replyPos_;
    if (oldSize > replyPos_) {
        std::size_t lf = replyBuffer_.rfind('\n', oldSize - 1);
        if (lf != std::string::npos) lineStart = lf + 1;
    }
    for (std::size_t i = oldSize; i < replyBuffer_.size(); ++i) {
        if (replyBuffer_[i] == '\n') {
            lineStart = i + 1;
        } else if (i + 1 - lineStart > MaxReplyLine) {
            errorMessage_ = "Host reply too long: a line of more than " +
                            std::to_string(MaxReplyLine) + " bytes";
            replyBuffer_.clear();
            replyPos_ = replyScan_ = 0;
            if (Log(errorMessage_)) AbortSession();
            return false;
        }
    }
    return true;
}

// Takes the next complete reply from replyPos_ on; the buffer itself is compacted by
// ControlData, so a burst of many short replies costs time in proportion to its bytes.
bool TMsgFTP::ExtractReply(std::string& reply) {
    const std::size_t start = replyPos_;
    std::size_t lf = replyBuffer_.find('\n', start);
    if (lf == std::string::npos) return false;
    if (lf > start + 3 && replyBuffer_[start + 3] == '-') {
        std::string end = "\n" + replyBuffer_.substr(start, 3) + " ";
        // The part already searched holds no end; only its last few bytes may begin one.
        std::size_t from = std::max(start, replyScan_ >= end.size() ? replyScan_ - end.size() : 0);
        std::size_t last = replyBuffer_.find(end, from);
        if (last == std::string::npos) {
            replyScan_ = replyBuffer_.size();
            return false;
        }
        std::size_t stop = replyBuffer_.find('\n', last + 1);
        if (stop == std::string::npos) {
            replyScan_ = last; // the last line has begun: find it again once it is complete
            return false;
        }
        reply.assign(replyBuffer_, start, stop - start);
        replyPos_ = replyScan_ = stop + 1;
        return true;
    }
    reply.assign(replyBuffer_, start, lf - start);
    replyPos_ = replyScan_ = lf + 1;
    return true;
}

bool TMsgFTP::Check(int code, int wanted, const char* text, const std::string& reply) {
    if (code == wanted) return true;
    errorMessage_ = text + reply;
    return false;
}

bool TMsgFTP::LoginFailed() {
    answered_ = true;
    return Fire(OnConnect, true);
}

bool TMsgFTP::SendAndEnter(const std::string& line, TFTPState next) {
    return SendLine(line) && SetState(next);
}

bool TMsgFTP::HandleReply(const std::string& reply) {
    if (!Log(reply)) return false;
    int code = ReplyCode(reply);
    switch (state_) {
    case ftpNotConnected:
    case ftpResolving:
    case ftpConnecting:
        return true;
    case ftpWaitGreeting:
        if (!Check(code, 220, "Host replied ", reply)) return LoginFailed();
        if (tlsMode_ != TTlsMode::Plain) return SendAndEnter("AUTH TLS", ftpSecuring);
        return SendUser();
    case ftpSecuring:
    case ftpTlsHandshake:
    case ftpSettingProtection:
        return SecurityReply(code, reply);
    case ftpSendingUser:
        if (code == 230) return SendAndEnter("SYST", ftpSystemType); // no password needed
        if (!Check(code, 331, "Host replied ", reply)) return LoginFailed();
        return SendAndEnter("PASS " + password_, ftpSendingPassword);
    case ftpSendingPassword:
        if (!Check(code, 230, "Host replied ", reply)) return LoginFailed();
        return SendAndEnter("SYST", ftpSystemType);
    case ftpSystemType:
        unixPaths_ = false;
        if (reply.find("OS/400") != std::string::npos) {
            systemType_ = 2;
        } else if (reply.find("VMS") != std::string::npos) {
            systemType_ = 3;
        } else {
            systemType_ = 1;
            unixPaths_ = true;
            pathSeparator_ = '/';
        }
        return SendAndEnter("PWD", ftpGettingDir);
    case ftpGettingDir: {
        currentDirectory_.clear();
        if (Check(code, 257, "Host replied (expected 257): ", reply)) {
            std::size_t q1 = reply.find('"');
            std::size_t q2 = q1 == std::string::npos ? q1 : reply.find('"', q1 + 1);
            if (q2 != std::string::npos) currentDirectory_ = reply.substr(q1 + 1, q2 - q1 - 1);
        }
        busy_ = false;
        if (loginComplete_) {
            state_ = ftpChangingDir; // both directory changes report as this state
            return CommandDone(false);
        }
        if (!SetState(ftpReady)) return false;
        loginComplete_ = true;
        return Fire(OnConnect, false);
    }
    case ftpSendingPort:
        return DataSetupReply(code, reply);
    case ftpListing:
    case ftpRetrieving:
    case ftpStoring:
        return TransferReply(code, reply);
    case ftpChangingDir:
    case ftpChangingDirUp:
        if (!Check(code, 250, "Host replied (expected 250): ", reply)) return CommandDone(true);
        return SendAndEnter("PWD", ftpGettingDir);
    case ftpSettingType:
    case ftpNoop:
    case ftpSettingUmask:
        return CommandDone(!Check(code, 200, "Host replied (expected 200): ", reply));
    case ftpDeleting:
    case ftpRemovingDir:
    case ftpRenamingTo:
        return CommandDone(!Check(code, 250, "Host replied (expected 250): ", reply));
    case ftpRenamingFrom:
        if (!Check(code, 350, "Host replied (expected 350): ", reply)) return CommandDone(true);
        return SetState(ftpRenamingTo) && SendLine("RNTO " + renameTarget_);
    case ftpMakingDir:
        return CommandDone(!Check(code, 257, "Host replied (expected 257): ", reply));
    case ftpCustomCommand:
        if (code >= 200 || code < 100) answered_ = true; // a preliminary reply goes on waiting
        return Fire(OnCustomFTPCommandDone, code, reply);
    case ftpReady:
        AddLog("<- ", "Unexpected command: " + reply);
        return Fire(OnDebug, false, "Unexpected command: " + reply);
    }
    return true;
}

// --- simple commands -------------------------------------------------------------------------

void TMsgFTP::ChangeDir(const std::string& path) {
    StartCommand(ftpChangingDir, "CWD " + path);
}
void TMsgFTP::ChangeDirUp() {
    StartCommand(ftpChangingDirUp, "CDUP");
}
void TMsgFTP::SetTransferType(const std::string& type) {
    StartCommand(ftpSettingType, "TYPE " + type);
}
void TMsgFTP::Noop() {
    StartCommand(ftpNoop, "NOOP");
}
void TMsgFTP::DeleteFile(const std::string& name) {
    StartCommand(ftpDeleting, "DELE " + name);
}
void TMsgFTP::RemoveDir(const std::string& name) {
    StartCommand(ftpRemovingDir, "RMD " + name);
}
void TMsgFTP::MakeDir(const std::string& name) {
    StartCommand(ftpMakingDir, "MKD " + name);
}

void TMsgFTP::RenameFile(const std::string& oldName, const std::string& newName) {
    if (busy_) return;
    if (HasLineBreak(newName)) {
        FailLater(ftpRenamingFrom,
                  kLineBreakRefused + newName.substr(0, newName.find_first_of("\r\n")));
        return;
    }
    renameTarget_ = newName;
    StartCommand(ftpRenamingFrom, "RNFR " + oldName);
}

void TMsgFTP::SetUmask(int value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.3d", value);
    StartCommand(ftpSettingUmask, std::string("SITE UMASK ") + digits);
}

void TMsgFTP::SendCommand(const std::string& text) {
    StartCommand(ftpCustomCommand, text);
}

} // namespace morvane::net
