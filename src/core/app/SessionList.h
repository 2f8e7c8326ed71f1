#pragma once
// The documents open when the program last closed normally, reopened at the next start that
// names no files. One line per document, tab-separated fields, so a damaged line costs only its
// own document.

#include <string>
#include <string_view>
#include <vector>

namespace morvane::app {

struct SessionDocument {
    bool remote = false;
    std::string path;                         // local: the absolute path
    std::string account, directory, fileName; // remote
    long long caretLine = 1, caretColumn = 1; // 1-based
    std::string highlighter;                  // language name; empty: by the file's name
};

std::string serializeSession(const std::vector<SessionDocument>& documents);
// Lines that cannot be read are skipped.
std::vector<SessionDocument> parseSession(std::string_view text);

} // namespace morvane::app
