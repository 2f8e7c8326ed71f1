#pragma once
// TAutoReplace: words replaced when one of the end keys is typed after them.

#include "core/editor/CodeTemplates.h"

#include <vector>

namespace morvane::editor {

class TAutoReplace : public TCodeTemplates {
public:
    static constexpr const char* kDefaultEndKeys = ";,:.=()[]\\{Return}\\{Tab}\\{Space}";

    TAutoReplace();
    const char* className() const override { return "TAutoReplace"; }

    void addReplacement(std::string_view item, std::string_view replacement);
    // Parses the text into end keys; "\{name" without "}" raises ECodeMemo "Bad key specifier"
    // and leaves the previous keys in place, as does a text over 255 bytes.
    void setEndKeyText(std::string_view text);
    const std::string& endKeyText() const { return endKeyText_; }
    // Key codes with Shift as 256 and Ctrl as 512, each listed once.
    const std::vector<std::uint16_t>& endKeys() const { return endKeys_; }
    void reset();

    bool isTrigger(std::uint16_t key, unsigned shift) const override;

    void saveToStream(BinaryWriter& out) const override;
    void loadFromStream(BinaryReader& in) override;

private:
    std::string endKeyText_;
    std::vector<std::uint16_t> endKeys_;
};

} // namespace morvane::editor
