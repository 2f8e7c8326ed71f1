#pragma once
// Scriptable doubles of the desktop services for tests: they record what was shown and answer
// questions from a queue that the test fills.

#include "core/platform/UiServices.h"

#include <algorithm>
#include <deque>
#include <stdexcept>

namespace morvane::platform {

class FakeDialogs final : public Dialogs {
public:
    struct Shown {
        MsgKind kind;
        std::string text;
        unsigned buttons;
        std::string caption;
    };
    std::vector<Shown> shown;
    std::deque<MsgResult> answers; // taken in order; when empty the first offered button is taken
    int beeps = 0;
    std::deque<std::vector<std::string>> openAnswers;
    std::deque<std::optional<std::string>> saveAnswers;
    std::deque<std::optional<std::string>> directoryAnswers;
    std::vector<FileDialogOptions> fileDialogs;

    MsgResult showMessage(MsgKind kind, const std::string& text, unsigned buttons,
                          const std::string& caption) override {
        shown.push_back({kind, text, buttons, caption});
        if (kind == MsgKind::Error) ++beeps;
        if (!answers.empty()) {
            MsgResult r = answers.front();
            answers.pop_front();
            return r;
        }
        if (buttons & mbOK) return MsgResult::OK;
        if (buttons & mbYes) return MsgResult::Yes;
        if (buttons & mbRetry) return MsgResult::Retry;
        return MsgResult::Cancel;
    }
    void beep() override { ++beeps; }
    std::vector<std::string> openFiles(const FileDialogOptions& options) override {
        fileDialogs.push_back(options);
        if (openAnswers.empty()) return {};
        auto r = openAnswers.front();
        openAnswers.pop_front();
        return r;
    }
    std::optional<std::string> saveFile(const FileDialogOptions& options) override {
        fileDialogs.push_back(options);
        if (saveAnswers.empty()) return std::nullopt;
        auto r = saveAnswers.front();
        saveAnswers.pop_front();
        return r;
    }
    std::optional<std::string> chooseDirectory(const std::string&, const std::string&) override {
        if (directoryAnswers.empty()) return std::nullopt;
        auto r = directoryAnswers.front();
        directoryAnswers.pop_front();
        return r;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (auto& s : shown)
            t.push_back(s.text);
        return t;
    }
};

class FakeClipboard final : public Clipboard {
public:
    MimeData contents;
    // Formats announced whose data cannot be read (another program lost it).
    std::vector<std::string> unreadable;
    // How often the contents were asked about (each question may block on a real desktop).
    mutable int queries = 0;
    std::function<void()> changed;
    bool hasFormat(const std::string& mimeType) const override {
        ++queries;
        return contents.count(mimeType) != 0 ||
               std::find(unreadable.begin(), unreadable.end(), mimeType) != unreadable.end();
    }
    bool hasText() const override {
        ++queries;
        return contents.count("text/plain") != 0;
    }
    std::string text() const override {
        ++queries;
        auto it = contents.find("text/plain");
        return it == contents.end() ? std::string() : it->second;
    }
    std::optional<std::string> data(const std::string& mimeType) const override {
        ++queries;
        auto it = contents.find(mimeType);
        if (it == contents.end()) return std::nullopt;
        return it->second;
    }
    void setData(const MimeData& formats) override {
        contents = formats;
        announceChange();
    }
    void setChangedHandler(std::function<void()> handler) override { changed = std::move(handler); }
    // Another program copied something (set contents first).
    void announceChange() {
        if (changed) changed();
    }
};

class FakeShell final : public Shell {
public:
    std::vector<std::string> opened;
    bool succeed = true;
    bool openUrl(const std::string& address) override {
        opened.push_back(address);
        return succeed;
    }
};

} // namespace morvane::platform
