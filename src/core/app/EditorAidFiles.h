#pragma once
// "AutoReplace.txt" and "Templates.txt" in the program folder: the stream forms of the
// auto-replace and code-template stores that every document's highlighter is given. The main
// window keeps them as two buffers, checked when read, written back atomically.

#include "core/editor/AutoReplace.h"
#include "core/editor/CodeTemplates.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::app {

inline constexpr const char* kAutoReplaceFile = "AutoReplace.txt";
inline constexpr const char* kTemplatesFile = "Templates.txt";

struct EditorAidBuffers {
    std::string autoReplace;
    std::string templates;
};

// Reads both files of folder into the buffers. A missing or empty file leaves its buffer
// empty (the highlighters keep their own lists) without a word; a file that cannot be read or
// that is not a whole stream form of its store is left out as well, and each such file gives
// one message naming it.
std::vector<std::string> loadEditorAids(const std::filesystem::path& folder,
                                        EditorAidBuffers& buffers);

// Loads the non-empty buffers into the stores; a store whose buffer does not read keeps what
// it had. One message per buffer that did not read.
std::vector<std::string> applyEditorAids(const EditorAidBuffers& buffers,
                                         editor::TAutoReplace& autoReplace,
                                         editor::TCodeTemplates& templates);

// Takes the stores' stream forms into the buffers and writes both files, each replaced
// through a temporary file and a rename, so a failed write leaves the old file whole. One
// message per file that could not be written.
std::vector<std::string> saveEditorAids(const std::filesystem::path& folder,
                                        const editor::TAutoReplace& autoReplace,
                                        const editor::TCodeTemplates& templates,
                                        EditorAidBuffers& buffers);

// Replaces a file's bytes: a temporary file beside it (with the old file's mode), fsync,
// rename, fsync of the folder. Through a symbolic link the file it names is replaced. Empty on
// success, else the message.
std::string replaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

} // namespace morvane::app
