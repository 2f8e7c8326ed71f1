// TMainForm: commands of the Edit menu (clipboard state, encoding, syntax highlighting, editor
// properties and the auto-replace and template files they share).

#include "gui/app/MainForm.h"

#include "core/app/AppRegistry.h"
#include "core/app/EditorAidFiles.h"
#include "core/editor/TextEncoding.h"
#include "core/highlight/CompiledBuiltins.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/app/OptionsDialog.h"
#include "gui/platform/QtUiServices.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>

#include <cctype>

namespace morvane::app {

using platform::fromBytes;
using platform::Hive;

void TMainForm::refreshClipboardState() {
    const platform::Clipboard* c = context_.clipboard;
    clipboardHasText_ = c && (c->hasText() || c->hasFormat("text/html"));
    if (DocumentPage* doc = activeDocument()) doc->activate();
}

void TMainForm::showEncoding(int encoding, bool bom) {
    const auto e = static_cast<editor::TTextEncoding>(encoding);
    panels_[5]->setText(QString(editor::EncodingName(e)) + (bom ? " BOM" : ""));
    for (QAction* item : encodingMenu_->actions())
        item->setChecked(item->data().toInt() == encoding);
}

void TMainForm::buildHighlighterList() {
    try {
        // A built-in that does not load is named in the output pane; the others still serve.
        highlighters_ = highlight::loadStoredBuiltins(
            highlight::compiledBuiltinForms(), kPerUserRoot,
            [this](const std::string& problem) { appendOutput(problem); });
    } catch (const std::exception& e) {
        context_.dialogs->message(platform::MsgKind::Error,
                                  std::string("The built-in highlighters cannot be loaded: ") +
                                      e.what());
    }
    if (context_.registry->keyExists(Hive::CurrentUser,
                                     std::string(kPerUserRoot) + "\\Syntaxhighlight"))
        for (const std::string& problem :
             highlight::loadHighlighterSettings(highlighters_, *context_.registry))
            appendOutput(problem);
    // A script that fails is left out; its author sees why in the output pane.
    auto user = highlight::compileUserScripts(
        context_.programFolder,
        [this](const std::filesystem::path& file, const std::string& message) {
            appendOutput(file.filename().string() + ": " + message);
        });
    for (auto& h : user)
        highlighters_.push_back(std::move(h));

    auto* group = new QActionGroup(highlighterMenu_);
    for (std::size_t i = 0; i < highlighters_.size(); ++i) {
        QAction* item = highlighterMenu_->addAction(fromBytes(highlighters_[i]->languageName()));
        item->setCheckable(true);
        item->setData(int(i));
        group->addAction(item);
    }
    connect(highlighterMenu_, &QMenu::aboutToShow, this, [this] {
        auto* doc = qobject_cast<TMorvaneEditor*>(activeDocument());
        if (!doc) return;
        for (QAction* item : highlighterMenu_->actions())
            item->setChecked(item->data().toInt() == doc->Highlighter());
    });
    connect(highlighterMenu_, &QMenu::triggered, this, [this](QAction* item) {
        if (auto* doc = requireDocument()) doc->ManualAssociation(item->data().toInt());
    });
    setCommandAvailable("EditSyntaxHighlighting", !highlighters_.empty());
    enableDocumentCommands(documentCommandsOn_);
}

int TMainForm::highlighterIndexFor(const std::string& fileName, std::string_view firstLine) const {
    auto lower = [](std::string s) {
        for (auto& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    int plain = -1;
    for (std::size_t i = 0; i < highlighters_.size(); ++i)
        if (highlighters_[i]->languageName() == "Plain text") plain = int(i);
    auto language = extensionTable_.languageFor(fileName, firstLine);
    if (!language) return plain;
    std::string wanted = lower(*language);
    for (std::size_t i = 0; i < highlighters_.size(); ++i)
        if (lower(highlighters_[i]->languageName()) == wanted) return int(i);
    return plain;
}

void TMainForm::applyEditorAids(highlight::TSM_Settings& settings) {
    EditorAidBuffers aids{autoReplaceBuffer_, templatesBuffer_};
    for (const std::string& problem :
         app::applyEditorAids(aids, settings.autoReplace, settings.templates))
        appendOutput(problem);
}

void TMainForm::editorPropertiesCommand() {
    auto* doc = requireDocument();
    if (!doc) return;
    const int index = doc->Highlighter();
    if (index < 0 || std::size_t(index) >= highlighters_.size()) {
        context_.dialogs->message(platform::MsgKind::Error,
                                  "The document has no syntax highlighter to change.");
        return;
    }
    // The highlighter outlives the dialog; the document may not (it can close meanwhile).
    highlight::TCodeMemoParser& parser = *highlighters_[std::size_t(index)];
    try {
        bool desktop = keyMap_ == KeyMapKind::Desktop;
        if (!ModifyProperties(parser, context_.registry, *context_.dialogs, this, opAllPages,
                              &desktop, [this](std::uint16_t shortcut, std::int32_t command) {
                                  return windowKeyOwner(shortcut, command);
                              }))
            return;
        KeyMapKind chosen = desktop ? KeyMapKind::Desktop : KeyMapKind::Classic;
        if (chosen != keyMap_) {
            applyKeyMap(chosen);
            if (keyMapBar_) keyMapBar_->hide();
        }
    } catch (const std::exception& e) {
        context_.dialogs->message(platform::MsgKind::Error, e.what());
        return;
    }
    propagateExtras(parser);
}

void TMainForm::propagateExtras(highlight::TCodeMemoParser& source) {
    // Both files are written (a failure is named in the output pane), then the other
    // documents' highlighters load the new buffers.
    EditorAidBuffers aids;
    for (const std::string& problem :
         app::saveEditorAids(context_.programFolder, source.settings().autoReplace,
                             source.settings().templates, aids))
        appendOutput(problem);
    autoReplaceBuffer_ = std::move(aids.autoReplace);
    templatesBuffer_ = std::move(aids.templates);
    std::set<highlight::TCodeMemoParser*> others;
    for (int i = 0; i < pages_->count(); ++i)
        if (auto* doc = qobject_cast<TMorvaneEditor*>(pages_->widget(i))) {
            int h = doc->Highlighter();
            if (h >= 0 && std::size_t(h) < highlighters_.size() &&
                highlighters_[std::size_t(h)].get() != &source)
                others.insert(highlighters_[std::size_t(h)].get());
        }
    for (highlight::TCodeMemoParser* parser : others)
        applyEditorAids(parser->settings());
}

} // namespace morvane::app
