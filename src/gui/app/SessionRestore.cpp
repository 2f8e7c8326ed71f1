#include "gui/app/SessionRestore.h"

#include "core/app/SessionList.h"
#include "core/net/Account.h"
#include "core/platform/AtomicFile.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/app/Trace.h"
#include "gui/editor/CodeMemo.h"

#include <QTabWidget>

#include <filesystem>
#include <fstream>

namespace morvane::app {

namespace {
bool enabled(const TMainForm& form) {
    return !form.context().sessionFile.empty() && form.readSetting("Restore session") != "False";
}

} // namespace

void recordSession(TMainForm& form) {
    if (!enabled(form)) return;
    std::vector<SessionDocument> documents;
    for (int i = 0; i < form.pageControl()->count(); ++i) {
        auto* doc = qobject_cast<TMorvaneEditor*>(form.pageControl()->widget(i));
        if (!doc || doc->IsNew()) continue;
        SessionDocument d;
        d.remote = doc->DocumentKind() == TMorvaneEditor::kRemote;
        if (d.remote) {
            d.account = doc->AccountName();
            d.directory = doc->Directory();
            d.fileName = doc->FileName();
        } else {
            d.path = doc->Directory() + doc->FileName();
        }
        auto pos = doc->Editor().CaretPosition();
        d.caretLine = std::max<long long>(1, pos.line);
        d.caretColumn = std::max<long long>(1, pos.column);
        d.highlighter = doc->HighlighterName();
        documents.push_back(std::move(d));
    }
    const std::filesystem::path& file = form.context().sessionFile;
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::string text = serializeSession(documents), error;
    if (!platform::replaceFileAtomically(file, {text}, 0600, error))
        std::fprintf(stderr, "morvane: %s\n", error.c_str());
    trace("session-recorded " + std::to_string(documents.size()));
}

void restoreSession(TMainForm& form) {
    if (!enabled(form)) return;
    std::ifstream in(form.context().sessionFile, std::ios::binary);
    if (!in) return;
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> missing;
    for (const SessionDocument& d : parseSession(text)) {
        if (!d.remote) {
            std::error_code ec;
            if (!std::filesystem::is_regular_file(d.path, ec)) {
                missing.push_back(d.path + ": the file no longer exists");
                trace("session-missing " + d.path);
                continue;
            }
            auto* doc = new TMorvaneEditor(form);
            if (!doc->OpenLocal(d.path, false)) continue;
            // The caret goes where it was once the text is there.
            doc->WhenLoaded([doc, d] {
                trace("session-reopened " + d.path);
                doc->UseHighlighterNamed(d.highlighter);
                doc->Editor().GoToPosition(editor::DisplayColumn(d.caretColumn),
                                           editor::RecIndex(d.caretLine));
            });
            continue;
        }
        net::TAccount account;
        std::string error;
        if (!net::LoadAccount(*form.context().registry, d.account, account, &error)) {
            missing.push_back(d.account + ": " + d.directory + "/" + d.fileName + ": " + error);
            continue;
        }
        account.Directory = d.directory;
        auto* doc = new TMorvaneEditor(form);
        doc->ReopenQuietly(d.caretLine, d.caretColumn);
        doc->OpenRemote(d.fileName, account);
    }
    for (const std::string& m : missing)
        form.appendOutput("Not reopened: " + m);
    if (!missing.empty()) form.setOutputVisible(true);
    trace("session-restored");
}

} // namespace morvane::app
