#include "core/platform/FileIdentity.h"

#include <sys/stat.h>

namespace morvane::platform {

FileIdentity fileIdentity(const std::string& path) {
    FileIdentity id;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return id;
    id.exists = true;
    id.device = std::uint64_t(st.st_dev);
    id.inode = std::uint64_t(st.st_ino);
    id.size = std::int64_t(st.st_size);
    id.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

} // namespace morvane::platform
