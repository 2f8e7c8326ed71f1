#pragma once
// `morvane --export html|rtf FILE -o OUT [--highlighter NAME]`: writes a file's highlighted text
// as a page or a rich-text document without a window, choosing the highlighter by extension as
// documents do, with the user's stored highlighter settings.

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace morvane::platform {
class Registry;
}

namespace morvane::app {

struct ExportRequest {
    bool rtf = false;
    std::string input;
    std::string output;
    std::string highlighter; // a language name; empty: by the input's extension
};

// Reads the arguments after "--export"; false with the reason in error.
bool parseExportArguments(const std::vector<std::string>& args, ExportRequest& request,
                          std::string& error);

// Returns the exit code: 0 done, 1 failed (the reason goes to err).
int runExport(const ExportRequest& request, platform::Registry& registry,
              const std::filesystem::path& resources, const std::filesystem::path& programFolder,
              std::ostream& err);

} // namespace morvane::app
