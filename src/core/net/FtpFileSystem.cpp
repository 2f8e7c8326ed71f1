#include "core/net/FtpFileSystem.h"

#include "core/net/ChmodRunner.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>
#include <system_error>
#include <utility>

namespace morvane::net {

namespace {

bool Contains(const std::string& lower, const char* word) {
    return lower.find(word) != std::string::npos;
}

// The text after a reply's code ("213 20240101120000" gives "20240101120000").
std::string ReplyText(const std::string& reply) {
    std::string text = reply.substr(std::min<std::size_t>(4, reply.size()));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::optional<std::int64_t> ParseSize(const std::string& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

int CodeOf(const std::string& line) {
    if (line.size() < 3) return 0;
    int v = 0;
    for (int i = 0; i < 3; ++i) {
        if (line[std::size_t(i)] < '0' || line[std::size_t(i)] > '9') return 0;
        v = v * 10 + (line[std::size_t(i)] - '0');
    }
    return v;
}

std::string ChmodText(int mode) {
    char text[8];
    if (mode & 07000)
        std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    else
        std::snprintf(text, sizeof text, "%03o", unsigned(mode & 0777));
    return text;
}

const char* kBusy = "Another operation is still running on this connection";

} // namespace

TRemoteError ErrorForReply(int code, const std::string& text) {
    switch (code) {
    case 421: // the server closes the connection
        return TRemoteError::ConnectionLost;
    case 452:
    case 552:
        return TRemoteError::QuotaFull;
    case 530:
    case 532:
        return TRemoteError::Permission;
    case 550: {
        // One code for "no such file" and "not yours": the wording tells them apart.
        std::string lower = text;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (Contains(lower, "permi") || Contains(lower, "denied") ||
            Contains(lower, "not allowed") || Contains(lower, "access"))
            return TRemoteError::Permission;
        return TRemoteError::NotFound;
    }
    default:
        break;
    }
    if (code >= 500 && code < 600) return TRemoteError::Refused;
    return TRemoteError::Failed;
}

std::optional<TDirectoryEntry> EntryFromStatus(const std::string& reply, const std::string& name) {
    std::string code = reply.substr(0, 3);
    std::optional<TDirectoryEntry> found;
    std::size_t start = reply.find('\n');
    while (start != std::string::npos) {
        std::size_t end = reply.find('\n', start + 1);
        if (end == std::string::npos) break; // the last line closes the reply
        std::string_view line(reply.data() + start + 1, end - start - 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // Some servers repeat the code on every line; a listing line never starts with digits.
        if (line.size() >= 4 && line.substr(0, 3) == code && line[3] == '-') line.remove_prefix(4);
        while (!line.empty() && line.front() == ' ')
            line.remove_prefix(1);
        TDirectoryEntry entry;
        if (ParseListLine(line, entry)) {
            // A file gives one line; more is a folder's content, whatever the names.
            if (found) return std::nullopt;
            found = std::move(entry);
        }
        start = end;
    }
    if (found && found->Name != name) return std::nullopt;
    return found;
}

TFtpFileSystem::TFtpFileSystem(platform::EventLoop& loop)
    : loop_(loop), alive_(std::make_shared<bool>(true)), ftp_(loop) {
    ftp_.OnConnect = [this](TMsgFTP*, bool error) { Connected(error); };
    ftp_.OnFTPCommandDone = [this](TMsgFTP*, TFTPState state, bool error) {
        CommandDone(state, error);
    };
    ftp_.OnCustomFTPCommandDone = [this](TMsgFTP*, int code, const std::string& reply) {
        Reply(code, reply);
    };
    ftp_.OnStatusChange = [this](TMsgFTP*, TFTPState state) { Status(state); };
    ftp_.OnTransferProgress = [this](TMsgFTP*, std::int64_t count) { TransferProgress(count); };
    ftp_.OnDirectoryListing = [this](TMsgFTP*, const std::string& name, const std::string& date,
                                     std::int64_t size, std::int32_t kind, const std::string& owner,
                                     const std::string& group, const std::string& attributes) {
        Listed({name, date, size, kind, owner, group, attributes, ftp_.ListedLinkTarget()});
    };
    ftp_.OnDebug = [this](TMsgFTP*, bool sent, const std::string& line) {
        if (!sent) {
            if (int code = CodeOf(line)) lastCode_ = code;
        }
        if (onDebug) onDebug(sent, line);
    };
}

TFtpFileSystem::~TFtpFileSystem() {
    ftp_.OnConnect = nullptr;
    ftp_.OnFTPCommandDone = nullptr;
    ftp_.OnCustomFTPCommandDone = nullptr;
    ftp_.OnStatusChange = nullptr;
    ftp_.OnTransferProgress = nullptr;
    ftp_.OnDirectoryListing = nullptr;
    ftp_.OnDebug = nullptr;
    ftp_.Disconnect();
}

void TFtpFileSystem::SetLogin(const TRemoteLogin& login) {
    login_ = login;
    ftp_.SetHostname(login.host);
    ftp_.SetPort(login.port > 0 ? login.port : 21);
    ftp_.SetUsername(login.user);
    ftp_.SetPassword(login.password);
    ftp_.SetPassive(login.passive);
    ftp_.SetPassiveUsesServerAddress(login.passiveUsesServerAddress);
    ftp_.SetTlsMode(login.tls);
    ftp_.SetTlsCaFile(login.tlsCaFile);
    ftp_.OnClearTextQuestion = [ask = login.clearText](TMsgFTP* sender) {
        return ask && ask(sender->Hostname());
    };
    ftp_.OnCertificateQuestion = [ask = login.certificate](TMsgFTP* sender,
                                                           const TTlsCertificate& certificate) {
        return ask && ask(sender->Hostname(), certificate);
    };
}

void TFtpFileSystem::SetReplyTimeout(std::chrono::milliseconds timeout) {
    ftp_.SetReplyTimeout(timeout);
}

TRemoteCapabilities TFtpFileSystem::Capabilities() const {
    TRemoteCapabilities c;
    c.atomicReplace = true; // RNTO over an existing name replaces it
    c.preciseTimes = mdtmWorks_;
    c.chmod = ftp_.SystemType() <= 1; // SITE CHMOD is a Unix server's command
    c.unixPaths = ftp_.UnixPaths();
    c.separator = ftp_.PathSeparator();
    c.versionedNames = ftp_.SystemType() == 3;
    return c;
}

// --- operations --------------------------------------------------------------------------------

bool TFtpFileSystem::Begin(Phase phase, Done done) {
    if (phase_ != Phase::None) {
        FailLater(std::move(done), TRemoteResult::Fail(TRemoteError::Failed, kBusy));
        return false;
    }
    phase_ = phase;
    ++serial_;
    done_ = std::move(done);
    cancelled_ = false;
    lastCode_ = 0;
    return true;
}

// A refusal from this object itself reports from the loop, like the client's outcomes.
void TFtpFileSystem::FailLater(Done done, TRemoteResult result) {
    std::weak_ptr<bool> alive = alive_;
    loop_.post([alive, done = std::move(done), result = std::move(result)] {
        if (!alive.expired() && done) done(result);
    });
}

void TFtpFileSystem::Finish(const TRemoteResult& result) {
    phase_ = Phase::None;
    ++serial_;
    Done done = std::move(done_);
    StatDone statDone = std::move(statDone_);
    QuoteDone quoteDone = std::move(quoteDone_);
    done_ = nullptr;
    entry_ = nullptr;
    piece_ = nullptr;
    progress_ = nullptr;
    then_ = nullptr;
    if (statDone) return statDone(result, stat_);
    if (quoteDone) return quoteDone(result, 0, {}); // failed before a reply
    if (done) done(result);
}

// Why the running command failed, from the client's state and the last reply.
TRemoteResult TFtpFileSystem::Failure() const {
    std::string message = ftp_.ErrorMessage();
    if (cancelled_) return TRemoteResult::Fail(TRemoteError::Cancelled, "Cancelled");
    if (ftp_.TimedOut()) return TRemoteResult::Fail(TRemoteError::Timeout, message);
    if (ftp_.Aborted() || !ftp_.Connected())
        return TRemoteResult::Fail(TRemoteError::ConnectionLost,
                                   message.empty() ? "The connection was closed" : message);
    return TRemoteResult::Fail(ErrorForReply(lastCode_, message), message);
}

// Bytes must cross unchanged, and some servers give sizes in binary mode only.
void TFtpFileSystem::Binary(std::function<void()> then) {
    if (binary_) return then();
    then_ = std::move(then); // sets the phase to go on with
    phase_ = Phase::Binary;
    ftp_.SetTransferType("I");
}

void TFtpFileSystem::Connect(Done done) {
    if (phase_ != Phase::None) {
        FailLater(std::move(done), TRemoteResult::Fail(TRemoteError::Failed, kBusy));
        return;
    }
    // What is left of an earlier session ends without a word.
    if (ftp_.State() != ftpNotConnected) {
        std::weak_ptr<bool> alive = alive_;
        Disconnect();
        if (alive.expired()) return;
    }
    Begin(Phase::Connect, std::move(done));
    loggedIn_ = false;
    binary_ = false;
    home_.clear();
    ftp_.Connect();
}

void TFtpFileSystem::Disconnect() {
    phase_ = Phase::None;
    ++serial_;
    done_ = nullptr;
    statDone_ = nullptr;
    quoteDone_ = nullptr;
    entry_ = nullptr;
    piece_ = nullptr;
    progress_ = nullptr;
    then_ = nullptr;
    loggedIn_ = false;
    binary_ = false;
    std::weak_ptr<bool> alive = alive_;
    silent_ = true;
    ftp_.Abort();
    if (alive.expired()) return;
    ftp_.Disconnect();
    if (alive.expired()) return;
    silent_ = false;
}

void TFtpFileSystem::Cancel() {
    if (phase_ == Phase::None) return;
    cancelled_ = true;
    std::uint64_t serial = serial_;
    std::weak_ptr<bool> alive = alive_;
    ftp_.Abort();
    // The client had nothing running to abort (an outcome still on its way): end it here.
    if (!alive.expired() && serial == serial_ && phase_ != Phase::None)
        Finish(TRemoteResult::Fail(TRemoteError::Cancelled, "Cancelled"));
}

void TFtpFileSystem::KeepAlive(Done done) {
    if (Begin(Phase::Simple, std::move(done))) ftp_.Noop();
}

void TFtpFileSystem::ChangeDirectory(const std::string& path, Done done) {
    if (!Begin(Phase::Simple, std::move(done))) return;
    if (path == "..")
        ftp_.ChangeDirUp();
    else
        ftp_.ChangeDir(path);
}

void TFtpFileSystem::List(EntryFound entry, Done done) {
    if (!Begin(Phase::List, std::move(done))) return;
    entry_ = std::move(entry);
    ftp_.ListDirectory();
}

void TFtpFileSystem::Read(const std::string& name, Piece piece, Done done) {
    if (!Begin(Phase::Read, std::move(done))) return;
    piece_ = std::move(piece);
    Binary([this, name] {
        phase_ = Phase::Read;
        readBuffer_.clear();
        ftp_.RetrieveToString(name, readBuffer_);
    });
}

void TFtpFileSystem::ReadToFile(const std::string& name, const std::string& localFile,
                                Progress progress, Done done) {
    if (!Begin(Phase::ReadToFile, std::move(done))) return;
    progress_ = std::move(progress);
    Binary([this, name, localFile] {
        phase_ = Phase::ReadToFile;
        try {
            ftp_.RetrieveToFile(name, localFile);
        } catch (const std::system_error& e) {
            // The local file could not be made: nothing was sent, the connection is fine.
            Done done = std::move(done_);
            Finish(TRemoteResult::Ok()); // ends the operation without a report
            if (done)
                FailLater(std::move(done), TRemoteResult::Fail(TRemoteError::Failed, e.what()));
        }
    });
}

void TFtpFileSystem::Write(const std::string& name, std::string_view text, Progress progress,
                           Done done) {
    if (!Begin(Phase::Write, std::move(done))) return;
    progress_ = std::move(progress);
    Binary([this, name, text] {
        phase_ = Phase::Write;
        ftp_.StoreFromBuffer(name, text);
    });
}

void TFtpFileSystem::WriteFromFile(const std::string& name, const std::string& localFile,
                                   Progress progress, Done done) {
    if (!Begin(Phase::Write, std::move(done))) return;
    progress_ = std::move(progress);
    Binary([this, name, localFile] {
        phase_ = Phase::Write;
        try {
            ftp_.StoreFromFile(name, localFile);
        } catch (const std::system_error& e) {
            // Nothing was sent: the connection is fine.
            Done done = std::move(done_);
            Finish(TRemoteResult::Ok()); // ends the operation without a report
            if (done)
                FailLater(std::move(done), TRemoteResult::Fail(TRemoteError::Failed, e.what()));
        }
    });
}

void TFtpFileSystem::Rename(const std::string& from, const std::string& to, Done done) {
    if (Begin(Phase::Simple, std::move(done))) ftp_.RenameFile(from, to);
}

void TFtpFileSystem::Remove(const std::string& name, Done done) {
    if (Begin(Phase::Simple, std::move(done))) ftp_.DeleteFile(name);
}

void TFtpFileSystem::MakeFolder(const std::string& name, Done done) {
    if (Begin(Phase::Simple, std::move(done))) ftp_.MakeDir(name);
}

void TFtpFileSystem::RemoveFolder(const std::string& name, Done done) {
    if (Begin(Phase::Simple, std::move(done))) ftp_.RemoveDir(name);
}

void TFtpFileSystem::Chmod(const std::string& name, int mode, Done done) {
    if (Begin(Phase::Custom, std::move(done)))
        ftp_.SendCommand("SITE CHMOD " + ChmodText(mode) + " " + name);
}

void TFtpFileSystem::Quote(const std::string& command, QuoteDone done) {
    if (phase_ != Phase::None) {
        FailLater([done](const TRemoteResult& r) { done(r, 0, {}); },
                  TRemoteResult::Fail(TRemoteError::Failed, kBusy));
        return;
    }
    Begin(Phase::Custom, nullptr);
    quoteDone_ = std::move(done);
    ftp_.SendCommand(command);
}

// --- stat --------------------------------------------------------------------------------------

// SIZE, then MDTM, then the entry from STAT with the name or, failing that, a listing: each
// only as far as the caller needs it and the server knows it.
void TFtpFileSystem::Stat(const std::string& name, TStatNeeds needs, StatDone done) {
    if (phase_ != Phase::None) {
        FailLater([done](const TRemoteResult& r) { done(r, {}); },
                  TRemoteResult::Fail(TRemoteError::Failed, kBusy));
        return;
    }
    Begin(Phase::StatSize, nullptr);
    statDone_ = std::move(done);
    statName_ = name;
    needs_ = needs;
    stat_ = TRemoteStat();
    exists_ = absent_ = entrySeen_ = false;
    statFailure_ = TRemoteResult::Fail(TRemoteError::Failed, "Nothing is known of " + name);
    Binary([this] {
        if (!needs_.size) return StatTime();
        phase_ = Phase::StatSize;
        ftp_.SendCommand("SIZE " + statName_);
    });
}

void TFtpFileSystem::StatTime() {
    if (!needs_.time || mdtmRefused_) return StatEntry();
    phase_ = Phase::StatTime;
    ftp_.SendCommand("MDTM " + statName_);
}

// STAT answers on the control connection what a listing would, without a data connection.
// Names the server could take for options or patterns go to LIST.
void TFtpFileSystem::StatEntry() {
    bool wanted = needs_.entry || (needs_.time && stat_.precision != TTimePrecision::Second);
    if (!wanted) return StatFinish();
    if (statRefused_ || ftp_.SystemType() > 1 || statName_.empty() || statName_[0] == '-' ||
        statName_.find_first_of("*?[]{}~\\") != std::string::npos)
        return StatList();
    phase_ = Phase::StatEntry;
    ftp_.SendCommand("STAT " + statName_);
}

void TFtpFileSystem::StatList() {
    // The listing is of the current folder: a path elsewhere is not in it.
    if (statName_.find('/') != std::string::npos) return StatFinish();
    phase_ = Phase::StatList;
    ftp_.ListDirectory();
}

void TFtpFileSystem::TakeEntry(const TDirectoryEntry& e) {
    entrySeen_ = exists_ = true;
    bool link = e.Attributes.rfind('l', 0) == 0;
    stat_.kind = link ? TRemoteKind::Link : e.Kind == 1 ? TRemoteKind::Folder : TRemoteKind::File;
    if (stat_.size < 0 && !link) stat_.size = e.Size; // a link's own size is not the file's
    if (stat_.precision != TTimePrecision::Second && !e.Date.empty()) {
        stat_.time = e.Date;
        stat_.precision =
            e.Date.find(':') != std::string::npos ? TTimePrecision::Minute : TTimePrecision::Day;
    }
    if (auto mode = ParseAttributes(e.Attributes)) stat_.mode = int(mode->bits | mode->special);
    // Paths of other systems than Unix cannot be followed by name.
    stat_.linkTarget = link && ftp_.SystemType() <= 1 ? e.LinkTarget : std::string();
}

void TFtpFileSystem::StatFinish() {
    if (exists_) return Finish(TRemoteResult::Ok());
    if (absent_) {
        statFailure_.error = TRemoteError::NotFound;
        return Finish(statFailure_);
    }
    Finish(statFailure_);
}

// --- events from the client --------------------------------------------------------------------

void TFtpFileSystem::Connected(bool error) {
    if (silent_ || phase_ != Phase::Connect) return;
    if (error) return ConnectFailed(true);
    if (login_.umask) {
        phase_ = Phase::Umask;
        ftp_.SetUmask(*login_.umask);
        return;
    }
    ConnectDone();
}

void TFtpFileSystem::ConnectDone() {
    loggedIn_ = true;
    home_ = ftp_.CurrentDirectory();
    Finish(TRemoteResult::Ok());
}

// A failed login leaves nothing open: the next Connect starts afresh. refused: the server
// turned the login down, or no connection came about, which is no lost connection.
void TFtpFileSystem::ConnectFailed(bool refused) {
    TRemoteResult result = Failure();
    if (refused && result.error == TRemoteError::ConnectionLost && !ftp_.TimedOut())
        result.error = lastCode_ ? ErrorForReply(lastCode_, result.message) : TRemoteError::Failed;
    Done done = std::move(done_);
    Disconnect();
    // Disconnect dropped the operation; its outcome still goes to its caller.
    if (done) done(result);
}

void TFtpFileSystem::CommandDone(TFTPState state, bool error) {
    if (silent_) return;
    switch (phase_) {
    case Phase::None:
        return;
    case Phase::Connect:
        // The login ended without OnConnect: cancelled, timed out or cut off.
        if (error) return ConnectFailed(false);
        return;
    case Phase::Umask:
        // A server without SITE UMASK still logs in; only a lost connection fails the login.
        if (error && (ftp_.Aborted() || !ftp_.Connected())) return ConnectFailed(false);
        return ConnectDone();
    case Phase::Binary:
        if (error) return Finish(Failure());
        binary_ = true;
        if (auto then = std::exchange(then_, nullptr)) then();
        return;
    case Phase::Simple:
    case Phase::List:
    case Phase::ReadToFile:
    case Phase::Write:
        return Finish(error ? Failure() : TRemoteResult::Ok());
    case Phase::Read: {
        std::weak_ptr<bool> alive = alive_;
        FlushPiece();
        if (alive.expired()) return;
        return Finish(error ? Failure() : TRemoteResult::Ok());
    }
    case Phase::Custom:
    case Phase::StatSize:
    case Phase::StatTime:
    case Phase::StatEntry:
        // A raw command's success comes as its reply; this is one that could not be sent or
        // whose connection went.
        if (state == ftpCustomCommand && !error) return;
        return Finish(Failure());
    case Phase::StatList:
        if (!error) {
            if (!entrySeen_) absent_ = true; // listed, and not there
            return StatFinish();
        }
        if (ftp_.Aborted() || !ftp_.Connected() || cancelled_) return Finish(Failure());
        // A folder that may not be listed tells nothing of the file.
        statFailure_ = Failure();
        return StatFinish();
    }
}

void TFtpFileSystem::Reply(int code, const std::string& reply) {
    if (silent_ || code < 200) return; // a preliminary reply; the real one follows
    switch (phase_) {
    case Phase::Custom:
        if (quoteDone_) {
            QuoteDone done = std::move(quoteDone_);
            quoteDone_ = nullptr;
            TRemoteResult result = code < 400
                                       ? TRemoteResult::Ok()
                                       : TRemoteResult::Fail(ErrorForReply(code, reply), reply);
            std::weak_ptr<bool> alive = alive_;
            Finish(result); // nothing else waits: it only ends the operation
            if (!alive.expired()) done(result, code, reply);
            return;
        }
        if (code >= 200 && code < 300) return Finish({TRemoteError::None, reply});
        return Finish(TRemoteResult::Fail(ErrorForReply(code, reply), reply));
    case Phase::StatSize:
    case Phase::StatTime: {
        if (code == 421) return Finish(TRemoteResult::Fail(TRemoteError::ConnectionLost, reply));
        bool size = phase_ == Phase::StatSize;
        if (code == 213) {
            exists_ = true;
            if (size) {
                stat_.size = ParseSize(ReplyText(reply)).value_or(-1);
            } else {
                mdtmWorks_ = true;
                stat_.time = ReplyText(reply);
                stat_.precision = TTimePrecision::Second;
            }
        } else {
            if (code == 550) absent_ = true;
            if (!size && (code == 500 || code == 502 || code == 504)) mdtmRefused_ = true;
            statFailure_ = TRemoteResult::Fail(ErrorForReply(code, reply), reply);
        }
        return size ? StatTime() : StatEntry();
    }
    case Phase::StatEntry: {
        if (code == 421) return Finish(TRemoteResult::Fail(TRemoteError::ConnectionLost, reply));
        if (code == 500 || code == 502 || code == 504) statRefused_ = true;
        std::optional<TDirectoryEntry> found;
        if (code >= 211 && code <= 213) {
            found = EntryFromStatus(reply, statName_);
            // A path may come back as its last part alone.
            std::size_t slash = statName_.rfind('/');
            if (!found && slash != std::string::npos)
                found = EntryFromStatus(reply, statName_.substr(slash + 1));
        }
        // No line for the file proves nothing (a server may answer STAT differently): the
        // listing decides.
        if (!found) return StatList();
        TakeEntry(*found);
        return StatFinish();
    }
    default:
        return;
    }
}

void TFtpFileSystem::Listed(const TDirectoryEntry& entry) {
    if (silent_) return;
    if (phase_ == Phase::List && entry_) {
        entry_(entry);
    } else if (phase_ == Phase::StatList && entry.Name == statName_) {
        TakeEntry(entry);
    }
}

void TFtpFileSystem::FlushPiece() {
    if (readBuffer_.empty() || !piece_) return;
    std::weak_ptr<bool> alive = alive_;
    piece_(readBuffer_);
    if (alive.expired()) return;
    readBuffer_.clear(); // the client appends the next bytes from the start again
}

void TFtpFileSystem::TransferProgress(std::int64_t count) {
    if (silent_) return;
    if (phase_ == Phase::Read) return FlushPiece();
    if (phase_ == Phase::List && onStatus)
        return onStatus("Receiving directory...   Bytes received: " + std::to_string(count));
    // The client counts the position of the next byte to send.
    if (phase_ == Phase::Write && progress_) progress_(std::max<std::int64_t>(0, count - 1));
    if (phase_ == Phase::ReadToFile && progress_) progress_(count);
}

void TFtpFileSystem::Status(TFTPState state) {
    if (!onStatus) return;
    if (state == ftpReady) return onStatus("");
    std::string text = FTPStatusText(state, ftp_.Hostname());
    if (!text.empty()) onStatus(text);
}

} // namespace morvane::net
