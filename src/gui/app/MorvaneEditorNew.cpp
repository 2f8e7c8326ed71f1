// TMorvaneEditor: new documents (from a template, or blank), which have no place until the
// first Save asks for one.

#include "gui/app/MorvaneEditor.h"

namespace morvane::app {

bool TMorvaneEditor::OpenTemplate(const std::string& path, Kind kind) {
    if (!OpenLocal(path, true, true)) return false; // a template is small
    // The template is not the document's file: no watch on it, and a first local Save does not
    // start among the templates.
    ForgetDisk();
    directory_.clear();
    ApplyFileName();
    SetKind(kind);
    return true;
}

void TMorvaneEditor::NewBlank(Kind kind) {
    new_ = true;
    fileName_ = "untitled";
    directory_.clear();
    accountName_.clear();
    ForgetDisk();
    ApplyFileName();
    SetKind(kind);
    activate();
}

} // namespace morvane::app
