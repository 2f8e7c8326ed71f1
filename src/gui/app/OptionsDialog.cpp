#include "gui/app/OptionsDialog.h"

#include "gui/app/KeyAssignDialog.h"
#include "core/editor/CodeMemoError.h"
#include "core/editor/KeyStore.h"
#include "core/editor/Streams.h"
#include "gui/editor/CodeMemo.h"
#include "core/platform/Registry.h"
#include "core/platform/UiServices.h"
#include "gui/platform/QtUiServices.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>

namespace morvane::app {

using editor::TCodeMemo;
using highlight::StyleEffect;
using highlight::TSM_Settings;
using platform::fromBytes;
using platform::toBytes;

namespace {

constexpr int kElementRole = Qt::UserRole;
constexpr int kStyleRole = Qt::UserRole + 1;
constexpr int kNameRole = Qt::UserRole + 2;

struct OptionBox {
    const char* caption;
    std::uint32_t bit;
};
const OptionBox kOptionBoxes[] = {
    {"Line numbers in gutter", 1},
    {"Syntax highlighting", 16},
    {"Wrap long lines", 32},
    {"Line numbers", 64},
    {"Title in header", 128},
    {"Date in header", 256},
    {"Page numbers", 512},
    {"Word wrap", 1024},
    {"Auto-indent", 2048},
    {"Smart tabs", 4096},
    {"Override wrapping", 8192},
    {"Word select", 16384},
    {"Visible Right margin", 32768},
    {"Visible Gutter", 65536},
    {"Show word-wrap column", 131072},
    {"Title as filename", 262144},
    {"Block cursor for Overwrite", 1048576},
    {"Mark wrapped lines", 2097152},
    {"Use TAB character", 8388608},
    {"Smart fill", 16777216},
    {"Show all characters", 67108864},
    {"Cursor beyond EOL", 134217728},
};

enum Field { fIndent, fWrapColumn, fRightMargin, fGutterWidth, fTabColumns, fDefaultTab };
const char* const kFieldLabels[] = {"Block indent", "Word-wrap column", "Right margin",
                                    "Gutter width", "Tab columns",      "Default tab stop"};
const char* const kFieldNames[] = {"IndentStep",  "WordWrapColumn", "RightMargin",
                                   "GutterWidth", "TabColumns",     "DefaultTab"};

struct Charset {
    const char* name;
    int value;
};
const Charset kCharsets[] = {
    {"ANSI", 0},          {"Default", 1},   {"Symbol", 2},       {"Shift JIS", 128},
    {"Hangeul", 129},     {"Johab", 130},   {"GB2312", 134},     {"Chinese Big5", 136},
    {"Greek", 161},       {"Turkish", 162}, {"Vietnamese", 163}, {"Hebrew", 177},
    {"Arabic", 178},      {"Baltic", 186},  {"Russian", 204},    {"Thai", 222},
    {"East Europe", 238}, {"OEM", 255},
};

std::int32_t toSetting(const QColor& c) {
    return std::int32_t(c.red() | (c.green() << 8) | (c.blue() << 16));
}

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

// Names are kept in lower case by the stores.
std::string lowerBytes(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

bool familyInstalled(const QString& family) {
    return QFontDatabase::hasFamily(family);
}

// The family the desktop's fixed-pitch font resolves to: its name may be an alias
// ("monospace") that is no installed family itself.
QString fixedFamily() {
    return QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).family();
}

// Clicks in the sample editor select the element of the style under them.
class ReleaseFilter : public QObject {
public:
    ReleaseFilter(QObject* parent, std::function<void()> released)
        : QObject(parent), released_(std::move(released)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease) released_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> released_;
};

} // namespace

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

// --- Options page ---

void TOptionsDialog::buildOptionsPage() {
    auto* page = new QWidget;
    page->setObjectName("OptionsPage");
    auto* layout = new QVBoxLayout(page);
    auto* grid = new QGridLayout;
    int n = 0;
    const int rows = (int(std::size(kOptionBoxes)) + 1) / 2;
    for (const OptionBox& o : kOptionBoxes) {
        auto* box = new QCheckBox(o.caption, page);
        box->setObjectName(QString("Option%1").arg(o.bit));
        box->setChecked(std::uint32_t(Working().options) & o.bit);
        grid->addWidget(box, n % rows, n / rows);
        ++n;
        optionBoxes_.emplace_back(box, o.bit);
        connect(box, &QCheckBox::toggled, this,
                [this, bit = o.bit](bool on) { optionToggled(bit, on); });
        if (o.bit == editor::smoTabToColumn) smartTabs_ = box;
        if (o.bit == editor::smoCaretAfterEOL) beyondEol_ = box;
    }
    layout->addLayout(grid);
    auto* form = new QFormLayout;
    for (int i = 0; i < 6; ++i) {
        auto* edit = new QLineEdit(page);
        edit->setObjectName(kFieldNames[i]);
        form->addRow(kFieldLabels[i], edit);
        fields_.push_back(edit);
        // Enter and leaving the field both end in editingFinished.
        connect(edit, &QLineEdit::editingFinished, this, [this, i] {
            if (!filling_) takeField(i);
        });
        showField(i);
    }
    layout->addLayout(form);
    layout->addStretch(1);
    pages_->addTab(page, "Options");
}

void TOptionsDialog::optionToggled(std::uint32_t bit, bool on) {
    if (filling_) return;
    std::uint32_t options = std::uint32_t(Working().options);
    options = on ? options | bit : options & ~bit;
    Working().options = std::int32_t(options);
    updateOptionStates();
    refreshSamples();
}

void TOptionsDialog::updateOptionStates() {
    if (smartTabs_) smartTabs_->setEnabled(!(Working().options & editor::smoWordWrap));
    // A caret beyond the line's end needs cells of one width.
    if (beyondEol_ && sample_) beyondEol_->setEnabled(QFontInfo(sample_->Font()).fixedPitch());
}

void TOptionsDialog::showField(int which) {
    const TSM_Settings& s = Working();
    QString text;
    switch (which) {
    case fIndent:
        text = QString::number(s.indentStep);
        break;
    case fWrapColumn:
        text = QString::number(s.wordWrapColumn);
        break;
    case fRightMargin:
        text = QString::number(s.rightMargin);
        break;
    case fGutterWidth:
        text = QString::number(s.gutterWidth);
        break;
    case fTabColumns:
        text = fromBytes(s.tabColumnsText());
        break;
    case fDefaultTab:
        text = QString::number(s.defaultTab);
        break;
    }
    bool was = filling_;
    filling_ = true;
    fields_[std::size_t(which)]->setText(text);
    filling_ = was;
}

bool TOptionsDialog::takeField(int which) {
    TSM_Settings& s = Working();
    const std::string text = toBytes(fields_[std::size_t(which)]->text());
    std::string problem;
    if (which == fTabColumns) {
        try {
            s.setTabColumnsText(text);
        } catch (const std::exception& e) {
            problem = e.what();
        }
    } else {
        std::optional<int> value = parseInt(text);
        if (!value) {
            problem = "\"" + text + "\" is not a valid integer value.";
        } else if (which == fIndent && (*value < 1 || *value > 255)) {
            problem = "The block indent must be between 1 and 255.";
        } else if (which == fDefaultTab && (*value < 1 || *value > 255)) {
            problem = "Illegal default tab stop value, must be > 0 and at most 255";
        } else if (*value < 0 || *value > 100000) {
            problem = std::string(kFieldLabels[which]) + " must be between 0 and 100000.";
        } else {
            switch (which) {
            case fIndent:
                s.indentStep = *value;
                break;
            case fWrapColumn:
                s.wordWrapColumn = *value;
                break;
            case fRightMargin:
                s.rightMargin = *value;
                break;
            case fGutterWidth:
                s.gutterWidth = *value;
                break;
            case fDefaultTab:
                s.defaultTab = *value;
                break;
            }
        }
    }
    // The field shows the value in force before the message, so that the focus the message
    // takes away does not report the same text again.
    showField(which);
    if (!problem.empty()) {
        error(problem);
        return false;
    }
    refreshSamples();
    return true;
}

// --- Highlighting page ---

void TOptionsDialog::buildHighlightingPage() {
    auto* page = new QWidget;
    page->setObjectName("HighlightingPage");
    auto* layout = new QVBoxLayout(page);
    auto* language = new QLabel("Language: " + fromBytes(Working().languageName), page);
    language->setObjectName("LanguageLabel");
    layout->addWidget(language);

    auto* top = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* elementsLabel = new QLabel("&Element", page);
    left->addWidget(elementsLabel);
    elements_ = new QListWidget(page);
    elementsLabel->setBuddy(elements_);
    elements_->setObjectName("Elements");
    for (const auto& style : Working().editableStyles) {
        auto* item = new QListWidgetItem(fromBytes(style.name), elements_);
        item->setData(kElementRole, int(elStyle));
        item->setData(kStyleRole, int(style.style));
    }
    for (auto [caption, element] :
         {std::pair{"Selected text", elSelectedText}, std::pair{"Left margin", elLeftMargin},
          std::pair{"Gutter", elGutter}}) {
        auto* item = new QListWidgetItem(caption, elements_);
        item->setData(kElementRole, int(element));
    }
    left->addWidget(elements_, 1);
    top->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    auto* colours = new QFormLayout;
    foreground_ = pageButton("", "ForegroundColor", page);
    background_ = pageButton("", "BackgroundColor", page);
    colours->addRow("Fo&reground", foreground_);
    colours->addRow("Bac&kground", background_);
    right->addLayout(colours);
    bold_ = new QCheckBox("Bold", page);
    bold_->setObjectName("Bold");
    italic_ = new QCheckBox("Italic", page);
    italic_->setObjectName("Italic");
    underline_ = new QCheckBox("Underline", page);
    underline_->setObjectName("Underline");
    right->addWidget(bold_);
    right->addWidget(italic_);
    right->addWidget(underline_);
    auto* defaults = new QGroupBox("Use defaults for", page);
    auto* defaultsLayout = new QVBoxLayout(defaults);
    defaultForeground_ = new QCheckBox("Foreground", defaults);
    defaultForeground_->setObjectName("DefaultForeground");
    defaultBackground_ = new QCheckBox("Background", defaults);
    defaultBackground_->setObjectName("DefaultBackground");
    defaultsLayout->addWidget(defaultForeground_);
    defaultsLayout->addWidget(defaultBackground_);
    right->addWidget(defaults);
    right->addStretch(1);
    top->addLayout(right);
    layout->addLayout(top, 1);

    auto* fontRow = new QHBoxLayout;
    fontName_ = new QComboBox(page);
    fontName_->setObjectName("FontName");
    fontName_->setEditable(true);
    fontName_->setInsertPolicy(QComboBox::NoInsert);
    fontName_->addItems(QFontDatabase::families());
    fontName_->setEditText(fromBytes(Working().fontName));
    fontSize_ = new QComboBox(page);
    fontSize_->setObjectName("FontSize");
    fontSize_->setEditable(true);
    fontSize_->setInsertPolicy(QComboBox::NoInsert);
    for (int size : {8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 26, 30})
        fontSize_->addItem(QString::number(size));
    fontSize_->setEditText(QString::number(Working().fontSize));
    charset_ = new QComboBox(page);
    charset_->setObjectName("FontCharset");
    for (const Charset& c : kCharsets)
        charset_->addItem(c.name, c.value);
    int charsetIndex = charset_->findData(int(Working().fontCharset));
    if (charsetIndex < 0) {
        charset_->addItem(QString::number(Working().fontCharset), int(Working().fontCharset));
        charsetIndex = charset_->count() - 1;
    }
    charset_->setCurrentIndex(charsetIndex);
    fontRow->addWidget(new QLabel("Font", page));
    fontRow->addWidget(fontName_, 2);
    fontRow->addWidget(new QLabel("Size", page));
    fontRow->addWidget(fontSize_);
    fontRow->addWidget(new QLabel("Character set", page));
    fontRow->addWidget(charset_, 1);
    layout->addLayout(fontRow);
    fontNote_ = new QLabel(page);
    fontNote_->setObjectName("FontNote");
    fontNote_->setWordWrap(true);
    layout->addWidget(fontNote_);

    sample_ = new TCodeMemo(page);
    sample_->setObjectName("Sample");
    sample_->SetParser(1, scratch_.get());
    sample_->SetActiveParser(1);
    editor::TMemoryStream text(Working().exampleText);
    sample_->LoadFromStream(text);
    sample_->SetReadOnly(true);
    sample_->setMinimumHeight(120);
    sample_->viewport()->installEventFilter(new ReleaseFilter(this, [this] { sampleClicked(); }));
    layout->addWidget(sample_, 1);
    if (!Working().fontName.empty() && !familyInstalled(fromBytes(Working().fontName)))
        fontNote_->setText("The font \"" + fromBytes(Working().fontName) +
                           "\" is not installed; the default fixed-pitch font \"" + fixedFamily() +
                           "\" shows the text instead.");

    connect(elements_, &QListWidget::currentRowChanged, this, [this] { fillElement(); });
    connect(foreground_, &QPushButton::clicked, this, [this] { chooseColour(true); });
    connect(background_, &QPushButton::clicked, this, [this] { chooseColour(false); });
    connect(bold_, &QCheckBox::toggled, this,
            [this](bool on) { setStyleBit(highlight::fsBoldBit, on); });
    connect(italic_, &QCheckBox::toggled, this,
            [this](bool on) { setStyleBit(highlight::fsItalicBit, on); });
    connect(underline_, &QCheckBox::toggled, this,
            [this](bool on) { setStyleBit(highlight::fsUnderlineBit, on); });
    connect(defaultForeground_, &QCheckBox::toggled, this,
            [this](bool on) { setDefaultFlag(true, on); });
    connect(defaultBackground_, &QCheckBox::toggled, this,
            [this](bool on) { setDefaultFlag(false, on); });
    connect(fontName_->lineEdit(), &QLineEdit::editingFinished, this, [this] { fontChanged(); });
    connect(fontName_, &QComboBox::activated, this, [this] { fontChanged(); });
    connect(fontSize_->lineEdit(), &QLineEdit::editingFinished, this, [this] { fontChanged(); });
    connect(fontSize_, &QComboBox::activated, this, [this] { fontChanged(); });
    connect(charset_, &QComboBox::activated, this, [this] {
        if (filling_) return;
        Working().fontCharset = std::uint8_t(charset_->currentData().toInt());
        refreshSamples();
    });
    elements_->setCurrentRow(0);
    pages_->addTab(page, "Highlighting");
}

QString TOptionsDialog::FontNote() const {
    return fontNote_->text();
}

TOptionsDialog::Element TOptionsDialog::currentElement() const {
    QListWidgetItem* item = elements_->currentItem();
    return item ? Element(item->data(kElementRole).toInt()) : elStyle;
}

int TOptionsDialog::currentStyle() const {
    QListWidgetItem* item = elements_->currentItem();
    if (!item || currentElement() != elStyle) return -1;
    return item->data(kStyleRole).toInt();
}

void TOptionsDialog::fillElement() {
    const TSM_Settings& s = Working();
    bool was = filling_;
    filling_ = true;
    std::optional<std::int32_t> fg, bg;
    bool fgDefault = false, bgDefault = false;
    std::uint8_t bits = 0;
    const bool isStyle = currentElement() == elStyle && elements_->currentItem();
    switch (currentElement()) {
    case elStyle:
        if (int style = currentStyle(); style >= 0) {
            const StyleEffect& e = s.effect(style);
            fg = e.foreground;
            bg = e.background;
            fgDefault = e.foregroundDefault;
            bgDefault = e.backgroundDefault;
            bits = e.fontStyle;
        }
        break;
    case elSelectedText:
        fg = s.selTextColor;
        bg = s.selTextBack;
        fgDefault = s.selTextColorDefault;
        bgDefault = s.selTextBackDefault;
        break;
    case elLeftMargin:
        bg = s.marginColor;
        bgDefault = s.marginColorDefault;
        break;
    case elGutter:
        bg = s.gutterColor;
        bgDefault = s.gutterColorDefault;
        break;
    }
    auto paint = [this](QPushButton* b, std::optional<std::int32_t> value) {
        b->setEnabled(value.has_value());
        if (!value) {
            b->setText(QString());
            b->setStyleSheet(QString());
            return;
        }
        QColor c = sample_->ColorOf(*value);
        b->setText(c.name());
        b->setStyleSheet(QString("background-color: %1; color: %2")
                             .arg(c.name(), c.lightness() < 128 ? "white" : "black"));
    };
    paint(foreground_, fg);
    paint(background_, bg);
    for (auto [box, bit] :
         {std::pair{bold_, highlight::fsBoldBit}, std::pair{italic_, highlight::fsItalicBit},
          std::pair{underline_, highlight::fsUnderlineBit}}) {
        box->setEnabled(isStyle);
        box->setChecked(bits & bit);
    }
    defaultForeground_->setEnabled(fg.has_value());
    defaultForeground_->setChecked(fgDefault);
    defaultBackground_->setEnabled(bg.has_value());
    defaultBackground_->setChecked(bgDefault);
    filling_ = was;
}

void TOptionsDialog::chooseColour(bool foreground) {
    TSM_Settings& s = Working();
    std::int32_t* target = nullptr;
    std::uint8_t* isDefault = nullptr;
    StyleEffect effect;
    const int style = currentStyle();
    switch (currentElement()) {
    case elStyle:
        if (style < 0) return;
        effect = s.effect(style);
        target = foreground ? &effect.foreground : &effect.background;
        isDefault = foreground ? &effect.foregroundDefault : &effect.backgroundDefault;
        break;
    case elSelectedText:
        target = foreground ? &s.selTextColor : &s.selTextBack;
        isDefault = foreground ? &s.selTextColorDefault : &s.selTextBackDefault;
        break;
    case elLeftMargin:
        if (foreground) return;
        target = &s.marginColor;
        isDefault = &s.marginColorDefault;
        break;
    case elGutter:
        if (foreground) return;
        target = &s.gutterColor;
        isDefault = &s.gutterColorDefault;
        break;
    }
    std::optional<QColor> chosen = ChooseColor(sample_->ColorOf(*target));
    if (!chosen) return;
    *target = toSetting(*chosen);
    *isDefault = 0; // a colour chosen is meant to show
    if (currentElement() == elStyle) {
        effect.inUse = 1; // only styles in use are stored
        s.setEffect(style, effect);
    }
    fillElement();
    refreshSamples();
}

void TOptionsDialog::setStyleBit(std::uint8_t bit, bool on) {
    if (filling_) return;
    int style = currentStyle();
    if (style < 0) return;
    StyleEffect e = Working().effect(style);
    e.fontStyle = on ? std::uint8_t(e.fontStyle | bit) : std::uint8_t(e.fontStyle & ~bit);
    e.inUse = 1;
    Working().setEffect(style, e);
    refreshSamples();
}

void TOptionsDialog::setDefaultFlag(bool foreground, bool on) {
    if (filling_) return;
    TSM_Settings& s = Working();
    std::uint8_t value = on ? 1 : 0;
    switch (currentElement()) {
    case elStyle: {
        int style = currentStyle();
        if (style < 0) return;
        StyleEffect e = s.effect(style);
        (foreground ? e.foregroundDefault : e.backgroundDefault) = value;
        e.inUse = 1;
        s.setEffect(style, e);
        break;
    }
    case elSelectedText:
        (foreground ? s.selTextColorDefault : s.selTextBackDefault) = value;
        break;
    case elLeftMargin:
        if (!foreground) s.marginColorDefault = value;
        break;
    case elGutter:
        if (!foreground) s.gutterColorDefault = value;
        break;
    }
    refreshSamples();
}

void TOptionsDialog::fontChanged() {
    if (filling_) return;
    TSM_Settings& s = Working();
    QString family = fontName_->currentText().trimmed();
    std::optional<int> size = parseInt(toBytes(fontSize_->currentText()));
    if (!size || *size < 1 || *size > 200) {
        error("\"" + toBytes(fontSize_->currentText()) +
              "\" is not a valid font size: enter a number from 1 to 200.");
        bool was = filling_;
        filling_ = true;
        fontSize_->setEditText(QString::number(s.fontSize));
        filling_ = was;
        return;
    }
    fontNote_->clear();
    if (family.isEmpty() || !familyInstalled(family)) {
        // A name the machine has no font for would be matched to any font at all; the default
        // fixed-pitch font keeps the columns even, and the note says why it is there.
        QString fallback = fixedFamily();
        if (!family.isEmpty())
            fontNote_->setText("The font \"" + family +
                               "\" is not installed; the default fixed-pitch font \"" + fallback +
                               "\" is used instead.");
        family = fallback;
        bool was = filling_;
        filling_ = true;
        fontName_->setEditText(family);
        filling_ = was;
    }
    s.fontName = toBytes(family);
    s.fontSize = *size;
    refreshSamples();
    updateOptionStates();
}

void TOptionsDialog::sampleClicked() {
    int token = -1;
    sample_->TokenRunAt(sample_->Caret(), token);
    if (token < 0) token = 0;
    const std::uint8_t style = Working().styleOfToken(token);
    for (int row = 0; row < elements_->count(); ++row) {
        QListWidgetItem* item = elements_->item(row);
        if (item->data(kElementRole).toInt() == elStyle &&
            item->data(kStyleRole).toInt() == style) {
            elements_->setCurrentRow(row);
            return;
        }
    }
}

// --- Key Assignments page ---

void TOptionsDialog::buildKeysPage() {
    auto* page = new QWidget;
    page->setObjectName("KeysPage");
    auto* layout = new QHBoxLayout(page);
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
    connect(commandList_, &QListWidget::currentRowChanged, this, [this] { fillKeys(); });
    connect(add, &QPushButton::clicked, this, [this] { addKeys(); });
    connect(remove, &QPushButton::clicked, this, [this] { deleteKeys(); });
    connect(edit, &QPushButton::clicked, this, [this] { editKeys(); });
    connect(keyList_, &QListWidget::itemDoubleClicked, this, [this] { editKeys(); });
    if (!commands_.empty()) commandList_->setCurrentRow(0);
    pages_->addTab(page, "Key Assignments");
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
    Working().keys.assign(rebuilt);
    return true;
}

// --- Auto Correct page ---

void TOptionsDialog::buildAutoCorrectPage() {
    auto* page = new QWidget;
    page->setObjectName("AutoCorrectPage");
    auto* layout = new QVBoxLayout(page);
    replacements_ = new QListWidget(page);
    replacements_->setObjectName("Replacements");
    layout->addWidget(replacements_, 1);
    auto* form = new QFormLayout;
    replaceItem_ = new QLineEdit(page);
    replaceItem_->setObjectName("ReplaceItem");
    replaceWith_ = new QLineEdit(page);
    replaceWith_->setObjectName("ReplaceWith");
    endKeys_ = new QLineEdit(fromBytes(Working().autoReplace.endKeyText()), page);
    endKeys_->setObjectName("ActKeys");
    form->addRow("Replace", replaceItem_);
    form->addRow("With", replaceWith_);
    form->addRow("Act key(s)", endKeys_);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout;
    auto* add = pageButton("Add", "AddReplacement", page);
    auto* replace = pageButton("Replace", "ReplaceReplacement", page);
    auto* remove = pageButton("Delete", "DeleteReplacement", page);
    buttons->addStretch(1);
    buttons->addWidget(add);
    buttons->addWidget(replace);
    buttons->addWidget(remove);
    layout->addLayout(buttons);
    connect(replacements_, &QListWidget::currentRowChanged, this,
            [this] { autoCorrectSelected(); });
    connect(add, &QPushButton::clicked, this, [this] { addReplacement(false); });
    connect(replace, &QPushButton::clicked, this, [this] { addReplacement(true); });
    connect(remove, &QPushButton::clicked, this, [this] { deleteReplacement(); });
    connect(endKeys_, &QLineEdit::editingFinished, this, [this] {
        if (!filling_) takeEndKeys();
    });
    fillAutoCorrect();
    pages_->addTab(page, "Auto Correct");
}

void TOptionsDialog::fillAutoCorrect(const std::string& select) {
    bool was = filling_;
    filling_ = true;
    replacements_->clear();
    for (const auto& [name, entry] : Working().autoReplace.entries()) {
        auto* item = new QListWidgetItem(fromBytes(name) + "\t" +
                                             fromBytes(entry.expansion.value_or(std::string())),
                                         replacements_);
        item->setData(kNameRole, QByteArray(name.data(), qsizetype(name.size())));
        if (name == select) replacements_->setCurrentItem(item);
    }
    filling_ = was;
}

void TOptionsDialog::autoCorrectSelected() {
    if (filling_) return;
    QListWidgetItem* item = replacements_->currentItem();
    if (!item) return;
    QByteArray name = item->data(kNameRole).toByteArray();
    const editor::MacroEntry* e = Working().autoReplace.entry(name.toStdString());
    replaceItem_->setText(fromBytes(name.toStdString()));
    replaceWith_->setText(e && e->expansion ? fromBytes(*e->expansion) : QString());
}

void TOptionsDialog::addReplacement(bool replaceSelected) {
    const std::string item = toBytes(replaceItem_->text());
    const std::string with = toBytes(replaceWith_->text());
    QListWidgetItem* selected = replacements_->currentItem();
    if (replaceSelected && !selected) {
        error("Select the entry to replace first.");
        return;
    }
    if (item.empty()) {
        error("Enter the word to replace.");
        return;
    }
    if (!fitsByteLength(item, "The word to replace")) return;
    auto& store = Working().autoReplace;
    if (replaceSelected) store.deleteEntry(selected->data(kNameRole).toByteArray().toStdString());
    store.addReplacement(item, with);
    fillAutoCorrect(lowerBytes(item));
    refreshSamples();
}

void TOptionsDialog::deleteReplacement() {
    QListWidgetItem* selected = replacements_->currentItem();
    if (!selected) return;
    Working().autoReplace.deleteEntry(selected->data(kNameRole).toByteArray().toStdString());
    fillAutoCorrect();
    refreshSamples();
}

bool TOptionsDialog::takeEndKeys() {
    auto& store = Working().autoReplace;
    const std::string text = toBytes(endKeys_->text());
    if (text == store.endKeyText()) return true;
    std::string problem;
    if (text.size() > 255) {
        problem = "The act keys are " + std::to_string(text.size()) +
                  " bytes long; at most 255 bytes can be stored.";
    } else {
        try {
            store.setEndKeyText(text);
        } catch (const std::exception& e) {
            problem = e.what();
        }
    }
    bool was = filling_;
    filling_ = true;
    endKeys_->setText(fromBytes(store.endKeyText()));
    filling_ = was;
    if (!problem.empty()) {
        pages_->setCurrentIndex(tabAutoCorrect);
        error(problem);
        return false;
    }
    return true;
}

// --- Code Templates page ---

void TOptionsDialog::buildTemplatesPage() {
    auto* page = new QWidget;
    page->setObjectName("TemplatesPage");
    auto* layout = new QVBoxLayout(page);
    templates_ = new QListWidget(page);
    templates_->setObjectName("Templates");
    layout->addWidget(templates_, 1);
    auto* form = new QFormLayout;
    templateName_ = new QLineEdit(page);
    templateName_->setObjectName("TemplateName");
    templateDescription_ = new QLineEdit(page);
    templateDescription_->setObjectName("TemplateDescription");
    hotkey_ = new TShortcutEdit(page);
    hotkey_->setObjectName("Hotkey");
    hotkey_->SetShortcut(Working().templates.hotkey);
    form->addRow("Name", templateName_);
    form->addRow("Description", templateDescription_);
    layout->addLayout(form);
    templateText_ = new TCodeMemo(page);
    templateText_->setObjectName("TemplateText");
    templateText_->SetParser(1, scratch_.get());
    templateText_->SetActiveParser(1);
    templateText_->setMinimumHeight(100);
    layout->addWidget(templateText_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel("Hotkey", page));
    bottom->addWidget(hotkey_);
    bottom->addStretch(1);
    auto* add = pageButton("Add", "AddTemplate", page);
    auto* replace = pageButton("Replace", "ReplaceTemplate", page);
    auto* remove = pageButton("Delete", "DeleteTemplate", page);
    bottom->addWidget(add);
    bottom->addWidget(replace);
    bottom->addWidget(remove);
    layout->addLayout(bottom);
    connect(templates_, &QListWidget::currentRowChanged, this, [this] { templateSelected(); });
    connect(add, &QPushButton::clicked, this, [this] { addTemplate(false); });
    connect(replace, &QPushButton::clicked, this, [this] { addTemplate(true); });
    connect(remove, &QPushButton::clicked, this, [this] { deleteTemplate(); });
    hotkey_->OnChange = [this](std::uint16_t key) {
        if (!filling_) Working().templates.hotkey = key;
    };
    fillTemplates();
    pages_->addTab(page, "Code Templates");
}

void TOptionsDialog::fillTemplates(const std::string& select) {
    bool was = filling_;
    filling_ = true;
    templates_->clear();
    for (const auto& [name, entry] : Working().templates.entries()) {
        QString caption = fromBytes(name);
        if (entry.description) caption += "\t" + fromBytes(*entry.description);
        auto* item = new QListWidgetItem(caption, templates_);
        item->setData(kNameRole, QByteArray(name.data(), qsizetype(name.size())));
        if (name == select) templates_->setCurrentItem(item);
    }
    filling_ = was;
}

void TOptionsDialog::templateSelected() {
    if (filling_) return;
    QListWidgetItem* item = templates_->currentItem();
    if (!item) return;
    std::string name = item->data(kNameRole).toByteArray().toStdString();
    const editor::MacroEntry* e = Working().templates.entry(name);
    templateName_->setText(fromBytes(name));
    templateDescription_->setText(e && e->description ? fromBytes(*e->description) : QString());
    editor::TMemoryStream text(e && e->expansion ? *e->expansion : std::string());
    templateText_->LoadFromStream(text);
}

void TOptionsDialog::addTemplate(bool replaceSelected) {
    const std::string name = toBytes(templateName_->text());
    const std::string description = toBytes(templateDescription_->text());
    QListWidgetItem* selected = templates_->currentItem();
    if (replaceSelected && !selected) {
        error("Select the template to replace first.");
        return;
    }
    if (name.empty()) {
        error("Enter a name for the template.");
        return;
    }
    if (!fitsByteLength(name, "The template name") ||
        !fitsByteLength(description, "The description"))
        return;
    auto& store = Working().templates;
    if (replaceSelected)
        store.deleteTemplate(selected->data(kNameRole).toByteArray().toStdString());
    store.addTemplate(name, description, templateText_->Text());
    fillTemplates(lowerBytes(name));
    refreshSamples();
}

void TOptionsDialog::deleteTemplate() {
    QListWidgetItem* selected = templates_->currentItem();
    if (!selected) return;
    Working().templates.deleteTemplate(selected->data(kNameRole).toByteArray().toStdString());
    fillTemplates();
    refreshSamples();
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
                      platform::Dialogs& dialogs, QWidget* parent, int pageMask) {
    if (parser.onModifyProperties) return parser.onModifyProperties(parser, pageMask);
    const std::uint32_t wrapBefore = std::uint32_t(parser.settings().options) & editor::smoWordWrap;
    bool ok;
    {
        TOptionsDialog dialog(parser, dialogs, parent);
        dialog.SetPageMask(pageMask);
        ok = dialog.exec() == QDialog::Accepted;
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
