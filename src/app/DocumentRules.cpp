#include "app/DocumentRules.h"

#include <cstdio>

namespace morvane::app {

DoubleSpacing detectDoubleSpacing(std::size_t count,
                                  const std::function<bool(std::size_t)>& lineEmpty) {
    if (count <= 1) return DoubleSpacing::None;
    auto allEmpty = [&](std::size_t first) {
        for (std::size_t i = first; i < count; i += 2)
            if (!lineEmpty(i)) return false;
        return true;
    };
    if (allEmpty(0)) return DoubleSpacing::TextOnOddLines;
    if (allEmpty(1)) return DoubleSpacing::TextOnEvenLines;
    return DoubleSpacing::None;
}

std::size_t removeDoubleSpacing(DoubleSpacing spacing, std::size_t count,
                                const std::function<void(std::size_t)>& deleteLine) {
    if (spacing == DoubleSpacing::None) return 0;
    std::size_t removed = 0;
    for (std::size_t i = spacing == DoubleSpacing::TextOnOddLines ? 0 : 1; i < count; ++i) {
        deleteLine(i);
        --count;
        ++removed;
    }
    return removed;
}

std::string caretPositionText(long line, long column) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%4ld:%4ld", line, column);
    return buf;
}

std::string saveBeforeClosingQuestion(std::string_view fileName) {
    return "File '" + std::string(fileName) + "' has been modified, save before closing?";
}

std::string cancelSavingQuestion(std::string_view fileName) {
    return "Cancel saving file '" + std::string(fileName) + "'?";
}

std::string associationQuestion(std::string_view fileName, std::string_view language) {
    std::size_t dot = fileName.rfind('.');
    std::string phrase = dot == std::string_view::npos
                             ? std::string("no extension")
                             : "extension \"" + std::string(fileName.substr(dot)) + "\"";
    std::string lower(language);
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "Do you want to associate all files with " + phrase + " with " + lower +
           " syntax highlighting?";
}

} // namespace morvane::app
