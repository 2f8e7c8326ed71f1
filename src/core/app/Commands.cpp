#include "core/app/Commands.h"

#include <algorithm>
#include <array>

namespace morvane::app {

namespace {

constexpr CommandInfo kCommands[] = {
    {"FileNew", "&New", "Ctrl+N", "Create new file"},
    {"FileOpen", "&Open...", "Ctrl+O", "Open existing file"},
    {"FileOpenLocalFile", "Open &Local File...", "Ctrl+L", "Open existing local file"},
    {"FileReopen", "&Reopen", "", "Reopen recently used files"},
    {"FileSave", "&Save", "Ctrl+S", "Save current file"},
    {"FileSaveAs", "Save &As...", "", "Save current file with a different name"},
    {"FileSaveAsLocalFile", "Save As Local &File...", "", "Save current file on local drive"},
    {"FileRevert", "Re&vert", "", "Discard changes and revert to original file"},
    {"FilePrintSetup", "Print Setup", "", "Configure printer"},
    {"FilePrint", "&Print", "Ctrl+P", "Print current file"},
    {"FileExportHtml", "Export as &HTML...", "", "Write the highlighted text as a web page"},
    {"FileExportRtf", "Export as R&TF...", "",
     "Write the highlighted text as a rich-text document"},
    {"FileClose", "&Close", "Ctrl+F4", "Close current file"},
    {"FileExit", "E&xit", "", "Exit Morvane"},
    {"EditUndo", "&Undo", "Ctrl+Z", "Undo last editing action"},
    {"EditRedo", "&Redo", "Ctrl+Shift+Z", "Redo last editing action"},
    {"EditCut", "Cu&t", "Ctrl+X", "Cut selected text to clipboard"},
    {"EditCopy", "&Copy", "Ctrl+C", "Copy selected text to clipboard"},
    {"EditPaste", "&Paste", "Ctrl+V", "Paste text from clipboard"},
    {"EditSelectAll", "Select &All", "Ctrl+A", "Select all text"},
    {"EditIndent", "&Indent", "Ctrl+]", "Indent selected text"},
    {"EditUnindent", "U&nindent", "Ctrl+[", "Unindent selected text"},
    {"EditWordWrap", "&Word wrap", "", "Toggle word wrap"},
    {"EditSyntaxHighlighting", "S&yntax highlighting", "", "Change syntax highlighting language"},
    {"EditEditorProperties", "&Editor properties", "", "Change editor properties"},
    {"SearchFind", "&Find...", "Ctrl+F", "Search for text"},
    {"SearchFindNext", "Find &Next", "F3", "Find next occurence of search string"},
    {"SearchReplace", "&Replace...", "Ctrl+R", "Search and replace"},
    {"SearchUseRegularExpressions", "Use Regular &Expressions", "",
     "Use regular expressions while searching"},
    {"SearchGotoLine", "&Goto Line...", "Ctrl+G", "Goto a line number"},
    {"HTMLBold", "&Bold", "Ctrl+B", "Make HTML text Bold"},
    {"HTMLItalic", "&Italic", "Ctrl+I", "Make HTML text italic"},
    {"HTMLUnderline", "&Underline", "Ctrl+U", "Make HTML text underlined"},
    {"HTMLComment", "&Comment", "Ctrl+Shift+C", "Insert HTML comment"},
    {"HTMLLink", "&Link", "Ctrl+Shift+A", "Insert HTML link"},
    {"HTMLStripTags", "&Strip Tags", "", "Remove HTML tags"},
    {"SettingsOptions", "&Options...", "", ""},
    {"SettingsAccounts", "&Accounts...", "", ""},
    {"SettingsShowOutput", "Show O&utput", "Ctrl+Shift+O", ""},
    {"WeblinkSettings", "&Settings", "", ""},
    {"RExecSettings", "&Settings...", "", ""},
    {"HelpHelpTopics", "&Help Topics", "", "Get more help about Morvane"},
    {"HelpAbout", "&About...", "", "About Morvane"},
};

constexpr std::string_view kDocumentCommands[] = {
    "FileSave",
    "FileSaveAs",
    "FileSaveAsLocalFile",
    "FileRevert",
    "FilePrintSetup",
    "FilePrint",
    "FileExportHtml",
    "FileExportRtf",
    "FileClose",
    "EditSelectAll",
    "EditIndent",
    "EditUnindent",
    "EditWordWrap",
    "EditSyntaxHighlighting",
    "EditEditorProperties",
    "SearchFind",
    "SearchFindNext",
    "SearchReplace",
    "SearchUseRegularExpressions",
    "SearchGotoLine",
    "HTMLBold",
    "HTMLItalic",
    "HTMLUnderline",
    "HTMLComment",
    "HTMLLink",
    "HTMLStripTags",
};

constexpr std::string_view kDocumentEditCommands[] = {"EditUndo", "EditRedo", "EditCut", "EditCopy",
                                                      "EditPaste"};

struct DesktopKeys {
    std::string_view name;
    std::string_view keys[2];
};
// Where the desktop map differs from the classic one.
constexpr DesktopKeys kDesktopKeys[] = {
    {"FileSaveAs", {"Ctrl+Shift+S", {}}},
    {"FileClose", {"Ctrl+W", "Ctrl+F4"}},
    {"EditRedo", {"Ctrl+Y", "Ctrl+Shift+Z"}},
};

constexpr WindowKey kDesktopWindowKeys[] = {
    {"WindowPreviousTab", "Previous tab", "Ctrl+PgUp"},
    {"WindowNextTab", "Next tab", "Ctrl+PgDown"},
};

} // namespace

std::string_view keyMapName(KeyMapKind kind) {
    return kind == KeyMapKind::Desktop ? "Desktop" : "Classic";
}

std::optional<KeyMapKind> keyMapFromName(std::string_view name) {
    if (name == "Classic") return KeyMapKind::Classic;
    if (name == "Desktop") return KeyMapKind::Desktop;
    return std::nullopt;
}

std::vector<std::string_view> commandKeys(const CommandInfo& command, KeyMapKind map) {
    if (map == KeyMapKind::Desktop)
        for (const DesktopKeys& d : kDesktopKeys)
            if (d.name == command.name) {
                std::vector<std::string_view> keys;
                for (std::string_view k : d.keys)
                    if (!k.empty()) keys.push_back(k);
                return keys;
            }
    if (command.key.empty()) return {};
    return {command.key};
}

std::span<const WindowKey> windowKeys(KeyMapKind map) {
    if (map == KeyMapKind::Desktop) return kDesktopWindowKeys;
    return {};
}

std::span<const CommandInfo> mainCommands() {
    return kCommands;
}

const CommandInfo* findCommand(std::string_view name) {
    auto it = std::find_if(std::begin(kCommands), std::end(kCommands),
                           [&](const CommandInfo& c) { return c.name == name; });
    return it == std::end(kCommands) ? nullptr : &*it;
}

std::span<const std::string_view> documentCommands() {
    return kDocumentCommands;
}
std::span<const std::string_view> documentEditCommands() {
    return kDocumentEditCommands;
}

} // namespace morvane::app
