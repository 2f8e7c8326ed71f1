#include "core/app/RemoteReference.h"

#include "core/platform/Paths.h"

#include "core/net/Account.h"

#include <vector>

namespace morvane::app {

namespace {

constexpr std::size_t kPrefixLength = 10; // "MORVANE://"

// Longer names are no file a server keeps; they would only fill menus and message boxes.
constexpr std::size_t kMaxReference = 4096;
constexpr std::size_t kMaxFileName = 255;

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
    if (text.size() > kMaxReference) {
        r.error = "The file reference is too long.";
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
            directory = path.empty() ? "/" : path; // empty would mean the home folder
        else if (directory.empty())
            directory = path; // no home-relative directory known: stays relative
        else
            directory += (directory.back() == '/' ? "" : "/") + path;
        rest.erase(0, last + 1);
    }
    // A reference that names a folder, not a file, cannot be opened as a document.
    if (rest.empty() || rest == "." || rest == "..") {
        r.error = incorrect(text);
        return r;
    }
    if (rest.size() > kMaxFileName) {
        r.error = "The file name in the reference is too long.";
        return r;
    }
    r.reference.fileName = rest;
    r.ok = true;
    return r;
}

} // namespace morvane::app

namespace morvane::app {

std::string RemoteFileKey(const std::string& home, const std::string& directory,
                          const std::string& fileName) {
    std::string path;
    if (!directory.empty() && directory.front() == '/')
        path = directory;
    else if (!home.empty())
        path = home + "/" + directory;
    else
        path = "~/" + directory;
    path += "/" + fileName;
    std::vector<std::string> parts;
    std::size_t start = 0;
    bool fromHome = path.front() == '~';
    if (fromHome) start = 2;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (fromHome)
                parts.push_back(part); // above an unknown home: kept as it is
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string key = fromHome ? "~" : "";
    for (const auto& part : parts)
        key += "/" + part;
    return key.empty() ? "/" : key;
}

} // namespace morvane::app
