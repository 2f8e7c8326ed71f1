#include "core/net/TlsLayer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace morvane::net {

namespace {

std::string BioText(BIO* bio) {
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string text(data ? data : "", std::size_t(n > 0 ? n : 0));
    BIO_free(bio);
    return text;
}

std::string NameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    return BioText(bio);
}

std::string TimeText(const ASN1_TIME* time) {
    BIO* bio = BIO_new(BIO_s_mem());
    ASN1_TIME_print(bio, time);
    return BioText(bio);
}

// The first queued OpenSSL reason, or the fallback.
std::string QueuedReason(const char* fallback) {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return fallback;
    const char* reason = ERR_reason_error_string(code);
    if (reason) return reason;
    char buf[256];
    ERR_error_string_n(code, buf, sizeof buf);
    return buf;
}

int NewSession(SSL* ssl, SSL_SESSION* session) {
    auto* context = static_cast<TTlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (!context) return 0;
    context->KeepSession(session);
    return 1; // the reference is ours now
}

bool IsAddress(const std::string& host) {
    in_addr v4{};
    in6_addr v6{};
    return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

} // namespace

std::string NormalizeFingerprint(const std::string& text) {
    std::string s = text;
    for (const char* prefix : {"sha256//", "SHA256:", "sha256:", "SHA256//"})
        if (s.rfind(prefix, 0) == 0) s = s.substr(std::strlen(prefix));
    std::string hex;
    for (char c : s) {
        if (c == ':' || c == ' ' || c == '-') continue;
        if (c >= 'a' && c <= 'f') c = char(c - 'a' + 'A');
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return {};
        hex += c;
    }
    return hex.size() == 64 ? hex : std::string();
}

std::shared_ptr<TTlsContext> TTlsContext::Create(const std::string& caFile, std::string& error) {
    std::shared_ptr<TTlsContext> context(new TTlsContext);
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        error = "Could not set up TLS: " + QueuedReason("out of memory");
        return nullptr;
    }
    context->ctx_ = ctx;
    // Data connections must resume the control connection's session. TLS 1.3 tickets are
    // single-use on some servers, and a ticket that came on an upload's data connection may not
    // have been read before the next transfer; a TLS 1.2 session resumes any number of times.
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    // The handshake completes whatever the certificate; the client then decides, and may ask
    // the user, from the verification's result.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_default_verify_paths(ctx);
    if (!caFile.empty() && SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) != 1) {
        error =
            "Could not read the certificates of " + caFile + ": " + QueuedReason("not a PEM file");
        return nullptr;
    }
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Servers that close data connections without the alert are common; the FTP reply says
    // whether the transfer was complete.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_set_app_data(ctx, context.get());
    SSL_CTX_sess_set_new_cb(ctx, NewSession);
    return context;
}

TTlsContext::~TTlsContext() {
    ForgetSession();
    if (ctx_) SSL_CTX_free(ctx_);
}

void TTlsContext::KeepSession(ssl_session_st* session) {
    ForgetSession();
    session_ = session;
}

void TTlsContext::ForgetSession() {
    if (session_) SSL_SESSION_free(session_);
    session_ = nullptr;
}

TTlsLayer::TTlsLayer(std::shared_ptr<TTlsContext> context, int fd, const std::string& hostName,
                     bool resume)
    : context_(std::move(context)) {
    ssl_ = SSL_new(context_->Handle());
    if (!ssl_) {
        error_ = "Could not set up TLS: " + QueuedReason("out of memory");
        return;
    }
    SSL_set_fd(ssl_, fd);
    SSL_set_connect_state(ssl_);
    if (IsAddress(hostName)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), hostName.c_str());
    } else if (!hostName.empty()) {
        SSL_set_tlsext_host_name(ssl_, hostName.c_str());
        SSL_set1_host(ssl_, hostName.c_str());
    }
    if (resume && context_->Session()) SSL_set_session(ssl_, context_->Session());
}

TTlsLayer::~TTlsLayer() {
    if (ssl_) SSL_free(ssl_);
}

TTlsLayer::Status TTlsLayer::Outcome(int rc, const char* what) {
    int err = SSL_get_error(ssl_, rc);
    switch (err) {
    case SSL_ERROR_WANT_READ:
        return Status::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return Status::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        ERR_clear_error();
        return Status::Closed;
    case SSL_ERROR_SYSCALL: {
        int saved = errno;
        std::string reason = QueuedReason("");
        if (reason.empty())
            reason = saved == 0 ? "the connection was closed" : std::strerror(saved);
        error_ = std::string(what) + ": " + reason;
        return saved == 0 && reason == "the connection was closed" ? Status::Closed
                                                                   : Status::Failed;
    }
    default:
        error_ = std::string(what) + ": " + QueuedReason("protocol error");
        return Status::Failed;
    }
}

TTlsLayer::Status TTlsLayer::Handshake() {
    if (!ssl_) return Status::Failed;
    ERR_clear_error();
    int rc = SSL_do_handshake(ssl_);
    if (rc == 1) return Status::Done;
    Status s = Outcome(rc, "TLS negotiation failed");
    if (s == Status::Closed) {
        error_ = "TLS negotiation failed: the server closed the connection";
        return Status::Failed;
    }
    return s;
}

int TTlsLayer::Read(char* buffer, int size, Status& status) {
    if (!ssl_) {
        status = Status::Failed;
        return 0;
    }
    ERR_clear_error();
    int n = SSL_read(ssl_, buffer, size);
    if (n > 0) {
        status = Status::Done;
        return n;
    }
    status = Outcome(n, "TLS read failed");
    return 0;
}

int TTlsLayer::Write(const char* data, int size, Status& status) {
    if (!ssl_) {
        status = Status::Failed;
        return 0;
    }
    // A write that had to wait is repeated with the same length; the bytes are the same ones,
    // still at the front of the send queue.
    if (retryLength_ > 0 && size >= retryLength_) size = retryLength_;
    ERR_clear_error();
    int n = SSL_write(ssl_, data, size);
    if (n > 0) {
        retryLength_ = 0;
        status = Status::Done;
        return n;
    }
    status = Outcome(n, "TLS write failed");
    if (status == Status::WantRead || status == Status::WantWrite) retryLength_ = size;
    return 0;
}

void TTlsLayer::Shutdown() {
    if (!ssl_ || !SSL_is_init_finished(ssl_)) return;
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

TTlsCertificate TTlsLayer::PeerCertificate() const {
    TTlsCertificate info;
    X509* cert = ssl_ ? SSL_get1_peer_certificate(ssl_) : nullptr;
    if (!cert) {
        info.Problem = "the server sent no certificate";
        return info;
    }
    info.Subject = NameText(X509_get_subject_name(cert));
    info.Issuer = NameText(X509_get_issuer_name(cert));
    info.NotBefore = TimeText(X509_get0_notBefore(cert));
    info.NotAfter = TimeText(X509_get0_notAfter(cert));
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (X509_digest(cert, EVP_sha256(), md, &len) == 1) {
        static const char kHex[] = "0123456789ABCDEF";
        for (unsigned i = 0; i < len; ++i) {
            if (i) info.Fingerprint += ':';
            info.Fingerprint += kHex[md[i] >> 4];
            info.Fingerprint += kHex[md[i] & 15];
        }
    }
    X509_free(cert);
    long result = SSL_get_verify_result(ssl_);
    if (result != X509_V_OK) info.Problem = X509_verify_cert_error_string(result);
    return info;
}

bool TTlsLayer::Resumed() const {
    return ssl_ && SSL_session_reused(ssl_) == 1;
}

std::string TTlsLayer::Version() const {
    return ssl_ ? SSL_get_version(ssl_) : "";
}

} // namespace morvane::net
