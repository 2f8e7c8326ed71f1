#include "app/RemoteReference.h"

#include "net/Account.h"

#include <cctype>

namespace morvane::app {

namespace {
constexpr std::size_t kPrefixLength = 10; // "MORVANE://"

std::string IncorrectFormat(const std::string& text) {
    return "Incorrect format for file: " + text + ".";
}
} // namespace

bool IsRemoteReference(const std::string& text) {
    static const char prefix[] = "MORVANE://";
    if (text.size() < kPrefixLength) return false;
    for (std::size_t i = 0; i < kPrefixLength; ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

TRemoteReference ParseRemoteReference(const std::string& text, platform::Registry& registry) {
    TRemoteReference r;
    if (!IsRemoteReference(text)) {
        r.error = IncorrectFormat(text);
        return r;
    }
    std::string rest = text.substr(kPrefixLength);
    std::size_t colon = rest.find(':');
    if (colon == std::string::npos || colon == 0) {
        r.error = IncorrectFormat(rest);
        return r;
    }
    r.account = rest.substr(0, colon);
    rest.erase(0, colon + 1);
    net::TAccount account;
    if (!net::LoadAccount(registry, r.account, account, &r.error)) {
        if (r.error.empty()) r.error = "Cannot find the specified account.";
        return r;
    }
    r.directory = account.Directory;
    std::size_t slash = rest.rfind('/');
    if (slash != std::string::npos) {
        std::string path = rest.substr(0, slash);
        if (rest[0] == '/')
            r.directory = path;
        else if (account.Directory.empty())
            r.directory = path; // relative to the home directory, as written
        else
            r.directory = account.Directory + "/" + path;
        rest.erase(0, slash + 1);
    }
    r.fileName = rest;
    if (r.fileName.empty()) {
        r.error = IncorrectFormat(text);
        return r;
    }
    r.ok = true;
    return r;
}

} // namespace morvane::app
