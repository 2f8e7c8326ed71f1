#pragma once
// The extension table of "filetypes.txt": which language's highlighter a file gets by the
// extension of its name.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::app {

// The extension of a file name from its last dot, lower-cased; "." when it has none.
std::string fileExtension(std::string_view fileName);

class ExtensionTable {
public:
    struct Entry {
        std::string extension; // lower case, with its dot; "." for no extension
        std::string language;
    };

    // Reads the table; a file that cannot be read gives an empty table.
    bool load(const std::filesystem::path& file);
    void parse(std::string_view text);

    // Case-insensitive; the language name as written in the file.
    std::optional<std::string> languageOf(std::string_view extension) const;
    // Replaces the language of a known extension, or appends the pair.
    void associate(std::string_view extension, std::string_view language);

    // The comment lines at the top of the file it was read from, an empty line, then one line
    // per entry: extension, TAB, language.
    std::string text() const;
    // Writes text() to the file, replacing it safely. Empty on success, else the error.
    std::string save(const std::filesystem::path& file) const;

    const std::vector<Entry>& entries() const { return entries_; }

private:
    std::vector<std::string> headerComments_;
    std::vector<Entry> entries_;
};

} // namespace morvane::app
