// File > New: the New items dialog over the program folder's templates, and the new documents
// it makes (remote by default, local on request), whose first Save asks for a place.
#include "MainFormFixture.h"
#include "core/app/RecentFiles.h"
#include "gui/app/NewTemplateForm.h"
#include "gui/editor/CodeMemo.h"

#include <gmock/gmock.h>

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

namespace morvane::testing {
namespace {

namespace fs = std::filesystem;
using app::TMorvaneEditor;
using app::TNewTemplateForm;
using ::testing::ElementsAre;

QStringList itemCaptions(QListWidget* list) {
    QStringList out;
    for (int i = 0; list && i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// Answers the next modal dialog once it is open.
void answerModal(std::function<void(QWidget*)> answer) {
    QTimer::singleShot(0, [answer] {
        processUntil([] { return QApplication::activeModalWidget() != nullptr; }, 3000);
        if (QWidget* w = QApplication::activeModalWidget()) answer(w);
    });
}

class NewItems : public MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        templates = dir / "home" / "Templates";
        fs::create_directories(templates / "Web");
        fs::create_directories(templates / "Scripts & tools");
        writeFile(templates / "Web" / "page.html", kPage);
        writeFile(templates / "Web" / "Makefile", "all:\n");
        writeFile(templates / "Scripts & tools" / "run.sh", "#!/bin/sh\n");
        writeFile(dir / "home" / "filetypes.txt", ".html\tHTML\n");
    }
    // Runs File > New, choosing in the dialog as choose says.
    TMorvaneEditor* runNew(std::function<void(TNewTemplateForm&)> choose) {
        answerModal([choose](QWidget* w) {
            if (auto* d = qobject_cast<TNewTemplateForm*>(w)) choose(*d);
        });
        int before = form_->documentCount();
        form_->action("FileNew")->trigger();
        settle();
        return form_->documentCount() > before
                   ? qobject_cast<TMorvaneEditor*>(form_->activeDocument())
                   : nullptr;
    }
    static void pick(TNewTemplateForm& d, int tab, int row, bool local) {
        d.groups()->setCurrentIndex(tab);
        d.group(tab)->setCurrentRow(row);
        d.localBox()->setChecked(local);
        d.accept();
    }
    std::string languageOf(TMorvaneEditor* doc) {
        return form_->highlighters()[std::size_t(doc->Highlighter())]->languageName();
    }

    static constexpr const char* kPage = "<!DOCTYPE html>\n<title></title>\n";
    fs::path templates;
};

TEST_F(NewItems, EachGroupIsATabOfCaptionsAndOKWithoutASelectionSaysSo) {
    TNewTemplateForm d(dir / "home", dialogs, false);
    EXPECT_EQ(d.windowTitle(), "New items");
    ASSERT_EQ(d.groups()->count(), 2);
    EXPECT_EQ(d.groups()->tabText(0), "Scripts && tools"); // "&" shown, not a shortcut
    EXPECT_EQ(d.groups()->tabText(1), "Web");
    EXPECT_EQ(itemCaptions(d.group(0)), QStringList{"run"});
    EXPECT_EQ(itemCaptions(d.group(1)), (QStringList{"Makefile", "page"}));
    EXPECT_FALSE(d.localBox()->isChecked());

    d.groups()->setCurrentIndex(1);
    d.group(1)->clearSelection();
    d.accept();
    EXPECT_THAT(dialogs.texts(), ElementsAre("You must select a file to use as a template."));
    EXPECT_NE(d.result(), QDialog::Accepted);

    d.group(1)->setCurrentRow(1);
    d.accept();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.choice(), TNewTemplateForm::Choice::Template);
    EXPECT_EQ(d.templatePath(), templates / "Web" / "page.html");
}

TEST_F(NewItems, AThousandTemplatesInOneGroupAreAllOffered) {
    fs::create_directories(templates / "Many");
    for (int i = 0; i < 1000; ++i)
        writeFile(templates / "Many" / ("t" + std::to_string(1000 + i) + ".txt"), "");
    TNewTemplateForm d(dir / "home", dialogs, false);
    ASSERT_EQ(d.groups()->tabText(0), "Many");
    EXPECT_EQ(d.group(0)->count(), 1000);
    EXPECT_EQ(d.group(0)->item(999)->text(), "t1999");
    EXPECT_EQ(d.findChild<QWidget*>("TemplatesCutShortLabel"), nullptr);
}

TEST_F(NewItems, WithoutTemplatesTheCaptionSaysSoAndBlankStillWorks) {
    fs::remove_all(templates);
    TNewTemplateForm d(dir / "home", dialogs, true);
    EXPECT_EQ(d.windowTitle(), "No templates found.");
    EXPECT_TRUE(d.localBox()->isChecked());
    d.blankButton()->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.choice(), TNewTemplateForm::Choice::Blank);
}

TEST_F(NewItems, ATemplateOpensAsANewRemoteDocumentWhoseFirstSaveBrowsesToSave) {
    form();
    std::vector<app::TBrowserMode> modes;
    std::vector<std::string> proposed;
    form_->remote().browse = [&](app::TBrowserMode mode, const net::TAccount&,
                                 const std::string& name) -> std::optional<app::TBrowserResult> {
        modes.push_back(mode);
        proposed.push_back(name);
        return std::nullopt;
    };
    TMorvaneEditor* doc = runNew([](TNewTemplateForm& d) { pick(d, 1, 1, false); });
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(form_->pageControl()->tabText(0), "page.html");
    EXPECT_EQ(doc->Editor().Text(editor::tfLF), kPage);
    EXPECT_EQ(doc->DocumentKind(), TMorvaneEditor::kRemote);
    EXPECT_TRUE(doc->IsNew());
    EXPECT_EQ(languageOf(doc), "HTML");
    EXPECT_FALSE(form_->action("FileRevert")->isEnabled());

    doc->Editor().ReplaceSel("edited ");
    form_->action("FileSave")->trigger();
    EXPECT_THAT(modes, ElementsAre(app::TBrowserMode::Save));
    EXPECT_THAT(proposed, ElementsAre(""));
    EXPECT_EQ(readFile(templates / "Web" / "page.html"), kPage); // the template is never written
    doc->closeRequest(true);
    processUntil([&] { return form_->documentCount() == 0; });
    EXPECT_TRUE(app::TRecentFiles(registry).MenuEntries().empty());
}

TEST_F(NewItems, NewLocalFilesAskForALocalPathAwayFromTheTemplates) {
    form();
    TMorvaneEditor* doc = runNew([](TNewTemplateForm& d) { pick(d, 1, 1, true); });
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->DocumentKind(), TMorvaneEditor::kLocal);
    const std::string target = (dir / "site.html").string();
    dialogs.saveAnswers.push_back(target);
    form_->action("FileSave")->trigger();
    ASSERT_FALSE(dialogs.fileDialogs.empty());
    EXPECT_EQ(dialogs.fileDialogs.back().title, "Save As");
    EXPECT_EQ(dialogs.fileDialogs.back().fileName, "page.html");
    EXPECT_THAT(dialogs.fileDialogs.back().directory,
                ::testing::Not(::testing::HasSubstr("Templates")));
    EXPECT_EQ(readFile(target), kPage);
    EXPECT_FALSE(doc->IsNew());

    TMorvaneEditor* blank = runNew([](TNewTemplateForm& d) {
        d.localBox()->setChecked(true);
        d.blank();
    });
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(form_->pageControl()->tabText(1), "untitled");
    EXPECT_EQ(blank->DocumentKind(), TMorvaneEditor::kLocal);
    EXPECT_TRUE(blank->IsNew());
    EXPECT_EQ(languageOf(blank), "Plain text");
    dialogs.saveAnswers.push_back(std::nullopt); // the user cancels: nothing is written
    form_->action("FileSave")->trigger();
    EXPECT_TRUE(blank->IsNew());
}

// Without an account there is nowhere remote to save: the dialog starts on a local file.
TEST_F(NewItems, WithoutAccountsANewFileStartsLocalAndWithOneRemote) {
    form();
    bool startedLocal = true;
    runNew([&](TNewTemplateForm& d) {
        startedLocal = d.localBox()->isChecked();
        d.reject();
    });
    EXPECT_TRUE(startedLocal);
    net::TAccount a;
    a.Name = "site";
    a.Hostname = "127.0.0.1";
    ASSERT_TRUE(net::SaveAccount(registry, "site", a));
    TMorvaneEditor* doc = runNew([&](TNewTemplateForm& d) {
        startedLocal = d.localBox()->isChecked();
        d.blank();
    });
    EXPECT_FALSE(startedLocal);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->DocumentKind(), TMorvaneEditor::kRemote);
}

TEST_F(NewItems, ATemplateThatCannotBeReadIsReportedAndLeavesNoDocument) {
    form();
    TMorvaneEditor* doc = runNew([&](TNewTemplateForm& d) {
        fs::remove(templates / "Web" / "page.html"); // gone between listing and choosing
        pick(d, 1, 1, false);
    });
    processUntil([&] { return form_->documentCount() == 0; });
    EXPECT_EQ(form_->documentCount(), 0);
    (void)doc;
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_THAT(dialogs.shown[0].text, ::testing::HasSubstr("page.html"));
    EXPECT_FALSE(form_->action("FileSave")->isEnabled());
}

} // namespace
} // namespace morvane::testing
