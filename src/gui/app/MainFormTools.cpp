// The HTML menu, the Tools > Weblink menu and the update notice. Their logic lives in the core
// (HtmlTools, Weblinks, UpdateCheck); this file puts it on the window's actions.

#include "gui/app/ToolCommands.h"

#include "core/app/AppRegistry.h"
#include "core/app/HtmlTools.h"
#include "core/app/UpdateCheck.h"
#include "core/app/Weblinks.h"
#include "gui/app/ConfigureWebLinkForm.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

#include <memory>

namespace morvane::app {

using platform::fromBytes;

namespace {

TMorvaneEditor* activeEditor(TMainForm& form, bool complain) {
    auto* doc = qobject_cast<TMorvaneEditor*>(form.activeDocument());
    if (!doc && complain) form.context().dialogs->error("No active window");
    return doc;
}

// Tools > Weblink: the Settings item, then one item per weblink.
class TWeblinkMenu : public QObject {
public:
    explicit TWeblinkMenu(TMainForm& form) : QObject(&form), form_(form) {}

    void rebuild() {
        for (QAction* a : dynamic_)
            delete a; // also leaves the menu and the window
        dynamic_.clear();
        QMenu* menu = form_.menu("Weblink");
        if (separator_) {
            delete separator_;
            separator_ = nullptr;
        }
        const std::vector<TWeblink> links = loadWeblinks(*form_.context().registry);
        if (!links.empty()) separator_ = menu->addSeparator();
        // Keys the window's own commands use win; among weblinks, the first one with a key.
        QList<QKeySequence> taken;
        for (QAction* a : form_.actions())
            if (!a->shortcut().isEmpty()) taken.append(a->shortcut());
        for (const TWeblink& link : links) {
            auto* a = new QAction(fromBytes(link.caption), &form_);
            a->setObjectName(QString("Weblink%1").arg(link.number));
            QKeySequence key = editor::KeySequenceOf(link.shortcut);
            if (!key.isEmpty() && !taken.contains(key)) {
                a->setShortcut(key);
                taken.append(key);
            }
            connect(a, &QAction::triggered, this, [this, n = link.number] { run(n); });
            menu->addAction(a);
            form_.addAction(a); // the key works with the menu closed
            dynamic_.push_back(a);
        }
    }

    void run(int n) {
        const AppContext& context = form_.context();
        std::optional<TWeblink> link = loadWeblink(*context.registry, n);
        if (!link) return; // removed since the menu was built
        TWeblinkDocument document;
        TMorvaneEditor* doc = activeEditor(form_, false);
        if (doc) {
            int index = doc->Highlighter();
            const auto& list = form_.highlighters();
            if (index >= 0 && std::size_t(index) < list.size())
                document.language = list[std::size_t(index)]->languageName();
            QPointer<TMorvaneEditor> guarded(doc);
            document.word = [guarded] {
                if (!guarded) return TCaretWord{};
                editor::TCodeMemo& memo = guarded->Editor();
                return wordAtCaret(memo, &memo);
            };
        }
        runWeblink(*link, doc ? &document : nullptr, *context.dialogs, *context.shell);
    }

    void configure() {
        std::vector<std::string> languages;
        for (const auto& h : form_.highlighters())
            languages.push_back(h->languageName());
        TConfigureWebLinkForm dialog(*form_.context().registry, *form_.context().dialogs,
                                     std::move(languages), &form_);
        if (dialog.exec() == QDialog::Accepted) rebuild();
    }

private:
    TMainForm& form_;
    std::vector<QAction*> dynamic_;
    QAction* separator_ = nullptr;
};

// Holds the check for the window's lifetime.
class TUpdateNotice : public QObject {
public:
    explicit TUpdateNotice(TMainForm& form)
        : QObject(&form), check_(*form.context().loop,
                                 platform::RegKey(*form.context().registry,
                                                  platform::Hive::CurrentUser, kSettingsKey),
                                 shortVersion(MORVANE_FILE_VERSION)) {
        check_.onAsk = [&form](const std::string&, const std::string& server) {
            platform::Dialogs& dialogs = *form.context().dialogs;
            dialogs.beep();
            return dialogs.message(platform::MsgKind::Warning,
                                   "A new version of Morvane is available at " + server +
                                       ".\r\nWould you like to visit the Morvane homepage?",
                                   platform::mbYesNo) == platform::MsgResult::Yes;
        };
        check_.onOpenHomePage = [&form](const std::string& address) {
            form.context().shell->openUrl(address);
        };
    }
    void start() { check_.start(); }

private:
    TUpdateCheck check_;
};

} // namespace

void installHtmlCommands(TMainForm& form) {
    auto wire = [&form](const char* name, std::function<void(editor::TCodeMemo&, bool)> run) {
        form.setCommandAvailable(name, true);
        QObject::connect(form.action(name), &QAction::triggered, &form, [&form, run] {
            TMorvaneEditor* doc = activeEditor(form, true);
            if (!doc) return;
            run(doc->Editor(), lowercaseHtml(form.readSetting("Lowercase html")));
        });
    };
    wire("HTMLBold",
         [](editor::TCodeMemo& m, bool lower) { htmlWrapTag(m, HtmlTag::Bold, lower); });
    wire("HTMLItalic",
         [](editor::TCodeMemo& m, bool lower) { htmlWrapTag(m, HtmlTag::Italic, lower); });
    wire("HTMLUnderline",
         [](editor::TCodeMemo& m, bool lower) { htmlWrapTag(m, HtmlTag::Underline, lower); });
    wire("HTMLComment", [](editor::TCodeMemo& m, bool) { htmlComment(m); });
    wire("HTMLLink", [](editor::TCodeMemo& m, bool lower) { htmlLink(m, lower); });
    wire("HTMLStripTags", [](editor::TCodeMemo& m, bool) { htmlStripTags(m); });
}

void installWeblinks(TMainForm& form) {
    auto* menu = new TWeblinkMenu(form);
    form.setCommandAvailable("WeblinkSettings", true);
    QObject::connect(form.action("WeblinkSettings"), &QAction::triggered, menu,
                     [menu] { menu->configure(); });
    QObject::connect(&form, &TMainForm::firstActivationFinished, menu, [menu] { menu->rebuild(); });
}

void installUpdateCheck(TMainForm& form) {
    if (!form.context().updateCheck || !form.context().loop) return;
    auto* notice = new TUpdateNotice(form);
    QObject::connect(&form, &TMainForm::firstActivationFinished, notice,
                     [notice] { notice->start(); });
}

} // namespace morvane::app
