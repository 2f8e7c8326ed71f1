#pragma once
// The FTP client: one control connection driven as an event-driven state machine. Operations
// only start a command; outcomes arrive as events. Data connections are passive (EPSV, then
// PASV) or active (PORT, or EPRT over IPv6), as the caller chooses.
// With TLS asked for, the login first secures the control connection (AUTH TLS, PBSZ 0,
// PROT P) and every data connection is secured too, resuming the control connection's session.

#include "core/net/AsyncSocket.h"
#include "core/net/ListingParser.h"
#include "core/net/TlsLayer.h"
#include "core/platform/EventLoop.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::net {

enum TFTPState : std::uint8_t {
    ftpNotConnected,
    ftpResolving,
    ftpConnecting,
    ftpWaitGreeting,
    ftpSendingUser,
    ftpSendingPassword,
    ftpSystemType,
    ftpGettingDir,
    ftpSendingPort,
    ftpListing,
    ftpRetrieving,
    ftpStoring,
    ftpChangingDir,
    ftpSettingType,
    ftpNoop,
    ftpChangingDirUp,
    ftpDeleting,
    ftpRenamingFrom,
    ftpRenamingTo,
    ftpRemovingDir,
    ftpMakingDir,
    ftpSettingUmask,
    ftpCustomCommand,
    ftpSecuring,          // AUTH TLS sent
    ftpTlsHandshake,      // the control connection's TLS handshake runs
    ftpSettingProtection, // PBSZ 0 and PROT P
    ftpReady
};

// "PORT a,b,c,d,h,l" for an IPv4 address (host byte order) and a port.
std::string PortCommand(std::uint32_t address, std::uint16_t port);

// "EPRT |2|address|port|" (or |1| for IPv4), the address written as text.
std::string EprtCommand(const std::string& address, bool ipv6, std::uint16_t port);

// The port of a 229 reply ("(|||port|)", any one delimiter); 0 when it has none.
std::uint16_t ParseEpsvReply(const std::string& reply);
// The address (host byte order) and port of a 227 reply ("(h1,h2,h3,h4,p1,p2)", with or without
// the parentheses); false when it holds no six numbers of 0 to 255.
bool ParsePasvReply(const std::string& reply, std::uint32_t& address, std::uint16_t& port);

// Status line for a state as the remote file browser shows it ("" for states without one).
std::string FTPStatusText(TFTPState state, const std::string& host);

class TMsgFTP;
using TFTPOnConnect = std::function<void(TMsgFTP* Sender, bool Error)>;
using TFTPOnStatusChange = std::function<void(TMsgFTP* Sender, TFTPState NewStatus)>;
using TOnDirectoryListing =
    std::function<void(TMsgFTP* Sender, const std::string& Name, const std::string& Date,
                       std::int64_t Size, std::int32_t Kind, const std::string& Owner,
                       const std::string& Group, const std::string& Attributes)>;
using TFTPCommandDone = std::function<void(TMsgFTP* Sender, TFTPState State, bool Error)>;
using TCustomFTPCommandDone =
    std::function<void(TMsgFTP* Sender, int ReplyCode, const std::string& Response)>;
using TTransferProgress = std::function<void(TMsgFTP* Sender, std::int64_t Progress)>;
using TFTPOnDebug = std::function<void(TMsgFTP* Sender, bool Sent, const std::string& Data)>;
using TFTPClearTextQuestion = std::function<bool(TMsgFTP* Sender)>;
using TFTPCertificateQuestion =
    std::function<bool(TMsgFTP* Sender, const TTlsCertificate& Certificate)>;

class TMsgFTP {
public:
    // Bounds on what a server may make us hold: one reply line, and all unconsumed reply text.
    static constexpr std::size_t MaxReplyLine = 64 * 1024;
    static constexpr std::size_t MaxReplyBuffer = 1024 * 1024;
    // The command log keeps the latest lines only, each cut to a length that a person reads.
    static constexpr std::size_t MaxLogLines = 500;
    static constexpr std::size_t MaxLogLineLength = 4096;
    static constexpr std::size_t DefaultMaxListingSize = std::size_t(256) * 1024 * 1024;
    static constexpr std::chrono::milliseconds DefaultReplyTimeout{60000};

    explicit TMsgFTP(platform::EventLoop& loop);
    ~TMsgFTP();
    TMsgFTP(const TMsgFTP&) = delete;
    TMsgFTP& operator=(const TMsgFTP&) = delete;

    const std::string& Username() const { return username_; }
    void SetUsername(const std::string& v) { username_ = v; }
    const std::string& Password() const { return password_; }
    void SetPassword(const std::string& v) { password_ = v; }
    const std::string& Hostname() const { return hostname_; }
    void SetHostname(const std::string& v) { hostname_ = v; }
    std::int32_t Port() const { return port_; }
    void SetPort(std::int32_t v) { port_ = v; }
    // How long a command (the login included) may go without a word from the server, on the
    // control or the data connection, before the session is given up; zero waits for ever.
    // New clients take the process-wide default.
    std::chrono::milliseconds ReplyTimeout() const { return replyTimeout_; }
    void SetReplyTimeout(std::chrono::milliseconds v);
    static std::chrono::milliseconds DefaultTimeout();
    static void SetDefaultTimeout(std::chrono::milliseconds v);
    // Passive: the client opens the data connections (EPSV, or PASV once the server refused
    // EPSV in this session). Otherwise the server connects back (PORT, EPRT over IPv6).
    bool Passive() const { return passive_; }
    void SetPassive(bool v) { passive_ = v; }
    // PASV names an address: a private or unroutable one that is not the server's own is always
    // replaced by the server's address; with this set every address it names is.
    bool PassiveUsesServerAddress() const { return passiveServerAddress_; }
    void SetPassiveUsesServerAddress(bool v) { passiveServerAddress_ = v; }
    // The address the control connection reached ("" before it connects).
    const std::string& ConnectedAddress() const { return connectedAddress_; }
    // The most bytes one directory listing may have; a longer listing fails.
    std::size_t MaxListingSize() const { return maxListing_; }
    void SetMaxListingSize(std::size_t v) { maxListing_ = v; }
    TTlsMode TlsMode() const { return tlsMode_; }
    void SetTlsMode(TTlsMode v) { tlsMode_ = v; }
    // A PEM file of certificates trusted besides the system's store ("" for none).
    const std::string& TlsCaFile() const { return tlsCaFile_; }
    void SetTlsCaFile(const std::string& v) { tlsCaFile_ = v; }

    TFTPOnConnect OnConnect;
    TFTPOnStatusChange OnStatusChange;
    TOnDirectoryListing OnDirectoryListing;
    TFTPCommandDone OnFTPCommandDone;
    TCustomFTPCommandDone OnCustomFTPCommandDone;
    TTransferProgress OnTransferProgress;
    TFTPOnDebug OnDebug;
    // Asked from the loop during the login, before the user name is sent; the reply timeout
    // stands still while they are open. An empty handler answers no.
    // A server without TLS under TTlsMode::Try: true goes on in clear text.
    TFTPClearTextQuestion OnClearTextQuestion;
    // A certificate that did not verify (its Problem says why): true connects all the same.
    TFTPCertificateQuestion OnCertificateQuestion;

    // Inside OnDirectoryListing: where the reported symbolic link points ("" for other entries).
    const std::string& ListedLinkTarget() const { return listedLinkTarget_; }
    bool Connected() const { return connected_; }
    bool Busy() const { return busy_; }
    bool Aborted() const { return aborted_; }
    // The session was ended because the server stopped answering (see ReplyTimeout).
    bool TimedOut() const { return timedOut_; }
    const std::string& ErrorMessage() const { return errorMessage_; }
    const std::string& CurrentDirectory() const { return currentDirectory_; }
    std::uint8_t SystemType() const { return systemType_; }
    bool UnixPaths() const { return unixPaths_; }
    char PathSeparator() const { return pathSeparator_; }
    TFTPState State() const { return state_; }
    std::int64_t ByteCount() const { return byteCount_; }
    const std::deque<std::string>& CommandLog() const { return commandLog_; }
    // The control connection is in TLS; the data connections too when DataProtected.
    bool Secure() const { return secure_; }
    bool DataProtected() const { return dataProtected_; }
    // The certificate of the secured control connection.
    const TTlsCertificate& ServerCertificate() const { return serverCert_; }
    // Bytes received and held until their reply or listing line completes.
    std::size_t HeldBytes() const {
        return replyBuffer_.size() - replyPos_ + listingBuffer_.size();
    }

    void Connect();
    void Disconnect();
    void Abort();
    void ChangeDir(const std::string& path);
    void ChangeDirUp();
    void SetTransferType(const std::string& type);
    void Noop();
    void DeleteFile(const std::string& name);
    void RemoveDir(const std::string& name);
    void MakeDir(const std::string& name);
    void RenameFile(const std::string& oldName, const std::string& newName);
    void SetUmask(int value);
    void SendCommand(const std::string& text);
    void ListDirectory();
    // text is cleared now and grows by every byte received; the caller keeps it alive.
    void RetrieveToString(const std::string& name, std::string& text);
    // Writes to a new file beside localFile that replaces it only once the transfer has
    // completed, so a failed download leaves an existing file as it was. Throws
    // std::system_error when that file cannot be created.
    void RetrieveToFile(const std::string& name, const std::string& localFile);
    // Stores every byte of buffer (NUL bytes included); the caller keeps it alive until done.
    void StoreFromBuffer(const std::string& name, std::string_view buffer);
    // Stores a local file's bytes as they are read, a block at a time, so that reading the file
    // and sending it go on together. Throws std::system_error when it cannot be opened; a file
    // that cannot be read to the end, or whose size changes meanwhile, fails the transfer.
    void StoreFromFile(const std::string& name, const std::string& localFile);

    TAsyncSocket& ControlSocket() { return *control_; }
    TAsyncSocket& ListenSocket() { return *listen_; }
    TAsyncSocket& DataSocket() { return *data_; }

private:
    enum class Mode { String, File, Store };

    // Every outgoing event may destroy this client (a handler that deletes it): each step that
    // can raise one returns whether to go on, false when the client is gone or the work was
    // taken over, and its caller then returns at once without touching a member.
    template <class Event, class... Args> bool Fire(const Event& event, Args&&... args) {
        if (!event) return true;
        std::weak_ptr<bool> alive = alive_;
        Event handler = event; // the member goes with the client while the handler runs
        handler(this, std::forward<Args>(args)...);
        return !alive.expired();
    }

    bool SetState(TFTPState s);
    bool Log(const std::string& line);
    void AddLog(const char* direction, const std::string& line);
    void Activity();
    void ArmTimer(std::chrono::milliseconds wait);
    void CancelTimer();
    void TimerFired();
    bool Waiting() const;
    bool SendLine(const std::string& line);
    bool SendAndEnter(const std::string& line, TFTPState next);
    bool StartCommand(TFTPState state, const std::string& line);
    void FailLater(TFTPState state, const std::string& message);
    bool CommandDone(bool error);
    bool AbortSession();

    void ControlDnsDone(std::uint16_t error);
    bool ConnectNext();
    bool RetryNextAddress(const std::string& why);
    void ControlConnected(std::uint16_t error);
    void ControlClosed(std::uint16_t error);
    void ControlData(std::uint16_t error);
    bool CheckReplyBounds(std::size_t oldSize);
    bool ExtractReply(std::string& reply);
    bool HandleReply(const std::string& reply);
    bool LoginFailed();
    bool Check(int code, int wanted, const char* text, const std::string& reply);

    bool SendUser();
    bool SecurityReply(int code, const std::string& reply);
    bool WithoutTls(const std::string& reply);
    void ControlTlsDone(const std::string& error);
    bool Protect();
    void Ask(std::function<bool()> question, std::function<void(bool)> then);
    bool SecureData();
    void DataTlsDone(const std::string& error);
    bool SecureHeldData();

    void StartTransfer(TFTPState pending, const std::string& name, Mode mode);
    bool StartActive();
    bool DataSetupReply(int code, const std::string& reply);
    bool PassiveReply(int code, const std::string& reply);
    bool ConnectData(const sockaddr_storage& address);
    void DataConnected(std::uint16_t error);
    bool SendTransferCommand();
    void OpenLocalFile();
    bool FinishLocalFile(bool completed);
    bool TransferReply(int code, const std::string& reply);
    bool TransferDone(bool error);
    bool EndTransfer(bool completed);
    void DataSessionAvailable();
    void DataAvailable();
    void DataClosed();
    void DataSent(std::uint16_t error);
    bool StoreStep();
    bool ReadStoreBlock();
    void CloseStoreFile();
    bool ParseListing();

    platform::EventLoop& loop_;
    std::shared_ptr<bool> alive_;
    std::unique_ptr<TAsyncSocket> control_;
    std::unique_ptr<TAsyncSocket> listen_;
    std::unique_ptr<TAsyncSocket> data_;

    std::string username_, password_, hostname_;
    std::int32_t port_ = 21;
    bool connected_ = false;
    bool busy_ = false;
    bool aborted_ = false;
    bool timedOut_ = false;
    bool aborting_ = false;
    bool disconnecting_ = false; // our own Disconnect is closing the control connection
    bool loginComplete_ = false;
    bool passive_ = false;
    bool passiveServerAddress_ = false;
    bool epsvRefused_ = false; // for this session: PASV from now on
    enum class DataSetup { Port, Epsv, Pasv } dataSetup_ = DataSetup::Port;
    std::vector<std::string> addresses_; // the host's addresses still to try, in order
    std::size_t nextAddress_ = 0;
    bool retrying_ = false; // a failed address is being closed before the next one is tried
    std::string connectingAddress_, connectedAddress_, dataAddress_;
    std::string errorMessage_;
    std::string currentDirectory_;
    std::uint8_t systemType_ = 0;
    bool unixPaths_ = false;
    char pathSeparator_ = '/';
    TFTPState state_ = ftpNotConnected;
    std::int64_t byteCount_ = 0;
    std::deque<std::string> commandLog_;
    std::chrono::milliseconds replyTimeout_;
    std::size_t maxListing_ = DefaultMaxListingSize;
    std::chrono::steady_clock::time_point lastActivity_;
    platform::TimerId timer_ = 0;
    bool timerArmed_ = false;
    bool answered_ = false;       // the running command has had the reply it waited for
    std::uint64_t session_ = 0;   // changes with every Connect and every loss of the connection
    std::uint64_t operation_ = 0; // changes with every command start and completion

    std::string replyBuffer_;
    std::size_t replyPos_ = 0;  // replies before this offset are consumed
    std::size_t replyScan_ = 0; // a multi-line reply's end is not before this offset
    std::string listingBuffer_;
    TListingParser listing_;
    std::string listedLinkTarget_;

    TFTPState pendingState_ = ftpReady;
    bool transferActive_ = false;
    bool dataClosed_ = false;
    bool finalReply_ = false;
    // STOR's bytes go once the server has accepted it: at once in active mode (it connects only
    // then), after its 125/150 in passive mode, so that a refused upload has sent nothing.
    bool storeAccepted_ = true;
    std::string transferName_;
    std::string renameTarget_;
    Mode mode_ = Mode::String;
    std::string* target_ = nullptr;
    std::string_view source_;
    std::int64_t storePos_ = 1; // 1-based position of the next byte to send
    std::string localFile_;     // the target as the caller named it
    std::string targetPath_;    // the file that the download replaces (a link's target)
    std::string tempPath_;      // where the download is written until it completes
    bool directFile_ = false;   // the target is a device or a pipe, written into as it is
    int fileFd_ = -1;
    // An upload from a local file: what it is read into, one block at a time.
    int storeFd_ = -1;
    std::string storeFile_;
    std::int64_t storeExpected_ = 0;
    std::vector<char> storeBlock_;
    std::size_t blockPos_ = 0, blockLen_ = 0;
    bool storeEof_ = false;

    TTlsMode tlsMode_ = TTlsMode::Plain;
    std::string tlsCaFile_;
    std::shared_ptr<TTlsContext> tlsContext_;
    bool secure_ = false;
    bool dataProtected_ = false;
    bool protSent_ = false;    // PROT P is the command under way, not PBSZ
    bool dataTlsHeld_ = false; // the data connection waits for the transfer command
    TTlsCertificate serverCert_;
};

} // namespace morvane::net
