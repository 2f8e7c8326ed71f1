#pragma once
// TMorvaneEditor: one open file, shown as a tab of the main window with its editor control.
// Local files open and save here; remote ones add an FTP session of their own.

#include "app/qt/DocumentPage.h"

#include <deque>
#include <string>

namespace morvane::editor {
class TCodeMemo;
}

namespace morvane::app {

class TMainForm;

class TMorvaneEditor : public DocumentPage {
    Q_OBJECT
public:
    enum Kind { kLocal = 0, kRemote = 1 };
    enum Operation { opSave = 1, opGet = 2, opClose = 3 };

    // Creates the tab (it becomes the active one) and the editor control.
    explicit TMorvaneEditor(TMainForm& form);
    ~TMorvaneEditor() override;

    editor::TCodeMemo& Editor() const { return *editor_; }
    const std::string& FileName() const { return fileName_; }
    const std::string& Directory() const { return directory_; } // with its trailing "/"
    Kind DocumentKind() const { return kind_; }
    bool IsNew() const { return new_; }
    bool Busy() const { return busy_; }
    bool Transferring() const { return transferring_; }
    const std::string& StatusText() const { return statusText_; }
    bool UseRegularExpressions() const { return useRegularExpressions_; }

    // Loads a local file; on failure shows the error and closes the document without questions.
    // Returns whether the document stays open.
    bool OpenLocal(const std::string& path, bool isNew);
    // Tab caption, highlighter by extension.
    void ApplyFileName();
    void activate() override;
    void Save();
    void SaveAs();
    void closeRequest(bool force) override;
    void Enqueue(Operation op) { queue_.push_back(op); }
    void RunQueue();
    void ToggleRegularExpressions();
    // The index of the document's highlighter in the main window's list.
    int Highlighter() const { return highlighter_; }
    // A highlighter chosen from the menus: used at once, and its extension offered for association.
    void ManualAssociation(int index);
    // Runs the double-spaced check and offers the repair.
    void CheckDoubleSpaced();
    // The status panels, when this is the active document.
    void RefreshStatus();

private:
    void SetKind(Kind kind);
    // Puts the highlighter with this index in the main window's list into slot 1 and makes it
    // active; -1 leaves the slot empty.
    void UseHighlighter(int index);
    bool WriteFile(const std::string& path);
    bool IsActive() const;

    TMainForm& form_;
    editor::TCodeMemo* editor_ = nullptr;
    bool busy_ = false;
    std::string statusText_;
    Kind kind_ = kLocal;
    bool transferring_ = false;
    std::string fileName_;
    std::string directory_;
    std::string accountName_;
    bool useRegularExpressions_ = false;
    bool new_ = true;
    bool closed_ = false;
    int highlighter_ = -1;
    std::deque<Operation> queue_;
};

} // namespace morvane::app
