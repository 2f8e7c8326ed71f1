#include "gui/app/OptionsDialog.h"

#include "core/editor/Streams.h"
#include "gui/app/OptionsDialogShared.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace morvane::app {

using editor::TCodeMemo;
using highlight::StyleEffect;
using highlight::TSM_Settings;
using options_dialog::pageButton;
using options_dialog::parseInt;
using platform::fromBytes;
using platform::toBytes;

namespace {

constexpr int kElementRole = Qt::UserRole;
constexpr int kStyleRole = Qt::UserRole + 1;

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

} // namespace morvane::app
