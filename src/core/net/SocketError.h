#pragma once
// Error numbers and texts of the socket layer. Errors keep the Winsock numbers (10035, 10054,
// 10061, ...) so that every check and message of the sockets and their users reads the same on
// every platform; errno values are mapped to them at the system-call boundary.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace morvane::net {

class ESocketException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace wsa {
constexpr int EINTR_ = 10004;
constexpr int EBADF_ = 10009;
constexpr int EACCES_ = 10013;
constexpr int EINVAL_ = 10022;
constexpr int EWOULDBLOCK_ = 10035;
constexpr int ENOTSOCK_ = 10038;
constexpr int ECONNRESET_ = 10054;
constexpr int ENOTCONN_ = 10057;
constexpr int ECONNREFUSED_ = 10061;
constexpr int HOST_NOT_FOUND_ = 11001;
constexpr int TRY_AGAIN_ = 11002;
constexpr int NO_RECOVERY_ = 11003;
constexpr int NO_DATA_ = 11004;
} // namespace wsa

// Description of a Winsock error number; "Not a WinSock error" for anything else.
std::string SocketErrorDesc(int code);

// errno -> Winsock number (0 stays 0; unknown values are returned unchanged).
int WinsockFromErrno(int err);

// getaddrinfo() result -> Winsock number.
int WinsockFromGai(int gaiError);

} // namespace morvane::net
