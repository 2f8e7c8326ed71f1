// Saving: the upload under a temporary name, its size check, the rename (or, when the server
// refuses, writing the file in place behind a backup), links followed to their target, the mode
// put back, and the check for a file changed on the server since it was opened.
#include "core/app/RemoteReference.h"
#include "core/app/RemoteSession.h"
#include "core/app/RemoteSessionText.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace morvane::app {

using net::TRemoteError;
using net::TRemoteResult;
using net::TRemoteStat;
using net::TTimePrecision;
using session_text::Format;

std::string MirrorFolder(const std::string& home, const std::string& current, char separator,
                         const std::string& mirrorRoot, std::string* error) {
    std::string base = home;
    while (base.size() > 1 && base.back() == separator)
        base.pop_back();
    std::string rest;
    if (current == base) {
        rest.clear();
    } else if (base.size() == 1 && base[0] == separator && !current.empty() &&
               current[0] == separator) {
        rest = current.substr(1);
    } else if (current.size() > base.size() && current.compare(0, base.size(), base) == 0 &&
               current[base.size()] == separator) {
        rest = current.substr(base.size() + 1);
    } else {
        return "";
    }
    std::string folder = mirrorRoot;
    if (folder.empty() || folder.back() != '/') folder += '/';
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(separator, start);
        if (end == std::string::npos) end = rest.size();
        std::string part = rest.substr(start, end - start);
        if (part == "." || part == ".." || part.find('/') != std::string::npos ||
            part.find('\0') != std::string::npos) {
            if (error) *error = "Mirroring refused for the remote directory " + current;
            return "";
        }
        if (!part.empty()) folder += part + "/";
        start = end + 1;
    }
    return folder;
}

// --- saving ------------------------------------------------------------------------------------

void TRemoteSession::StartSave() {
    exists_ = absent_ = false;
    remoteSize_ = -1;
    remoteTime_.clear();
    remotePrecision_ = TTimePrecision::None;
    entry_ = Entry();
    originalMode_.reset();
    target_.clear();
    linkHops_ = 0;
    throughLink_ = false;
    fs_->Stat(fileName_, {true, true, true},
              [this](const TRemoteResult& r, const TRemoteStat& st) { Checked(r, st); });
}

void TRemoteSession::Checked(const TRemoteResult& r, const TRemoteStat& st) {
    Heard();
    if (std::exchange(unprobed_, false) && !r.ok() && r.error != TRemoteError::Cancelled &&
        Gone(r)) {
        // The connection went while idle and nothing found out: open it again and save.
        return StartConnect();
    }
    if (!r.ok() && Gone(r)) return SaveFailed(FailureText(r));
    exists_ = r.ok();
    absent_ = r.error == TRemoteError::NotFound;
    remoteSize_ = r.ok() ? st.size : -1;
    remoteTime_ = r.ok() ? st.time : std::string();
    remotePrecision_ = r.ok() ? st.precision : TTimePrecision::None;
    entry_ = EntryOf(r, st);
    CheckedEntry();
}

// What the check found: a link is followed to its target, whose entry then counts.
void TRemoteSession::CheckedEntry() {
    bool following = !target_.empty();
    bool link = entry_.found && entry_.link;
    if ((following && !entry_.found) || (link && (entry_.linkTarget.empty() || ++linkHops_ > 8))) {
        // The target is out of reach by its path: only writing through the link keeps it.
        target_.clear();
        throughLink_ = true;
        entry_ = Entry(); // the link's own size, date and mode say nothing of the file
        return DecideChanged();
    }
    if (!link) return DecideChanged();
    // The target, relative to the link's folder; as a plain name when that is this folder.
    std::string at = fs_->CurrentDirectory();
    std::string linkName = SaveName();
    std::string folder = at;
    if (std::size_t slash = linkName.rfind('/'); slash != std::string::npos)
        folder = linkName.front() == '/' ? linkName.substr(0, slash)
                                         : at + "/" + linkName.substr(0, slash);
    std::string path = entry_.linkTarget.front() == '/'
                           ? RemoteFileKey("", entry_.linkTarget, "")
                           : RemoteFileKey("", folder, entry_.linkTarget);
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) { // no file's name
        throughLink_ = true;
        entry_ = Entry();
        return DecideChanged();
    }
    std::string dir = slash == 0 ? std::string("/") : path.substr(0, slash);
    target_ =
        RemoteFileKey("", at, "") == RemoteFileKey("", dir, "") ? path.substr(slash + 1) : path;
    fs_->Stat(target_, {false, false, true}, [this](const TRemoteResult& r, const TRemoteStat& st) {
        Heard();
        if (!r.ok() && Gone(r)) return SaveFailed(FailureText(r));
        entry_ = EntryOf(r, st);
        CheckedEntry();
    });
}

void TRemoteSession::DecideChanged() {
    const Op& op = queue_.front();
    if (entry_.found && !entry_.link) originalMode_ = entry_.mode;
    std::int64_t size = remoteSize_ >= 0 ? remoteSize_ : entry_.found ? entry_.size : -1;
    bool precise = stamp_.precision == TTimePrecision::Second;
    bool changed = false;
    if (stamp_.known && !op.confirmed) {
        if (!exists_ && absent_) changed = true;
        if (exists_ && size >= 0 && size != stamp_.size) changed = true;
        // Times compare at the same precision only: to the second, or as the listing shows them.
        const std::string& now = precise ? remoteTime_ : entry_.time;
        TTimePrecision nowPrecision = precise ? remotePrecision_ : entry_.precision;
        if (stamp_.precision != TTimePrecision::None && nowPrecision == stamp_.precision &&
            now != stamp_.time)
            changed = true;
    }
    // Without times to the second a change within the minute that keeps the size shows nowhere.
    bool blind = stamp_.known && !precise;
    if (!changed) {
        if (blind && !std::exchange(noTimesSaid_, true))
            host_.Note(Format("The server gives no modification times: a change to '%s' on the "
                              "server within a minute of your opening it, keeping its size, "
                              "cannot be seen before saving.",
                              {fileName_}));
        return StartUpload();
    }

    step_ = Step::Asking; // nothing the server does meanwhile is ours
    std::string question =
        Format("The file '%s' was changed on the server since you opened it.", {fileName_});
    if (blind)
        question += " (The server gives no modification times: the change shows in the file's "
                    "size or listing date only.)";
    TChangedAnswer answer = host_.AskChanged(question);
    step_ = Step::Idle;
    if (answer == TChangedAnswer::Overwrite) {
        queue_.front().confirmed = true;
        step_ = Step::Running;
        if (fs_->Connected()) return StartUpload();
        // The connection went while the user thought: open it again, then upload.
        step_ = Step::Idle;
        return RunQueue();
    }
    queue_.clear();
    if (answer == TChangedAnswer::Reload) {
        queue_.push_back({OpKind::Get, {}});
        return RunQueue();
    }
    SetBusy(false, false);
    host_.SessionStatus("");
}

void TRemoteSession::StartUpload() {
    uploadSize_ = std::int64_t(queue_.front().bytes.size());
    if (account_.EnableMirroring) {
        std::string error;
        std::string folder =
            MirrorFolder(home_, fs_->CurrentDirectory(), fs_->Capabilities().separator,
                         account_.MirrorDirectory, &error);
        // Without a mirror folder the copy would land below the file system's root.
        if (account_.MirrorDirectory.empty() || fileName_ == "." || fileName_ == ".." ||
            fileName_.find('/') != std::string::npos) {
            error = "No mirror copy of '" + fileName_ + "': no usable mirror folder or name";
            folder.clear();
        }
        if (!error.empty()) host_.Note(error);
        if (!folder.empty()) {
            host_.SessionStatus("Mirroring...");
            namespace fs = std::filesystem;
            std::error_code ec;
            bool go = fs::is_directory(folder, ec);
            if (!go) {
                step_ = Step::Asking;
                go = host_.AskCreateMirrorFolder(
                    Format("Directory %s does not exist, create it and continue?", {folder}));
                step_ = Step::Running;
                if (go) {
                    fs::create_directories(folder, ec);
                    if (ec) {
                        host_.Note("Could not create the mirror folder " + folder + ": " +
                                   ec.message());
                        go = false;
                    }
                }
            }
            if (go) {
                const std::string& bytes = queue_.front().bytes;
                std::ofstream out(folder + fileName_, std::ios::binary | std::ios::trunc);
                out.write(bytes.data(), std::streamsize(bytes.size()));
                out.close();
                if (!out) host_.Note("Could not write the mirror copy " + folder + fileName_);
            }
            host_.SessionStatus("");
        }
        if (!fs_->Connected()) {
            // The connection went while a question was open.
            queue_.front().confirmed = true;
            step_ = Step::Idle;
            return RunQueue();
        }
    }
    if (throughLink_)
        return AskInPlace("'" + fileName_ +
                          "' is a link whose target cannot be reached by its path, so no "
                          "temporary file or backup can be made beside it");
    SetBusy(true, true);
    host_.SessionProgress(true, 0, uploadSize_);
    tempMayExist_ = true;
    sent_ = 0;
    fs_->Write(
        TempName(), queue_.front().bytes,
        [this](std::int64_t sent) {
            sent_ = sent;
            host_.SessionProgress(true, std::min(sent, uploadSize_), uploadSize_);
        },
        [this](const TRemoteResult& r) { StoredTemp(r); });
}

void TRemoteSession::StoredTemp(const TRemoteResult& r) {
    Heard();
    if (!r.ok()) {
        // Refused before a byte moved: the server does not take this name (hidden, or not
        // here). A full disk is no refusal of the name: writing in place would not fit either.
        bool refused = !Gone(r) && sent_ == 0 &&
                       (r.error == TRemoteError::Refused || r.error == TRemoteError::Permission ||
                        r.error == TRemoteError::NotFound);
        if (refused) {
            tempMayExist_ = false;
            return WriteInPlace("The server refused the temporary file " + TempName() + " (" +
                                r.message + ")");
        }
        tempMayExist_ = true;
        return SaveFailed(FailureText(r));
    }
    SetBusy(true, false);
    fs_->Stat(
        TempName(), {true, false, false}, [this](const TRemoteResult& sr, const TRemoteStat& st) {
            Heard();
            if (!sr.ok() && Gone(sr)) return SaveFailed(FailureText(sr));
            if (sr.ok() && st.size >= 0 && st.size != uploadSize_)
                return SaveFailed("The server holds " + std::to_string(st.size) + " of the " +
                                  std::to_string(uploadSize_) + " bytes sent");
            fs_->Rename(TempName(), SaveName(), [this](const TRemoteResult& rr) { Renamed(rr); });
        });
}

void TRemoteSession::Renamed(const TRemoteResult& r) {
    Heard();
    if (r.ok()) {
        tempMayExist_ = false;
        host_.Saved();
        return AfterReplace();
    }
    // Cancelled, timed out or cut off is no refusal: nothing may be written in place then.
    if (Gone(r)) return SaveFailed(FailureText(r));
    renameError_ = r.message;
    fs_->Remove(TempName(), [this](const TRemoteResult& dr) {
        Heard();
        if (Gone(dr) && !dr.ok()) return SaveFailed(FailureText(dr));
        tempMayExist_ = !dr.ok() && dr.error != TRemoteError::NotFound;
        WriteInPlace("The server refused to rename " + TempName() + " to '" + SaveName() + "' (" +
                     renameError_ + ")");
    });
}

// The file is replaced. Its time is read again, and its entry shows its new mode (and, without
// times to the second, its new date).
void TRemoteSession::AfterReplace() {
    bool precise = stamp_.precision == TTimePrecision::Second;
    net::TStatNeeds needs{false, true, originalMode_.has_value() || !precise};
    fs_->Stat(SaveName(), needs,
              [this](const TRemoteResult& r, const TRemoteStat& st) { AfterStat(r, st); });
}

// What the server shows after the rename: the new stamp, and the mode goes back when it differs.
void TRemoteSession::AfterStat(const TRemoteResult& r, const TRemoteStat& st) {
    Heard();
    if (!r.ok()) return FinishSave(); // the file is saved; only its bookkeeping was cut short
    bool entry = st.kind == net::TRemoteKind::File || st.kind == net::TRemoteKind::Folder;
    if (st.precision == TTimePrecision::Second) {
        stamp_.time = st.time;
        stamp_.precision = st.precision;
    } else if (entry && stamp_.precision != TTimePrecision::Second &&
               st.precision != TTimePrecision::None) {
        stamp_.time = st.time;
        stamp_.precision = st.precision;
    }
    if (!entry || !originalMode_ || !st.mode || *st.mode == *originalMode_) return FinishSave();
    fs_->Chmod(SaveName(), *originalMode_, [this](const TRemoteResult& cr) {
        Heard();
        if (!cr.ok() && !Gone(cr))
            host_.Note("Could not give '" + SaveName() + "' its permissions back: " + cr.message);
        FinishSave();
    });
}

std::string TRemoteSession::TempName() const {
    std::string name = SaveName();
    std::size_t slash = name.rfind('/');
    std::size_t at = slash == std::string::npos ? 0 : slash + 1;
    return name.substr(0, at) + "." + name.substr(at) + ".morvane-tmp";
}

// Neither a temporary file nor its rename: the original goes aside as a backup, then the file is
// written in place. A file that is not there yet has nothing to keep.
void TRemoteSession::WriteInPlace(const std::string& why) {
    if (!fallbackSaid_)
        host_.Note(why + "; '" + SaveName() + "' is written in place" +
                   (exists_ ? ", its original kept as '" + BackupName() +
                                  "' until the new text is complete."
                            : "."));
    fallbackSaid_ = true;
    if (!exists_) return StorePlain();
    fs_->Rename(SaveName(), BackupName(), [this](const TRemoteResult& r) {
        Heard();
        if (r.ok()) {
            backupMade_ = true;
            return StorePlain();
        }
        if (Gone(r)) return SaveFailed(FailureText(r));
        AskInPlace("The server refused a temporary file, and renaming '" + SaveName() + "' to '" +
                   BackupName() + "' for a backup (" + r.message + ")");
    });
}

void TRemoteSession::AskInPlace(const std::string& reason) {
    step_ = Step::Asking;
    bool go = host_.AskWriteInPlace(
        Format("%s.\r\n\r\nWriting '%s' in place means that an upload failing part-way leaves "
               "the file on the server cut short. Write it in place?",
               {reason, SaveName()}));
    step_ = Step::Running;
    if (!go) {
        step_ = Step::Idle;
        queue_.clear();
        SetBusy(false, false);
        host_.SessionStatus("");
        host_.Note("'" + fileName_ + "' was not saved.");
        return;
    }
    if (!fs_->Connected()) return SaveFailed("The connection was closed");
    StorePlain();
}

void TRemoteSession::StorePlain() {
    SetBusy(true, true);
    host_.SessionProgress(true, 0, uploadSize_);
    sent_ = 0;
    fs_->Write(
        SaveName(), queue_.front().bytes,
        [this](std::int64_t sent) {
            sent_ = sent;
            host_.SessionProgress(true, std::min(sent, uploadSize_), uploadSize_);
        },
        [this](const TRemoteResult& r) {
            Heard();
            if (!r.ok()) return SaveFailed(FailureText(r));
            SetBusy(true, false);
            fs_->Stat(
                SaveName(), {true, false, false},
                [this](const TRemoteResult& sr, const TRemoteStat& st) { PlainChecked(sr, st); });
        });
}

// The file written in place has its full size: only then does the backup go.
void TRemoteSession::PlainChecked(const TRemoteResult& r, const TRemoteStat& st) {
    Heard();
    if (!r.ok() && Gone(r)) return SaveFailed(FailureText(r));
    bool sized = r.ok() && st.size >= 0;
    if (sized && st.size != uploadSize_)
        return SaveFailed("The server holds " + std::to_string(st.size) + " of the " +
                          std::to_string(uploadSize_) + " bytes sent");
    if (backupMade_ && sized) {
        return fs_->Remove(BackupName(), [this](const TRemoteResult& dr) {
            Heard();
            backupMade_ = false;
            if (!dr.ok() && Gone(dr)) {
                // The new file is complete; only the copy is left behind.
                host_.Note("'" + BackupName() + "' is left on the server: " + FailureText(dr));
                host_.Saved();
                return FinishSave();
            }
            if (!dr.ok() && dr.error != TRemoteError::NotFound)
                host_.Note("Could not remove '" + BackupName() + "': " + dr.message);
            host_.Saved();
            AfterReplace();
        });
    }
    if (backupMade_)
        host_.Note("The size of '" + SaveName() +
                   "' could not be checked: its original stays on the server as '" + BackupName() +
                   "'.");
    backupMade_ = false;
    host_.Saved();
    AfterReplace();
}

// The backup goes back over what the failed upload left: after a failure (failing), or as the
// queued Restore before anything else once the connection is back.
void TRemoteSession::PutBack(bool failing) {
    step_ = Step::Running;
    fs_->Rename(BackupName(), SaveName(), [this, failing](const TRemoteResult& r) {
        Heard();
        PutBackDone(r);
        if (failing) {
            if (tempMayExist_ && fs_->Connected()) {
                return fs_->Remove(TempName(), [this](const TRemoteResult& dr) {
                    if (dr.ok() || dr.error == TRemoteError::NotFound) tempMayExist_ = false;
                    AskRetry();
                });
            }
            return AskRetry();
        }
        if (backupMade_) { // the connection failed again: say where the original is
            backupMade_ = false;
            host_.Note("The original of '" + SaveName() + "' is kept on the server as '" +
                       BackupName() + "'.");
        }
        queue_.pop_front();
        NextOp();
    });
}

void TRemoteSession::PutBackDone(const TRemoteResult& r) {
    if (r.ok()) {
        backupMade_ = false;
        host_.Note("The original of '" + SaveName() + "' was put back.");
    } else if (!Gone(r)) {
        backupMade_ = false;
        host_.Note("The original of '" + SaveName() +
                   "' could not be put back; it is kept on "
                   "the server as '" +
                   BackupName() + "'.");
    }
}

void TRemoteSession::FinishSave() {
    stamp_.known = true;
    stamp_.size = uploadSize_;
    if (!queue_.empty()) queue_.pop_front();
    host_.SessionStatus("");
    NextOp();
}

// --- failures ----------------------------------------------------------------------------------

void TRemoteSession::SaveFailed(const std::string& detail) {
    if (!fs_->Connected()) ResetConnection();
    failBytes_.clear();
    failHaveBytes_ = !queue_.empty() && queue_.front().kind == OpKind::Save;
    if (failHaveBytes_) failBytes_ = std::move(queue_.front().bytes);
    queue_.clear();
    failMessage_ = Format("Error saving file '%s':\r\n%s", {fileName_, detail});
    if (backupMade_ && fs_->Connected()) return PutBack(true);
    // A temporary file the server still holds goes first, when the connection allows it.
    if (tempMayExist_ && fs_->Connected()) {
        return fs_->Remove(TempName(), [this](const TRemoteResult& r) {
            if (r.ok() || r.error == TRemoteError::NotFound) tempMayExist_ = false;
            AskRetry();
        });
    }
    AskRetry();
}

void TRemoteSession::AskRetry() {
    step_ = Step::Idle;
    SetBusy(false, false);
    host_.SessionStatus("");
    // The original waits aside: it goes back before anything else, the retry included.
    if (backupMade_) queue_.push_back({OpKind::Restore, {}});
    if (failHaveBytes_ && host_.AskRetrySave(failMessage_)) {
        Save(std::move(failBytes_));
        return;
    }
    failBytes_.clear();
    if (tempMayExist_) queue_.push_back({OpKind::Cleanup, {}});
    if (!queue_.empty()) RunQueue();
}

} // namespace morvane::app
