#include "core/platform/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::platform {

namespace {
bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}
} // namespace

bool replaceFileAtomically(const std::filesystem::path& path,
                           const std::vector<std::string_view>& pieces, unsigned mode,
                           std::string& error) {
    return replaceFileAtomically(
        path, mode,
        [&pieces](const PieceSink& sink) {
            for (std::string_view piece : pieces)
                if (!sink(piece)) return false;
            return true;
        },
        error);
}

bool replaceFileAtomically(const std::filesystem::path& path, unsigned mode,
                           const std::function<bool(const PieceSink&)>& produce,
                           std::string& error) {
    // Unique per process and call: two threads writing beside each other never share one.
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp = path;
    temp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        error = "Cannot write \"" + temp.string() + "\": " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, mode);
    int writeErrno = 0;
    bool ok = produce([fd, &writeErrno](std::string_view piece) {
        if (writeAll(fd, piece.data(), piece.size())) return true;
        writeErrno = errno;
        return false;
    });
    if (!ok) errno = writeErrno ? writeErrno : ECANCELED;
    ok = ok && ::fsync(fd) == 0;
    int savedErrno = errno;
    ::close(fd);
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        error = "Cannot write \"" + path.string() + "\": " + std::strerror(savedErrno);
        return false;
    }
    std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    if (int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

} // namespace morvane::platform
