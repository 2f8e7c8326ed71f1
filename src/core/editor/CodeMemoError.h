#pragma once
// The failure raised by the editor control and the highlighter component.

#include <stdexcept>
#include <string>

namespace morvane::editor {

class ECodeMemo : public std::runtime_error {
public:
    explicit ECodeMemo(const std::string& message) : std::runtime_error(message) {}
};

} // namespace morvane::editor
