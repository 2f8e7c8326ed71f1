#pragma once
// TOptionsDialog ("Editor options"): changes the settings record of one highlighter through a
// working copy. The copy lives in a scratch highlighter of the dialog's own, which its two
// sample editors use, so every change shows in them at once while the highlighter and the
// documents using it are left alone until OK. OK copies what the pages edit back into the
// highlighter; Cancel drops the copy.

#include "core/highlight/CodeMemoParser.h"

#include <QColor>
#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace morvane::platform {
class Dialogs;
class Registry;
} // namespace morvane::platform

namespace morvane::editor {
class TCodeMemo;
}

namespace morvane::app {

class TShortcutEdit;

// Page mask bits.
enum OptionsPage : int {
    opOptions = 1,
    opHighlighting = 2,
    opKeyAssignments = 4,
    opAutoCorrect = 8,
    opCodeTemplates = 16,
    opAllPages = 31
};

class TOptionsDialog : public QDialog {
public:
    // Tab indexes, in the order the pages are laid out.
    enum Tab { tabOptions, tabHighlighting, tabKeys, tabAutoCorrect, tabTemplates };
    // The elements after the editable styles in the Highlighting page's list.
    enum Element { elStyle, elSelectedText, elLeftMargin, elGutter };

    TOptionsDialog(highlight::TCodeMemoParser& parser, platform::Dialogs& dialogs,
                   QWidget* parent = nullptr);
    ~TOptionsDialog() override;

    // Hides the pages whose bit is clear and shows the first visible one in the order
    // Highlighting, Options, Key Assignments, Auto Correct, Code Templates.
    void SetPageMask(int mask);
    // The working copy.
    highlight::TSM_Settings& Working();
    // Takes over the fields still being edited and the key lists; a failure is reported and
    // keeps the dialog open. Then copies the working copy into the highlighter's record.
    void accept() override;

    // Asks for a colour; a QColorDialog unless replaced (tests).
    std::function<std::optional<QColor>(const QColor& initial)> ChooseColor;
    // Asks for a key pair in the wizard; replaced by tests.
    std::function<bool(const QString& command, bool editing, std::uint16_t& first,
                       std::uint16_t& second)>
        AskKeyPair;

    QTabWidget* Pages() const { return pages_; }
    editor::TCodeMemo* Sample() const { return sample_; }
    editor::TCodeMemo* TemplateEditor() const { return templateText_; }
    // The note under the font fields: empty, or why another font is used.
    QString FontNote() const;

    // Key Assignments page: the commands in list order, and the key pairs of each.
    struct CommandKeys {
        std::int32_t command = 0;
        std::string name;
        std::vector<std::pair<std::uint16_t, std::uint16_t>> keys;
    };
    const std::vector<CommandKeys>& Commands() const { return commands_; }

    // The program's key map (Classic or Desktop) on the Key Assignments page: shown once the
    // window sets it. Choosing the other one fills the page with that map's keys.
    void ShowKeyMapChoice(bool desktop);
    bool DesktopKeyMapChosen() const;
    QComboBox* KeyMapBox() const { return keyMapBox_; }
    // Names the window command that takes a key before the editor would see it ("" when none
    // does, or it does the same thing); a binding that would never work keeps the dialog open.
    std::function<std::string(std::uint16_t shortcut, std::int32_t command)> WindowKeyOwner;

private:
    void buildOptionsPage();
    void buildHighlightingPage();
    void buildKeysPage();
    void fillCommands();
    void buildAutoCorrectPage();
    void buildTemplatesPage();
    void refreshSamples();

    // Options page.
    void optionToggled(std::uint32_t bit, bool on);
    void updateOptionStates();
    bool takeField(int which);
    void showField(int which);

    // Highlighting page.
    void fillElement();
    void elementChanged();
    void chooseColour(bool foreground);
    void setStyleBit(std::uint8_t bit, bool on);
    void setDefaultFlag(bool foreground, bool on);
    void fontChanged();
    void sampleClicked();
    int currentStyle() const; // -1 for the three fixed elements
    Element currentElement() const;

    // Key Assignments page.
    void fillKeys();
    void addKeys();
    void editKeys();
    void deleteKeys();
    bool rebuildKeyMap();

    // Auto Correct page.
    void fillAutoCorrect(const std::string& select = {});
    void autoCorrectSelected();
    void addReplacement(bool replaceSelected);
    void deleteReplacement();
    bool takeEndKeys();

    // Code Templates page.
    void fillTemplates(const std::string& select = {});
    void templateSelected();
    void addTemplate(bool replaceSelected);
    void deleteTemplate();

    // Refuses texts that the one-byte lengths of the stream form cannot hold.
    bool fitsByteLength(const std::string& text, const char* what);
    void error(const std::string& text);

    highlight::TCodeMemoParser& parser_;
    platform::Dialogs& dialogs_;
    std::unique_ptr<highlight::TCodeMemoParser> scratch_;
    bool filling_ = false;

    QTabWidget* pages_ = nullptr;
    editor::TCodeMemo* sample_ = nullptr;
    editor::TCodeMemo* templateText_ = nullptr;

    std::vector<std::pair<QCheckBox*, std::uint32_t>> optionBoxes_;
    QCheckBox* smartTabs_ = nullptr;
    QCheckBox* beyondEol_ = nullptr;
    std::vector<QLineEdit*> fields_;

    QListWidget* elements_ = nullptr;
    QPushButton* foreground_ = nullptr;
    QPushButton* background_ = nullptr;
    QCheckBox* bold_ = nullptr;
    QCheckBox* italic_ = nullptr;
    QCheckBox* underline_ = nullptr;
    QCheckBox* defaultForeground_ = nullptr;
    QCheckBox* defaultBackground_ = nullptr;
    QComboBox* fontName_ = nullptr;
    QComboBox* fontSize_ = nullptr;
    QComboBox* charset_ = nullptr;
    QLabel* fontNote_ = nullptr;

    std::vector<CommandKeys> commands_;
    QComboBox* keyMapBox_ = nullptr;
    QLabel* keyMapLabel_ = nullptr;
    QListWidget* commandList_ = nullptr;
    QListWidget* keyList_ = nullptr;

    QListWidget* replacements_ = nullptr;
    QLineEdit* replaceItem_ = nullptr;
    QLineEdit* replaceWith_ = nullptr;
    QLineEdit* endKeys_ = nullptr;

    QListWidget* templates_ = nullptr;
    QLineEdit* templateName_ = nullptr;
    QLineEdit* templateDescription_ = nullptr;
    TShortcutEdit* hotkey_ = nullptr;
};

// The highlighter's modify-properties operation: its onModifyProperties handler when one is
// set, else the dialog. After OK the editors using the highlighter apply the new settings (each
// keeps its own word-wrap choice unless the dialog changed that option) and the settings are
// saved to the store when the highlighter keeps them there; a failed save is reported. Returns
// whether OK was chosen.
// With desktopKeyMap the key map choice is shown and its answer stored there; windowKeyOwner
// is the dialog's WindowKeyOwner.
bool ModifyProperties(highlight::TCodeMemoParser& parser, platform::Registry* registry,
                      platform::Dialogs& dialogs, QWidget* parent, int pageMask = opAllPages,
                      bool* desktopKeyMap = nullptr,
                      std::function<std::string(std::uint16_t, std::int32_t)> windowKeyOwner = {});

} // namespace morvane::app
