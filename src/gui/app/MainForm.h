#pragma once
// TMainForm: the program's one top-level window. It owns the documents (tabs), the output pane,
// the toolbars and the Settings key, and runs start-up (first activation) and the shutdown that
// closes every document before the window goes.

#include "core/app/Commands.h"
#include "core/app/ExtensionTable.h"
#include "core/app/MainFormSettings.h"
#include "core/highlight/BuiltinHighlighters.h"
#include "gui/app/AppContext.h"
#include "gui/app/RemoteServices.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <set>

namespace morvane::net {
class TConnectionPool;
class TRemoteFileSystem;
} // namespace morvane::net

class QAction;
class QShortcut;
class QLabel;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTabWidget;
class QToolBar;

namespace morvane::app {

class DocumentPage;

// The version compiled in ("2.2.1.155": the project's version and the build number).
const char* programFileVersion();

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(AppContext context, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Settings through the Settings key held open for the window's lifetime.
    std::string readSetting(std::string_view name) const { return settings_.read(name); }
    void writeSetting(std::string_view name, std::string_view text) { settings_.write(name, text); }

    QAction* action(std::string_view name) const;
    QMenu* menu(std::string_view title) const;      // by caption without "&", e.g. "File"
    QToolBar* toolbar(std::string_view name) const; // "Main", "Edit", "HTML"
    QTabWidget* pageControl() const { return pages_; }
    QListWidget* outputList() const { return output_; }
    QLabel* statusPanel(int index) const { return panels_.at(std::size_t(index)); }
    QProgressBar* transferProgressBar() const { return progress_; }
    QPushButton* cancelTransferButton() const { return cancelButton_; }

    // The output pane: remove every CR; each piece up to a LF becomes one line, and a non-empty
    // rest one more.
    void appendOutput(std::string_view text);
    void setOutputVisible(bool visible);
    bool outputVisible() const { return outputVisible_; }
    // A remote command runs: the status bar's Cancel button is shown for it whatever the
    // documents' transfers do.
    void setCommandRunning(bool running);
    bool commandRunning() const { return commandRunning_; }

    // Documents.
    void addDocument(DocumentPage* page, const QString& caption);
    DocumentPage* activeDocument() const;
    int documentCount() const;
    // Called by a document that has closed; the window destroys it after the current event.
    void postDocumentClosed(DocumentPage* page);
    // A document whose close was cancelled (or whose transfer failed) keeps the program open.
    void clearClosingFlag() {
        closing_ = false;
        askedToClose_.clear();
    }
    bool isClosing() const { return closing_; }
    void enableDocumentCommands(bool enable);
    // Marks a command as having behaviour; commands without it stay disabled.
    void setCommandAvailable(std::string_view name, bool available);
    // Enables a command that has behaviour; one without stays disabled.
    void enableCommand(std::string_view name, bool enable);
    // Whether the clipboard holds something to paste, as last asked: asking can wait on the
    // program that owns the clipboard, so it is asked when the clipboard reports a change and
    // when a menu opens, never on a keystroke.
    bool clipboardHasText() const { return clipboardHasText_; }
    void refreshClipboardState();
    // The tab caption of a document ("*" and its file name, shown as it is, "&" included) and
    // the window title while it is the active one.
    void setDocumentCaption(DocumentPage* page, const std::string& caption,
                            const std::string& title);

    // Opens each file as a local document (not new).
    void openLocalFiles(const std::vector<std::string>& paths);

    // Opens one command-line or handed-over argument (local path or remote reference). Tests
    // may take the arguments instead.
    std::function<void(const std::string& argument)> onOpenArgument;
    void openArgument(const std::string& argument);
    // Arguments handed over by a second start: come to the front, then open each.
    void handOverReceived(const std::vector<std::string>& arguments);

    bool firstActivationDone() const { return activated_; }
    ExtensionTable& extensionTable() { return extensionTable_; }
    // The highlighter list: the built-in ones, then the user's "*.stx" scripts.
    const highlight::Highlighters& highlighters() const { return highlighters_; }
    // The highlighter a file name gets through the extension table; plain text when the table
    // has no entry or names a language no highlighter has. -1 while the list is empty.
    // By the name's extension, or by the "#!" line of a script (see ExtensionTable::languageFor).
    int highlighterIndexFor(const std::string& fileName, std::string_view firstLine = {}) const;
    const AppContext& context() const { return context_; }

    // The auto-replace and template buffers read from the program folder at the first
    // activation. Loads them into a highlighter's stores (a buffer that is empty leaves its
    // store alone); a buffer that does not load is reported in the output pane.
    void applyEditorAids(highlight::TSM_Settings& settings);

    // The remote road: windows that other parts of the program open, and the account used last
    // (at start the default account: the first stored one unless "No default account" is "1").
    TRemoteServices& remote() { return remote_; }
    net::TAccount& lastUsedAccount() { return lastAccount_; }
    void reloadDefaultAccount();
    net::TFirewallSettings firewallSettings() const;
    // A remote file system for a document or a browser on this loop: it shares the logins of
    // its account with the others (the pool keeps idle connections alive by the setting
    // "Keep-alive interval"). Null for another loop: the caller makes its own.
    std::unique_ptr<net::TRemoteFileSystem> sharedFileSystem(platform::EventLoop& loop);

    // The Open command: the remote browser with the last-used account; each chosen file opens
    // as a remote document.
    void openRemoteCommand();
    // Enters a closing document into the recent-files list and rebuilds its menus.
    void addRecentFile(const std::string& account, const std::string& directory,
                       const std::string& fileName);
    // Both recent-files menus (File > Reopen and the Open button's drop-down are one menu).
    void rebuildRecentMenus();
    QMenu* recentMenu() const { return recentMenu_; }
    void reopenRecent(int n);
    // Edit > Encoding (also opened by a click on the encoding panel of the status bar): the
    // active document's encoding is checked, a choice re-reads its bytes.
    QMenu* encodingMenu() const { return encodingMenu_; }
    void showEncoding(int encoding, bool bom);

    // File > New: the New items dialog, then a new document from the chosen template or a
    // blank one.
    void newCommand();
    // Settings > Options, opened on this page (0 General, 1 Firewall) over parent (the window
    // when null). After OK the default account and the recent-files menus follow the new values.
    void optionsCommand(int page = 0, QWidget* parent = nullptr);

    // Edit > Editor properties: the dialog for the active document's highlighter; after OK the
    // highlighter's templates and auto-replace list go to the two files and to the highlighters
    // of the other open documents.
    void editorPropertiesCommand();

    // The key map (MainFormKeys.cpp): the window's command keys, the tab keys of the desktop
    // map, and the keys of every language whose map is still one of the two built-in ones (a
    // map the user changed stays as it is). Stored as the "Key map" setting unless store is off.
    KeyMapKind keyMap() const { return keyMap_; }
    void applyKeyMap(KeyMapKind map, bool store = true);
    // The bar at the top of the window that asks a first start which map to use; null when it
    // was never shown.
    QWidget* keyMapQuestion() const { return keyMapBar_; }
    // The caption of the window command that takes shortcut before the editor could run command
    // with it; "" when none does or it is the same command.
    std::string windowKeyOwner(std::uint16_t shortcut, std::int32_t command) const;

signals:
    void firstActivationFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolbars();
    void createCentralArea();
    void createStatusBar();
    void formCreate();
    void formShow();
    // With no stored size: a share of the screen that the menu and toolbar row fit in.
    void placeFirstWindow();
    void firstActivation();
    void restoreToolbar(QToolBar* bar, const std::string& name);
    void formClose();
    void documentClosed(DocumentPage* page);
    void saveOutputHeight();
    void showAbout();
    // With the trace on, each menu that opens writes its items' enabled and checked states.
    void traceMenu(QMenu* menu) const;
    void showHelpTopics();
    void buildHighlighterList();
    void openLocalFileCommand();
    void gotoLineCommand();
    // The find dialogs' boxes (wrap around, whole document, mark all) as stored, and stored again
    // when the user changes one (MainFormSearch.cpp).
    void loadFindChoices();
    class TMorvaneEditor* requireDocument() const;
    void propagateExtras(highlight::TCodeMemoParser& source);
    // At the first activation: the stored map, or Classic and the question when none is stored.
    void startKeyMap();
    void showKeyMapQuestion();

    AppContext context_;
    MainFormSettings settings_;
    std::shared_ptr<net::TConnectionPool> pool_; // its file systems keep it
    bool closing_ = false;
    // The documents that closing the window asked to close; one that is not among them keeps
    // the window open.
    std::vector<QPointer<DocumentPage>> askedToClose_;
    bool clipboardHasText_ = false;
    bool shown_ = false;
    bool activated_ = false;
    bool outputVisible_ = false;
    bool commandRunning_ = false;
    bool firstPaintSeen_ = false;

    std::map<std::string, QAction*, std::less<>> actions_;
    std::map<std::string, QMenu*, std::less<>> menus_;
    std::map<std::string, QToolBar*, std::less<>> toolbars_;
    std::set<std::string, std::less<>> available_;
    bool documentCommandsOn_ = false;
    QTabWidget* pages_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QListWidget* output_ = nullptr;
    std::vector<QLabel*> panels_;
    QMenu* encodingMenu_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QMenu* tabMenu_ = nullptr;
    QMenu* highlighterMenu_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    ExtensionTable extensionTable_;
    highlight::Highlighters highlighters_;
    TRemoteServices remote_;
    net::TAccount lastAccount_;
    std::string autoReplaceBuffer_;
    std::string templatesBuffer_;
    KeyMapKind keyMap_ = KeyMapKind::Classic;
    QWidget* keyMapBar_ = nullptr;
    std::vector<QShortcut*> windowShortcuts_;
};

} // namespace morvane::app
