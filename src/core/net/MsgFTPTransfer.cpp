// Transfers: setting up the data connection (passive or active), then LIST, RETR and STOR.
#include "core/net/MsgFTP.h"

#include "core/net/HostLookup.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace morvane::net {

namespace {
// Bytes moved per step of a transfer: large enough that the loop is not what limits it.
constexpr int kFileReadChunk = 256 * 1024;
constexpr std::int64_t kStoreChunk = 1024 * 1024;
constexpr std::int64_t kStoreStep = 8 * kStoreChunk;
// A file is read a block at a time, small enough to stay in the cache between read and send.
constexpr std::int64_t kFileBlock = 256 * 1024;
constexpr int kListingChunk = 256 * 1024;
} // namespace

std::string PortCommand(std::uint32_t a, std::uint16_t p) {
    return "PORT " + std::to_string(a >> 24) + "," + std::to_string((a >> 16) & 255) + "," +
           std::to_string((a >> 8) & 255) + "," + std::to_string(a & 255) + "," +
           std::to_string(p / 256) + "," + std::to_string(p % 256);
}

std::string EprtCommand(const std::string& address, bool ipv6, std::uint16_t port) {
    return std::string("EPRT |") + (ipv6 ? "2" : "1") + "|" + address + "|" + std::to_string(port) +
           "|";
}

std::uint16_t ParseEpsvReply(const std::string& reply) {
    // "229 Entering Extended Passive Mode (|||6446|)": the delimiter is whatever character
    // follows the parenthesis, and it must appear four times around the port.
    std::size_t open = reply.find('(', 3);
    if (open == std::string::npos || open + 1 >= reply.size()) return 0;
    char d = reply[open + 1];
    if (d < 33 || d > 126 || (d >= '0' && d <= '9')) return 0;
    std::size_t p = open + 1;
    for (int i = 0; i < 3; ++i, ++p)
        if (p >= reply.size() || reply[p] != d) return 0;
    unsigned long port = 0;
    std::size_t digits = 0;
    for (; p < reply.size() && reply[p] >= '0' && reply[p] <= '9' && digits < 6; ++p, ++digits)
        port = port * 10 + unsigned(reply[p] - '0');
    if (digits == 0 || port == 0 || port > 65535) return 0;
    if (p + 1 >= reply.size() || reply[p] != d || reply[p + 1] != ')') return 0;
    return std::uint16_t(port);
}

bool ParsePasvReply(const std::string& reply, std::uint32_t& address, std::uint16_t& port) {
    // The six numbers are the first run of digits and commas after the code; some servers leave
    // out the parentheses.
    std::size_t p = reply.find_first_of("0123456789", 4);
    if (reply.size() < 4 || p == std::string::npos || reply[p - 1] == '-') return false;
    unsigned v[6];
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            if (p >= reply.size() || reply[p] != ',') return false;
            ++p;
        }
        std::size_t digits = 0;
        unsigned n = 0;
        for (; p < reply.size() && reply[p] >= '0' && reply[p] <= '9'; ++p) {
            if (++digits > 3) return false;
            n = n * 10 + unsigned(reply[p] - '0');
        }
        if (digits == 0 || n > 255) return false;
        v[i] = n;
    }
    if (p < reply.size() && (reply[p] == ',' || (reply[p] >= '0' && reply[p] <= '9'))) return false;
    address = v[0] << 24 | v[1] << 16 | v[2] << 8 | v[3];
    port = std::uint16_t(v[4] * 256 + v[5]);
    return true;
}

void TMsgFTP::ListDirectory() {
    if (busy_) return;
    listingBuffer_.clear();
    listing_.Reset();
    StartTransfer(ftpListing, "", Mode::String);
}

void TMsgFTP::RetrieveToString(const std::string& name, std::string& text) {
    if (busy_) return;
    text.clear();
    target_ = &text;
    StartTransfer(ftpRetrieving, name, Mode::String);
}

void TMsgFTP::RetrieveToFile(const std::string& name, const std::string& localFile) {
    if (busy_) return;
    localFile_ = localFile;
    StartTransfer(ftpRetrieving, name, Mode::File);
}

void TMsgFTP::StoreFromBuffer(const std::string& name, std::string_view buffer) {
    if (busy_) return;
    CloseStoreFile();
    source_ = buffer;
    storePos_ = 1;
    StartTransfer(ftpStoring, name, Mode::Store);
}

void TMsgFTP::StoreFromFile(const std::string& name, const std::string& localFile) {
    if (busy_) return;
    CloseStoreFile();
    int fd = ::open(localFile.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    int err = fd < 0 ? errno : ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
    if (err != 0) {
        if (fd >= 0) ::close(fd);
        throw std::system_error(err, std::generic_category(),
                                "Cannot read local file " + localFile);
    }
    storeFd_ = fd;
    storeFile_ = localFile;
    storeExpected_ = st.st_size;
    storeBlock_.resize(std::size_t(kFileBlock)); // kept: the next upload finds it mapped
    blockPos_ = blockLen_ = 0;
    storeEof_ = false;
    source_ = {};
    storePos_ = 1;
    StartTransfer(ftpStoring, name, Mode::Store);
}

void TMsgFTP::CloseStoreFile() {
    if (storeFd_ >= 0) ::close(storeFd_);
    storeFd_ = -1;
}

void TMsgFTP::StartTransfer(TFTPState pending, const std::string& name, Mode mode) {
    if (name.find_first_of("\r\n") != std::string::npos) {
        FailLater(pending, "Refused to send a command containing CR or LF: " +
                               name.substr(0, name.find_first_of("\r\n")));
        return;
    }
    if (!connected_) {
        FailLater(pending, "Not connected");
        return;
    }
    ++operation_;
    answered_ = false;
    Activity();
    pendingState_ = pending;
    transferName_ = name;
    mode_ = mode;
    if (mode == Mode::String && pending == ftpListing) target_ = &listingBuffer_;
    dataClosed_ = false;
    finalReply_ = false;
    storeAccepted_ = !passive_;
    byteCount_ = 0;

    // Leftovers of an earlier transfer must not feed into this one.
    transferActive_ = false;
    if (listen_->State() != wsClosed) listen_->Close();
    if (data_->State() != wsClosed) data_->Abort();

    data_->OnDataAvailable = [this](TCustomAsyncSocket*, std::uint16_t) { DataAvailable(); };
    data_->OnSessionClosed = [this](TCustomAsyncSocket*, std::uint16_t) { DataClosed(); };
    data_->OnDataSent = [this](TCustomAsyncSocket*, std::uint16_t e) { DataSent(e); };
    listen_->OnSessionAvailable = [this](TCustomAsyncSocket*, std::uint16_t) {
        DataSessionAvailable();
    };

    if (mode == Mode::File) OpenLocalFile();
    if (passive_) {
        transferActive_ = true;
        busy_ = true;
        dataSetup_ = epsvRefused_ ? DataSetup::Pasv : DataSetup::Epsv;
        if (!SetState(ftpSendingPort)) return;
        SendLine(epsvRefused_ ? "PASV" : "EPSV");
        return;
    }
    StartActive();
}

// Listens on the control connection's local address (nothing needs to reach it from elsewhere)
// and announces it with PORT, or EPRT over IPv6.
bool TMsgFTP::StartActive() {
    sockaddr_storage local{};
    control_->GetSockName(local);
    bool v6 = local.ss_family == AF_INET6;
    listen_->SetPort("0");
    listen_->SetAddr(AddressText(local));
    if (listen_->Listen() != 0) {
        FinishLocalFile(false);
        FailLater(pendingState_, "Could not open a data port: " + listen_->LastErrorMessage());
        return false;
    }
    transferActive_ = true;
    sockaddr_storage bound{};
    listen_->GetSockName(bound);
    busy_ = true;
    dataSetup_ = DataSetup::Port;
    if (!SetState(ftpSendingPort)) return false;
    if (v6) return SendLine(EprtCommand(AddressText(local), true, AddressPort(bound)));
    return SendLine(PortCommand(
        ntohl(reinterpret_cast<const sockaddr_in*>(&local)->sin_addr.s_addr), AddressPort(bound)));
}

bool TMsgFTP::DataSetupReply(int code, const std::string& reply) {
    if (dataSetup_ != DataSetup::Port) return PassiveReply(code, reply);
    if (!Check(code, 200, "Host replied (Expected 200): ", reply)) {
        if (!SetState(pendingState_)) return false;
        return CommandDone(true);
    }
    return SendTransferCommand();
}

bool TMsgFTP::SendTransferCommand() {
    if (!SetState(pendingState_)) return false;
    // A secured data connection starts its handshake only once the command is out.
    if (pendingState_ == ftpListing) // data may have come before the reply
        return SendLine("LIST") && SecureHeldData() && ParseListing();
    if (pendingState_ == ftpRetrieving)
        return SendLine("RETR " + transferName_) && SecureHeldData();
    if (!SendLine("STOR " + transferName_) || !SecureHeldData()) return false;
    // The data connection may be open already; its write-ready came before STOR was sent.
    if (data_->State() == wsConnected && data_->AllSent()) return StoreStep();
    return true;
}

bool TMsgFTP::PassiveReply(int code, const std::string& reply) {
    auto fail = [&](const std::string& message) {
        errorMessage_ = message;
        return SetState(pendingState_) && CommandDone(true);
    };
    sockaddr_storage server{};
    control_->GetPeerName(server);
    if (dataSetup_ == DataSetup::Epsv) {
        std::uint16_t port = code == 229 ? ParseEpsvReply(reply) : 0;
        if (port != 0) {
            sockaddr_storage target = server;
            if (target.ss_family == AF_INET6)
                reinterpret_cast<sockaddr_in6*>(&target)->sin6_port = htons(port);
            else
                reinterpret_cast<sockaddr_in*>(&target)->sin_port = htons(port);
            return ConnectData(target);
        }
        // A refusal, or an answer that names no port: PASV for the rest of the session.
        if (code >= 400 && code < 500) return fail("Host replied (expected 229): " + reply);
        if (code == 229 && !Log("No port in the EPSV reply; trying PASV")) return false;
        epsvRefused_ = true;
        dataSetup_ = DataSetup::Pasv;
        return SendLine("PASV");
    }
    if (code != 227) return fail("Host replied (expected 227): " + reply);
    std::uint32_t named = 0;
    std::uint16_t port = 0;
    if (!ParsePasvReply(reply, named, port))
        return fail("Could not read the address in the server's PASV reply: " + reply);
    if (port == 0) return fail("The server named port 0 for the data connection: " + reply);
    sockaddr_storage target{};
    if (server.ss_family == AF_INET6) {
        target = server; // PASV can only name IPv4 addresses: the server's own is meant
        reinterpret_cast<sockaddr_in6*>(&target)->sin6_port = htons(port);
        return ConnectData(target);
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&target);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(named);
    v4->sin_port = htons(port);
    if (!SameAddress(target, server) && (passiveServerAddress_ || IsUnroutableAddress(target))) {
        // The usual server behind a NAT that names its inside address.
        if (!Log("The server named " + AddressText(target) + " for the data connection; using " +
                 AddressText(server) + ", the server's own address"))
            return false;
        v4->sin_addr = reinterpret_cast<const sockaddr_in*>(&server)->sin_addr;
    }
    return ConnectData(target);
}

bool TMsgFTP::ConnectData(const sockaddr_storage& address) {
    dataAddress_ = AddressText(address);
    if (address.ss_family == AF_INET6) dataAddress_ = "[" + dataAddress_ + "]";
    dataAddress_ += ":" + std::to_string(AddressPort(address));
    data_->OnSessionConnected = [this](TCustomAsyncSocket*, std::uint16_t e) { DataConnected(e); };
    data_->SetAddr(AddressText(address));
    data_->SetPort(std::to_string(AddressPort(address)));
    data_->SetProto("tcp");
    data_->SetLingerOnOff(wsLingerOff);
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t op = operation_;
    try {
        data_->Connect();
    } catch (const std::exception&) {
    }
    if (alive.expired() || op != operation_) return false;
    if (data_->State() == wsConnecting || data_->State() == wsConnected) return true;
    errorMessage_ =
        "Could not open the data connection to " + dataAddress_ + ": " + data_->LastErrorMessage();
    return SetState(pendingState_) && CommandDone(true);
}

void TMsgFTP::DataConnected(std::uint16_t error) {
    if (!transferActive_ || state_ != ftpSendingPort) return;
    if (error != 0) {
        errorMessage_ =
            "Could not open the data connection to " + dataAddress_ + ": " + SocketErrorDesc(error);
        if (SetState(pendingState_)) CommandDone(true);
        return;
    }
    Activity();
    if (SecureData()) SendTransferCommand();
}

void TMsgFTP::OpenLocalFile() {
    auto fail = [this](int err) {
        throw std::system_error(err, std::generic_category(),
                                "Cannot create local file " + localFile_);
    };
    if (localFile_.empty()) fail(ENOENT);
    targetPath_ = localFile_;
    // Through a symbolic link the file it names is replaced, as writing through it would.
    struct stat link {};
    if (::lstat(localFile_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* real = ::realpath(localFile_.c_str(), nullptr)) {
            targetPath_ = real;
            std::free(real);
        }
    }
    struct stat old {};
    bool exists = ::stat(targetPath_.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) fail(EISDIR);
    directFile_ = exists && !S_ISREG(old.st_mode);
    if (directFile_) {
        // A device or a pipe (/dev/null, /dev/stdout) holds no old contents to keep: write
        // into it as it is.
        fileFd_ = ::open(targetPath_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fileFd_ < 0) fail(errno);
        return;
    }

    std::size_t slash = targetPath_.rfind('/');
    std::string dir = slash == std::string::npos ? "" : targetPath_.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? targetPath_ : targetPath_.substr(slash + 1);
    // Hidden, beside the target (so the rename stays on one file system), and short enough
    // for any name the target may have.
    std::string stem = dir + "." + base.substr(0, 180) + ".part-" + std::to_string(::getpid());
    static unsigned serial = 0;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempPath_ = stem + "-" + std::to_string(++serial);
        fd = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) fail(errno);
    }
    if (fd < 0) fail(EEXIST);
    if (exists) {
        // The replacement keeps the old file's owner (where we may set it) and permissions.
        [[maybe_unused]] int owned = ::fchown(fd, old.st_uid, old.st_gid);
        ::fchmod(fd, old.st_mode & 07777);
    }
    fileFd_ = fd;
}

// Closes the download's file: a completed one replaces the target, anything else is removed.
// False when a completed download could not be put in place (ErrorMessage says why).
bool TMsgFTP::FinishLocalFile(bool completed) {
    int fd = fileFd_;
    if (fd < 0) return true;
    fileFd_ = -1;
    int err = 0;
    if (completed && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
    if (directFile_) {
        if (!completed || err == 0 || err == EINVAL) return true; // devices need no fsync
        errorMessage_ = "Could not write local file " + localFile_ + ": " + std::strerror(err);
        return false;
    }
    if (completed && err == 0 && ::rename(tempPath_.c_str(), targetPath_.c_str()) != 0) err = errno;
    if (!completed || err != 0) ::unlink(tempPath_.c_str());
    if (!completed || err == 0) return true;
    errorMessage_ = "Could not write local file " + localFile_ + ": " + std::strerror(err);
    return false;
}

void TMsgFTP::DataSessionAvailable() {
    if (!transferActive_) return;
    int fd = listen_->Accept();
    if (fd < 0) return;
    // Only the server we talk to may connect; from any port, before or after its 150.
    sockaddr_storage peer{}, server{};
    socklen_t len = sizeof peer;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len);
    control_->GetPeerName(server);
    if (!SameAddress(peer, server)) {
        ::close(fd);
        Log("Refused data connection from " + AddressText(peer));
        return;
    }
    Activity();
    data_->SetLingerOnOff(wsLingerOff);
    data_->Dup(fd);
    listen_->Close();
    SecureData();
}

void TMsgFTP::DataAvailable() {
    if (!transferActive_) {
        data_->ReceiveStr(); // nobody wants these bytes
        return;
    }
    Activity();
    std::int64_t n = 0;
    if (mode_ == Mode::File) {
        static thread_local std::vector<char> chunk(kFileReadChunk);
        char* buf = chunk.data();
        n = data_->Receive(buf, kFileReadChunk);
        if (n <= 0) return;
        for (std::int64_t off = 0; off < n;) {
            ssize_t w = ::write(fileFd_, buf + off, std::size_t(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) {
                errorMessage_ =
                    "Could not write local file " + localFile_ + ": " + std::strerror(errno);
                if (Log(errorMessage_)) AbortSession();
                return;
            }
            off += w;
        }
    } else if (mode_ == Mode::String && target_) {
        int waiting = data_->RcvdCount();
        if (waiting <= 0) waiting = 4096; // let the receive report the end of the stream
        // A listing is parsed as it comes: a bounded piece at a time keeps what it holds small.
        if (target_ == &listingBuffer_) waiting = std::min(waiting, kListingChunk);
        std::size_t old = target_->size();
        target_->resize(old + std::size_t(waiting));
        int got = data_->Receive(target_->data() + old, waiting);
        target_->resize(old + std::size_t(got > 0 ? got : 0));
        n = got > 0 ? got : 0;
    } else {
        data_->ReceiveStr(); // a server that sends while we store
        return;
    }
    byteCount_ += n;
    if (target_ == &listingBuffer_ && std::uint64_t(byteCount_) > maxListing_) {
        errorMessage_ =
            "Directory listing too large: more than " + std::to_string(maxListing_) + " bytes";
        if (Log(errorMessage_)) AbortSession();
        return;
    }
    std::uint64_t op = operation_;
    if (!Fire(OnTransferProgress, byteCount_)) return;
    if (op == operation_ && state_ == ftpListing) ParseListing();
}

// Reports the complete lines received so far; false when a receiver ended the listing (or
// this client) from inside a report.
bool TMsgFTP::ParseListing() {
    if (state_ != ftpListing) return true;
    std::uint64_t op = operation_;
    int skipped = listing_.SkippedLines();
    bool goOn = listing_.Parse(listingBuffer_, systemType_, [this, op](const TDirectoryEntry& e) {
        listedLinkTarget_ = e.LinkTarget;
        return Fire(OnDirectoryListing, e.Name, e.Date, e.Size, e.Kind, e.Owner, e.Group,
                    e.Attributes) &&
               op == operation_;
    });
    if (!goOn || listing_.SkippedLines() == skipped) return goOn;
    return Log("Skipped a listing line longer than " + std::to_string(TListingParser::MaxLine) +
               " bytes") &&
           op == operation_;
}

void TMsgFTP::DataClosed() {
    if (!transferActive_) return;
    dataClosed_ = true;
    data_->Close(); // already reported closed: raises nothing
    if (!Log("Transfer session closed")) return;
    if (finalReply_ && state_ >= ftpListing && state_ <= ftpStoring) TransferDone(false);
}

void TMsgFTP::DataSent(std::uint16_t error) {
    if (!transferActive_ || error != 0) return;
    Activity();
    if (state_ == ftpStoring) StoreStep();
}

bool TMsgFTP::StoreStep() {
    if (mode_ != Mode::Store || data_->State() != wsConnected || !storeAccepted_) return true;
    bool fromFile = storeFd_ >= 0;
    auto length = std::int64_t(source_.size());
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t op = operation_;
    // Straight from the caller's buffer (or the block just read), as much as the connection
    // takes now; the rest when it can take more. A bound per step keeps the loop answering on a
    // connection that never fills.
    for (std::int64_t budget = kStoreStep; budget > 0;) {
        if (fromFile && blockPos_ == blockLen_ && !storeEof_ && !ReadStoreBlock()) return false;
        const char* bytes =
            fromFile ? storeBlock_.data() + blockPos_ : source_.data() + (storePos_ - 1);
        std::int64_t chunk = fromFile ? std::int64_t(blockLen_ - blockPos_)
                                      : std::min(kStoreChunk, length - (storePos_ - 1));
        if (chunk <= 0) break;
        int n = data_->SendNow(bytes, int(chunk));
        // A failed send closes the data connection, which may end the command (or this client).
        if (alive.expired() || op != operation_) return false;
        if (n <= 0) break;
        storePos_ += n;
        if (fromFile) blockPos_ += std::size_t(n);
        budget -= n;
        // Over TLS the bytes wait in the queue: the next ones once it has drained.
        if (n < chunk || data_->State() != wsConnected || !data_->AllSent()) break;
    }
    byteCount_ = storePos_ - 1;
    if (!Fire(OnTransferProgress, storePos_) || alive.expired() || op != operation_) return false;
    bool all = fromFile ? storeEof_ && blockPos_ == blockLen_ : storePos_ > length;
    // Closing drops what is still queued: the end waits for it to go.
    if (!all || data_->State() != wsConnected || !data_->AllSent()) return true;
    std::string msg = "Transfer complete, sent " + std::to_string(storePos_ - 1) + " of " +
                      std::to_string(fromFile ? storeExpected_ : length);
    if (!Log(msg)) return false;
    data_->Close(); // may complete the command at once
    return !alive.expired() && op == operation_;
}

// The next block of the file being stored; false when the transfer was ended instead (the file
// could not be read, or its size changed since it was opened).
bool TMsgFTP::ReadStoreBlock() {
    ssize_t n;
    do {
        n = ::read(storeFd_, storeBlock_.data(), storeBlock_.size());
    } while (n < 0 && errno == EINTR);
    std::string problem = n < 0 ? std::strerror(errno) : "";
    blockPos_ = 0;
    blockLen_ = n > 0 ? std::size_t(n) : 0;
    storeEof_ = n == 0;
    std::int64_t total = storePos_ - 1 + std::int64_t(blockLen_);
    if (n >= 0 && (total > storeExpected_ || (storeEof_ && total != storeExpected_)))
        problem = "its size changed while it was sent";
    if (problem.empty()) return true;
    errorMessage_ = "Could not read local file " + storeFile_ + ": " + problem;
    if (Log(errorMessage_)) AbortSession();
    return false;
}

bool TMsgFTP::TransferReply(int code, const std::string& reply) {
    if (code == 125 || code == 150) {
        if (storeAccepted_ || state_ != ftpStoring) return true;
        storeAccepted_ = true;
        return data_->AllSent() ? StoreStep() : true;
    }
    if (code == 226 || code == 250) {
        finalReply_ = true;
        return dataClosed_ ? TransferDone(false) : true;
    }
    errorMessage_ = (state_ == ftpListing ? "Host replied (150, 226): " : "Host replied: ") + reply;
    return CommandDone(true);
}

bool TMsgFTP::TransferDone(bool error) {
    if (state_ == ftpListing && !error) {
        std::uint64_t op = operation_;
        if (!ParseListing()) return false;
        bool goOn = listing_.Finish([this, op](const TDirectoryEntry& e) {
            listedLinkTarget_ = e.LinkTarget;
            return Fire(OnDirectoryListing, e.Name, e.Date, e.Size, e.Kind, e.Owner, e.Group,
                        e.Attributes) &&
                   op == operation_;
        });
        if (!goOn) return false;
    }
    return CommandDone(error);
}

// Called by CommandDone and Abort: whatever ends a transfer closes its file and its
// connections. Raises no event. False when a completed download could not be put in place.
bool TMsgFTP::EndTransfer(bool completed) {
    transferActive_ = false;
    listing_.Reset(); // a listing ended from inside its own report stops reporting
    listingBuffer_.clear();
    bool ok = FinishLocalFile(completed);
    if (listen_->State() != wsClosed) listen_->Close();
    if (data_->State() != wsClosed) data_->Close();
    target_ = nullptr;
    source_ = {};
    CloseStoreFile();
    return ok;
}

} // namespace morvane::net
