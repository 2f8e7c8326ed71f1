#pragma once
// Recovery files: the text of a document with unsaved changes, kept on disk so that a crash or a
// kill does not take the edits with it.
//
// A file is a short header of "key: value" lines after a first line with the format's version,
// an empty line, then the text's bytes (with the document's own line ends). The header gives the
// text's length and checksum, so a file cut short or damaged is recognised rather than offered as
// if it were whole.
//
// Each running instance holds an flock on a lock file of its own in the folder and names its
// recovery files after it; files whose instance no longer holds its lock are the ones left
// behind by a crash. The lock vanishes with the process, so a killed instance frees its files.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::app {

inline constexpr int kRecoveryVersion = 1;

struct RecoveryHeader {
    enum Kind { Local, Remote, Untitled };
    Kind kind = Local;
    std::string localPath;                    // Local: the file's absolute path
    std::string account, directory, fileName; // Remote: where it belongs; Untitled: its name
    std::string encoding;                     // the encoding's name
    std::string lineEnd = "LF";               // LF, CRLF or CR
    long long caretLine = 0, caretColumn = 0; // 0-based
    std::int64_t time = 0;                    // seconds since the epoch of the last change
    std::string instance;                     // the instance that wrote it
    std::string highlighter;                  // the language's name, may be empty
    // Remote: what the server showed of the file the text is based on (size -1: not known;
    // precision as net::TTimePrecision, 0 for none).
    std::int64_t serverSize = -1;
    std::string serverTime;
    int serverPrecision = 0;
};

// The header for a text of this length and checksum (see recoveryChecksum).
std::string recoveryHeaderText(const RecoveryHeader& header, std::uint64_t length,
                               std::uint64_t checksum);
std::uint64_t recoveryChecksum(std::string_view text);

struct RecoveryRead {
    enum Status { Ok, Damaged, Truncated, Newer, Unreadable };
    Status status = Damaged;
    RecoveryHeader header; // as far as it could be read
    std::string text;      // Ok only
    std::string problem;   // what is wrong, for the user
};
RecoveryRead parseRecovery(std::string_view bytes);
RecoveryRead readRecoveryFile(const std::filesystem::path& file);

// Writes header and text atomically with mode 0600; false with error set.
bool writeRecoveryFile(const std::filesystem::path& file, const RecoveryHeader& header,
                       std::string_view text, std::string& error);

// The same for a text as the editor stores it (records ending in CR), given the header's line
// ends while it is written, a piece at a time.
bool writeStoredRecoveryFile(const std::filesystem::path& file, const RecoveryHeader& header,
                             std::string_view stored, std::string& error);

// "Untitled" or the local path, or "account: directory/name".
std::string recoveryPlace(const RecoveryHeader& header);

// The stored text (records ending in CR) with the line ends named ("LF", "CRLF", "CR").
std::string withLineEnds(std::string_view stored, std::string_view lineEnd);

class RecoveryFolder {
public:
    explicit RecoveryFolder(std::filesystem::path dir);
    ~RecoveryFolder();
    RecoveryFolder(const RecoveryFolder&) = delete;
    RecoveryFolder& operator=(const RecoveryFolder&) = delete;

    // Creates the folder (0700) and takes this instance's lock. False with error() when the
    // folder cannot be used.
    bool open();
    bool isOpen() const { return lockFd_ >= 0; }
    const std::string& error() const { return error_; }
    const std::filesystem::path& dir() const { return dir_; }
    const std::string& instance() const { return instance_; }

    // A new file name of this instance for one document.
    std::filesystem::path newFile();
    // Recovery files of instances that no longer run (this one's never), oldest first.
    std::vector<std::filesystem::path> leftBehind() const;
    // Takes a left-behind file over as this instance's: its new name, or nullopt when another
    // instance took it first or it cannot be renamed.
    std::optional<std::filesystem::path> claim(const std::filesystem::path& file);
    // Removes the lock files of instances gone that have no recovery files any more.
    void tidy() const;

private:
    bool instanceRuns(const std::string& instance) const;

    std::filesystem::path dir_;
    std::string instance_;
    std::string error_;
    int lockFd_ = -1;
    unsigned next_ = 0;
};

// Writes and removes recovery files on a worker thread of its own, in the order asked, so the
// thread that edits never waits for the disk. A write still waiting when a newer one for the
// same file arrives is replaced by it.
class RecoveryWriter {
public:
    // Called on the worker thread with a failed write's message.
    using ErrorReport = std::function<void(const std::string&)>;
    explicit RecoveryWriter(ErrorReport onError);
    ~RecoveryWriter(); // does what is queued, then ends the thread
    RecoveryWriter(const RecoveryWriter&) = delete;
    RecoveryWriter& operator=(const RecoveryWriter&) = delete;

    // stored: the text as the editor stores it; the worker gives it the header's line ends.
    void write(std::filesystem::path file, RecoveryHeader header,
               std::shared_ptr<const std::string> stored);
    void remove(std::filesystem::path file);
    // Waits until everything asked so far is done.
    void flush();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace morvane::app
