// Getting the file: its entry from STAT or a listing, the download whole or in pieces, and its
// failure. A reload is the same download into a document that already has its text.
#include "core/app/RemoteSession.h"
#include "core/app/RemoteSessionText.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace morvane::app {

using session_text::Format;

std::optional<net::TDirectoryEntry> EntryFromStatus(const std::string& reply,
                                                    const std::string& name) {
    std::string code = reply.substr(0, 3);
    std::optional<net::TDirectoryEntry> found;
    std::size_t start = reply.find('\n');
    while (start != std::string::npos) {
        std::size_t end = reply.find('\n', start + 1);
        if (end == std::string::npos) break; // the last line closes the reply
        std::string_view line(reply.data() + start + 1, end - start - 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // Some servers repeat the code on every line; a listing line never starts with digits.
        if (line.size() >= 4 && line.substr(0, 3) == code && line[3] == '-') line.remove_prefix(4);
        while (!line.empty() && line.front() == ' ')
            line.remove_prefix(1);
        net::TDirectoryEntry entry;
        if (net::ParseListLine(line, entry)) {
            // A file gives one line; more is a folder's content, whatever the names.
            if (found) return std::nullopt;
            found = std::move(entry);
        }
        start = end;
    }
    if (found && found->Name != name) return std::nullopt;
    return found;
}

// STAT with the file's name answers on the control connection what a listing would, without a
// data connection. Names the server could take for options or patterns go to LIST.
void TRemoteSession::StartStatus(Step step) {
    Step list = step == Step::OpenStat     ? Step::OpenList
                : step == Step::CheckStat  ? Step::CheckList
                : step == Step::TargetStat ? Step::TargetList
                                           : Step::ListAfter;
    if (statRefused_ || ftp_.SystemType() > 1 || entryName_.empty() || entryName_[0] == '-' ||
        entryName_.find_first_of("*?[]{}~\\") != std::string::npos)
        return StartList(list);
    entry_ = Entry();
    Custom(step, "STAT " + entryName_);
}

void TRemoteSession::StatusDone(int code, const std::string& reply) {
    Step step = step_;
    Step list = step == Step::OpenStat     ? Step::OpenList
                : step == Step::CheckStat  ? Step::CheckList
                : step == Step::TargetStat ? Step::TargetList
                                           : Step::ListAfter;
    if (code == 500 || code == 502 || code == 504) statRefused_ = true;
    std::optional<net::TDirectoryEntry> found;
    if (code >= 211 && code <= 213) {
        found = EntryFromStatus(reply, entryName_);
        // A path may come back as its last part alone.
        std::size_t slash = entryName_.rfind('/');
        if (!found && slash != std::string::npos)
            found = EntryFromStatus(reply, entryName_.substr(slash + 1));
    }
    // No line for the file proves nothing (a server may answer STAT differently): the listing
    // decides.
    if (!found) return StartList(list);
    entry_ = {true,
              found->Size,
              found->Date,
              found->Attributes,
              found->Attributes.rfind('l', 0) == 0,
              found->LinkTarget};
    step_ = Step::Idle;
    switch (step) {
    case Step::OpenStat:
        return OpenEntryKnown();
    case Step::CheckStat:
        listOk_ = true;
        return CheckedEntry();
    case Step::TargetStat:
        return CheckedEntry();
    default:
        return AfterListing();
    }
}

void TRemoteSession::OpenEntryKnown() {
    // A link's own date and size say nothing of the file it points to.
    bool file = entry_.found && !entry_.link;
    if (file) stamp_.listDate = entry_.date;
    StartRetrieve(file ? entry_.size : -1);
}

void TRemoteSession::StartRetrieve(std::int64_t listedSize) {
    buffer_.clear();
    received_ = 0;
    // A document's first text may load as it arrives: a failure closes the document anyway.
    // A reload keeps the text it has until the whole file is here.
    pieces_ = !downloaded_ && host_.TakesPieces();
    // The listed size spares the buffer its regrowing copies; a server's figure is only a hint.
    constexpr std::int64_t kMaxReserve = std::int64_t(1) << 30;
    if (!pieces_ && listedSize > 0)
        buffer_.reserve(std::size_t(std::min(listedSize + 1, kMaxReserve)));
    step_ = Step::Retrieve;
    Arm();
    ftp_.RetrieveToString(fileName_, buffer_);
}

void TRemoteSession::StartList(Step step) {
    entry_ = Entry();
    // The listing is of the current folder: a path elsewhere is not in it.
    if (step == Step::TargetList && entryName_.find('/') != std::string::npos)
        return CheckedEntry();
    step_ = step;
    Arm();
    ftp_.ListDirectory();
}

// --- pieces and failure ------------------------------------------------------------------------

// Passes what arrived since the last piece to the host.
void TRemoteSession::TakePiece() {
    if (buffer_.empty()) return;
    received_ += std::int64_t(buffer_.size());
    host_.DownloadPiece(buffer_);
    buffer_.clear(); // the client appends the next bytes from the start again
}

void TRemoteSession::OpenFailed(const std::string& detail) {
    if (ftp_.Aborted() || !ftp_.Connected()) ResetConnection();
    pieces_ = false;
    step_ = Step::Idle;
    Disarm();
    queue_.clear();
    buffer_.clear();
    buffer_.shrink_to_fit();
    SetBusy(false, false);
    host_.SessionStatus("");
    host_.SessionFailed(Format("Error getting file %s:\r\n%s", {fileName_, detail}), !downloaded_);
}

} // namespace morvane::app
