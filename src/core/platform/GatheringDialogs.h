#pragma once
// Dialogs that can hold back notices: while gathering, a message that only informs (an error,
// warning or note with an OK button alone) is kept, and when gathering ends the kept ones are
// shown as one message. Questions, file choosers and everything else pass through at once.
//
// The first instance gathers while it opens one hand-over, so that a hundred missing files make
// one box, not a hundred boxes each waiting for the user in turn.

#include "core/platform/UiServices.h"

#include <string>
#include <vector>

namespace morvane::platform {

class GatheringDialogs : public Dialogs {
public:
    explicit GatheringDialogs(Dialogs& inner) : inner_(inner) {}

    // Nested begin/end pairs gather into the outermost one.
    void beginGathering() { ++depth_; }
    // Shows what was kept since the outermost begin; heading introduces several messages.
    void endGathering(const std::string& heading);
    bool gathering() const { return depth_ > 0; }

    // At most this many messages are quoted in the combined one; the rest are counted.
    static constexpr std::size_t maxQuoted = 20;

    MsgResult showMessage(MsgKind kind, const std::string& text, unsigned buttons,
                          const std::string& caption) override;
    void beep() override;
    std::vector<std::string> openFiles(const FileDialogOptions& options) override {
        return inner_.openFiles(options);
    }
    std::optional<std::string> saveFile(const FileDialogOptions& options) override {
        return inner_.saveFile(options);
    }
    std::optional<std::string> chooseDirectory(const std::string& title,
                                               const std::string& start) override {
        return inner_.chooseDirectory(title, start);
    }

private:
    struct Kept {
        MsgKind kind;
        std::string text;
        std::string caption;
    };
    Dialogs& inner_;
    int depth_ = 0;
    std::vector<Kept> kept_;
};

} // namespace morvane::platform
