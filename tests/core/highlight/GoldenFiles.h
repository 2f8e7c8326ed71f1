#pragma once
// The golden samples: each text under golden/input/<folder>/ and its token runs under
// golden/reference/<folder>/<name>.tokens. Shared by the test that compares them and the
// program that rewrites them (golden/regenerate.sh), so that both write the runs alike.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::highlight::golden {

inline const std::filesystem::path& root() {
    static const std::filesystem::path dir =
        std::filesystem::path(MORVANE_RESOURCES_DIR).parent_path() / "tests" / "core" /
        "highlight" / "golden";
    return dir;
}

// Folder under input/ and reference/ -> the highlighter's language name.
inline const std::map<std::string, std::string>& folders() {
    static const std::map<std::string, std::string> f{
        {"html", "HTML"},         {"cpp", "C++"},   {"javascript", "JavaScript"},
        {"perl", "Perl"},         {"sql", "SQL"},   {"plaintext", "Plain text"},
        {"css", "CSS"},           {"php", "PHP"},   {"python", "Python"},
        {"shell", "Shell"},       {"json", "JSON"}, {"xml", "XML"},
        {"markdown", "Markdown"}, {"ini", "INI"},   {"yaml", "YAML"}};
    return f;
}

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// As the editor stores it: every line break one CR.
inline std::string editorText(const std::string& file) {
    std::string out;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n') continue;
        out += file[i] == '\n' ? '\r' : file[i];
    }
    return out;
}

inline std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + char(c);
        else if (c < 32 || c >= 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else
            out += char(c);
    }
    return out + "\"";
}

// One line per run of equal token value: offset, length, value and the text for review.
inline std::string runs(const std::string& text, const std::vector<std::uint8_t>& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size();) {
        std::size_t j = i;
        while (j < v.size() && v[j] == v[i])
            ++j;
        out += std::to_string(i) + " " + std::to_string(j - i) + " " + std::to_string(v[i]) + " " +
               quoted(std::string_view(text).substr(i, j - i)) + "\n";
        i = j;
    }
    return out;
}

struct Sample {
    std::string language;
    std::filesystem::path input;
    std::filesystem::path reference;
};

// Every sample, in a stable order.
inline std::vector<Sample> samples() {
    std::vector<Sample> out;
    for (const auto& [folder, language] : folders()) {
        std::vector<std::filesystem::path> inputs;
        for (const auto& entry : std::filesystem::directory_iterator(root() / "input" / folder))
            inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
        for (const auto& in : inputs)
            out.push_back({language, in,
                           root() / "reference" / folder / (in.filename().string() + ".tokens")});
    }
    return out;
}

} // namespace morvane::highlight::golden
