// TMainForm: start-up (the stored window and toolbar places, the first activation, the
// command-line and handed-over arguments) and the window state saved when it closes.

#include "gui/app/MainForm.h"

#include "gui/app/LocalLoad.h"

#include "gui/app/MainFormInternal.h"
#include "gui/app/RecoveryDialog.h"
#include "gui/app/SessionRestore.h"

#include "core/app/EditorAidFiles.h"
#include "core/app/RemoteReference.h"
#include "core/net/Account.h"
#include "gui/app/Trace.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <QToolBar>

namespace morvane::app {

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    formShow();
    // Geometry is applied before the window reaches the screen, so it does not jump.
    const bool restore = settings_.restoreWindowSettings();
    if (const GeometryToRestore g = restore ? settings_.geometryToRestore() : GeometryToRestore{};
        !g.maximize && !(g.width && g.height))
        placeFirstWindow();
    if (restore) {
        GeometryToRestore g = settings_.geometryToRestore();
        if (g.maximize) {
            setWindowState(windowState() | Qt::WindowMaximized);
        } else {
            QRect r = geometry();
            if (g.left) r.moveLeft(*g.left);
            if (g.top) r.moveTop(*g.top);
            if (g.height) r.setHeight(std::max(1, *g.height));
            if (g.width) r.setWidth(std::max(1, *g.width));
            // A stored place on a screen that has gone would leave the window out of reach.
            std::vector<ScreenRect> screens;
            for (QScreen* screen : QGuiApplication::screens()) {
                QRect a = screen->availableGeometry();
                screens.push_back({a.x(), a.y(), a.width(), a.height()});
            }
            if (QScreen* primary = QGuiApplication::primaryScreen()) {
                QRect a = primary->availableGeometry();
                screens.insert(screens.begin(), {a.x(), a.y(), a.width(), a.height()});
            }
            // The position is the frame's, the size the client area's.
            const QSize frame = frameGeometry().size() - geometry().size();
            ScreenRect placed = keepOnScreen(
                {r.x(), r.y(), r.width() + frame.width(), r.height() + frame.height()}, screens);
            move(placed.left, placed.top);
            resize(std::max(1, placed.width - frame.width()),
                   std::max(1, placed.height - frame.height()));
        }
        if (!g.error.empty()) {
            QTimer::singleShot(0, this, [this, e = g.error] {
                context_.dialogs->message(platform::MsgKind::Error, e, platform::mbOK);
            });
        }
    }
    QTimer::singleShot(0, this, &TMainForm::firstActivation);
}

void TMainForm::placeFirstWindow() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    // The docked toolbars are summed as if in one row: that row, or the menu bar, should fit.
    int row = 0;
    for (const char* name : kToolbarNames) {
        QToolBar* bar = toolbar(name);
        if (!bar->isHidden() && !bar->isWindow() && toolBarArea(bar) == Qt::TopToolBarArea)
            row += bar->sizeHint().width();
    }
    row = std::max(row, menuBar()->sizeHint().width());
    const QRect a = screen->availableGeometry();
    const QSize frame = frameGeometry().size() - geometry().size();
    const ScreenRect place =
        firstWindowPlace({a.x(), a.y(), a.width(), a.height()}, row + frame.width() + 8);
    move(place.left, place.top);
    resize(std::max(1, place.width - frame.width()), std::max(1, place.height - frame.height()));
}

void TMainForm::formShow() {
    // Docked toolbars with stored positions are laid out again in rows by their top, each row by
    // left; the dock area then places them side by side in that order.
    struct Docked {
        int top, left;
        QToolBar* bar;
    };
    std::vector<Docked> docked;
    for (const char* name : kToolbarNames) {
        ToolbarPlacement p = settings_.toolbar(name);
        if (!p.floating && p.left) docked.push_back({p.top.value_or(0), *p.left, toolbar(name)});
    }
    if (docked.size() > 1) {
        std::stable_sort(docked.begin(), docked.end(), [](const Docked& a, const Docked& b) {
            return a.top != b.top ? a.top < b.top : a.left < b.left;
        });
        for (auto& d : docked)
            removeToolBar(d.bar);
        for (std::size_t i = 0; i < docked.size(); ++i) {
            if (i > 0 && docked[i].top != docked[i - 1].top) addToolBarBreak(Qt::TopToolBarArea);
            addToolBar(Qt::TopToolBarArea, docked[i].bar);
        }
    }
    for (const char* name : kToolbarNames)
        restoreToolbar(toolbar(name), name);
    enableDocumentCommands(false);
}

void TMainForm::restoreToolbar(QToolBar* bar, const std::string& name) {
    ToolbarPlacement p = settings_.toolbar(name);
    bar->setVisible(p.visible);
    if (p.floating) {
        // Float it as a tool window at the stored place, keeping its docked size.
        QSize size = bar->sizeHint();
        bar->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        bar->setWindowTitle(floatingCaption(name));
        bar->move(p.left.value_or(0), p.top.value_or(0));
        bar->resize(size);
        bar->setVisible(p.visible);
    }
}

void TMainForm::firstActivation() {
    if (activated_) return;
    activated_ = true;
    buildHighlighterList();
    startKeyMap();
    // The two buffers: a file that is missing leaves its buffer empty; one that cannot be
    // read or is damaged does too, and the output pane says why.
    EditorAidBuffers aids;
    for (const std::string& problem : loadEditorAids(context_.programFolder, aids))
        appendOutput(problem);
    autoReplaceBuffer_ = std::move(aids.autoReplace);
    templatesBuffer_ = std::move(aids.templates);
    refreshClipboardState();
    for (const std::string& argument : context_.arguments)
        openArgument(argument);
    if (context_.arguments.empty()) restoreSession(*this);
    // Once the window is up: the offer of recovery files left by a crash.
    if (context_.recovery)
        QTimer::singleShot(0, this, [this] { offerRecovery(*this, *context_.recovery); });
    trace("activated");
    if (!context_.browseAccount.empty()) {
        // After the activation is done, so the window is up behind the browser.
        QTimer::singleShot(0, this, [this] {
            net::TAccount account;
            std::string error;
            if (!net::LoadAccount(*context_.registry, context_.browseAccount, account, &error)) {
                context_.dialogs->message(platform::MsgKind::Error, error);
                return;
            }
            lastAccount_ = account;
            openRemoteCommand();
        });
    }
    emit firstActivationFinished();
    if (qEnvironmentVariableIntValue("MORVANE_QUIT_WHEN_READY"))
        TLocalLoad::WhenNoneRunning(qApp, [] { QCoreApplication::quit(); });
}

void TMainForm::openArgument(const std::string& argument) {
    trace("open " + argument);
    if (onOpenArgument) {
        onOpenArgument(argument);
        return;
    }
    if (!IsRemoteReference(argument)) {
        openLocalFiles({argument});
        return;
    }
    TReferenceParse parsed = ParseRemoteReference(argument, *context_.registry);
    net::TAccount account;
    std::string error = parsed.error;
    if (parsed.ok &&
        !net::LoadAccount(*context_.registry, parsed.reference.account, account, &error))
        parsed.ok = false;
    if (!parsed.ok) {
        context_.dialogs->message(platform::MsgKind::Error, error);
        return;
    }
    if (!remote_.openRemoteDocument) {
        appendOutput("Remote files cannot be opened in this build: " + argument);
        return;
    }
    remote_.openRemoteDocument(account, parsed.reference.directory, parsed.reference.fileName);
}

void TMainForm::handOverReceived(const std::vector<std::string>& arguments) {
    trace("hand-over " + std::to_string(arguments.size()));
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
    for (const std::string& argument : arguments)
        openArgument(argument);
}

void TMainForm::formClose() {
    if (settings_.saveWindowSettings()) {
        WindowPlacement p;
        p.state = isMaximized()   ? WindowPlacement::Maximized
                  : isMinimized() ? WindowPlacement::Minimized
                                  : WindowPlacement::Normal;
        p.left = x();
        p.top = y();
        p.width = width();
        p.height = height();
        settings_.saveGeometry(p);
    }
    writeSetting("Show output", outputVisible_ ? "True" : "False");
    for (const char* name : kToolbarNames) {
        QToolBar* bar = toolbar(name);
        ToolbarPlacement p;
        p.visible = !bar->isHidden();
        p.floating = bar->isFloating() || bar->isWindow();
        p.left = bar->x();
        p.top = bar->y();
        settings_.saveToolbar(name, p);
    }
    autoReplaceBuffer_.clear();
    templatesBuffer_.clear();
}

} // namespace morvane::app
