#pragma once
// What the core asks of the desktop: message boxes and beeps, file dialogs, the clipboard and
// opening an address in the browser. The program passes Qt implementations (platform/qt);
// tests pass the scriptable doubles of platform/FakeUi.h.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace morvane::platform {

enum class MsgKind { Error, Warning, Information, Confirmation, Plain };

enum MsgButtons : unsigned {
    mbOK = 1,
    mbYes = 2,
    mbNo = 4,
    mbCancel = 8,
    mbRetry = 16,
    mbYesToAll = 32,
    mbOverwrite = 64,
    mbReload = 128,
    mbAll = 256,
    mbContinue = 512,
    mbConnectAnyway = 1024,
    mbAlwaysTrust = 2048,
    mbConnectOnce = 4096,   // an unknown SSH host: this time only
    mbAlwaysConnect = 8192, // an unknown SSH host: and remember its key
    mbCompare = 16384,      // a file changed elsewhere: show the differences, then ask again
    mbYesNo = mbYes | mbNo,
    mbYesNoCancel = mbYes | mbNo | mbCancel,
    mbRetryCancel = mbRetry | mbCancel,
    mbOKCancel = mbOK | mbCancel,
    mbOverwriteReloadCancel = mbOverwrite | mbReload | mbCancel,
};

enum class MsgResult {
    OK,
    Yes,
    No,
    Cancel,
    Retry,
    YesToAll,
    Overwrite,
    Reload,
    All,
    Continue,
    ConnectAnyway,
    AlwaysTrust,
    ConnectOnce,
    AlwaysConnect,
    Compare
};

struct FileDialogOptions {
    std::string title;
    std::string filter; // "Any file (*.*)|*.*" pairs of description and patterns
    std::string directory;
    std::string fileName;
    bool multiple = false;
    bool mustExist = true;
    bool confirmOverwrite = true;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Errors beep first. An empty caption means the program's name.
    MsgResult message(MsgKind kind, const std::string& text, unsigned buttons = mbOK,
                      const std::string& caption = {}) {
        return showMessage(kind, text, buttons, caption);
    }
    virtual MsgResult showMessage(MsgKind kind, const std::string& text, unsigned buttons,
                                  const std::string& caption) = 0;
    virtual void beep() = 0;
    // Empty when the user cancels.
    virtual std::vector<std::string> openFiles(const FileDialogOptions& options) = 0;
    virtual std::optional<std::string> saveFile(const FileDialogOptions& options) = 0;
    virtual std::optional<std::string> chooseDirectory(const std::string& title,
                                                       const std::string& start) = 0;

    void error(const std::string& text) { message(MsgKind::Error, text, mbOK); }
};

// MIME type to bytes: "text/plain", "text/html", "text/rtf", "text/uri-list".
using MimeData = std::map<std::string, std::string>;

class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual bool hasText() const = 0;
    virtual std::string text() const = 0;
    virtual std::optional<std::string> data(const std::string& mimeType) const = 0;
    virtual bool hasFormat(const std::string& mimeType) const { return data(mimeType).has_value(); }
    // Replaces the clipboard's contents with all the given formats at once.
    virtual void setData(const MimeData& formats) = 0;
    void setText(const std::string& text) { setData({{"text/plain", text}}); }
    // Calls the handler whenever the contents change, by this program or another; an empty
    // handler stops it. One handler at a time. Asking what the clipboard holds can wait on the
    // program that owns it, so callers ask when told of a change rather than on every event.
    virtual void setChangedHandler(std::function<void()> handler) = 0;
};

class Shell {
public:
    virtual ~Shell() = default;
    // Opens an address in the user's browser without waiting. False when nothing could open it.
    virtual bool openUrl(const std::string& address) = 0;
};

} // namespace morvane::platform
