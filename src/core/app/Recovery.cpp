#include "core/app/Recovery.h"

#include "core/platform/AtomicFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace morvane::app {

namespace {
constexpr std::string_view kMagic = "MORVANE RECOVERY ";
constexpr std::string_view kSuffix = ".recovery";
// A header longer than this is no header of ours.
constexpr std::size_t kMaxHeader = 64 * 1024;

// Values are one line each: backslash and line breaks are escaped.
std::string escape(std::string_view value) {
    std::string out;
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string unescape(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            char n = value[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::optional<long long> number(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

const char* kindName(RecoveryHeader::Kind kind) {
    switch (kind) {
    case RecoveryHeader::Remote:
        return "remote";
    case RecoveryHeader::Untitled:
        return "untitled";
    case RecoveryHeader::Local:
        break;
    }
    return "local";
}

// "<instance>-<n>.recovery": the instance is everything before the last '-'.
std::string instanceOf(const fs::path& file) {
    std::string name = file.filename().string();
    if (name.size() <= kSuffix.size() ||
        name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
        return {};
    std::size_t dash = name.rfind('-');
    return dash == std::string::npos ? std::string() : name.substr(0, dash);
}
} // namespace

namespace {
constexpr std::uint64_t kChecksumStart = 1469598103934665603ull;

std::uint64_t checksumOn(std::uint64_t h, std::string_view text) {
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// The stored text with its line ends, a piece at a time, so a large text needs no second copy.
template <class Sink>
void inPieces(std::string_view stored, std::string_view lineEnd, std::string& piece, Sink&& sink) {
    constexpr std::size_t kPiece = 1 << 20;
    for (std::size_t at = 0; at < stored.size(); at += kPiece) {
        std::string_view part = stored.substr(at, kPiece);
        if (lineEnd == "CR") {
            if (!sink(part)) return;
            continue;
        }
        piece.clear();
        std::size_t from = 0;
        for (std::size_t cr; (cr = part.find('\r', from)) != std::string_view::npos;
             from = cr + 1) {
            piece.append(part.substr(from, cr - from));
            piece += lineEnd == "CRLF" ? "\r\n" : "\n";
        }
        piece.append(part.substr(from));
        if (!sink(std::string_view(piece))) return;
    }
}
} // namespace

std::uint64_t recoveryChecksum(std::string_view text) {
    std::uint64_t h = kChecksumStart;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string recoveryHeaderText(const RecoveryHeader& h, std::uint64_t length,
                               std::uint64_t checksum) {
    char sum[17];
    std::snprintf(sum, sizeof sum, "%016llx", static_cast<unsigned long long>(checksum));
    std::string out = std::string(kMagic) + std::to_string(kRecoveryVersion) + "\n";
    auto line = [&out](const char* key, std::string_view value) {
        out += key;
        out += ": ";
        out += escape(value);
        out += '\n';
    };
    line("kind", kindName(h.kind));
    line("path", h.localPath);
    line("account", h.account);
    line("directory", h.directory);
    line("file", h.fileName);
    line("encoding", h.encoding);
    line("line-end", h.lineEnd);
    line("caret", std::to_string(h.caretLine) + " " + std::to_string(h.caretColumn));
    line("time", std::to_string(h.time));
    line("instance", h.instance);
    line("highlighter", h.highlighter);
    if (h.serverSize >= 0) {
        line("server-size", std::to_string(h.serverSize));
        line("server-time", h.serverTime);
        line("server-precision", std::to_string(h.serverPrecision));
    }
    line("length", std::to_string(length));
    line("checksum", sum);
    out += '\n';
    return out;
}

RecoveryRead parseRecovery(std::string_view bytes) {
    RecoveryRead r;
    auto fail = [&r](RecoveryRead::Status status, std::string problem) {
        r.status = status;
        r.problem = std::move(problem);
        return r;
    };
    std::size_t eol = bytes.find('\n');
    if (bytes.substr(0, kMagic.size()) != kMagic || eol == std::string_view::npos)
        return fail(RecoveryRead::Damaged, "it is not a recovery file");
    auto version = number(bytes.substr(kMagic.size(), eol - kMagic.size()));
    if (!version) return fail(RecoveryRead::Damaged, "its version line is damaged");
    if (*version > kRecoveryVersion)
        return fail(RecoveryRead::Newer, "it was written by a newer version of Morvane (format " +
                                             std::to_string(*version) + ")");
    std::size_t end = bytes.find("\n\n", eol);
    if (end == std::string_view::npos || end > kMaxHeader)
        return fail(RecoveryRead::Truncated, "its header is incomplete");
    std::optional<long long> length, checksum;
    std::string_view header = bytes.substr(eol + 1, end - eol);
    bool haveKind = false;
    while (!header.empty()) {
        std::size_t n = header.find('\n');
        std::string_view line = header.substr(0, n);
        header.remove_prefix(n + 1);
        std::size_t colon = line.find(": ");
        if (colon == std::string_view::npos)
            return fail(RecoveryRead::Damaged, "a header line is damaged");
        std::string_view key = line.substr(0, colon);
        std::string value = unescape(line.substr(colon + 2));
        RecoveryHeader& h = r.header;
        if (key == "kind") {
            haveKind = true;
            if (value == "local")
                h.kind = RecoveryHeader::Local;
            else if (value == "remote")
                h.kind = RecoveryHeader::Remote;
            else if (value == "untitled")
                h.kind = RecoveryHeader::Untitled;
            else
                return fail(RecoveryRead::Damaged, "it names an unknown kind of document");
        } else if (key == "path") {
            h.localPath = value;
        } else if (key == "account") {
            h.account = value;
        } else if (key == "directory") {
            h.directory = value;
        } else if (key == "file") {
            h.fileName = value;
        } else if (key == "encoding") {
            h.encoding = value;
        } else if (key == "line-end") {
            h.lineEnd = value;
        } else if (key == "caret") {
            std::size_t space = value.find(' ');
            auto l = number(std::string_view(value).substr(0, space));
            auto c = space == std::string::npos ? std::nullopt
                                                : number(std::string_view(value).substr(space + 1));
            if (!l || !c) return fail(RecoveryRead::Damaged, "its caret line is damaged");
            h.caretLine = *l;
            h.caretColumn = *c;
        } else if (key == "time") {
            auto t = number(value);
            if (!t) return fail(RecoveryRead::Damaged, "its time is damaged");
            h.time = *t;
        } else if (key == "instance") {
            h.instance = value;
        } else if (key == "highlighter") {
            h.highlighter = value;
        } else if (key == "server-size" || key == "server-precision") {
            // Only a help for the save's check: a damaged value is dropped, not the text.
            auto n = number(value);
            if (key == "server-size")
                h.serverSize = n && *n >= 0 ? *n : -1;
            else
                h.serverPrecision = n && *n >= 0 && *n <= 3 ? int(*n) : 0;
        } else if (key == "server-time") {
            h.serverTime = value;
        } else if (key == "length") {
            length = number(value);
        } else if (key == "checksum") {
            if (value.size() != 16 ||
                value.find_first_not_of("0123456789abcdef") != std::string::npos)
                return fail(RecoveryRead::Damaged, "its checksum line is damaged");
            checksum = static_cast<long long>(std::stoull(value, nullptr, 16));
        } // keys of later revisions of this version are skipped
    }
    if (!haveKind || !length || !checksum)
        return fail(RecoveryRead::Damaged, "its header lacks the kind, length or checksum");
    std::string_view text = bytes.substr(end + 2);
    if (text.size() < std::uint64_t(*length))
        return fail(RecoveryRead::Truncated, "it is cut short (" + std::to_string(text.size()) +
                                                 " of " + std::to_string(*length) + " bytes)");
    if (text.size() > std::uint64_t(*length))
        return fail(RecoveryRead::Damaged, "it holds more bytes than its header says");
    if (recoveryChecksum(text) != static_cast<std::uint64_t>(*checksum))
        return fail(RecoveryRead::Damaged, "its text does not match its checksum");
    r.status = RecoveryRead::Ok;
    r.text.assign(text);
    return r;
}

RecoveryRead readRecoveryFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes;
    if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        RecoveryRead r;
        r.status = RecoveryRead::Unreadable;
        r.problem = std::string("it cannot be read: ") + std::strerror(errno);
        return r;
    }
    return parseRecovery(bytes);
}

bool writeRecoveryFile(const fs::path& file, const RecoveryHeader& header, std::string_view text,
                       std::string& error) {
    std::string head = recoveryHeaderText(header, text.size(), recoveryChecksum(text));
    return platform::replaceFileAtomically(file, {head, text}, 0600, error);
}

std::string recoveryPlace(const RecoveryHeader& h) {
    switch (h.kind) {
    case RecoveryHeader::Remote: {
        std::string dir = h.directory;
        if (!dir.empty() && dir.back() != '/') dir += '/';
        return h.account + ": " + dir + h.fileName;
    }
    case RecoveryHeader::Untitled:
        return "new document (not saved yet)";
    case RecoveryHeader::Local:
        break;
    }
    return h.localPath;
}

bool writeStoredRecoveryFile(const fs::path& file, const RecoveryHeader& header,
                             std::string_view stored, std::string& error) {
    std::string piece;
    std::uint64_t length = 0, sum = kChecksumStart;
    inPieces(stored, header.lineEnd, piece, [&](std::string_view p) {
        length += p.size();
        sum = checksumOn(sum, p);
        return true;
    });
    std::string head = recoveryHeaderText(header, length, sum);
    return platform::replaceFileAtomically(
        file, 0600,
        [&](const platform::PieceSink& sink) {
            if (!sink(head)) return false;
            bool ok = true;
            inPieces(stored, header.lineEnd, piece,
                     [&](std::string_view p) { return ok = sink(p); });
            return ok;
        },
        error);
}

std::string withLineEnds(std::string_view stored, std::string_view lineEnd) {
    if (lineEnd == "CR") return std::string(stored);
    const bool crlf = lineEnd == "CRLF";
    std::string out;
    out.reserve(stored.size() + (crlf ? stored.size() / 32 : 0));
    std::size_t from = 0;
    for (std::size_t cr; (cr = stored.find('\r', from)) != std::string_view::npos; from = cr + 1) {
        out.append(stored.substr(from, cr - from));
        out += crlf ? "\r\n" : "\n";
    }
    out.append(stored.substr(from));
    return out;
}

// --- the folder ----------------------------------------------------------------------------------

RecoveryFolder::RecoveryFolder(fs::path dir) : dir_(std::move(dir)) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
    // The pid alone may come back after a reboot; with the start time it names one process.
    static std::atomic<unsigned> made{0};
    instance_ =
        std::to_string(::getpid()) + "_" + std::to_string(ms) + "_" + std::to_string(made++);
}

RecoveryFolder::~RecoveryFolder() {
    if (lockFd_ < 0) return;
    // Files of ours still here (a document closed by a crash of the window, say) keep the lock
    // file: it is only a name, the lock itself goes with the descriptor.
    bool any = false;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir_, ec))
        if (instanceOf(e.path()) == instance_) any = true;
    if (!any) fs::remove(dir_ / (instance_ + ".lock"), ec);
    ::close(lockFd_);
}

bool RecoveryFolder::open() {
    if (lockFd_ >= 0) return true;
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (ec) {
        error_ = "Cannot create the recovery folder \"" + dir_.string() + "\": " + ec.message();
        return false;
    }
    ::chmod(dir_.c_str(), 0700);
    if (::access(dir_.c_str(), W_OK | X_OK) != 0) {
        error_ = "The recovery folder \"" + dir_.string() +
                 "\" cannot be written: " + std::strerror(errno);
        return false;
    }
    fs::path lock = dir_ / (instance_ + ".lock");
    int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error_ = "Cannot lock \"" + lock.string() + "\": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    lockFd_ = fd;
    return true;
}

fs::path RecoveryFolder::newFile() {
    return dir_ / (instance_ + "-" + std::to_string(next_++) + std::string(kSuffix));
}

bool RecoveryFolder::instanceRuns(const std::string& instance) const {
    if (instance == instance_) return true;
    fs::path lock = dir_ / (instance + ".lock");
    int fd = ::open(lock.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false; // no lock file: nobody claims the files
    bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd); // releases the lock if this call took it
    return held;
}

std::vector<fs::path> RecoveryFolder::leftBehind() const {
    std::vector<std::pair<fs::file_time_type, fs::path>> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir_, ec)) {
        std::string instance = instanceOf(e.path());
        if (instance.empty() || !e.is_regular_file(ec) || instanceRuns(instance)) continue;
        found.emplace_back(e.last_write_time(ec), e.path());
    }
    std::sort(found.begin(), found.end());
    std::vector<fs::path> files;
    for (auto& f : found)
        files.push_back(std::move(f.second));
    return files;
}

std::optional<fs::path> RecoveryFolder::claim(const fs::path& file) {
    if (lockFd_ < 0) return std::nullopt;
    fs::path mine = newFile();
    // rename is atomic: of two instances claiming one file only one finds it.
    if (::rename(file.c_str(), mine.c_str()) != 0) return std::nullopt;
    return mine;
}

void RecoveryFolder::tidy() const {
    std::error_code ec;
    std::vector<std::string> withFiles;
    std::vector<fs::path> locks;
    for (const auto& e : fs::directory_iterator(dir_, ec)) {
        std::string name = e.path().filename().string();
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".lock") == 0)
            locks.push_back(e.path());
        else if (std::string i = instanceOf(e.path()); !i.empty())
            withFiles.push_back(i);
    }
    for (const fs::path& lock : locks) {
        std::string instance = lock.stem().string();
        if (instance == instance_ || instanceRuns(instance)) continue;
        if (std::find(withFiles.begin(), withFiles.end(), instance) == withFiles.end())
            fs::remove(lock, ec);
    }
}

// --- the writer ----------------------------------------------------------------------------------

struct RecoveryWriter::Impl {
    struct Job {
        fs::path file;
        bool remove = false;
        RecoveryHeader header;
        std::shared_ptr<const std::string> stored;
    };
    ErrorReport onError;
    std::mutex mutex;
    std::condition_variable wake, idle;
    std::deque<Job> jobs;
    bool busy = false, stopping = false;
    std::thread thread;

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (jobs.empty()) return; // stopping, all done
            Job job = std::move(jobs.front());
            jobs.pop_front();
            busy = true;
            lock.unlock();
            std::string error;
            if (job.remove) {
                std::error_code ec;
                fs::remove(job.file, ec);
            } else {
                if (!writeStoredRecoveryFile(job.file, job.header, *job.stored, error) && onError)
                    onError(error);
                job.stored.reset();
            }
            lock.lock();
            busy = false;
            if (jobs.empty()) idle.notify_all();
        }
    }
};

RecoveryWriter::RecoveryWriter(ErrorReport onError) : impl_(std::make_unique<Impl>()) {
    impl_->onError = std::move(onError);
    impl_->thread = std::thread([impl = impl_.get()] {
        // Behind the window's thread: on a busy machine typing comes first.
        ::setpriority(PRIO_PROCESS, ::gettid(), 10);
        impl->run();
    });
}

RecoveryWriter::~RecoveryWriter() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_all();
    impl_->thread.join();
}

void RecoveryWriter::write(fs::path file, RecoveryHeader header,
                           std::shared_ptr<const std::string> stored) {
    std::lock_guard lock(impl_->mutex);
    // A newer text for the same file makes a waiting one pointless, unless a removal of it is
    // queued in between.
    for (auto it = impl_->jobs.rbegin(); it != impl_->jobs.rend(); ++it) {
        if (it->file != file) continue;
        if (!it->remove) {
            it->header = std::move(header);
            it->stored = std::move(stored);
            return;
        }
        break;
    }
    impl_->jobs.push_back({std::move(file), false, std::move(header), std::move(stored)});
    impl_->wake.notify_one();
}

void RecoveryWriter::remove(fs::path file) {
    std::lock_guard lock(impl_->mutex);
    // A write not yet begun need not happen at all.
    impl_->jobs.erase(std::remove_if(impl_->jobs.begin(), impl_->jobs.end(),
                                     [&](const Impl::Job& j) { return j.file == file; }),
                      impl_->jobs.end());
    impl_->jobs.push_back({std::move(file), true, {}, nullptr});
    impl_->wake.notify_one();
}

void RecoveryWriter::flush() {
    std::unique_lock lock(impl_->mutex);
    impl_->idle.wait(lock, [this] { return impl_->jobs.empty() && !impl_->busy; });
}

} // namespace morvane::app
