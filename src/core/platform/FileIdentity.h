#pragma once
// What tells whether a file on disk is still the one a document read or wrote, without reading
// it: the file its name leads to (device and inode, so a file replaced under the same name
// differs), its size and its modification time.

#include <cstdint>
#include <string>

namespace morvane::platform {

struct FileIdentity {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modifiedNs = 0; // nanoseconds since the epoch
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file path names now, symbolic links followed; exists is false when
// nothing is there.
FileIdentity fileIdentity(const std::string& path);

} // namespace morvane::platform
