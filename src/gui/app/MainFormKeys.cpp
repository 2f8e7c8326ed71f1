// TMainForm: the key maps. The classic map and the desktop one differ in a few window keys
// (Commands.cpp) and in the editor's keys (the languages' key maps).

#include "gui/app/MainForm.h"

#include "core/editor/CodeMemoTypes.h"
#include "core/editor/KeyboardActionContoller.h"
#include "gui/editor/CodeMemo.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace morvane::app {

namespace {
const editor::TKeyboardActionContoller& builtinMap(KeyMapKind map) {
    return map == KeyMapKind::Desktop ? editor::TKeyboardActionContoller::globalDesktop()
                                      : editor::TKeyboardActionContoller::globalDefault();
}
} // namespace

void TMainForm::applyKeyMap(KeyMapKind map, bool store) {
    keyMap_ = map;
    if (store) writeSetting("Key map", keyMapName(map));
    for (const CommandInfo& c : mainCommands()) {
        QList<QKeySequence> keys;
        for (std::string_view k : commandKeys(c, map))
            keys << QKeySequence(QString::fromUtf8(k.data(), qsizetype(k.size())));
        if (QAction* a = action(c.name)) a->setShortcuts(keys);
    }
    for (QShortcut* s : windowShortcuts_)
        delete s;
    windowShortcuts_.clear();
    for (const WindowKey& k : windowKeys(map)) {
        auto* s = new QShortcut(
            QKeySequence(QString::fromUtf8(k.key.data(), qsizetype(k.key.size()))), this);
        s->setObjectName(QString::fromUtf8(k.name.data(), qsizetype(k.name.size())));
        s->setProperty("caption", QString::fromUtf8(k.caption.data(), qsizetype(k.caption.size())));
        const int step = k.name == "WindowNextTab" ? 1 : -1;
        connect(s, &QShortcut::activated, this, [this, step] {
            int n = pages_->count();
            if (n > 1) pages_->setCurrentIndex((pages_->currentIndex() + n + step) % n);
        });
        windowShortcuts_.push_back(s);
    }
    const auto& wanted = builtinMap(map);
    const auto& other =
        builtinMap(map == KeyMapKind::Desktop ? KeyMapKind::Classic : KeyMapKind::Desktop);
    for (const auto& parser : highlighters_)
        if (parser->settings().keys == other) parser->settings().keys.assign(wanted);
}

void TMainForm::startKeyMap() {
    std::optional<KeyMapKind> stored = keyMapFromName(readSetting("Key map"));
    applyKeyMap(stored.value_or(KeyMapKind::Classic), false);
    if (!stored && !qEnvironmentVariableIsSet("MORVANE_NO_KEY_MAP_QUESTION")) showKeyMapQuestion();
}

void TMainForm::showKeyMapQuestion() {
    auto* bar = new QFrame(centralWidget());
    keyMapBar_ = bar;
    bar->setObjectName("KeyMapQuestion");
    bar->setFrameShape(QFrame::StyledPanel);
    bar->setAutoFillBackground(true);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 2, 2, 2);
    auto* text = new QLabel("Which keys do you prefer? Classic, or Desktop as in today's "
                            "editors (Ctrl+Y redo, Ctrl+W close, Ctrl+D duplicate line)?",
                            bar);
    text->setWordWrap(true);
    row->addWidget(text, 1);
    auto* classic = new QPushButton("&Classic", bar);
    classic->setObjectName("KeyMapClassic");
    auto* desktop = new QPushButton("&Desktop", bar);
    desktop->setObjectName("KeyMapDesktop");
    auto* dismiss = new QToolButton(bar);
    dismiss->setObjectName("KeyMapDismiss");
    dismiss->setText("\u00d7");
    dismiss->setToolTip("Keep the classic keys; Edit > Editor properties can change them later");
    dismiss->setAutoRaise(true);
    for (QWidget* w : std::initializer_list<QWidget*>{classic, desktop, dismiss}) {
        w->setFocusPolicy(Qt::NoFocus); // typing goes on into the document
        row->addWidget(w);
    }
    auto answer = [this](KeyMapKind map) {
        applyKeyMap(map);
        keyMapBar_->hide();
    };
    connect(classic, &QPushButton::clicked, this, [answer] { answer(KeyMapKind::Classic); });
    connect(desktop, &QPushButton::clicked, this, [answer] { answer(KeyMapKind::Desktop); });
    connect(dismiss, &QToolButton::clicked, this, [answer] { answer(KeyMapKind::Classic); });
    static_cast<QVBoxLayout*>(centralWidget()->layout())->insertWidget(0, bar);
    // Asked once: the classic map is stored already, an answer replaces it.
    writeSetting("Key map", keyMapName(KeyMapKind::Classic));
}

std::string TMainForm::windowKeyOwner(std::uint16_t shortcut, std::int32_t command) const {
    // Editor commands that the window runs the same way under the same key.
    static const std::pair<std::int32_t, std::string_view> same[] = {
        {editor::ecUndo, "EditUndo"}, {editor::ecRedo, "EditRedo"},   {editor::ecCut, "EditCut"},
        {editor::ecCopy, "EditCopy"}, {editor::ecPaste, "EditPaste"},
    };
    const QKeySequence key = editor::KeySequenceOf(shortcut);
    if (key.isEmpty()) return {};
    for (const CommandInfo& c : mainCommands()) {
        QAction* a = action(c.name);
        if (!a || !a->shortcuts().contains(key)) continue;
        bool equal = false;
        for (auto [cmd, name] : same)
            equal |= cmd == command && name == c.name;
        if (equal) return {};
        return QString(a->text()).remove('&').toStdString();
    }
    for (QShortcut* s : windowShortcuts_)
        if (s->key() == key) return s->property("caption").toString().toStdString();
    return {};
}

} // namespace morvane::app
