// TMainForm: the documents (tabs), which commands are enabled, and the output pane.

#include "gui/app/MainForm.h"
#include "gui/app/Trace.h"

#include "core/app/Commands.h"
#include "gui/app/DocumentPage.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/platform/QtUiServices.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>

namespace morvane::app {

using platform::fromBytes;

void TMainForm::setDocumentCaption(DocumentPage* page, const std::string& caption,
                                   const std::string& title) {
    int index = pages_->indexOf(page);
    if (index < 0) return;
    // A tab caption marks its shortcut letter with "&".
    QString text = fromBytes(caption).replace('&', QLatin1String("&&"));
    if (pages_->tabText(index) != text) pages_->setTabText(index, text);
    if (page == activeDocument() && windowTitle() != fromBytes(title))
        setWindowTitle(fromBytes(title));
}

void TMainForm::appendOutput(std::string_view text) {
    std::string clean;
    clean.reserve(text.size());
    for (char c : text)
        if (c != '\r') clean.push_back(c);
    // One insertion for the whole text: a long output costs one layout, not one per line.
    QStringList lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t lf = clean.find('\n', start);
        if (lf == std::string::npos) break;
        lines.append(fromBytes(clean.substr(start, lf - start)));
        start = lf + 1;
    }
    if (start < clean.size()) lines.append(fromBytes(clean.substr(start)));
    if (lines.isEmpty()) return;
    if (traceEnabled())
        for (const QString& line : lines)
            trace("output " + platform::toBytes(line));
    output_->addItems(lines);
    output_->scrollToBottom();
}

void TMainForm::setOutputVisible(bool visible) {
    outputVisible_ = visible;
    output_->setVisible(visible);
    action("SettingsShowOutput")->setChecked(visible);
}

void TMainForm::setCommandRunning(bool running) {
    commandRunning_ = running;
    auto* doc = qobject_cast<TMorvaneEditor*>(activeDocument());
    cancelButton_->setVisible(running || (doc && doc->Transferring()));
}

void TMainForm::saveOutputHeight() {
    if (outputVisible_) writeSetting("Output height", std::to_string(output_->height()));
}

void TMainForm::addDocument(DocumentPage* page, const QString& caption) {
    bool first = pages_->count() == 0;
    pages_->setCurrentIndex(pages_->addTab(page, QString(caption).replace('&', "&&")));
    if (first) enableDocumentCommands(true);
}

DocumentPage* TMainForm::activeDocument() const {
    return qobject_cast<DocumentPage*>(pages_->currentWidget());
}

int TMainForm::documentCount() const {
    return pages_->count();
}

void TMainForm::postDocumentClosed(DocumentPage* page) {
    QPointer<DocumentPage> guarded(page);
    QTimer::singleShot(0, this, [this, guarded] {
        if (guarded) documentClosed(guarded);
    });
}

void TMainForm::documentClosed(DocumentPage* page) {
    int index = pages_->indexOf(page);
    if (index >= 0) pages_->removeTab(index);
    page->deleteLater();
    if (pages_->count() > 0) {
        // A document that closing the window did not ask about (one handed over meanwhile)
        // keeps the window: closing it later must not end the program.
        for (int i = 0; i < pages_->count() && closing_; ++i) {
            auto* remaining = qobject_cast<DocumentPage*>(pages_->widget(i));
            if (std::find(askedToClose_.begin(), askedToClose_.end(), remaining) ==
                askedToClose_.end())
                clearClosingFlag();
        }
        if (DocumentPage* doc = activeDocument()) doc->activate();
        return;
    }
    askedToClose_.clear();
    setWindowTitle("Morvane");
    enableDocumentCommands(false);
    progress_->hide();
    for (int i = 0; i < 4; ++i)
        panels_[std::size_t(i)]->clear();
    panels_[5]->clear();
    if (closing_) close();
}

void TMainForm::setCommandAvailable(std::string_view name, bool available) {
    if (available)
        available_.emplace(name);
    else
        available_.erase(std::string(name));
    QAction* a = action(name);
    if (!a) return;
    bool isDocumentCommand = false;
    for (auto d : documentCommands())
        isDocumentCommand |= d == name;
    for (auto d : documentEditCommands())
        isDocumentCommand |= d == name;
    a->setEnabled(available && (!isDocumentCommand || documentCommandsOn_));
}

void TMainForm::enableCommand(std::string_view name, bool enable) {
    if (QAction* a = action(name)) a->setEnabled(enable && available_.count(name));
}

void TMainForm::enableDocumentCommands(bool enable) {
    documentCommandsOn_ = enable;
    for (auto name : documentCommands())
        action(name)->setEnabled(enable && available_.count(name));
    highlighterMenu_->menuAction()->setEnabled(enable &&
                                               available_.count("EditSyntaxHighlighting"));
    encodingMenu_->menuAction()->setEnabled(enable);
    if (!enable)
        for (auto name : documentEditCommands())
            action(name)->setEnabled(false);
}

TMorvaneEditor* TMainForm::requireDocument() const {
    auto* doc = qobject_cast<TMorvaneEditor*>(activeDocument());
    if (!doc) context_.dialogs->message(platform::MsgKind::Error, "No active window");
    return doc;
}

} // namespace morvane::app
