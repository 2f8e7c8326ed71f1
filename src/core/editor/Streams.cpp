#include "core/editor/Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::editor {

namespace {
std::int64_t Clamp(std::int64_t pos, std::int64_t size) {
    return std::clamp<std::int64_t>(pos, 0, size);
}

std::int64_t Target(std::int64_t offset, TSeekOrigin origin, std::int64_t pos, std::int64_t size) {
    switch (origin) {
    case TSeekOrigin::soBeginning:
        return offset;
    case TSeekOrigin::soCurrent:
        return pos + offset;
    case TSeekOrigin::soEnd:
        return size + offset;
    }
    return pos;
}
} // namespace

std::int64_t TStream::Size() {
    std::int64_t pos = Position();
    std::int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return size;
}

bool TStream::SetSize(std::int64_t) {
    return false;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
    std::size_t n = pos_ < data_.size() ? std::min(count, data_.size() - pos_) : 0;
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    if (pos_ + count > data_.size()) data_.resize(pos_ + count);
    std::memcpy(data_.data() + pos_, buffer, count);
    pos_ += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    auto size = static_cast<std::int64_t>(data_.size());
    pos_ = static_cast<std::size_t>(
        std::max<std::int64_t>(0, Target(offset, origin, static_cast<std::int64_t>(pos_), size)));
    return static_cast<std::int64_t>(pos_);
}

bool TMemoryStream::SetSize(std::int64_t newSize) {
    data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, newSize)));
    pos_ = std::min(pos_, data_.size());
    return true;
}

TFastMemoryStream TFastMemoryStream::FromCString(const char* text) {
    return TFastMemoryStream(text ? std::string_view(text) : std::string_view());
}

std::size_t TFastMemoryStream::Read(void* buffer, std::size_t count) {
    std::size_t n = pos_ < text_.size() ? std::min(count, text_.size() - pos_) : 0;
    if (n > 0) std::memcpy(buffer, text_.data() + pos_, n);
    pos_ += n;
    return n;
}

std::size_t TFastMemoryStream::Write(const void*, std::size_t) {
    throw EStreamError(kReadOnlyStream);
}

std::int64_t TFastMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    auto size = static_cast<std::int64_t>(text_.size());
    pos_ = static_cast<std::size_t>(
        Clamp(Target(offset, origin, static_cast<std::int64_t>(pos_), size), size));
    return static_cast<std::int64_t>(pos_);
}

TFileStream::TFileStream(const std::string& fileName, Mode mode, unsigned permissions) {
    if (mode == fmOpenRead) {
        // Non-blocking, so that a named pipe does not hang the open; only regular files are
        // read: a directory cannot be, and a device like /dev/zero would never end.
        fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd_);
            fd_ = -1;
        }
        if (fd_ >= 0) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        if (fd_ < 0) throw EFOpenError("File '" + fileName + "' cannot be opened for reading");
    } else {
        fd_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, permissions);
        if (fd_ < 0)
            throw EFCreateError("File '" + fileName +
                                "' cannot be created: " + std::strerror(errno));
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    auto* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd_, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EStreamError(std::string("Read error: ") + std::strerror(errno));
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
    auto* p = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd_, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            writeError_ = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                 : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                    : SEEK_END;
    return ::lseek(fd_, offset, whence);
}

std::int64_t TFileStream::Size() {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? st.st_size : 0;
}

bool TFileStream::SetSize(std::int64_t newSize) {
    return ::ftruncate(fd_, newSize) == 0;
}

bool TFileStream::Sync() {
    return ::fsync(fd_) == 0;
}

bool TFileStream::Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
}

} // namespace morvane::editor
