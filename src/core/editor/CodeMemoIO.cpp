// Loading and saving streams and files.

#include "core/editor/CustomCodeMemo.h"
#include "core/editor/LineBreaks.h"
#include "core/platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
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

// Reads are larger than the 8 KB pieces the chain takes; the normaliser carries a CR or LF at a
// read's end over to the next read, so a break cut in two stays one break.
constexpr std::size_t kLoadRead = 64 * 1024;

void TCustomCodeMemo::InsertNormalised(LineBreakNormaliser& normaliser, std::string_view bytes,
                                       std::string& stored) {
    stored.clear();
    if (bytes.empty())
        normaliser.Finish(stored);
    else
        normaliser.Feed(bytes, stored);
    if (stored.empty()) return;
    InsertStored(caret_, stored);
    caret_ += static_cast<TextOffset>(stored.size());
    anchor_ = caret_;
}

void TCustomCodeMemo::LoadBlocks(TStream& stream) {
    std::string raw(kLoadRead, '\0');
    std::string stored;
    stored.reserve(kLoadRead + 1);
    LineBreakNormaliser normaliser;
    for (;;) {
        std::size_t n = stream.Read(raw.data(), kLoadRead);
        InsertNormalised(normaliser, std::string_view(raw.data(), n), stored);
        if (n == 0) break;
    }
}

void TCustomCodeMemo::LoadFromStream(TStream& stream) {
    BeginLoad();
    std::string raw(kLoadRead, '\0');
    try {
        while (std::size_t n = stream.Read(raw.data(), kLoadRead))
            LoadPiece(std::string_view(raw.data(), n));
    } catch (...) {
        AbandonLoadAndRethrow(); // LoadPiece has abandoned already when it threw
    }
    EndLoad();
}

// The end of a load: the other views of a text whose encoding changed, the highlighting and the
// caret start over.
void TCustomCodeMemo::FinishLoad(bool wrapLater, TTextEncoding before) {
    if (Encoding() != before) {
        for (TCustomCodeMemo* memo : store_->Controls())
            if (memo != this) memo->EncodingChanged();
        // Wrapped while loading with the cells of the old encoding.
        if ((options_ & smoWordWrap) && !wrapLater) RewrapAll();
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

// --- a text loaded in pieces --------------------------------------------------------------------

void TCustomCodeMemo::BeginLoad() {
    if (pieceLoad_) AbandonLoad();
    auto load = std::make_unique<PieceLoad>();
    load->loadingBefore = loading_;
    loading_ = true;
    undo_.Clear();
    BeginUpdate();
    load->wrapLater = (options_ & smoWordWrap) && view_ && view_->DefersWrap();
    if (load->wrapLater) options_ &= ~smoWordWrap;
    auto undoBegin = [&] {
        if (load->wrapLater) options_ |= smoWordWrap;
        loading_ = load->loadingBefore;
        EndUpdate();
        undo_.Clear();
    };
    try {
        DeleteRange(0, TextLength());
    } catch (const std::bad_alloc&) {
        undoBegin();
        throw ECodeMemo(kNoMemory);
    } catch (...) {
        undoBegin();
        throw;
    }
    anchor_ = caret_ = 0;
    load->before = Encoding();
    load->pending.reserve(2 * kLoadRead);
    load->stored.reserve(2 * kLoadRead + 1);
    pieceLoad_ = std::move(load);
}

void TCustomCodeMemo::LoadPiece(std::string_view bytes) {
    if (!pieceLoad_ || bytes.empty()) return;
    PieceLoad& load = *pieceLoad_;
    try {
        load.utf8.Feed(bytes);
        if (!load.pending.empty()) {
            const std::size_t fill = std::min(bytes.size(), kLoadRead - load.pending.size());
            load.pending.append(bytes.substr(0, fill));
            bytes.remove_prefix(fill);
            if (load.pending.size() < kLoadRead) return;
            InsertNormalised(load.normaliser, load.pending, load.stored);
            load.pending.clear();
        }
        // A large piece goes in read-sized steps, which keep the copies small and in cache.
        for (; bytes.size() >= kLoadRead; bytes.remove_prefix(kLoadRead))
            InsertNormalised(load.normaliser, bytes.substr(0, kLoadRead), load.stored);
        load.pending.append(bytes);
    } catch (...) {
        AbandonLoadAndRethrow();
    }
}

void TCustomCodeMemo::EndLoad() {
    if (!pieceLoad_) return;
    PieceLoad& load = *pieceLoad_;
    try {
        if (!load.pending.empty()) InsertNormalised(load.normaliser, load.pending, load.stored);
        InsertNormalised(load.normaliser, {}, load.stored);
    } catch (...) {
        AbandonLoadAndRethrow();
    }
    store_->SetEncoding(load.utf8.Valid() ? TTextEncoding::teUTF8 : TTextEncoding::teWindows1252);
    lineEnd_ = load.normaliser.FirstBreak().value_or(TLineEnd::leLF);
    if (saveFormat_ != sfRTF && saveFormat_ != sfHTML) saveFormat_ = FormatOf(lineEnd_);
    const std::unique_ptr<PieceLoad> done = std::move(pieceLoad_);
    loading_ = done->loadingBefore;
    FinishLoad(done->wrapLater, done->before);
}

// Called from a handler: the load stops where it got to, and running out of memory is reported
// as the control's error.
void TCustomCodeMemo::AbandonLoadAndRethrow() {
    AbandonLoad();
    try {
        throw;
    } catch (const std::bad_alloc&) {
        throw ECodeMemo(kNoMemory);
    }
}

void TCustomCodeMemo::AbandonLoad() {
    if (!pieceLoad_) return;
    const std::unique_ptr<PieceLoad> done = std::move(pieceLoad_);
    if (done->wrapLater) options_ |= smoWordWrap;
    loading_ = done->loadingBefore;
    EndUpdate();
    undo_.Clear();
}

void TCustomCodeMemo::SaveToStream(TStream* stream) {
    if (!stream) throw EFileSaveError(kBadStream);
    const std::uint64_t state = TextState();
    WriteAll(*stream);
    if (saveFormat_ != sfHTML && saveFormat_ != sfRTF) MarkSaved(state);
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

void TCustomCodeMemo::ReloadFromFile(const std::string& fileName, bool undoable) {
    TFileStream file(fileName, TFileStream::fmOpenRead);
    ReloadFromStream(file, undoable);
    if (options_ & smoTitleAsFilename) fileName_ = fileName;
}

void TCustomCodeMemo::ReloadFromStream(TStream& stream, bool undoable) {
    std::string bytes, piece(kLoadRead, '\0');
    try {
        while (std::size_t n = stream.Read(piece.data(), kLoadRead))
            bytes.append(piece.data(), n);
    } catch (const std::bad_alloc&) {
        throw ECodeMemo(kNoMemory);
    }
    const TextOffset caret = caret_;
    const TextOffset oldLength = TextLength();
    std::string old = undoable ? RangeText(0, oldLength, tfStored) : std::string();
    // The edits' own steps stay below the reload's: the load would forget them.
    TUndoStack kept;
    if (undoable) kept = std::move(undo_);
    TMemoryStream in(std::move(bytes));
    try {
        LoadingFlag flag(loading_);
        LoadFromStream(in);
    } catch (...) {
        if (undoable) {
            // Only memory runs out here: the user's text and its log go back as they were.
            LoadingFlag flag(loading_);
            DeleteRange(0, TextLength());
            InsertStored(0, old);
            undo_ = std::move(kept);
            FlagRange(0, LineCount() - 1, lfStale | lfRepaint);
            dirty_ = 0;
            Invalidate();
            NotifyChange();
        }
        throw;
    }
    // The caret stays about where it was rather than jumping to the top.
    const TextOffset at = CharStartAt(std::min(caret, TextLength()));
    if (undoable) {
        undo_ = std::move(kept);
        // One group: undo brings the old text back with the caret where it stood.
        undo_.BeginGroup(ugReload, caret, caret);
        const TextOffset length = TextLength();
        undo_.PushTransaction(0, oldLength, std::move(old), RangeText(0, length, tfStored), 0,
                              length);
        undo_.EndGroup(ugReload, at, at);
        undo_.MarkClean(undo_.State());
    }
    SetSelection(at, at);
    ScrollToCaret();
    changeBits_ |= cbCommand;
    NotifyChange();
}

namespace {
namespace fs = std::filesystem;

[[noreturn]] void SaveFailed(const std::string& name, const std::string& why) {
    throw EFileSaveError("File '" + name + "' cannot be saved: " + why);
}

mode_t CurrentUmask() {
    mode_t old = ::umask(0);
    ::umask(old);
    return old;
}

void SyncFolder(const fs::path& dir) {
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

bool WriteFully(int fd, const char* data, std::size_t size, off_t at) {
    while (size > 0) {
        ssize_t n = ::pwrite(fd, data, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
        at += n;
    }
    return true;
}

// Copies every byte of from (read with pread, so its offset stays) into to; false with errno.
bool CopyBytes(int from, int to, off_t size) {
    std::string buffer(1 << 20, '\0');
    off_t at = 0;
    while (at < size) {
        ssize_t n = ::pread(from, buffer.data(), buffer.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break; // the file shrank under us: what was there is copied
        if (!WriteFully(to, buffer.data(), std::size_t(n), at)) return false;
        at += n;
    }
    return true;
}

using Writer = std::function<void(TFileStream&)>;

// Writes the text through fd (positioned at 0) and flushes it. Throws EFileSaveError with the
// reason; the descriptor is closed either way.
void WriteAndSync(const std::string& fileName, int fd, const Writer& write, bool truncate) {
    TFileStream out(fd);
    try {
        write(out);
    } catch (const EFileSaveError&) {
        SaveFailed(fileName, out.WriteError() ? std::strerror(out.WriteError()) : kCouldNotSave);
    }
    if (truncate) {
        std::int64_t end = out.Seek(0, TSeekOrigin::soCurrent);
        if (end < 0 || !out.SetSize(end)) SaveFailed(fileName, std::strerror(errno));
    }
    if (!out.Sync() || !out.Close()) SaveFailed(fileName, std::strerror(errno));
}

// The new text goes to a temporary file beside the target, which then replaces it: the file is
// either the old one or the new one. Returns false with the reason when this way cannot keep
// what the file is besides its bytes (its owner and group) or cannot even start (the folder is
// not writable, the temporary name is too long); nothing has changed then.
bool SaveByRename(const std::string& fileName, const std::string& target, const struct stat* old,
                  const Writer& write, std::string& why) {
    fs::path tp(target);
    fs::path dir = tp.has_parent_path() ? tp.parent_path() : fs::path(".");
    std::string tmpl = (dir / ("." + tp.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        why = errno == ENAMETOOLONG
                  ? "its name is too long for a temporary copy beside it"
                  : std::string("its folder cannot be written (") + std::strerror(errno) + ")";
        return false;
    }
    if (old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) &&
        ::fchown(fd, old->st_uid, old->st_gid) != 0) {
        ::close(fd);
        ::unlink(tmpl.c_str());
        why = "a replacement could not keep its owner and group";
        return false;
    }
    // After the owner change, which clears the set-user and set-group bits.
    ::fchmod(fd, old ? (old->st_mode & 07777) : (0666 & ~CurrentUmask()));
    try {
        WriteAndSync(fileName, fd, write, false);
    } catch (...) {
        ::unlink(tmpl.c_str());
        throw;
    }
    if (::rename(tmpl.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        SaveFailed(fileName, std::strerror(err));
    }
    SyncFolder(dir);
    return true;
}

// The new text is written into the existing file, so its inode, links, owner, group, mode and
// extended attributes stay. A copy of the old bytes is written and synced in the state folder
// first; if the write fails the old bytes are put back, and if even that fails the copy is kept
// and named in the message. The copy is removed once the new text is synced.
void SaveInPlace(const std::string& fileName, const std::string& target, const Writer& write,
                 const std::string& whyNotRename) {
    auto refuse = [&](const std::string& why) {
        SaveFailed(fileName, whyNotRename + ", and " + why);
    };
    int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) refuse(std::string("it cannot be written in place (") + std::strerror(errno) + ")");
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        refuse("it cannot be written in place (it is not a regular file)");
    }

    fs::path backupDir = platform::defaultStateDir() / "saving";
    std::error_code ec;
    fs::create_directories(backupDir, ec);
    ::chmod(backupDir.parent_path().c_str(), 0700);
    ::chmod(backupDir.c_str(), 0700);
    // Short enough for any file system's name limit, recognisable by the user.
    std::string base = fs::path(target).filename().string().substr(0, 200);
    std::string backup = (backupDir / (base + ".XXXXXX")).string();
    int bfd = ec ? -1 : ::mkstemp(backup.data());
    if (bfd < 0) {
        std::string reason = ec ? ec.message() : std::strerror(errno);
        ::close(fd);
        refuse("no copy of the old text could be kept in \"" + backupDir.string() + "\" (" +
               reason + ") before writing it in place");
    }
    ::fchmod(bfd, 0600);
    if (!CopyBytes(fd, bfd, st.st_size) || ::fsync(bfd) != 0) {
        std::string reason = std::strerror(errno);
        ::close(bfd);
        ::unlink(backup.c_str());
        ::close(fd);
        refuse("no copy of the old text could be kept in \"" + backupDir.string() + "\" (" +
               reason + ") before writing it in place");
    }
    SyncFolder(backupDir);

    int wfd = ::dup(fd);
    try {
        if (wfd < 0) SaveFailed(fileName, std::strerror(errno));
        WriteAndSync(fileName, wfd, write, true);
    } catch (const std::exception& e) {
        // Put the old bytes back from the copy.
        bool restored =
            CopyBytes(bfd, fd, st.st_size) && ::ftruncate(fd, st.st_size) == 0 && ::fsync(fd) == 0;
        ::close(fd);
        ::close(bfd);
        if (restored) {
            ::unlink(backup.c_str());
            throw;
        }
        throw EFileSaveError(std::string(e.what()) +
                             ". The old text could not be put back; a copy of it is in \"" +
                             backup + "\"");
    }
    ::close(fd);
    ::close(bfd);
    ::unlink(backup.c_str());
    SyncFolder(backupDir);
}
} // namespace

// A file is replaced by a new one when that changes nothing but its bytes; otherwise (more than
// one name, an owner or group the user cannot give a new file, a folder the user cannot write, a
// name too long for a temporary one) it is written in place behind a safety copy. Symbolic links
// are followed, so the link stays and the file it names gets the text.
namespace {
void WriteFileSafely(const std::string& fileName, const Writer& write) {
    std::string target = platform::writeTarget(fileName);
    struct stat st {};
    bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) SaveFailed(fileName, "it is a directory");
    if (exists && !S_ISREG(st.st_mode)) SaveFailed(fileName, "it is not a regular file");
    if (exists && ::access(target.c_str(), W_OK) != 0) SaveFailed(fileName, std::strerror(errno));
    // A rename would replace a file even without write permission on it, and root passes every
    // access check: a file nobody may write is left alone.
    if (exists && !(st.st_mode & 0222)) SaveFailed(fileName, "the file is read-only");

    std::string why;
    if (exists && st.st_nlink > 1) why = "it has more than one name (hard links)";
    bool saved = why.empty() && SaveByRename(fileName, target, exists ? &st : nullptr, write, why);
    if (!saved && exists) SaveInPlace(fileName, target, write, why);
    if (!saved && !exists) {
        // Nothing to lose: the new file is written directly.
        int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            SaveFailed(fileName, why + ", and it cannot be created (" + std::strerror(errno) + ")");
        try {
            WriteAndSync(fileName, fd, write, false);
        } catch (...) {
            ::unlink(target.c_str());
            throw;
        }
        SyncFolder(fs::path(target).parent_path());
    }
}
} // namespace

void TCustomCodeMemo::SaveToFile(const std::string& fileName) {
    LoadingFlag flag(loading_);
    const std::uint64_t state = TextState();
    WriteFileSafely(fileName, [this](TFileStream& out) { WriteAll(out); });
    if (options_ & smoTitleAsFilename) fileName_ = fileName;
    // A page or a rich-text copy is not the document: it still needs saving as itself.
    if (saveFormat_ != sfHTML && saveFormat_ != sfRTF) MarkSaved(state);
}

void TCustomCodeMemo::ExportToFile(const std::string& fileName, TTextForm form) {
    if (form != tfHTML && form != tfRTF) throw ECodeMemo("Only HTML and RTF can be exported");
    LoadingFlag flag(loading_);
    WriteFileSafely(fileName, [this, form](TFileStream& out) {
        TextOffset anchor = anchor_, caret = caret_;
        // Nothing selected: the whole text.
        if (anchor_ == caret_) {
            anchor_ = 0;
            caret_ = TextLength();
        }
        try {
            SaveWithRetries(out, form);
        } catch (...) {
            anchor_ = anchor;
            caret_ = caret;
            throw;
        }
        anchor_ = anchor;
        caret_ = caret;
    });
}

} // namespace morvane::editor
