#pragma once
// The program's side of recovery files: one service for the running instance (its folder, its
// lock and the writer thread) and, for each document, a keeper that writes the document's text a
// moment after the user stops typing, and removes it once the text is saved or the document
// closes without saving.
//
// Writing never waits for the disk on the editing thread: the keeper copies the text's blocks
// into a buffer of its own (a plain memory copy; the buffer is reused so a large document costs
// no new pages each time) and hands it to the writer thread, which gives it the document's line
// ends, checks it and writes it. The copy goes a few megabytes per turn of the event loop, so a
// keystroke waits for one piece at most; a keystroke in between starts it again, so during
// uninterrupted fast typing in a very large text the copy is taken at the first short pause.

#include "core/app/Recovery.h"

#include <QObject>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace morvane::platform {
class Dialogs;
}

namespace morvane::app {

class TMorvaneEditor;

class TRecoveryService : public QObject {
public:
    // dir: the recovery folder. A folder that cannot be used is reported once, through
    // the dialogs set later, and the program goes on without recovery files.
    explicit TRecoveryService(std::filesystem::path dir);
    ~TRecoveryService() override;

    void setDialogs(platform::Dialogs* dialogs);
    bool active() const { return folder_.isOpen(); }
    RecoveryFolder& folder() { return folder_; }
    RecoveryWriter& writer() { return *writer_; }
    // Reports a problem with the folder once per run; editing goes on.
    void problem(const std::string& message);

    // How long after the last change a text is written, and at most how long typing that goes
    // on delays it.
    int quietMs = 2000;
    int ceilingMs = 8000;

private:
    RecoveryFolder folder_;
    std::unique_ptr<RecoveryWriter> writer_;
    platform::Dialogs* dialogs_ = nullptr;
    std::string pending_; // a problem found before the dialogs were there
    bool warned_ = false;
};

class TDocumentRecovery : public QObject {
public:
    TDocumentRecovery(TMorvaneEditor& doc, TRecoveryService& service);
    ~TDocumentRecovery() override;

    // The text may have changed (or been saved, or undone back to the saved text).
    void changed();
    // The document closes: its file goes.
    void closed();
    // A recovered document goes on writing into the file it came from.
    void adopt(const std::filesystem::path& file);
    // Writes now if anything is waiting (for tests and the benchmark).
    void writeNow();
    // How many times the text was handed to the writer.
    int snapshots() const { return snapshots_; }

private:
    bool due() const;
    void startCopy();
    void copyStep();
    void finish(); // the copy is whole: to the writer
    void remove();

    TMorvaneEditor& doc_;
    TRecoveryService& service_;
    QTimer quiet_, ceiling_, step_;
    std::uint64_t copied_ = 0;     // bytes of the text in buffer_ so far
    std::uint64_t generation_ = 0; // the text's generation when the copy began
    std::optional<std::filesystem::path> file_;
    bool written_ = false;           // file_ holds (or is about to hold) a text
    std::uint64_t writtenState_ = 0; // the text's state when it was last written
    std::shared_ptr<std::string> buffer_;
    int snapshots_ = 0;
};

} // namespace morvane::app
