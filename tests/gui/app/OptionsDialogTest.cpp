// The editor properties dialog on a real highlighter: each page edits the working copy only, OK
// hands it to the highlighter and its editors, Cancel leaves everything as it was; and the
// main window's Editor properties command with what follows it.

#include "gui/app/OptionsDialog.h"
#include "MainFormFixture.h"
#include "core/app/AppRegistry.h"
#include "core/editor/KeyboardActionContoller.h"
#include "core/highlight/BuiltinHighlighters.h"
#include "gui/app/KeyAssignDialog.h"
#include "gui/editor/CodeMemo.h"
#include "gui/editor/QtFontMetrics.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <iterator>

using namespace morvane;
using namespace morvane::app;
using morvane::testing::processUntil;
using morvane::testing::settle;

namespace {

constexpr std::int32_t kRed = 0x0000FF; // 0x00BBGGRR

template <class T> T* child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
}

void type(QLineEdit* edit, const std::string& text) {
    edit->setText(QString::fromStdString(text));
    emit edit->editingFinished();
}

void selectElement(TOptionsDialog& d, const QString& caption) {
    auto* list = child<QListWidget>(&d, "Elements");
    auto found = list->findItems(caption, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << caption.toStdString();
    list->setCurrentItem(found[0]);
}

int styleNamed(const highlight::TSM_Settings& s, const std::string& name) {
    for (const auto& e : s.editableStyles)
        if (e.name == name) return e.style;
    return -1;
}

std::string readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        morvane::testing::qtApp();
        highlighters = highlight::compileBuiltinHighlighters(MORVANE_TEST_RESOURCES, kPerUserRoot);
        for (auto& h : highlighters)
            if (h->languageName() == "C++") cpp = h.get();
        ASSERT_NE(cpp, nullptr);
        documentMemo = std::make_unique<editor::TCodeMemo>();
        documentMemo->SetParser(1, cpp);
        documentMemo->SetActiveParser(1);
        before = cpp->settings().styleString();
        keysBefore = cpp->settings().keys.saveToString();
    }

    highlight::Highlighters highlighters;
    highlight::TCodeMemoParser* cpp = nullptr;
    // A document using the highlighter; made after the application.
    std::unique_ptr<editor::TCodeMemo> documentMemo;
    platform::FakeDialogs dialogs;
    std::string before, keysBefore;
};

TEST_F(OptionsDialogTest, OptionsPageEditsTheWorkingCopyAndRefusesBadValues) {
    TOptionsDialog d(*cpp, dialogs);
    auto* wrap = child<QCheckBox>(&d, "Option1024");
    auto* smartTabs = child<QCheckBox>(&d, "Option4096");
    wrap->setChecked(!wrap->isChecked());
    EXPECT_NE(d.Working().options & 1024, cpp->settings().options & 1024);
    EXPECT_EQ(smartTabs->isEnabled(), !(d.Working().options & 1024));
    // The sample shows the working copy, the document the highlighter's own record.
    EXPECT_EQ(d.Sample()->Options() & 1024, std::uint32_t(d.Working().options) & 1024);
    EXPECT_EQ(documentMemo->Options() & 1024, std::uint32_t(cpp->settings().options) & 1024);

    type(child<QLineEdit>(&d, "RightMargin"), "90");
    EXPECT_EQ(d.Working().rightMargin, 90);
    type(child<QLineEdit>(&d, "TabColumns"), "5 9 13");
    EXPECT_EQ(d.Working().tabColumns[2], 12);

    const int indent = d.Working().indentStep;
    type(child<QLineEdit>(&d, "IndentStep"), "abc");
    type(child<QLineEdit>(&d, "TabColumns"), "5 5");
    type(child<QLineEdit>(&d, "DefaultTab"), "0");
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[0].text, "\"abc\" is not a valid integer value.");
    EXPECT_EQ(dialogs.shown[1].text, "Tab columns must be in order and unique");
    EXPECT_EQ(d.Working().indentStep, indent);
    EXPECT_EQ(d.Working().tabColumns[2], 12);
    EXPECT_EQ(child<QLineEdit>(&d, "IndentStep")->text().toInt(), indent);
}

TEST_F(OptionsDialogTest, HighlightingPageChangesStylesAndTheFixedElements) {
    TOptionsDialog d(*cpp, dialogs);
    d.ChooseColor = [](const QColor&) { return QColor(255, 0, 0); };
    const int reserved = styleNamed(d.Working(), "Reserved word");
    selectElement(d, "Reserved word");
    child<QPushButton>(&d, "ForegroundColor")->click();
    child<QCheckBox>(&d, "Italic")->setChecked(true);
    EXPECT_EQ(d.Working().effect(reserved).foreground, kRed);
    EXPECT_TRUE(d.Working().effect(reserved).fontStyle & highlight::fsItalicBit);
    EXPECT_NE(cpp->settings().effect(reserved).foreground, kRed);

    selectElement(d, "Selected text");
    EXPECT_FALSE(child<QCheckBox>(&d, "Bold")->isEnabled());
    child<QPushButton>(&d, "BackgroundColor")->click();
    EXPECT_EQ(d.Working().selTextBack, kRed);
    EXPECT_EQ(d.Working().selTextBackDefault, 0);
    selectElement(d, "Gutter");
    EXPECT_FALSE(child<QPushButton>(&d, "ForegroundColor")->isEnabled());
    child<QCheckBox>(&d, "DefaultBackground")->setChecked(true);
    EXPECT_EQ(d.Working().gutterColorDefault, 1);

    // A click on a keyword of the sample selects its element.
    editor::TCodeMemo& sample = *d.Sample();
    sample.HighlightAll();
    std::string text = sample.Text();
    std::size_t at = text.find("return");
    ASSERT_NE(at, std::string::npos);
    sample.SetSelection(editor::TextOffset(at + 1), editor::TextOffset(at + 1));
    QTest::mouseRelease(sample.viewport(), Qt::LeftButton);
    EXPECT_EQ(child<QListWidget>(&d, "Elements")->currentItem()->text(), "Reserved word");
}

TEST_F(OptionsDialogTest, AFontTheMachineLacksFallsBackToTheFixedFontAndSaysSo) {
    TOptionsDialog d(*cpp, dialogs);
    auto* name = child<QComboBox>(&d, "FontName");
    name->setEditText("No Such Font Family 4711");
    emit name->lineEdit()->editingFinished();
    const QString fixed = QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).family();
    EXPECT_TRUE(QFontDatabase::hasFamily(fixed));
    EXPECT_EQ(QString::fromStdString(d.Working().fontName), fixed);
    EXPECT_TRUE(d.FontNote().contains("No Such Font Family 4711"));
    EXPECT_TRUE(d.FontNote().contains(fixed));
    EXPECT_TRUE(dialogs.shown.empty());

    auto* size = child<QComboBox>(&d, "FontSize");
    size->setEditText("huge");
    emit size->lineEdit()->editingFinished();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(size->currentText().toInt(), d.Working().fontSize);
}

TEST_F(OptionsDialogTest, KeyConflictKeepsTheDialogOpenAndAGoodMapIsTakenOnOk) {
    TOptionsDialog d(*cpp, dialogs);
    std::pair<std::uint16_t, std::uint16_t> answer{0x4000 | 'K', 0};
    d.AskKeyPair = [&](const QString&, bool, std::uint16_t& first, std::uint16_t& second) {
        first = answer.first;
        second = answer.second;
        return true;
    };
    auto* commands = child<QListWidget>(&d, "Commands");
    auto found = commands->findItems("Undo", Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    commands->setCurrentItem(found[0]);
    auto* keys = child<QListWidget>(&d, "UsesKeys");
    EXPECT_EQ(keys->item(0)->text(), "Ctrl+Z");
    child<QPushButton>(&d, "AddKeys")->click(); // Ctrl+K alone: a prefix of other bindings
    EXPECT_EQ(keys->count(), 2);

    d.show();
    d.accept();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text.rfind("Duplicate key sequence definition for", 0), 0u);
    EXPECT_TRUE(d.isVisible());
    EXPECT_NE(d.result(), QDialog::Accepted);
    EXPECT_EQ(cpp->settings().keys.saveToString(), keysBefore);

    keys->setCurrentRow(1);
    answer = {0x74 /* F5 */, 0};
    child<QPushButton>(&d, "EditKeys")->click();
    EXPECT_EQ(keys->item(1)->text(), "F5");
    d.accept();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    std::int32_t command = -1;
    bool extend = false;
    EXPECT_EQ(cpp->settings().keys.processKey(0x74, 0, command, extend),
              editor::TKeyStore::Result::Command);
    EXPECT_EQ(command, 41);
}

TEST_F(OptionsDialogTest, AutoCorrectAndTemplatesRefuseWhatTheirFilesCannotHold) {
    TOptionsDialog d(*cpp, dialogs);
    type(child<QLineEdit>(&d, "ReplaceItem"), "Teh");
    type(child<QLineEdit>(&d, "ReplaceWith"), "the");
    child<QPushButton>(&d, "AddReplacement")->click();
    ASSERT_NE(d.Working().autoReplace.entry("teh"), nullptr);
    EXPECT_EQ(*d.Working().autoReplace.entry("teh")->expansion, "the");
    child<QLineEdit>(&d, "ReplaceItem")->setText(QString(256, 'x'));
    child<QPushButton>(&d, "AddReplacement")->click();
    EXPECT_EQ(d.Working().autoReplace.entry(std::string(256, 'x')), nullptr);
    type(child<QLineEdit>(&d, "ActKeys"), ";\\{Return");
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_NE(dialogs.shown[0].text.find("255"), std::string::npos);
    EXPECT_EQ(dialogs.shown[1].text, "Bad key specifier");
    EXPECT_EQ(d.Working().autoReplace.endKeyText(), editor::TAutoReplace::kDefaultEndKeys);

    auto* name = child<QLineEdit>(&d, "TemplateName");
    name->setText(QString(300, 'n'));
    d.TemplateEditor()->ReplaceSel("for (|;;)");
    child<QPushButton>(&d, "AddTemplate")->click();
    EXPECT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(d.Working().templates.entry(std::string(300, 'n')), nullptr);
    name->setText(QString(255, 'n'));
    child<QLineEdit>(&d, "TemplateDescription")->setText("loop");
    child<QPushButton>(&d, "AddTemplate")->click();
    EXPECT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(d.Working().templates.findExpansion(std::string(255, 'n')), "for (|;;)");
    // The stream form keeps the 255-byte name whole.
    editor::TCodeTemplates back;
    back.loadFromString(d.Working().templates.saveToString());
    EXPECT_NE(back.entry(std::string(255, 'n')), nullptr);

    // A megabyte of expansion has a 32-bit length and is kept whole.
    name->setText("big");
    d.TemplateEditor()->SelectAll();
    d.TemplateEditor()->ReplaceSel(std::string(1 << 20, 'x'));
    child<QPushButton>(&d, "AddTemplate")->click();
    EXPECT_EQ(d.Working().templates.findExpansion("big")->size(), std::size_t(1) << 20);

    auto* hotkey = child<TShortcutEdit>(&d, "Hotkey");
    QTest::keyClick(hotkey, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(d.Working().templates.hotkey, 0x4000 | 0x2000 | 'T');
    EXPECT_EQ(cpp->settings().templates.hotkey, 0x4000 | 'J');
}

TEST_F(OptionsDialogTest, CancelChangesNothingAndOkReachesEveryEditor) {
    const int reserved = styleNamed(cpp->settings(), "Reserved word");
    {
        TOptionsDialog d(*cpp, dialogs);
        d.ChooseColor = [](const QColor&) { return QColor(255, 0, 0); };
        selectElement(d, "Reserved word");
        child<QPushButton>(&d, "ForegroundColor")->click();
        child<QCheckBox>(&d, "Option1024")->toggle();
        d.reject();
    }
    EXPECT_EQ(cpp->settings().styleString(), before);
    editor::TCodeMemo other;
    other.SetParser(1, cpp);
    other.SetActiveParser(1);
    {
        TOptionsDialog d(*cpp, dialogs);
        d.ChooseColor = [](const QColor&) { return QColor(255, 0, 0); };
        selectElement(d, "Reserved word");
        child<QPushButton>(&d, "ForegroundColor")->click();
        d.accept();
    }
    EXPECT_EQ(cpp->settings().effect(reserved).foreground, kRed);
    EXPECT_EQ(documentMemo->Settings().effect(reserved).foreground, kRed);
    EXPECT_EQ(other.Settings().effect(reserved).foreground, kRed);
}

TEST_F(OptionsDialogTest, PageMaskHidesPagesAndPicksTheFirstInShowingOrder) {
    TOptionsDialog d(*cpp, dialogs);
    EXPECT_EQ(d.Pages()->currentIndex(), TOptionsDialog::tabHighlighting);
    d.SetPageMask(opOptions | opCodeTemplates);
    EXPECT_EQ(d.Pages()->currentIndex(), TOptionsDialog::tabOptions);
    EXPECT_FALSE(d.Pages()->isTabVisible(TOptionsDialog::tabHighlighting));
    EXPECT_TRUE(d.Pages()->isTabVisible(TOptionsDialog::tabTemplates));
    d.SetPageMask(opAutoCorrect);
    EXPECT_EQ(d.Pages()->currentIndex(), TOptionsDialog::tabAutoCorrect);
}

TEST_F(OptionsDialogTest, AnAssignedHandlerReplacesTheDialog) {
    int mask = 0;
    cpp->onModifyProperties = [&](highlight::TCodeMemoParser&, int m) {
        mask = m;
        return true;
    };
    EXPECT_TRUE(ModifyProperties(*cpp, nullptr, dialogs, nullptr, opKeyAssignments));
    EXPECT_EQ(mask, opKeyAssignments);
}

TEST(KeyAssignDialogTest, TwoStepsGiveAKeyPair) {
    morvane::testing::qtApp();
    TKeyAssignDialog add("Undo", false);
    EXPECT_EQ(add.windowTitle(), "Add new key pair for: Undo");
    EXPECT_EQ(add.findChild<QLabel*>("StepLabel")->text(), "Step 1");
    EXPECT_FALSE(add.NextButton()->isEnabled());
    QTest::keyClick(add.FirstField(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(add.FirstField()->text(), "Ctrl+K");
    ASSERT_TRUE(add.NextButton()->isEnabled());
    add.NextButton()->click();
    EXPECT_EQ(add.findChild<QLabel*>("StepLabel")->text(), "Step 2");
    EXPECT_EQ(add.NextButton()->text(), "Finish");
    QTest::keyClick(add.SecondField(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(add.SecondKey(), 0x4000 | 9);
    QTest::keyClick(add.SecondField(), Qt::Key_Escape); // the dialog's, not a key to take
    EXPECT_EQ(add.SecondKey(), 0x4000 | 9);
    QTest::keyClick(add.SecondField(), Qt::Key_I);
    add.NextButton()->click();
    EXPECT_EQ(add.result(), QDialog::Accepted);
    EXPECT_EQ(add.FirstKey(), 0x4000 | 'K');
    EXPECT_EQ(add.SecondKey(), 'I');

    TKeyAssignDialog edit("Redo", true, 0x4000 | 'Y', 'Q');
    EXPECT_EQ(edit.windowTitle(), "Edit key pair for: Redo");
    edit.NextButton()->click();
    edit.findChild<QPushButton*>("ClearSecond")->click();
    EXPECT_EQ(edit.SecondKey(), 0);
    edit.BackButton()->click();
    EXPECT_EQ(edit.Step(), 1);
    edit.findChild<QPushButton*>("ClearFirst")->click();
    EXPECT_FALSE(edit.NextButton()->isEnabled());
}

// --- through the main window ---

class EditorPropertiesCommand : public morvane::testing::MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        std::filesystem::create_directories(dir / "home");
        std::filesystem::copy_file(std::filesystem::path(MORVANE_TEST_RESOURCES) / "data" /
                                       "filetypes.txt",
                                   dir / "home" / "filetypes.txt");
    }
    TMorvaneEditor* doc(int i) {
        return qobject_cast<TMorvaneEditor*>(form_->pageControl()->widget(i));
    }
    // Runs the command; answer acts on the dialog while it is open.
    void run(std::function<void(TOptionsDialog&)> answer) {
        QTimer::singleShot(0, [answer] {
            processUntil([] { return QApplication::activeModalWidget() != nullptr; }, 3000);
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                answer(*static_cast<TOptionsDialog*>(d));
        });
        form_->action("EditEditorProperties")->trigger();
        settle();
    }
};

TEST_F(EditorPropertiesCommand, OkRepaintsSavesAndPropagatesTheExtras) {
    TMainForm& f = form();
    f.openLocalFiles({file("a.cpp", "int main() { return 0; }\n"), file("b.txt", "plain\n")});
    ASSERT_EQ(f.documentCount(), 2);
    f.pageControl()->setCurrentIndex(0);
    editor::TCodeMemo& memo = doc(0)->Editor();
    memo.resize(400, 200);
    settle();
    run([](TOptionsDialog& d) {
        d.ChooseColor = [](const QColor&) { return QColor(255, 0, 0); };
        selectElement(d, "Reserved word");
        child<QPushButton>(&d, "ForegroundColor")->click();
        d.TemplateEditor()->ReplaceSel("while (|)");
        child<QLineEdit>(&d, "TemplateName")->setText("wh");
        child<QPushButton>(&d, "AddTemplate")->click();
        d.accept();
    });
    // The open file's keywords are painted in the new colour.
    QImage shot = memo.viewport()->grab().toImage();
    bool red = false;
    for (int y = 0; y < shot.height() && !red; ++y)
        for (int x = 0; x < shot.width() && !red; ++x) {
            QColor c = shot.pixelColor(x, y);
            red = c.red() > 200 && c.green() < 60 && c.blue() < 60;
        }
    EXPECT_TRUE(red);
    auto style =
        registry.readValue(platform::Hive::CurrentUser,
                           std::string(kPerUserRoot) + "\\Syntaxhighlight", "Highlighting - C++");
    ASSERT_TRUE(style);
    highlight::TSM_Settings saved;
    saved.applyStyleString(style->data);
    EXPECT_EQ(saved.effect(styleNamed(doc(0)->Editor().Settings(), "Reserved word")).foreground,
              kRed);
    // The plain-text document's highlighter has the new template too, and so has the file.
    EXPECT_EQ(doc(1)->Editor().Settings().templates.findExpansion("wh"), "while (|)");
    editor::TCodeTemplates stored;
    stored.loadFromString(readAll(dir / "home" / "Templates.txt"));
    EXPECT_EQ(stored.findExpansion("wh"), "while (|)");
}

TEST_F(EditorPropertiesCommand, ADocumentClosingWhileTheDialogIsOpenIsLeftOut) {
    TMainForm& f = form();
    f.openLocalFiles({file("a.cpp", "int a;\n"), file("c.cpp", "int c;\n")});
    f.pageControl()->setCurrentIndex(0);
    TMorvaneEditor* closing = doc(0);
    const auto* cpp = closing->Editor().Active();
    ASSERT_EQ(cpp->Editors().size(), 2u);
    f.action("EditWordWrap")->trigger(); // the document's own choice
    ASSERT_TRUE(closing->Editor().Options() & editor::smoWordWrap);
    run([&](TOptionsDialog& d) {
        closing->closeRequest(true);
        processUntil([&] { return f.documentCount() == 1; });
        settle();
        d.ChooseColor = [](const QColor&) { return QColor(255, 0, 0); };
        selectElement(d, "Reserved word");
        child<QPushButton>(&d, "ForegroundColor")->click();
        d.accept();
    });
    ASSERT_EQ(f.documentCount(), 1);
    EXPECT_EQ(cpp->Editors().size(), 1u);
    EXPECT_EQ(
        doc(0)->Editor().Settings().effect(styleNamed(cpp->settings(), "Reserved word")).foreground,
        kRed);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(EditorPropertiesCommand, AFileThatCannotBeWrittenIsReportedAndTheOtherIsWritten) {
    TMainForm& f = form();
    f.openLocalFiles({file("a.cpp", "int a;\n")});
    std::filesystem::create_directories(dir / "home" / "Templates.txt"); // not a file
    run([](TOptionsDialog& d) { d.accept(); });
    bool reported = false;
    for (int i = 0; i < f.outputList()->count(); ++i)
        reported |= f.outputList()->item(i)->text().contains("Templates.txt");
    EXPECT_TRUE(reported);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "home" / "AutoReplace.txt"));
}

TEST_F(EditorPropertiesCommand, WordWrapStaysTheDocumentsAndCancelWritesNothing) {
    TMainForm& f = form();
    f.openLocalFiles({file("a.cpp", "int a;\n")});
    f.action("EditWordWrap")->trigger();
    ASSERT_TRUE(doc(0)->Editor().Options() & editor::smoWordWrap);
    run([](TOptionsDialog& d) {
        child<QCheckBox>(&d, "Option2048")->toggle();
        d.accept();
    });
    EXPECT_TRUE(doc(0)->Editor().Options() & editor::smoWordWrap);
    EXPECT_TRUE(std::filesystem::exists(dir / "home" / "AutoReplace.txt"));
    std::filesystem::remove(dir / "home" / "AutoReplace.txt");
    std::filesystem::remove(dir / "home" / "Templates.txt");
    const std::string style = doc(0)->Editor().Active()->settings().styleString();
    run([](TOptionsDialog& d) {
        child<QCheckBox>(&d, "Option2048")->toggle();
        d.reject();
    });
    EXPECT_EQ(doc(0)->Editor().Active()->settings().styleString(), style);
    EXPECT_FALSE(std::filesystem::exists(dir / "home" / "Templates.txt"));
    f.action("EditWordWrap")->trigger();
    EXPECT_FALSE(doc(0)->Editor().Options() & editor::smoWordWrap);
}

TEST_F(OptionsDialogTest, AStoredFontTheMachineLacksIsNotedAndShownFixedPitch) {
    cpp->settings().fontName = "No Such Font Family 4711";
    cpp->ReapplyToEditors();
    // Measured: the desktop's monospaced family may not flag itself fixed pitch.
    EXPECT_TRUE(editor::MeasuresFixedPitch(documentMemo->Font()));
    TOptionsDialog d(*cpp, dialogs);
    EXPECT_TRUE(d.FontNote().contains("No Such Font Family 4711"));
    EXPECT_TRUE(editor::MeasuresFixedPitch(d.Sample()->Font()));
    auto* beyondEol = d.findChild<QCheckBox*>(QString("Option%1").arg(editor::smoCaretAfterEOL));
    ASSERT_TRUE(beyondEol);
    EXPECT_TRUE(beyondEol->isEnabled());
    EXPECT_EQ(d.Working().fontName, "No Such Font Family 4711"); // kept until the user changes it
}

} // namespace
