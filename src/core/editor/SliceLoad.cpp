#include "core/editor/SliceLoad.h"

#include "core/editor/CustomCodeMemo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::editor {

namespace {
// One read: small enough to stay in the cache on its way into the text.
constexpr std::size_t kRead = 64 * 1024;

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

std::optional<std::uint64_t> AvailableMemory() {
    if (const char* stand = std::getenv("MORVANE_AVAILABLE_MEMORY"); stand && *stand) {
        char* end = nullptr;
        unsigned long long v = std::strtoull(stand, &end, 10);
        if (end && *end == '\0') return std::uint64_t(v);
    }
    std::ifstream in("/proc/meminfo");
    std::string key;
    std::uint64_t value = 0;
    std::string unit;
    while (in >> key >> value) {
        std::getline(in, unit);
        if (key == "MemAvailable:") return value * 1024; // the kernel counts in KiB
    }
    return std::nullopt;
}

std::string SizeText(std::uint64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB"};
    double v = double(bytes) / 1000.0;
    int unit = 0;
    while (v >= 999.95 && unit < 4) {
        v /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", v, units[unit]);
    return text;
}

std::string TooBigForMemory(const std::string& name, std::uint64_t size) {
    std::optional<std::uint64_t> available = AvailableMemory();
    if (!available || size <= *available) return {};
    return "File " + name + " is " + SizeText(size) + "; only " + SizeText(*available) +
           " of memory is available, so it cannot be opened.";
}

std::unique_ptr<TSliceLoad> TSliceLoad::Open(TCustomCodeMemo& memo, const std::string& path,
                                             std::string& error) {
    const std::string name = BaseName(path);
    // Non-blocking, so that opening a named pipe with no writer returns at once.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "File '" + path + "' cannot be opened for reading: " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "File '" + path +
                "' is not a regular file (a folder, a pipe or a device), so it cannot be opened.";
        return nullptr;
    }
    // The size is the opened file's: a file put in its place by name later is not this one.
    std::uint64_t size = std::uint64_t(st.st_size);
    if (std::string refusal = TooBigForMemory(name, size); !refusal.empty()) {
        ::close(fd);
        error = refusal;
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto stream = std::make_unique<TFileStream>(fd);
    try {
        auto load = std::make_unique<TSliceLoad>(memo, std::move(stream), size, name);
        load->identity_ = {true, std::uint64_t(st.st_dev), std::uint64_t(st.st_ino),
                           std::int64_t(st.st_size),
                           std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
        return load;
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
}

TSliceLoad::TSliceLoad(TCustomCodeMemo& memo, std::unique_ptr<TStream> stream, std::uint64_t size,
                       std::string name)
    : memo_(memo), stream_(std::move(stream)), size_(size), name_(std::move(name)) {
    memo_.BeginLoad();
}

TSliceLoad::~TSliceLoad() {
    if (state_ == State::Reading) Cancel();
}

int TSliceLoad::Percent() const {
    if (size_ == 0) return 0;
    return int(std::min<std::uint64_t>(100, read_ * 100 / size_));
}

void TSliceLoad::Cancel() {
    if (state_ != State::Reading) return;
    memo_.AbandonLoad();
    stream_.reset();
    buffer_ = std::string();
    state_ = State::Cancelled;
}

void TSliceLoad::Fail(const std::string& message) {
    memo_.AbandonLoad();
    stream_.reset();
    buffer_ = std::string();
    state_ = State::Failed;
    error_ = message;
}

// Bytes added after the file was opened are not read: the document is the file as it was then,
// and the growth shows as a change on disk.
void TSliceLoad::Finish() {
    memo_.EndLoad();
    stream_.reset();
    buffer_ = std::string();
    state_ = State::Done;
}

bool TSliceLoad::Step(std::size_t bytes) {
    if (state_ != State::Reading) return false;
    if (buffer_.empty()) buffer_.resize(kRead);
    // A file without a size (some system files) is read to its end, but not past what fits.
    const std::uint64_t limit =
        size_ != 0 ? size_ : AvailableMemory().value_or(std::numeric_limits<std::uint64_t>::max());
    std::size_t done = 0;
    try {
        do {
            std::size_t want = std::min(kRead, std::max<std::size_t>(1, bytes - done));
            if (size_ != 0) want = std::size_t(std::min<std::uint64_t>(want, size_ - read_));
            std::size_t n = want == 0 ? 0 : stream_->Read(buffer_.data(), want);
            if (n == 0) {
                if (size_ != 0 && read_ < size_) {
                    Fail("File " + name_ + " became shorter while it was read (" + SizeText(read_) +
                         " of " + SizeText(size_) +
                         "), so it is not opened. Open it again once it is written.");
                    return false;
                }
                Finish();
                return false;
            }
            read_ += n;
            done += n;
            memo_.LoadPiece(std::string_view(buffer_.data(), n));
            if (size_ == 0 && read_ > limit) {
                Fail("File " + name_ + " is larger than the " + SizeText(limit) +
                     " of memory available, so it cannot be opened.");
                return false;
            }
            if (size_ != 0 && read_ == size_) {
                Finish();
                return false;
            }
        } while (done < bytes);
    } catch (const std::exception& e) {
        Fail("Reading " + name_ + " failed after " + SizeText(read_) + ": " + e.what() +
             ". The file is not opened.");
        return false;
    }
    return true;
}

} // namespace morvane::editor
