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

using session_text::Format;

namespace {

// The code of "Host replied: 553 ..." and the like; 0 when there is none.
int CodeInMessage(const std::string& message) {
    std::size_t colon = message.find(": ");
    std::size_t at = colon == std::string::npos ? 0 : colon + 2;
    if (message.size() < at + 3) return 0;
    int v = 0;
    for (std::size_t i = at; i < at + 3; ++i) {
        if (message[i] < '0' || message[i] > '9') return 0;
        v = v * 10 + (message[i] - '0');
    }
    return v;
}

} // namespace

std::optional<int> ModeFromAttributes(const std::string& attributes) {
    if (attributes.size() < 10) return std::nullopt;
    int mode = 0;
    static const int shift[3] = {6, 3, 0};
    static const int special[3] = {04000, 02000, 01000};
    for (int who = 0; who < 3; ++who) {
        char r = attributes[std::size_t(1 + who * 3)];
        char w = attributes[std::size_t(2 + who * 3)];
        char x = attributes[std::size_t(3 + who * 3)];
        if (r == 'r')
            mode |= 4 << shift[who];
        else if (r != '-')
            return std::nullopt;
        if (w == 'w')
            mode |= 2 << shift[who];
        else if (w != '-')
            return std::nullopt;
        char setChar = who == 2 ? 't' : 's';
        char setNoExec = who == 2 ? 'T' : 'S';
        if (x == 'x') {
            mode |= 1 << shift[who];
        } else if (x == setChar) {
            mode |= (1 << shift[who]) | special[who];
        } else if (x == setNoExec) {
            mode |= special[who];
        } else if (x != '-') {
            return std::nullopt;
        }
    }
    return mode;
}

std::string ModeText(int mode) {
    char text[8];
    if (mode & 07000)
        std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    else
        std::snprintf(text, sizeof text, "%03o", unsigned(mode & 0777));
    return text;
}

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
    listOk_ = false;
    sizeCode_ = mdtmCode_ = tempSizeCode_ = 0;
    remoteSize_ = tempSize_ = -1;
    remoteMdtm_.clear();
    originalMode_.reset();
    target_.clear();
    linkHops_ = 0;
    throughLink_ = false;
    entryName_ = fileName_;
    Custom(Step::CheckSize, "SIZE " + fileName_);
}

// What the check found: a link is followed to its target, whose entry then counts.
void TRemoteSession::CheckedEntry() {
    bool following = !target_.empty();
    bool link = entry_.found && entry_.link;
    if ((following && !entry_.found) ||
        (link && (entry_.linkTarget.empty() || ++linkHops_ > 8 || ftp_.SystemType() > 1))) {
        // The target is out of reach by its path: only writing through the link keeps it.
        target_.clear();
        throughLink_ = true;
        entry_ = Entry(); // the link's own size, date and mode say nothing of the file
        return DecideChanged();
    }
    if (!link) return DecideChanged();
    // The target, relative to the link's folder; as a plain name when that is this folder.
    std::string at = ftp_.CurrentDirectory();
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
    entryName_ = target_;
    StartStatus(Step::TargetStat);
}

void TRemoteSession::DecideChanged() {
    const Op& op = queue_.front();
    if (entry_.found && !entry_.link) originalMode_ = ModeFromAttributes(entry_.attributes);
    std::int64_t size = sizeCode_ == 213 ? remoteSize_ : entry_.found ? entry_.size : -1;
    bool exists = sizeCode_ == 213 || mdtmCode_ == 213 || entry_.found;
    bool changed = false;
    if (stamp_.known && !op.confirmed) {
        if (!exists && (sizeCode_ == 550 || mdtmCode_ == 550 || listOk_)) changed = true;
        if (exists && size >= 0 && size != stamp_.size) changed = true;
        if (!stamp_.mdtm.empty() && mdtmCode_ == 213 && remoteMdtm_ != stamp_.mdtm) changed = true;
        if (stamp_.mdtm.empty() && entry_.found && !stamp_.listDate.empty() &&
            entry_.date != stamp_.listDate)
            changed = true;
    }
    // Without MDTM a change within the minute that keeps the size shows nowhere.
    bool blind = stamp_.known && stamp_.mdtm.empty();
    if (!changed) {
        if (blind && !std::exchange(noMdtmSaid_, true))
            host_.Note(Format("The server gives no modification times: a change to '%s' on the "
                              "server within a minute of your opening it, keeping its size, "
                              "cannot be seen before saving.",
                              {fileName_}));
        return StartUpload();
    }

    step_ = Step::Asking; // nothing the client reports meanwhile is ours
    std::string question =
        Format("The file '%s' was changed on the server since you opened it.", {fileName_});
    if (blind)
        question += " (The server gives no modification times: the change shows in the file's "
                    "size or listing date only.)";
    TChangedAnswer answer = host_.AskChanged(question);
    step_ = Step::Idle;
    if (answer == TChangedAnswer::Overwrite) {
        queue_.front().confirmed = true;
        if (ftp_.Connected()) return StartUpload();
        // The connection went while the user thought: open it again, then upload.
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
        std::string folder = MirrorFolder(home_, ftp_.CurrentDirectory(), ftp_.PathSeparator(),
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
                step_ = Step::Idle;
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
        if (!ftp_.Connected()) {
            // The connection went while a question was open.
            queue_.front().confirmed = true;
            return RunQueue();
        }
    }
    if (throughLink_)
        return AskInPlace("'" + fileName_ +
                          "' is a link whose target cannot be reached by its path, so no "
                          "temporary file or backup can be made beside it");
    SetBusy(true, true);
    host_.SessionProgress(true, 0, uploadSize_);
    step_ = Step::StoreTemp;
    tempMayExist_ = true;
    Arm();
    ftp_.StoreFromBuffer(TempName(), queue_.front().bytes);
}

// The file is replaced. A listing shows its new mode and, without MDTM, its new date; when the
// original's mode is unknown and MDTM works, the listing has nothing to offer.
void TRemoteSession::AfterReplace() {
    if (!originalMode_ && !stamp_.mdtm.empty())
        return Custom(Step::MdtmAfter, "MDTM " + SaveName());
    entryName_ = SaveName();
    StartStatus(Step::StatAfter);
}

// What the listing after the rename showed: the mode goes back when it differs.
void TRemoteSession::AfterListing() {
    if (!entry_.found || entry_.link) {
        if (!stamp_.mdtm.empty()) return Custom(Step::MdtmAfter, "MDTM " + SaveName());
        return FinishSave();
    }
    if (stamp_.mdtm.empty()) stamp_.listDate = entry_.date;
    auto now = ModeFromAttributes(entry_.attributes);
    if (originalMode_ && now && *now != *originalMode_)
        return Custom(Step::Chmod, "SITE CHMOD " + ModeText(*originalMode_) + " " + SaveName());
    if (!stamp_.mdtm.empty()) return Custom(Step::MdtmAfter, "MDTM " + SaveName());
    FinishSave();
}

void TRemoteSession::UploadStored() {
    SetBusy(true, false);
    Custom(Step::SizeTemp, "SIZE " + TempName());
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
    bool exists = sizeCode_ == 213 || mdtmCode_ == 213 || entry_.found;
    if (!fallbackSaid_)
        host_.Note(why + "; '" + SaveName() + "' is written in place" +
                   (exists ? ", its original kept as '" + BackupName() +
                                 "' until the new text is complete."
                           : "."));
    fallbackSaid_ = true;
    if (!exists) return StorePlain();
    step_ = Step::BackupAside;
    Arm();
    ftp_.RenameFile(SaveName(), BackupName());
}

void TRemoteSession::AskInPlace(const std::string& reason) {
    step_ = Step::Asking;
    bool go = host_.AskWriteInPlace(
        Format("%s.\r\n\r\nWriting '%s' in place means that an upload failing part-way leaves "
               "the file on the server cut short. Write it in place?",
               {reason, SaveName()}));
    step_ = Step::Idle;
    if (!go) {
        queue_.clear();
        SetBusy(false, false);
        host_.SessionStatus("");
        host_.Note("'" + fileName_ + "' was not saved.");
        return;
    }
    if (!ftp_.Connected() || !loggedIn_) return SaveFailed("The connection was closed");
    StorePlain();
}

void TRemoteSession::StorePlain() {
    step_ = Step::StorePlain;
    SetBusy(true, true);
    host_.SessionProgress(true, 0, uploadSize_);
    Arm();
    ftp_.StoreFromBuffer(SaveName(), queue_.front().bytes);
}

// The backup goes back over what the failed upload left.
void TRemoteSession::PutBack(Step step) {
    step_ = step;
    Arm();
    ftp_.RenameFile(BackupName(), SaveName());
}

void TRemoteSession::PutBackDone(bool ok) {
    if (ok) {
        backupMade_ = false;
        host_.Note("The original of '" + SaveName() + "' was put back.");
    } else if (ftp_.Connected() && !ftp_.Aborted()) {
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

std::string TRemoteSession::FailureText() const {
    if (timedOut_)
        return "No reply from the server within " +
               std::to_string(std::max<long long>(1, timeout_.count() / 1000)) + " seconds";
    if (cancelled_) return "Cancelled";
    if (!ftp_.ErrorMessage().empty()) return ftp_.ErrorMessage();
    return "The connection was closed";
}

// The server answered the upload of the temporary name with a refusal, before any byte moved.
bool TRemoteSession::Refused() const {
    if (timedOut_ || cancelled_ || ftp_.Aborted() || !ftp_.Connected()) return false;
    int code = CodeInMessage(ftp_.ErrorMessage());
    return code >= 500 && code < 600 && ftp_.ByteCount() == 0;
}

void TRemoteSession::SaveFailed(const std::string& detail) {
    Disarm();
    if (ftp_.Aborted() || !ftp_.Connected()) ResetConnection();
    failBytes_.clear();
    failHaveBytes_ = !queue_.empty() && queue_.front().kind == OpKind::Save;
    if (failHaveBytes_) failBytes_ = std::move(queue_.front().bytes);
    queue_.clear();
    failMessage_ = Format("Error saving file '%s':\r\n%s", {fileName_, detail});
    if (backupMade_ && ftp_.Connected() && loggedIn_) return PutBack(Step::FailRestore);
    // A temporary file the server still holds goes first, when the connection allows it.
    if (tempMayExist_ && ftp_.Connected() && loggedIn_)
        return Custom(Step::FailDelete, "DELE " + TempName());
    AskRetry();
}

void TRemoteSession::AskRetry() {
    Disarm();
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
