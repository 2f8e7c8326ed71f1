#pragma once
// TMorvaneEditor: one open file, shown as a tab of the main window with its editor control.
// Local files open and save here; remote ones add an FTP session of their own.

#include "core/app/RemoteSession.h"
#include "core/editor/TextEncoding.h"
#include "core/platform/FileIdentity.h"
#include "gui/app/DocumentPage.h"

#include <QElapsedTimer>
#include <QTimer>

class QFileSystemWatcher;
#include <chrono>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace morvane::editor {
class TCodeMemo;
}

namespace morvane::app {

class TMainForm;
class TDocumentRecovery;
class TLocalLoad;
struct RecoveryHeader;

class TMorvaneEditor : public DocumentPage, private TRemoteSessionHost {
    Q_OBJECT
public:
    enum Kind { kLocal = 0, kRemote = 1 };
    enum Operation { opSave = 1, opGet = 2, opClose = 3 };

    // Creates the tab (it becomes the active one) and the editor control.
    explicit TMorvaneEditor(TMainForm& form);
    ~TMorvaneEditor() override;

    editor::TCodeMemo& Editor() const { return *editor_; }
    const std::string& FileName() const { return fileName_; }
    // A local folder with its trailing "/", or the remote directory.
    const std::string& Directory() const { return directory_; }
    Kind DocumentKind() const { return kind_; }
    bool IsNew() const { return new_; }
    bool Busy() const { return busy_ || load_ || (session_ && session_->Busy()); }
    // A download, or a local load long enough to show its progress: the status bar's Cancel
    // stops it.
    bool Transferring() const {
        return (session_ && session_->Transferring()) || (load_ && loadShown_);
    }
    // The local file is still being read: the text is read-only and not yet the document's.
    bool Loading() const { return load_ != nullptr; }
    const std::string& AccountName() const { return accountName_; }
    // The account the remote document was opened with (its real host and user).
    const net::TAccount& Account() const { return account_; }
    // The remote side; null until the document first goes remote.
    TRemoteSession* Session() const { return session_.get(); }
    const std::string& StatusText() const { return statusText_; }
    bool UseRegularExpressions() const { return useRegularExpressions_; }

    // Loads a local file, in slices on the event loop (whole: all of it now); on failure shows
    // the error and closes the document without questions. Returns whether the document stays
    // open (it may still be loading: see WhenLoaded).
    bool OpenLocal(const std::string& path, bool isNew, bool whole = false);
    // Runs then once the file is read (at once when it is); never when the load fails.
    void WhenLoaded(std::function<void()> then);
    // Stops a local load: the document closes.
    void CancelLoad();
    // A new document with the template's name and text and no place yet: its first Save asks
    // for a local path (kLocal) or a place on a server (kRemote). The template file itself is
    // never written. On failure shows the error and closes the document.
    bool OpenTemplate(const std::string& path, Kind kind);
    // A new empty document named "untitled"; its first Save asks as above.
    void NewBlank(Kind kind);
    // Tab caption, highlighter by extension.
    void ApplyFileName();
    // The tab's caption and, when active, the window title: name, place, modified marker.
    void ShowState();
    // "Demo:/www", the local folder, or "" while the document has no place yet.
    std::string Place() const;
    // A note in the status bar that goes after a few seconds (unless something replaced it).
    void Flash(const std::string& text);
    // The start of the text (up to 256 bytes), for a script's "#!" line.
    std::string FirstLine() const;
    // Reads the same bytes in another encoding (nothing in the text changes).
    void SetEncoding(editor::TTextEncoding encoding);
    void activate() override;
    void Save();
    // Save As keeps the document's side: a remote document is saved through the remote browser.
    void SaveAs();
    // "Save As Local File" of a remote document, "Save As Remote File" of a local one.
    void SaveAsOtherSide();
    void SaveAsLocal();
    void SaveAsRemote();
    // Asks for a local file and writes the selection, or the whole text, as HTML or RTF.
    void Export(bool rtf);
    void Revert();
    // Opens the remote file fileName in account.Directory (empty: the home directory).
    void OpenRemote(const std::string& fileName, const net::TAccount& account);
    // Aborts the running transfer (the Cancel button).
    void CancelTransfer();
    // How long each step of a remote transfer waits for the server (new documents).
    static void SetReplyTimeout(std::chrono::milliseconds timeout);
    void closeRequest(bool force) override;
    void Enqueue(Operation op) { queue_.push_back(op); }
    void RunQueue();
    void ToggleRegularExpressions();
    // Inverts the control's word wrap.
    void ToggleWordWrap();
    // The text's context menu: the Edit commands, and the HTML tools in markup files.
    void ShowContextMenu(QPoint globalPos);
    // The index of the document's highlighter in the main window's list.
    int Highlighter() const { return highlighter_; }
    // The language's name of that highlighter; empty for plain text.
    std::string HighlighterName() const;
    // The highlighter of that language, when there is one (nothing is asked).
    void UseHighlighterNamed(const std::string& name);
    // A document from a recovery file: the text as it was, modified, belonging where the header
    // says (a remote one is saved to its account without being downloaded first). It goes on
    // writing into recoveryFile. False when it could not be opened (said to the user).
    bool OpenRecovered(const RecoveryHeader& header, const std::string& text,
                       const std::string& recoveryFile);
    // A document reopened with the last session: a first download that fails is a line in the
    // output pane rather than a message box, and the caret goes to line, column once it arrives.
    void ReopenQuietly(long long line, long long column) {
        reopening_ = true;
        reopenLine_ = line;
        reopenColumn_ = column;
    }
    // The recovery file's keeper; null when recovery files are off.
    TDocumentRecovery* Recovery() const { return recovery_; }
    // A highlighter chosen from the menus: used at once, and its extension offered for association.
    void ManualAssociation(int index);
    // Runs the double-spaced check and offers the repair.
    void CheckDoubleSpaced();
    // A file with a UTF-16 byte order mark is opened as its bytes: the user is told so.
    void WarnIfUtf16();
    // The status panels, when this is the active document.
    void RefreshStatus();
    // Offers to reload a local file that another program changed since the document last read
    // or wrote it; asks once for each change. The file's watch and the program's activation
    // call it; a question waiting for its tab to be shown is asked when the tab is activated.
    void CheckDiskFile();

private:
    void SetKind(Kind kind);
    // The local load (MorvaneEditorLoad.cpp).
    void ShowLoadProgress();
    void LoadFinished();
    void EnableForLoad();
    TRemoteSession& RemoteSession();
    std::string TextForUpload() const;

    // TRemoteSessionHost
    void SessionStatus(const std::string& text) override;
    void SessionProgress(bool storing, std::int64_t bytes, std::int64_t total) override;
    void ShowDownloadCount();
    void SessionBusyChanged() override;
    void Downloaded(std::string& bytes) override;
    bool TakesPieces() override;
    void DownloadPiece(std::string_view bytes) override;
    void DownloadDone() override;
    // After the text arrived: the document becomes editable and unmodified.
    void TextArrived();
    void SessionLoginFailed() override;
    void SessionFailed(const std::string& message, bool closeDocument) override;
    bool AskRetrySave(const std::string& message) override;
    TChangedAnswer AskChanged(const std::string& question) override;
    bool AskCreateMirrorFolder(const std::string& question) override;
    bool AskWriteInPlace(const std::string& question) override;
    void Saved() override;
    void Note(const std::string& text) override;
    void CloseRequested() override;

    // Puts the highlighter with this index in the main window's list into slot 1 and makes it
    // active; -1 leaves the slot empty.
    void UseHighlighter(int index);
    bool WriteFile(const std::string& path);
    bool IsActive() const;

    // The local file on disk (MorvaneEditorLocal.cpp).
    std::string LocalPath() const;
    // What the file is after the document read or wrote it; the watch follows it.
    void RememberDisk(const platform::FileIdentity& identity);
    void ForgetDisk();
    void WatchDisk();
    // True, with the file's identity now, when another program changed it since.
    bool ChangedOnDisk(platform::FileIdentity* now) const;
    // Before a local save: Overwrite when the file is as the document left it or the user says
    // so; Reload when the user chose to reload it instead (done); Cancel.
    TChangedAnswer AskBeforeOverwritingDisk();
    // Reads the file again; edits not saved stay one undo step back.
    void ReloadLocal();

    TMainForm& form_;
    editor::TCodeMemo* editor_ = nullptr;
    bool busy_ = false;
    std::string statusText_;
    std::string matchText_; // the count of the marked matches, or empty
    Kind kind_ = kLocal;
    std::string fileName_;
    std::string directory_;
    std::string accountName_;
    bool useRegularExpressions_ = false;
    bool new_ = true;
    bool closed_ = false;
    int highlighter_ = -1;
    QElapsedTimer progressShown_; // when the download count was last shown
    QTimer progressTimer_;        // shows the latest count once a pause has passed
    std::int64_t downloaded_ = 0;
    std::int64_t downloadTotal_ = 0; // the listed size; 0 when not known
    bool cancelling_ = false;        // the user stopped the first download
    std::deque<Operation> queue_;
    std::unique_ptr<TRemoteSession> session_;
    net::TAccount account_;
    std::string pieceError_; // why the text arriving in pieces could not be loaded
    // The text's state when the running remote save took its bytes.
    std::uint64_t savingState_ = 0;
    platform::FileIdentity diskIdentity_;
    platform::FileIdentity dismissedIdentity_; // a change the user chose not to reload
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer diskCheckTimer_;
    QTimer flashTimer_;
    std::string flashed_; // the note the timer takes away
    bool diskCheckDue_ = false;
    bool askingDisk_ = false;
    // Held while the session is busy, so that a transfer is not slowed by idle work.
    bool holdsBackground_ = false;
    void HoldBackground(bool hold);
    TDocumentRecovery* recovery_ = nullptr;
    TLocalLoad* load_ = nullptr; // deleted later once finished
    bool loadShown_ = false;     // its progress is in the status bar
    bool loadWasReadOnly_ = false;
    platform::FileIdentity loadIdentity_;
    std::vector<std::function<void()>> whenLoaded_;
    bool reopening_ = false;
    long long reopenLine_ = 1, reopenColumn_ = 1;
};

// Fills the main window's openRemoteDocument and connects the document commands of the remote
// road (Save As Local/Remote File, Revert, the Cancel button).
void installRemoteDocuments(TMainForm& form);

} // namespace morvane::app
