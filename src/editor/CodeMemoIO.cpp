// Loading and saving streams and files.

#include "editor/CustomCodeMemo.h"
#include "editor/LineBreaks.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::editor {

namespace {
TTextForm FormOf(TSaveFormat f) {
    switch (f) {
    case sfTEXT:
        return tfCRLF;
    case sfUNIX:
        return tfLF;
    case sfMAC:
        return tfCR;
    case sfRTF:
        return tfRTF;
    case sfHTML:
        return tfHTML;
    }
    return tfCRLF;
}

TSaveFormat FormatOf(TLineEnd e) {
    switch (e) {
    case TLineEnd::leCRLF:
        return sfTEXT;
    case TLineEnd::leCR:
        return sfMAC;
    case TLineEnd::leLF:
        return sfUNIX;
    }
    return sfUNIX;
}

// Counts what is offered to a stream and what it takes.
class CountingStream final : public TStream {
public:
    explicit CountingStream(TStream& inner) : inner_(inner) {}
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void* buffer, std::size_t count) override {
        offered += count;
        std::size_t n = inner_.Write(buffer, count);
        accepted += n;
        return n;
    }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
        return inner_.Seek(offset, origin);
    }
    std::size_t offered = 0, accepted = 0;

private:
    TStream& inner_;
};

struct LoadingFlag {
    bool& flag;
    bool old;
    explicit LoadingFlag(bool& f) : flag(f), old(f) { flag = true; }
    ~LoadingFlag() { flag = old; }
};
} // namespace

void TCustomCodeMemo::LoadBlocks(TStream& stream, bool detectLineEnd) {
    // Reads are larger than the 8 KB pieces the chain takes; the normaliser carries a CR or LF
    // at a read's end over to the next read, so a break cut in two stays one break.
    constexpr std::size_t kRead = 64 * 1024;
    std::string raw(kRead, '\0');
    std::string stored;
    stored.reserve(kRead + 1);
    LineBreakNormaliser normaliser;
    for (;;) {
        std::size_t n = stream.Read(raw.data(), kRead);
        stored.clear();
        if (n == 0)
            normaliser.Finish(stored);
        else
            normaliser.Feed(std::string_view(raw.data(), n), stored);
        if (!stored.empty()) {
            InsertStored(caret_, stored);
            caret_ += static_cast<TextOffset>(stored.size());
            anchor_ = caret_;
        }
        if (n == 0) break;
    }
    if (detectLineEnd) {
        lineEnd_ = normaliser.FirstBreak().value_or(TLineEnd::leLF);
        if (saveFormat_ != sfRTF && saveFormat_ != sfHTML) saveFormat_ = FormatOf(lineEnd_);
    }
}

void TCustomCodeMemo::LoadFromStream(TStream& stream) {
    LoadingFlag flag(loading_);
    undo_.Clear();
    BeginUpdate();
    // A view that wraps in idle steps gets the text unwrapped and wraps what it shows first.
    const bool wrapLater = (options_ & smoWordWrap) && view_ && view_->DefersWrap();
    if (wrapLater) options_ &= ~smoWordWrap;
    try {
        DeleteRange(0, TextLength());
        anchor_ = caret_ = 0;
        LoadBlocks(stream, true);
    } catch (const std::bad_alloc&) {
        if (wrapLater) options_ |= smoWordWrap;
        EndUpdate();
        undo_.Clear();
        throw ECodeMemo(kNoMemory);
    } catch (...) {
        if (wrapLater) options_ |= smoWordWrap;
        EndUpdate();
        undo_.Clear();
        throw;
    }
    if (wrapLater) options_ |= smoWordWrap;
    store_->DropAllAttrs();
    FlagRange(0, LineCount() - 1, lfStale | lfRepaint);
    dirty_ = store_->Empty() ? -1 : 0;
    anchor_ = caret_ = 0;
    virtualColumn_ = -1;
    desiredColumn_ = 0;
    topLine_ = 0;
    topOffset_ = 0;
    leftColumn_ = 0;
    changeBits_ |= cbText | cbSelection | cbScroll;
    if (wrapLater) RewrapAll();
    ScrollToCaret();
    if (view_) view_->UpdateScrollBars();
    EndUpdate();
    undo_.Clear();
}

void TCustomCodeMemo::SaveToStream(TStream* stream) {
    if (!stream) throw EFileSaveError(kBadStream);
    WriteAll(*stream);
    SetModified(false);
}

// The undo stack is emptied only once the text is safely written: a save that fails leaves the
// document modified, so that nobody closes it believing it saved.
void TCustomCodeMemo::WriteAll(TStream& stream) {
    LoadingFlag flag(loading_);
    TextOffset anchor = anchor_, caret = caret_;
    bool lock = updateLock_;
    updateLock_ = true;
    try {
        anchor_ = 0;
        caret_ = TextLength();
        SaveWithRetries(stream, FormOf(saveFormat_));
    } catch (...) {
        anchor_ = anchor;
        caret_ = caret;
        updateLock_ = lock;
        throw;
    }
    anchor_ = anchor;
    caret_ = caret;
    updateLock_ = lock;
}

// A stream that took fewer bytes than offered gets the whole text again, up to three more
// times. Each try starts over where the first began, so a retry never appends a second copy
// after a partial one.
void TCustomCodeMemo::SaveWithRetries(TStream& stream, TTextForm form) {
    std::int64_t start = stream.Seek(0, TSeekOrigin::soCurrent);
    for (int attempt = 0; attempt < 4; ++attempt) {
        // A stream that cannot go back would get a second copy after the partial one.
        if (attempt > 0 && (start < 0 || stream.Seek(start, TSeekOrigin::soBeginning) != start))
            break;
        if (attempt > 0) stream.SetSize(start);
        CountingStream counter(stream);
        WriteSelection(counter, form);
        if (TextLength() == 0 || counter.accepted == counter.offered) return;
    }
    throw EFileSaveError(kCouldNotSave);
}

void TCustomCodeMemo::LoadFromFile(const std::string& fileName) {
    LoadingFlag flag(loading_);
    TFileStream file(fileName, TFileStream::fmOpenRead);
    LoadFromStream(file);
    if (options_ & smoTitleAsFilename) fileName_ = fileName;
}

namespace {
namespace fs = std::filesystem;

[[noreturn]] void SaveFailed(const std::string& name, const std::string& why) {
    throw EFileSaveError("File '" + name + "' cannot be saved: " + why);
}

// Where the bytes go: a symbolic link is followed to the file it names.
std::string ResolveTarget(const std::string& name) {
    fs::path p(name);
    std::error_code ec;
    for (int depth = 0; depth < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++depth) {
        fs::path link = fs::read_symlink(p, ec);
        if (ec) break;
        p = link.is_absolute() ? link : p.parent_path() / link;
    }
    return p.string();
}

mode_t CurrentUmask() {
    mode_t old = ::umask(0);
    ::umask(old);
    return old;
}
} // namespace

// The file is written beside the target under a temporary name, flushed to the disk and then
// renamed over the target: the user's file is either the old one or the new one, never a
// truncated mix.
void TCustomCodeMemo::SaveToFile(const std::string& fileName) {
    LoadingFlag flag(loading_);
    std::string target = ResolveTarget(fileName);
    struct stat st {};
    bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) SaveFailed(fileName, "it is a directory");
    if (exists && !S_ISREG(st.st_mode)) SaveFailed(fileName, "it is not a regular file");
    if (exists && ::access(target.c_str(), W_OK) != 0) SaveFailed(fileName, std::strerror(errno));
    // The rename below would replace a file even without write permission on it, and root
    // passes every access check: a file nobody may write is left alone.
    if (exists && !(st.st_mode & 0222)) SaveFailed(fileName, "the file is read-only");

    fs::path tp(target);
    fs::path dir = tp.has_parent_path() ? tp.parent_path() : fs::path(".");
    std::string tmpl = (dir / ("." + tp.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) SaveFailed(fileName, std::strerror(errno));
    mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
    ::fchmod(fd, mode);
    if (exists && (::fchown(fd, st.st_uid, st.st_gid) != 0)) {
        // Another owner cannot be kept by an ordinary user; the file becomes theirs.
    }
    try {
        TFileStream out(fd);
        try {
            WriteAll(out);
        } catch (const EFileSaveError&) {
            SaveFailed(fileName,
                       out.WriteError() ? std::strerror(out.WriteError()) : kCouldNotSave);
        }
        if (!out.Sync() || !out.Close()) SaveFailed(fileName, std::strerror(errno));
    } catch (...) {
        ::unlink(tmpl.c_str());
        throw;
    }
    if (::rename(tmpl.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        SaveFailed(fileName, std::strerror(err));
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    if (options_ & smoTitleAsFilename) fileName_ = fileName;
    SetModified(false);
}

} // namespace morvane::editor
