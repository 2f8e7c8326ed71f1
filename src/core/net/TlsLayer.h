#pragma once
// Client-side TLS over a connected non-blocking socket. The socket owns one TTlsLayer while its
// session is secured; every call returns at once and says what the layer waits for (readable or
// writable), so the event loop drives the handshake and the transfers as it drives plain bytes.
// The control and data connections of one FTP session share a TTlsContext: its settings and the
// latest session, which the data connections resume (servers may insist on that).

#include <cstdint>
#include <memory>
#include <string>

struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;

namespace morvane::net {

// How a login uses TLS: never; when the server offers it (otherwise only with the user's
// consent, asked before the user name goes out); or always (no TLS, no login).
enum class TTlsMode : std::uint8_t { Plain = 0, Try = 1, Require = 2 };

// What a certificate says about itself, for the user who decides whether to trust it.
struct TTlsCertificate {
    std::string Subject;
    std::string Issuer;
    std::string NotBefore;
    std::string NotAfter;
    std::string Fingerprint; // SHA-256, "AB:CD:..." upper-case hex
    std::string Problem;     // why it did not verify ("" when it did)
};

// "ab:cd", "ABCD", "sha256//ab cd" and the like, as upper-case hex without separators; "" when
// the text is not a SHA-256 fingerprint.
std::string NormalizeFingerprint(const std::string& text);

class TTlsContext {
public:
    // The system's trust store, plus caFile when it is not empty (a file of PEM certificates).
    // Null with error set when OpenSSL cannot make one.
    static std::shared_ptr<TTlsContext> Create(const std::string& caFile, std::string& error);
    ~TTlsContext();
    TTlsContext(const TTlsContext&) = delete;
    TTlsContext& operator=(const TTlsContext&) = delete;

    ssl_ctx_st* Handle() const { return ctx_; }
    // The newest session the server gave on any connection of this context (null before one).
    ssl_session_st* Session() const { return session_; }
    void KeepSession(ssl_session_st* session); // takes the reference
    void ForgetSession();

private:
    TTlsContext() = default;
    ssl_ctx_st* ctx_ = nullptr;
    ssl_session_st* session_ = nullptr;
};

class TTlsLayer {
public:
    enum class Status { Done, WantRead, WantWrite, Closed, Failed };

    // hostName is checked against the certificate (an address is checked as an address) and
    // sent as the server name. resume offers the context's latest session.
    TTlsLayer(std::shared_ptr<TTlsContext> context, int fd, const std::string& hostName,
              bool resume);
    ~TTlsLayer();
    TTlsLayer(const TTlsLayer&) = delete;
    TTlsLayer& operator=(const TTlsLayer&) = delete;

    Status Handshake();
    // Bytes moved (> 0), or 0 with the status saying why none were.
    int Read(char* buffer, int size, Status& status);
    int Write(const char* data, int size, Status& status);
    // Sends the close alert if it can without waiting.
    void Shutdown();

    // Why the last call failed, as a sentence for the user.
    const std::string& Error() const { return error_; }
    // After the handshake: the server's certificate and whether it verified for the host name.
    TTlsCertificate PeerCertificate() const;
    bool Resumed() const;
    std::string Version() const;

private:
    Status Outcome(int rc, const char* what);

    std::shared_ptr<TTlsContext> context_;
    ssl_st* ssl_ = nullptr;
    int retryLength_ = 0; // a write that must be repeated with the same length
    std::string error_;
};

} // namespace morvane::net
