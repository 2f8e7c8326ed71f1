#include "gui/app/OptionsDialog.h"

#include "core/editor/CodeMemoError.h"
#include "core/editor/KeyStore.h"
#include "gui/app/OptionsDialogShared.h"
#include "gui/platform/QtUiServices.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace morvane::app {

using options_dialog::pageButton;
using platform::fromBytes;

void TOptionsDialog::buildKeysPage() {
    auto* page = new QWidget;
    page->setObjectName("KeysPage");
    auto* outer = new QVBoxLayout(page);
    auto* mapRow = new QHBoxLayout;
    auto* mapLabel = keyMapLabel_ = new QLabel("&Key map:", page);
    keyMapBox_ = new QComboBox(page);
    keyMapBox_->setObjectName("KeyMap");
    keyMapBox_->addItem("Classic");
    keyMapBox_->addItem("Desktop (Ctrl+Y redo, Ctrl+W close, Ctrl+D duplicate...)");
    keyMapBox_->setToolTip("The keys of every language: the classic map, or the one of today's "
                           "desktop editors");
    mapLabel->setBuddy(keyMapBox_);
    mapRow->addWidget(mapLabel);
    mapRow->addWidget(keyMapBox_, 1);
    outer->addLayout(mapRow);
    for (QWidget* w : {static_cast<QWidget*>(mapLabel), static_cast<QWidget*>(keyMapBox_)})
        w->setVisible(false);
    auto* layout = new QHBoxLayout;
    outer->addLayout(layout, 1);
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel("Commands", page));
    commandList_ = new QListWidget(page);
    commandList_->setObjectName("Commands");
    left->addWidget(commandList_, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(new QLabel("Uses Keys", page));
    keyList_ = new QListWidget(page);
    keyList_->setObjectName("UsesKeys");
    right->addWidget(keyList_, 1);
    auto* buttons = new QHBoxLayout;
    auto* add = pageButton("Add", "AddKeys", page);
    auto* remove = pageButton("Delete", "DeleteKeys", page);
    auto* edit = pageButton("Edit", "EditKeys", page);
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addWidget(edit);
    right->addLayout(buttons);
    layout->addLayout(left, 1);
    layout->addLayout(right, 1);

    fillCommands();
    connect(commandList_, &QListWidget::currentRowChanged, this, [this] { fillKeys(); });
    connect(add, &QPushButton::clicked, this, [this] { addKeys(); });
    connect(remove, &QPushButton::clicked, this, [this] { deleteKeys(); });
    connect(edit, &QPushButton::clicked, this, [this] { editKeys(); });
    connect(keyList_, &QListWidget::itemDoubleClicked, this, [this] { editKeys(); });
    connect(keyMapBox_, &QComboBox::activated, this, [this](int index) {
        Working().keys.assign(index == 1 ? editor::TKeyboardActionContoller::globalDesktop()
                                         : editor::TKeyboardActionContoller::globalDefault());
        fillCommands();
    });
    pages_->addTab(page, "Key Assignments");
}

void TOptionsDialog::ShowKeyMapChoice(bool desktop) {
    keyMapBox_->setCurrentIndex(desktop ? 1 : 0);
    keyMapBox_->setVisible(true);
    keyMapLabel_->setVisible(true);
}

bool TOptionsDialog::DesktopKeyMapChosen() const {
    return keyMapBox_->currentIndex() == 1;
}

void TOptionsDialog::fillCommands() {
    commands_.clear();
    commandList_->clear();
    editor::TKeyboardActionContoller& keys = Working().keys;
    for (const auto& [command, name] : keys.commandNames())
        commands_.push_back({command, name, {}});
    for (const auto& [first, second, command] : keys.bindings()) {
        auto it = std::find_if(commands_.begin(), commands_.end(),
                               [c = command](const CommandKeys& k) { return k.command == c; });
        if (it == commands_.end()) {
            commands_.push_back({command, "Command " + std::to_string(command), {}});
            it = commands_.end() - 1;
        }
        it->keys.emplace_back(first, second);
    }
    std::stable_sort(
        commands_.begin(), commands_.end(), [](const CommandKeys& a, const CommandKeys& b) {
            return QString::compare(fromBytes(a.name), fromBytes(b.name), Qt::CaseInsensitive) < 0;
        });
    for (const CommandKeys& c : commands_)
        commandList_->addItem(fromBytes(c.name));
    if (!commands_.empty()) commandList_->setCurrentRow(0);
    fillKeys();
}

void TOptionsDialog::fillKeys() {
    keyList_->clear();
    int row = commandList_->currentRow();
    if (row < 0) return;
    for (auto [first, second] : commands_[std::size_t(row)].keys) {
        std::string text = editor::shortCutToText(first);
        if (second) text += ", " + editor::shortCutToText(second);
        keyList_->addItem(fromBytes(text));
    }
    if (keyList_->count() > 0) keyList_->setCurrentRow(0);
}

void TOptionsDialog::addKeys() {
    int row = commandList_->currentRow();
    if (row < 0) return;
    CommandKeys& c = commands_[std::size_t(row)];
    std::uint16_t first = 0, second = 0;
    if (!AskKeyPair(fromBytes(c.name), false, first, second) || !first) return;
    c.keys.emplace_back(first, second);
    fillKeys();
    keyList_->setCurrentRow(keyList_->count() - 1);
}

void TOptionsDialog::editKeys() {
    int row = commandList_->currentRow();
    int keyRow = keyList_->currentRow();
    if (row < 0 || keyRow < 0) return;
    CommandKeys& c = commands_[std::size_t(row)];
    auto [first, second] = c.keys[std::size_t(keyRow)];
    if (!AskKeyPair(fromBytes(c.name), true, first, second) || !first) return;
    c.keys[std::size_t(keyRow)] = {first, second};
    fillKeys();
    keyList_->setCurrentRow(keyRow);
}

void TOptionsDialog::deleteKeys() {
    int row = commandList_->currentRow();
    int keyRow = keyList_->currentRow();
    if (row < 0 || keyRow < 0) return;
    auto& keys = commands_[std::size_t(row)].keys;
    keys.erase(keys.begin() + keyRow);
    fillKeys();
    if (keyList_->count() > 0) keyList_->setCurrentRow(std::min(keyRow, keyList_->count() - 1));
}

bool TOptionsDialog::rebuildKeyMap() {
    editor::TKeyboardActionContoller rebuilt;
    // Names keep the order the map had; bindings follow in it too.
    std::vector<const CommandKeys*> order;
    for (const auto& [command, name] : Working().keys.commandNames())
        for (const CommandKeys& c : commands_)
            if (c.command == command) order.push_back(&c);
    for (const CommandKeys& c : commands_)
        if (std::find(order.begin(), order.end(), &c) == order.end()) order.push_back(&c);
    for (const CommandKeys* c : order)
        if (Working().keys.commandName(c->command) == c->name)
            rebuilt.setCommandName(c->command, c->name);
    try {
        for (const CommandKeys* c : order)
            for (auto [first, second] : c->keys)
                rebuilt.addBinding(first, second, c->command);
    } catch (const editor::EKeyControllerException& e) {
        pages_->setCurrentIndex(tabKeys);
        error(e.what());
        return false;
    }
    if (WindowKeyOwner)
        for (const auto& [first, second, command] : rebuilt.bindings()) {
            std::string owner = WindowKeyOwner(first, command);
            if (owner.empty()) continue;
            pages_->setCurrentIndex(tabKeys);
            error(editor::shortCutToText(first) + " is the key of \"" + owner +
                  "\" in the main window, which takes it first: \"" + rebuilt.commandName(command) +
                  "\" would never run. Choose another key.");
            return false;
        }
    Working().keys.assign(rebuilt);
    return true;
}

} // namespace morvane::app
