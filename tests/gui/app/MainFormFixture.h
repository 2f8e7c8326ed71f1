#pragma once
// A main window over a temporary settings store and program folder, with scriptable desktop
// services, for tests that open documents in it.

#include "core/platform/FakeUi.h"
#include "core/platform/Registry.h"
#include "gui/app/AppContext.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/platform/QtEventLoop.h"
#include "support/QtTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace morvane::testing {

class MainFormFixture : public ::testing::Test {
protected:
    void SetUp() override { qtApp(); }

    app::TMainForm& form(std::vector<std::string> arguments = {}) {
        app::AppContext c;
        c.registry = &registry;
        c.dialogs = &dialogs;
        c.clipboard = &clipboard;
        c.shell = &shell;
        if (!loop) loop = platform::makeQtEventLoop();
        c.loop = loop.get();
        c.secrets = secrets;
        c.programFolder = dir / "home";
        c.resources = MORVANE_TEST_RESOURCES;
        c.arguments = std::move(arguments);
        form_ = std::make_unique<app::TMainForm>(c);
        form_->show();
        EXPECT_TRUE(processUntil([&] { return form_->firstActivationDone(); }));
        settle();
        return *form_;
    }
    std::string file(const std::string& name, const std::string& bytes) {
        writeFile(dir / name, bytes);
        return (dir / name).string();
    }

    TempDir dir;
    platform::Registry registry{dir.path() / "cfg"};
    platform::FakeDialogs dialogs;
    platform::FakeClipboard clipboard;
    platform::FakeShell shell;
    std::unique_ptr<platform::EventLoop> loop; // outlives the window and its sessions
    std::unique_ptr<app::TMainForm> form_;
    net::TAccountSecrets* secrets = nullptr; // where passwords live; the settings when null
};

} // namespace morvane::testing
