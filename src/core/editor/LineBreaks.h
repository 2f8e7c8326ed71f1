#pragma once
// Every line break that enters the editor (CR LF, LF CR, lone LF, lone CR) is stored as one CR.
// All other bytes pass unchanged: NUL and control characters are text like any other.

#include "core/editor/TextTypes.h"

#include <optional>
#include <string>
#include <string_view>

namespace morvane::editor {

class LineBreakNormaliser {
public:
    // Appends the stored form of in to out. A CR or LF ending in is held back until the next
    // call or Finish shows whether it pairs with the following byte, so the result does not
    // depend on where the input was cut into pieces.
    void Feed(std::string_view in, std::string& out);
    void Finish(std::string& out);
    bool Pending() const { return pending_ != 0; }
    // The form of the first line break seen, once known.
    std::optional<TLineEnd> FirstBreak() const { return first_; }

private:
    void Seen(char c, bool paired);
    char pending_ = 0;
    std::optional<TLineEnd> first_;
};

// The stored form of a whole text.
std::string NormaliseLineBreaks(std::string_view in);

// Appends stored text (CR line breaks) to out with the given line ends.
void AppendWithLineEnds(std::string_view stored, TLineEnd end, std::string& out);

} // namespace morvane::editor
