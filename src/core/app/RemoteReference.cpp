#include "core/app/RemoteReference.h"

#include "core/platform/Paths.h"

#include "core/net/Account.h"

namespace morvane::app {

namespace {

constexpr std::size_t kPrefixLength = 10; // "MORVANE://"

std::string incorrect(const std::string& text) {
    return "Incorrect format for file: " + text + ".";
}

} // namespace

bool IsRemoteReference(const std::string& text) {
    return platform::isRemoteReference(text);
}

TReferenceParse ParseRemoteReference(const std::string& text, platform::Registry& registry) {
    TReferenceParse r;
    if (!IsRemoteReference(text)) {
        r.error = incorrect(text);
        return r;
    }
    // A line break would end the command that carries the name to the server.
    if (text.find_first_of("\r\n", kPrefixLength) != std::string::npos) {
        r.error = incorrect(text);
        return r;
    }
    std::string rest = text.substr(kPrefixLength);
    std::size_t colon = rest.find(':');
    if (colon == std::string::npos || colon == 0) {
        r.error = incorrect(rest);
        return r;
    }
    r.reference.account = rest.substr(0, colon);
    rest.erase(0, colon + 1);

    net::TAccount account;
    if (!net::LoadAccount(registry, r.reference.account, account, &r.error)) return r;

    std::string& directory = r.reference.directory;
    directory = account.Directory;
    if (std::size_t last = rest.rfind('/'); last != std::string::npos) {
        std::string path = rest.substr(0, last);
        if (rest.front() == '/')
            directory = path;
        else if (directory.empty())
            directory = path; // no home-relative directory known: stays relative
        else
            directory += (directory.back() == '/' ? "" : "/") + path;
        rest.erase(0, last + 1);
    }
    // A reference that names a folder, not a file, cannot be opened as a document.
    if (rest.empty()) {
        r.error = incorrect(text);
        return r;
    }
    r.reference.fileName = rest;
    r.ok = true;
    return r;
}

} // namespace morvane::app
