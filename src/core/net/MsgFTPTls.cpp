// Explicit TLS for the FTP client: AUTH TLS before the login, the certificate check and its
// question, PBSZ/PROT, and the TLS handshake of each data connection.
#include "core/net/MsgFTP.h"

namespace morvane::net {

bool TMsgFTP::SendUser() {
    return SendAndEnter("USER " + username_, ftpSendingUser);
}

// Runs the question from the loop (never inside a socket's handler), with the reply timeout
// standing still, and goes on with the answer unless the session ended meanwhile.
void TMsgFTP::Ask(std::function<bool()> question, std::function<void(bool)> then) {
    answered_ = true; // the user is awaited, not the server
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t session = session_;
    loop_.post([this, alive, session, question = std::move(question), then = std::move(then)] {
        if (alive.expired() || session != session_) return;
        bool yes = question();
        if (alive.expired() || session != session_ || !connected_) return;
        answered_ = false;
        Activity();
        then(yes);
    });
}

bool TMsgFTP::SecurityReply(int code, const std::string& reply) {
    // Nothing readable arrives during the handshake; nothing more is wanted once a question
    // is open or the login has failed.
    if (state_ == ftpTlsHandshake || answered_) return true;
    if (state_ == ftpSecuring) {
        if (code != 234) return WithoutTls(reply);
        // Whatever followed the reply came in clear text where only TLS may come: it could
        // be anyone's, so the session is not trusted with the login.
        if (replyPos_ < replyBuffer_.size()) {
            errorMessage_ = "The server sent plain text after agreeing to TLS; the login was not "
                            "sent.";
            return Log(errorMessage_) && LoginFailed();
        }
        std::string error;
        tlsContext_ = TTlsContext::Create(tlsCaFile_, error);
        if (!tlsContext_) {
            errorMessage_ = error;
            return LoginFailed();
        }
        if (!SetState(ftpTlsHandshake)) return false;
        std::weak_ptr<bool> alive = alive_;
        std::uint64_t session = session_;
        control_->StartTls(tlsContext_, hostname_, false,
                           [this, alive, session](const std::string& e) {
                               if (!alive.expired() && session == session_) ControlTlsDone(e);
                           });
        return false; // the bytes that follow belong to TLS
    }
    // ftpSettingProtection
    if (code == 200 && !protSent_) {
        protSent_ = true;
        return SendLine("PROT P");
    }
    if (code == 200) {
        dataProtected_ = true;
        return SendUser();
    }
    if (tlsMode_ == TTlsMode::Require) {
        errorMessage_ = "The server refused to protect the data connections: " + reply;
        return LoginFailed();
    }
    // The login is protected all the same; the data goes in clear text.
    return Log("Data connections stay in clear text") && SendUser();
}

// The server refused AUTH TLS.
bool TMsgFTP::WithoutTls(const std::string& reply) {
    if (tlsMode_ == TTlsMode::Require) {
        errorMessage_ = "The server does not offer TLS (" + reply +
                        "); the login was not sent because this connection requires TLS.";
        return LoginFailed();
    }
    std::weak_ptr<bool> alive = alive_;
    Ask(
        [this] {
            TFTPClearTextQuestion handler = OnClearTextQuestion;
            return handler && handler(this);
        },
        [this, reply](bool yes) {
            if (yes) {
                SendUser();
                return;
            }
            errorMessage_ = "The server does not offer TLS (" + reply +
                            "); the login was cancelled so that the password is not sent in "
                            "clear text.";
            LoginFailed();
        });
    return true;
}

void TMsgFTP::ControlTlsDone(const std::string& error) {
    if (state_ != ftpTlsHandshake) return;
    if (!error.empty()) {
        errorMessage_ = error + "; the login was not sent.";
        if (Log(errorMessage_)) LoginFailed();
        return;
    }
    TTlsLayer* tls = control_->Tls();
    if (!tls) return;
    secure_ = true;
    serverCert_ = tls->PeerCertificate();
    if (!Log("TLS session " + tls->Version() + ", certificate " + serverCert_.Fingerprint)) return;
    if (serverCert_.Problem.empty()) {
        Protect();
        return;
    }
    Ask(
        [this] {
            TFTPCertificateQuestion handler = OnCertificateQuestion;
            TTlsCertificate cert = serverCert_;
            return handler && handler(this, cert);
        },
        [this](bool yes) {
            if (yes) {
                Protect();
                return;
            }
            errorMessage_ = "The server's certificate was not accepted (" + serverCert_.Problem +
                            "); the login was not sent.";
            LoginFailed();
        });
}

bool TMsgFTP::Protect() {
    protSent_ = false;
    return SetState(ftpSettingProtection) && SendLine("PBSZ 0");
}

// Called once a data connection is connected: under PROT P it becomes a TLS client resuming
// the control connection's session. False when the client is gone.
bool TMsgFTP::SecureData() {
    dataTlsHeld_ = false;
    if (!dataProtected_ || !tlsContext_) return true;
    // A server that connects before its reply to PORT (pyftpdlib) drops the connection when the
    // handshake comes before the transfer command: it starts once the command is sent.
    if (state_ == ftpSendingPort) {
        dataTlsHeld_ = true;
        return true;
    }
    std::weak_ptr<bool> alive = alive_;
    std::uint64_t op = operation_;
    data_->StartTls(tlsContext_, hostname_, true, [this, alive, op](const std::string& e) {
        if (!alive.expired() && op == operation_) DataTlsDone(e);
    });
    return true;
}

bool TMsgFTP::SecureHeldData() {
    if (!dataTlsHeld_) return true;
    dataTlsHeld_ = false;
    return data_->State() != wsConnected || SecureData();
}

void TMsgFTP::DataTlsDone(const std::string& error) {
    if (!transferActive_) return;
    std::string problem = error;
    if (problem.empty()) {
        TTlsLayer* tls = data_->Tls();
        if (!tls) return;
        // The certificate the login accepted, and no other, may serve the data.
        std::string print = tls->PeerCertificate().Fingerprint;
        if (print != serverCert_.Fingerprint)
            problem = "the data connection presented another certificate (" + print + ")";
        else if (!Log(tls->Resumed() ? "Data connection secured (TLS session resumed)"
                                     : "Data connection secured"))
            return;
    }
    if (problem.empty()) return;
    errorMessage_ = "Could not secure the data connection: " + problem;
    if (Log(errorMessage_)) CommandDone(true);
}

} // namespace morvane::net
