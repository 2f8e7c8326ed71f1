#include "gui/app/OptionsDialog.h"

#include "core/platform/Registry.h"
#include "core/platform/UiServices.h"
#include "gui/app/KeyAssignDialog.h"
#include "gui/app/OptionsDialogShared.h"
#include "gui/editor/CodeMemo.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <charconv>

namespace morvane::app {

using highlight::TSM_Settings;

namespace {

// The fields of the record that the pages edit; the rest (keyword tables, example text, token
// map) stays as the highlighter has it.
void copyEditable(const TSM_Settings& from, TSM_Settings& to) {
    to.options = from.options;
    to.rightMargin = from.rightMargin;
    to.wordWrapColumn = from.wordWrapColumn;
    to.gutterWidth = from.gutterWidth;
    to.indentStep = from.indentStep;
    to.marginColor = from.marginColor;
    to.gutterColor = from.gutterColor;
    to.selTextColor = from.selTextColor;
    to.selTextBack = from.selTextBack;
    to.defaultTab = from.defaultTab;
    to.tabColumns = from.tabColumns;
    to.effects = from.effects;
    to.fontName = from.fontName;
    to.fontSize = from.fontSize;
    to.fontCharset = from.fontCharset;
    to.marginColorDefault = from.marginColorDefault;
    to.selTextColorDefault = from.selTextColorDefault;
    to.selTextBackDefault = from.selTextBackDefault;
    to.gutterColorDefault = from.gutterColorDefault;
    to.keys.assign(from.keys);
    to.autoReplace.assign(from.autoReplace);
    to.templates.assign(from.templates);
}

} // namespace

namespace options_dialog {

std::optional<int> parseInt(const std::string& text) {
    std::size_t b = text.find_first_not_of(" \t");
    std::size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos) return std::nullopt;
    const char* first = text.data() + b;
    const char* last = text.data() + e + 1;
    int value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last) return std::nullopt;
    return value;
}

QPushButton* pageButton(const QString& caption, const char* name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

std::string lowerBytes(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

} // namespace options_dialog

TOptionsDialog::TOptionsDialog(highlight::TCodeMemoParser& parser, platform::Dialogs& dialogs,
                               QWidget* parent)
    : QDialog(parent), parser_(parser), dialogs_(dialogs),
      scratch_(std::make_unique<highlight::TCodeMemoParser>(parser.name())) {
    setObjectName("OptionsDialog");
    setWindowTitle("Editor options");
    scratch_->Assign(&parser);
    filling_ = true;

    ChooseColor = [this](const QColor& initial) -> std::optional<QColor> {
        QColor c = QColorDialog::getColor(initial, this, "Colour");
        if (!c.isValid()) return std::nullopt;
        return c;
    };
    AskKeyPair = [this](const QString& command, bool editing, std::uint16_t& first,
                        std::uint16_t& second) {
        TKeyAssignDialog wizard(command, editing, first, second, this);
        if (wizard.exec() != QDialog::Accepted) return false;
        first = wizard.FirstKey();
        second = wizard.SecondKey();
        return true;
    };

    auto* layout = new QVBoxLayout(this);
    pages_ = new QTabWidget(this);
    pages_->setObjectName("Pages");
    layout->addWidget(pages_, 1);
    buildOptionsPage();
    buildHighlightingPage();
    buildKeysPage();
    buildAutoCorrectPage();
    buildTemplatesPage();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("Buttons");
    // Enter means OK, as in any dialog: accept() takes over the field being edited first and
    // stays open when its value is refused.
    for (QAbstractButton* b : buttons->buttons())
        if (auto* p = qobject_cast<QPushButton*>(b)) p->setAutoDefault(false);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &TOptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TOptionsDialog::reject);
    layout->addWidget(buttons);

    filling_ = false;
    updateOptionStates();
    SetPageMask(opAllPages);
    resize(640, 520);
}

TOptionsDialog::~TOptionsDialog() = default;

TSM_Settings& TOptionsDialog::Working() {
    return scratch_->settings();
}

void TOptionsDialog::error(const std::string& text) {
    dialogs_.message(platform::MsgKind::Error, text);
}

bool TOptionsDialog::fitsByteLength(const std::string& text, const char* what) {
    if (text.size() <= 255) return true;
    error(std::string(what) + " is " + std::to_string(text.size()) +
          " bytes long; at most 255 bytes can be stored.");
    return false;
}

void TOptionsDialog::SetPageMask(int mask) {
    if ((mask & opAllPages) == 0) mask = opAllPages;
    for (int i = 0; i < 5; ++i)
        pages_->setTabVisible(i, (mask >> i) & 1);
    for (int tab : {tabHighlighting, tabOptions, tabKeys, tabAutoCorrect, tabTemplates})
        if ((mask >> tab) & 1) {
            pages_->setCurrentIndex(tab);
            break;
        }
}

void TOptionsDialog::refreshSamples() {
    scratch_->ReapplyToEditors();
}

// --- OK ---

void TOptionsDialog::accept() {
    for (int i = 0; i < int(fields_.size()); ++i)
        if (!takeField(i)) {
            pages_->setCurrentIndex(tabOptions);
            fields_[std::size_t(i)]->setFocus();
            return;
        }
    if (!takeEndKeys() || !rebuildKeyMap()) return;
    copyEditable(Working(), parser_.settings());
    QDialog::accept();
}

bool ModifyProperties(highlight::TCodeMemoParser& parser, platform::Registry* registry,
                      platform::Dialogs& dialogs, QWidget* parent, int pageMask,
                      bool* desktopKeyMap,
                      std::function<std::string(std::uint16_t, std::int32_t)> windowKeyOwner) {
    if (parser.onModifyProperties) return parser.onModifyProperties(parser, pageMask);
    const std::uint32_t wrapBefore = std::uint32_t(parser.settings().options) & editor::smoWordWrap;
    bool ok;
    {
        TOptionsDialog dialog(parser, dialogs, parent);
        dialog.SetPageMask(pageMask);
        if (desktopKeyMap) dialog.ShowKeyMapChoice(*desktopKeyMap);
        dialog.WindowKeyOwner = std::move(windowKeyOwner);
        ok = dialog.exec() == QDialog::Accepted;
        if (ok && desktopKeyMap) *desktopKeyMap = dialog.DesktopKeyMapChosen();
    }
    if (!ok) return false;
    // The editors are asked now, not before the dialog: documents may have closed meanwhile.
    const bool wrapChanged =
        (std::uint32_t(parser.settings().options) & editor::smoWordWrap) != wrapBefore;
    std::vector<std::pair<editor::TCustomCodeMemo*, std::uint32_t>> wraps;
    for (highlight::TParserSlots* user : parser.Editors())
        if (auto* memo = dynamic_cast<editor::TCustomCodeMemo*>(user))
            wraps.emplace_back(memo, memo->Options() & editor::smoWordWrap);
    parser.ReapplyToEditors();
    if (!wrapChanged)
        for (auto [memo, wrap] : wraps)
            if ((memo->Options() & editor::smoWordWrap) != wrap)
                memo->SetOptions((memo->Options() & ~editor::smoWordWrap) | wrap);
    if (registry && parser.useRegistry && !parser.registryKey.empty()) {
        try {
            parser.saveToRegistry(*registry);
        } catch (const std::exception& e) {
            dialogs.message(platform::MsgKind::Error, e.what());
        }
    }
    return true;
}

} // namespace morvane::app
