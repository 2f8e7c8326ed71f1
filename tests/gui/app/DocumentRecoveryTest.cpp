// A document's recovery file: written while the text is modified, gone once it is saved or the
// document closes without saving, and brought back as a modified document that saves to its file.
#include "gui/app/DocumentRecovery.h"
#include "MainFormFixture.h"
#include "core/app/Recovery.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/editor/CodeMemo.h"
#include "support/QtTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace morvane::testing {
namespace {

using app::TMorvaneEditor;
namespace fs = std::filesystem;

class DocumentRecoveryTest : public MainFormFixture {
protected:
    std::vector<fs::path> files() {
        service->writer().flush();
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(dir.path() / "recovery"))
            if (e.path().extension() == ".recovery") found.push_back(e.path());
        return found;
    }
    // The fixture's window, with recovery files kept in folder.
    TMorvaneEditor* open(const std::string& path, const fs::path& folder) {
        service = std::make_unique<app::TRecoveryService>(folder);
        app::AppContext c;
        c.registry = &registry;
        c.dialogs = &dialogs;
        c.clipboard = &clipboard;
        c.shell = &shell;
        loop = platform::makeQtEventLoop();
        c.loop = loop.get();
        c.programFolder = dir.path() / "home";
        c.resources = MORVANE_TEST_RESOURCES;
        c.arguments = {path};
        c.recovery = service.get();
        form_ = std::make_unique<app::TMainForm>(c);
        form_->show();
        EXPECT_TRUE(processUntil([&] { return form_->firstActivationDone(); }));
        settle();
        service->setDialogs(&dialogs);
        return qobject_cast<TMorvaneEditor*>(form_->activeDocument());
    }
    TMorvaneEditor* open(const std::string& path) { return open(path, dir.path() / "recovery"); }
    static void typeAtEnd(TMorvaneEditor* doc, const std::string& s) {
        auto& e = doc->Editor();
        e.SetSelection(e.TextLength(), e.TextLength());
        e.ReplaceSel(s);
    }
    void TearDown() override {
        form_.reset();
        service.reset();
    }
    std::unique_ptr<app::TRecoveryService> service;
};

TEST_F(DocumentRecoveryTest, WrittenWhileModifiedRemovedBySaveAndByCloseWithoutSaving) {
    std::string path = file("a.txt", "one\r\ntwo\r\n");
    auto* doc = open(path);
    ASSERT_TRUE(doc);
    doc->Recovery()->writeNow();
    EXPECT_TRUE(files().empty()); // nothing unsaved

    typeAtEnd(doc, "three");
    doc->Recovery()->writeNow();
    auto written = files();
    ASSERT_EQ(written.size(), 1u);
    app::RecoveryRead r = app::readRecoveryFile(written[0]);
    ASSERT_EQ(r.status, app::RecoveryRead::Ok) << r.problem;
    EXPECT_EQ(r.text, "one\r\ntwo\r\nthree"); // the file's own line ends
    EXPECT_EQ(r.header.localPath, path);
    EXPECT_EQ(r.header.lineEnd, "CRLF");
    EXPECT_EQ(r.header.caretLine, 2);
    EXPECT_EQ(r.header.instance, service->folder().instance());

    doc->Save();
    EXPECT_TRUE(files().empty());

    typeAtEnd(doc, "!");
    doc->Recovery()->writeNow();
    EXPECT_EQ(files().size(), 1u);
    doc->closeRequest(true);
    EXPECT_TRUE(files().empty());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DocumentRecoveryTest, ARecoveredTextIsModifiedAndSavesToItsFile) {
    std::string path = file("b.txt", "original\n");
    auto* doc = open(path);
    ASSERT_TRUE(doc);
    app::RecoveryHeader h;
    h.localPath = path;
    h.lineEnd = "LF";
    h.caretLine = 1;
    std::string error;
    fs::path kept = service->folder().newFile();
    ASSERT_TRUE(app::writeRecoveryFile(kept, h, "original\nrecovered", error));
    auto* recovered = new TMorvaneEditor(*form_);
    ASSERT_TRUE(recovered->OpenRecovered(h, "original\nrecovered", kept.string()));
    EXPECT_TRUE(recovered->Editor().Modified());
    EXPECT_EQ(readFile(path), "original\n");
    recovered->Save();
    EXPECT_EQ(readFile(path), "original\nrecovered");
    service->writer().flush();
    EXPECT_FALSE(fs::exists(kept));
}

TEST_F(DocumentRecoveryTest, AFolderThatCannotBeUsedIsOneWarningAndEditingGoesOn) {
    std::string path = file("c.txt", "text\n");
    writeFile(dir.path() / "not-a-folder", "x");
    auto* doc = open(path, dir.path() / "not-a-folder" / "recovery");
    ASSERT_TRUE(doc);
    typeAtEnd(doc, "more");
    doc->Recovery()->writeNow();
    typeAtEnd(doc, "again");
    doc->Recovery()->writeNow();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_NE(dialogs.shown[0].text.find("recovery folder"), std::string::npos);
    doc->Save();
    EXPECT_EQ(readFile(path), "text\nmoreagain");
}

} // namespace
} // namespace morvane::testing
