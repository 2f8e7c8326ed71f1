#include "core/net/MirrorWalk.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace morvane::net {

namespace {

constexpr std::size_t kMaxRemotePath = 4096;

// folder is path itself or a folder above it.
bool SelfOrAbove(const std::string& folder, const std::string& path) {
    if (folder == "/" || folder == path) return true;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

std::string Resolved(const std::string& path) {
    std::string out;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        out = real;
        std::free(real);
    }
    return out;
}

std::string LocalJoin(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

} // namespace

std::string MirrorNameProblem(std::string_view name) {
    if (name.empty()) return "an empty name";
    if (name == "." || name == "..") return "a name that stands for a folder";
    for (char c : name) {
        if (c == '/' || c == '\\') return "a name with a path separator";
        if (c == '\0' || c == '\r' || c == '\n') return "a name with a control character";
    }
    return {};
}

std::string MirrorShownName(std::string_view name) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string CreateLocalFolders(const std::string& path) {
    if (path.empty()) return "No folder given";
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) return "Cannot create " + path + ": " + ec.message();
    if (!std::filesystem::is_directory(path, ec)) return path + " is not a folder";
    return {};
}

TMirrorWalk::TMirrorWalk(platform::EventLoop& loop, TRemoteFileSystem& fs) : loop_(loop), fs_(fs) {}

TMirrorWalk::~TMirrorWalk() {
    if (!running_) return;
    running_ = false;
    if (fs_.Busy()) fs_.Cancel();
    DropDownload();
}

std::string TMirrorWalk::Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

bool TMirrorWalk::Inside(const std::string& real) const {
    return !real.empty() && SelfOrAbove(root_, real);
}

void TMirrorWalk::Start(const std::string& remoteStart, const std::string& localRoot) {
    if (running_) return;
    running_ = true;
    cancelled_ = false;
    summary_ = {};
    files_.clear();
    folders_.clear();
    entered_.clear();
    current_ = {};
    rootShown_ = localRoot;
    start_ = remoteStart;
    root_ = localRoot.empty() ? std::string() : Resolved(localRoot);
    std::weak_ptr<bool> alive = alive_;
    struct stat st {};
    if (root_.empty() || ::stat(root_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        loop_.post([this, alive] {
            if (alive.expired()) return;
            ++summary_.failed;
            Finish("Directory " + rootShown_ + " does not exist", false);
        });
        return;
    }
    if (fs_.Connected()) {
        loop_.post([this, alive] {
            if (!alive.expired()) Connected(TRemoteResult::Ok());
        });
        return;
    }
    if (events.status) events.status("Connecting...");
    fs_.Connect([this, alive](const TRemoteResult& r) {
        if (!alive.expired()) Connected(r);
    });
}

void TMirrorWalk::Connected(const TRemoteResult& r) {
    if (!running_) return;
    if (!r.ok()) {
        ++summary_.failed;
        return Finish("Error connecting: " + r.message, false);
    }
    if (!fs_.Capabilities().unixPaths) {
        ++summary_.failed;
        return Finish("Host does not support hierarchical directory listings, cannot mirror",
                      false);
    }
    std::string home = fs_.Home().empty() ? fs_.CurrentDirectory() : fs_.Home();
    std::string start = start_;
    if (start.empty())
        start = home;
    else if (start[0] != '/' && !home.empty())
        start = NormalizeRemotePath(home, start);
    while (start.size() > 1 && start.back() == '/')
        start.pop_back();
    if (start.empty()) {
        ++summary_.failed;
        return Finish("The server did not tell which folder the login starts in; give the "
                      "folder to mirror",
                      false);
    }
    top_ = start;
    Folder top;
    top.remote = start;
    top.localParent = root_;
    folders_.push_back(top);
    Next();
}

void TMirrorWalk::Next() {
    std::weak_ptr<bool> alive = alive_;
    // Through the loop: a long run of steps that end at once does not grow the stack.
    loop_.post([this, alive] {
        if (!alive.expired()) Step();
    });
}

void TMirrorWalk::Step() {
    if (!running_) return;
    if (!files_.empty()) {
        std::string name = std::move(files_.front());
        files_.pop_front();
        return GetFile(name, currentLocal_, name);
    }
    if (!folders_.empty()) {
        Folder f = std::move(folders_.front());
        folders_.pop_front();
        return Enter(f);
    }
    if (events.progress) events.progress(0);
    Finish("Finished mirroring to " + rootShown_, true);
}

void TMirrorWalk::Skip(const std::string& line) {
    ++summary_.skipped;
    if (events.note) events.note(line);
}

void TMirrorWalk::Enter(const Folder& f) {
    std::string shown = MirrorShownName(f.remote);
    if (f.depth > maxDepth) {
        Skip("Not entering " + shown + ": more than " + std::to_string(maxDepth) + " levels deep");
        return Next();
    }
    if (f.remote.size() > kMaxRemotePath) {
        Skip("Not entering " + shown.substr(0, 200) + "...: the path is too long");
        return Next();
    }
    if (std::size_t(summary_.folders) >= maxFolders) {
        ++summary_.failed;
        if (events.note)
            events.note("Stopped entering folders after " + std::to_string(maxFolders) + "; " +
                        std::to_string(folders_.size() + 1) + " left out");
        folders_.clear();
        return Next();
    }
    if (entered_.count(f.remote)) {
        Skip("Not entering " + shown + " again");
        return Next();
    }
    if (f.link && !f.linkTarget.empty()) {
        std::string target = NormalizeRemotePath(f.parent, f.linkTarget);
        if (SelfOrAbove(target, f.parent)) {
            Skip("Not following the link " + shown + " -> " + MirrorShownName(f.linkTarget) +
                 ": it leads to a folder above it");
            return Next();
        }
        if (entered_.count(target)) {
            Skip("Not following the link " + shown + ": " + MirrorShownName(target) +
                 " is copied already");
            return Next();
        }
    }
    if (events.status) events.status("Changing directory");
    std::weak_ptr<bool> alive = alive_;
    fs_.ChangeDirectory(f.remote, [this, alive, f](const TRemoteResult& r) {
        if (!alive.expired()) Entered(f, r);
    });
}

void TMirrorWalk::Entered(const Folder& f, const TRemoteResult& r) {
    if (!running_) return;
    if (!r.ok()) {
        // A link the server will not enter may lead to a file: copy it as one.
        if (f.link && !r.connectionEnded()) return GetFile(f.remote, f.localParent, f.name);
        return Failed(r, "Cannot change to " + MirrorShownName(f.remote));
    }
    // A link to a folder of the tree being copied: that folder is copied under its own name.
    if (f.link && !f.linkTarget.empty()) {
        std::string target = NormalizeRemotePath(f.parent, f.linkTarget);
        if (SelfOrAbove(top_, target)) {
            Skip("Not following the link " + MirrorShownName(f.remote) + ": " +
                 MirrorShownName(target) + " is copied under its own name");
            return Next();
        }
    }
    // Where the server says it is: a link to a folder copied already is not entered again.
    const std::string& there = fs_.CurrentDirectory();
    if (!there.empty() && there != f.remote && entered_.count(there)) {
        Skip("Not entering " + MirrorShownName(f.remote) + ": it is " + MirrorShownName(there) +
             ", copied already");
        return Next();
    }
    entered_.insert(f.remote);
    if (!there.empty()) entered_.insert(there);
    ++summary_.folders;
    std::string local = root_, error;
    if (!f.name.empty()) local = LocalFolder(f.localParent, f.name, error);
    if (local.empty()) return Failed(TRemoteResult::Fail(TRemoteError::Failed, error), {});
    current_ = f;
    currentLocal_ = local;
    files_.clear();
    if (events.status) events.status("Getting directory listing...");
    std::weak_ptr<bool> alive = alive_;
    fs_.List(
        [this, alive](const TDirectoryEntry& e) {
            if (alive.expired() || !running_) return;
            if (e.Kind == 1 && (e.Name == "." || e.Name == "..")) return;
            std::string problem = MirrorNameProblem(e.Name);
            if (!problem.empty()) {
                Skip("Skipped \"" + MirrorShownName(e.Name) + "\" in " +
                     MirrorShownName(current_.remote) + ": " + problem);
                return;
            }
            if (e.Kind == 0) {
                files_.push_back(e.Name);
                return;
            }
            Folder sub;
            sub.remote = Join(current_.remote, e.Name);
            sub.parent = current_.remote;
            sub.localParent = currentLocal_;
            sub.name = e.Name;
            sub.depth = current_.depth + 1;
            sub.link = !e.Attributes.empty() && e.Attributes[0] == 'l';
            sub.linkTarget = e.LinkTarget;
            folders_.push_back(std::move(sub));
        },
        [this, alive](const TRemoteResult& res) {
            if (alive.expired() || !running_) return;
            if (!res.ok()) return Failed(res, "Cannot list " + MirrorShownName(current_.remote));
            Next();
        });
}

std::string TMirrorWalk::LocalFolder(const std::string& parent, const std::string& name,
                                     std::string& error) {
    std::string path = LocalJoin(parent, name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            error = "Cannot create local folder " + path + ": " + std::strerror(errno);
            return {};
        }
        if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
            error = "Cannot create local folder " + path + ": " + std::strerror(errno);
            return {};
        }
    }
    std::string real = Resolved(path);
    if (real.empty()) {
        error = "Cannot use local folder " + path + ": " + std::strerror(errno);
        return {};
    }
    if (!Inside(real)) {
        error = "Not writing into " + path + ": it leads to " + real + ", outside " + root_;
        return {};
    }
    if (::stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "Cannot create local folder " + path + ": a file of that name exists";
        return {};
    }
    return real;
}

void TMirrorWalk::GetFile(const std::string& remoteName, const std::string& localDir,
                          const std::string& name) {
    std::string local = LocalJoin(localDir, name);
    std::string remote =
        !remoteName.empty() && remoteName[0] == '/' ? remoteName : Join(current_.remote, name);
    auto refuse = [&](const std::string& why) {
        Failed(TRemoteResult::Fail(TRemoteError::Failed, "Not writing " + local + ": " + why), {});
    };
    std::string target = local;
    struct stat st {};
    if (::lstat(local.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            // A dangling link is replaced by the file; a live one has its target written,
            // which must lie under the root.
            std::string real = Resolved(local);
            if (!real.empty()) {
                if (!Inside(real)) return refuse("it is a link to " + real + ", outside " + root_);
                target = real;
            }
        }
        if (::stat(target.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) return refuse("a folder of that name exists");
            if (!S_ISREG(st.st_mode)) return refuse("it is not a regular file");
        }
    } else if (errno != ENOENT) {
        return refuse(std::strerror(errno));
    }
    // The file arrives under a temporary name beside its target and replaces it in one rename
    // once complete. Not flushed file by file: a mirror can be fetched again, and a flush per
    // file would cost more than the transfer of a small one.
    std::size_t slash = target.rfind('/');
    std::string dir = target.substr(0, slash + 1), base = target.substr(slash + 1);
    static unsigned serial = 0;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + "." + base.substr(0, 180) + ".part-" + std::to_string(::getpid()) + "-" +
               std::to_string(++serial);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0)
        return refuse(std::string("cannot create a file beside it: ") + std::strerror(errno));
    if (::stat(target.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777); // keeps its mode
    download_ = {fd, temp, target, local, remote, 0, 0};

    if (events.status) events.status("Getting file " + MirrorShownName(name));
    if (events.progress) events.progress(0);
    std::weak_ptr<bool> alive = alive_;
    fs_.Read(
        remoteName,
        [this, alive](std::string_view bytes) {
            if (alive.expired() || !running_ || download_.fd < 0) return;
            const char* p = bytes.data();
            std::size_t left = bytes.size();
            while (left > 0 && download_.error == 0) {
                ssize_t w = ::write(download_.fd, p, left);
                if (w < 0 && errno == EINTR) continue;
                if (w < 0) {
                    download_.error = errno; // the rest is received and dropped
                    break;
                }
                p += w;
                left -= std::size_t(w);
            }
            download_.bytes += std::int64_t(bytes.size());
            if (events.progress) events.progress(download_.bytes);
        },
        [this, alive](const TRemoteResult& r) {
            if (alive.expired() || !running_) return;
            Download d = std::exchange(download_, Download{});
            int err = d.error;
            if (::close(d.fd) != 0 && err == 0 && errno != EINTR) err = errno;
            if (r.ok() && err == 0 && ::rename(d.temp.c_str(), d.target.c_str()) != 0) err = errno;
            if (!r.ok() || err != 0) ::unlink(d.temp.c_str());
            if (!r.ok()) return Failed(r, "Cannot get " + MirrorShownName(d.remote));
            if (err != 0)
                return Failed(
                    TRemoteResult::Fail(TRemoteError::Failed,
                                        "Could not write " + d.local + ": " + std::strerror(err)),
                    {});
            ++summary_.files;
            summary_.bytes += d.bytes;
            if (events.file) events.file(d.remote, d.local, d.bytes);
            Next();
        });
}

void TMirrorWalk::DropDownload() {
    if (download_.fd < 0) return;
    ::close(download_.fd);
    ::unlink(download_.temp.c_str());
    download_ = Download{};
}

void TMirrorWalk::Failed(const TRemoteResult& r, const std::string& what) {
    if (!running_ || cancelled_) return;
    ++summary_.failed;
    std::string message = what.empty()        ? r.message
                          : r.message.empty() ? what
                                              : what + ": " + r.message;
    if (events.note) events.note(message);
    bool lost = r.connectionEnded();
    std::weak_ptr<bool> alive = alive_;
    // Asked from the loop, not from inside the file system's report.
    loop_.post([this, alive, message, lost] {
        if (alive.expired() || !running_) return;
        bool go = !events.askContinue || events.askContinue(message);
        if (alive.expired() || !running_) return;
        if (!go) return Finish("Mirroring stopped", false);
        if (!lost) return Step();
        // The connection went: log in again and go back to the folder being copied.
        if (events.status) events.status("Connecting...");
        fs_.Connect([this, alive](const TRemoteResult& c) {
            if (alive.expired() || !running_) return;
            if (!c.ok()) {
                ++summary_.failed;
                return Finish("Error connecting: " + c.message, false);
            }
            if (files_.empty()) return Step();
            fs_.ChangeDirectory(current_.remote, [this, alive](const TRemoteResult& cd) {
                if (alive.expired() || !running_) return;
                if (cd.ok()) return Step();
                summary_.failed += int(files_.size());
                files_.clear();
                Failed(cd, "Cannot change to " + MirrorShownName(current_.remote));
            });
        });
    });
}

void TMirrorWalk::Finish(const std::string& message, bool completed) {
    if (!running_) return;
    running_ = false;
    DropDownload();
    summary_.completed = completed;
    if (events.status) events.status("");
    auto finished = events.finished; // the report may destroy the walk
    TMirrorSummary summary = summary_;
    if (finished) finished(summary, message);
}

void TMirrorWalk::Cancel() {
    if (!running_) return;
    cancelled_ = true;
    summary_.cancelled = true;
    if (fs_.Busy()) fs_.Cancel();
    Finish("Mirroring cancelled", false);
}

} // namespace morvane::net
