#include "gui/app/OptionsDialog.h"

#include "gui/app/OptionsDialogShared.h"
#include "gui/editor/CodeMemo.h"
#include "gui/editor/QtFontMetrics.h"
#include "gui/platform/QtUiServices.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>

namespace morvane::app {

using highlight::TSM_Settings;
using options_dialog::parseInt;
using platform::fromBytes;
using platform::toBytes;

namespace {

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
    {"Highlight current line", 1u << 29},
    {"Undo letter by letter", 1u << 30},
};

enum Field { fIndent, fWrapColumn, fRightMargin, fGutterWidth, fTabColumns, fDefaultTab };
const char* const kFieldLabels[] = {"Block indent (0: tab width)",
                                    "Word-wrap column",
                                    "Right margin",
                                    "Gutter width",
                                    "Tab columns",
                                    "Default tab stop"};
const char* const kFieldNames[] = {"IndentStep",  "WordWrapColumn", "RightMargin",
                                   "GutterWidth", "TabColumns",     "DefaultTab"};

} // namespace

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
    if (beyondEol_ && sample_) beyondEol_->setEnabled(editor::MeasuresFixedPitch(sample_->Font()));
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
        } else if (which == fIndent && (*value < 0 || *value > 255)) {
            problem = "The block indent must be between 0 (the tab width) and 255.";
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

} // namespace morvane::app
