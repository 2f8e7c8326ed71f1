#include "core/platform/GatheringDialogs.h"

namespace morvane::platform {

namespace {

int severity(MsgKind kind) {
    switch (kind) {
    case MsgKind::Error:
        return 3;
    case MsgKind::Warning:
        return 2;
    case MsgKind::Information:
        return 1;
    default:
        return 0;
    }
}

} // namespace

MsgResult GatheringDialogs::showMessage(MsgKind kind, const std::string& text, unsigned buttons,
                                        const std::string& caption) {
    if (depth_ > 0 && buttons == mbOK && severity(kind) > 0) {
        kept_.push_back({kind, text, caption});
        return MsgResult::OK;
    }
    return inner_.showMessage(kind, text, buttons, caption);
}

void GatheringDialogs::beep() {
    // The combined message beeps once for all the errors it holds.
    if (depth_ == 0) inner_.beep();
}

void GatheringDialogs::endGathering(const std::string& heading) {
    if (depth_ == 0 || --depth_ > 0) return;
    std::vector<Kept> kept;
    kept.swap(kept_);
    if (kept.empty()) return;
    if (kept.size() == 1) {
        inner_.showMessage(kept[0].kind, kept[0].text, mbOK, kept[0].caption);
        return;
    }
    MsgKind kind = kept[0].kind;
    std::string text = heading;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (severity(kept[i].kind) > severity(kind)) kind = kept[i].kind;
        if (i < maxQuoted) text += "\n\n" + kept[i].text;
    }
    if (kept.size() > maxQuoted)
        text += "\n\n... and " + std::to_string(kept.size() - maxQuoted) + " more.";
    inner_.showMessage(kind, text, mbOK, {});
}

} // namespace morvane::platform
