#pragma once
// The extension table of "filetypes.txt": which language's highlighter a file gets by the
// extension of its name, or, for a script, by the program its "#!" line names (entries such as
// "#!python", which the file lists beside the extensions).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::app {

// The extension of a file name from its last dot, lower-cased; "." when it has none.
std::string fileExtension(std::string_view fileName);

// The program a "#!" first line runs, as "#!name": the last part of its path, or the program
// "env" is given (its options and VAR=value words skipped). Empty when the line is no "#!" line.
std::string interpreterKey(std::string_view firstLine);

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
    // The language of a document: by its name's extension when the table lists it, else by the
    // program its "#!" first line names ("python3.11" is also tried as "python3" and "python"),
    // else, for a name without an extension, the entry of ".".
    std::optional<std::string> languageFor(std::string_view fileName,
                                           std::string_view firstLine) const;
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
