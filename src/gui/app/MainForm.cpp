// TMainForm: the window's layout (actions and the table that wires them, menus, toolbars,
// tabs, output pane, status bar) and its events. The commands of each menu live in
// MainForm<Menu>.cpp.

#include "gui/app/MainForm.h"
#include "gui/app/MainFormInternal.h"
#include "gui/app/SessionRestore.h"

#include "core/app/AppRegistry.h"
#include "core/app/Commands.h"
#include "core/editor/CodeMemoMessages.h"
#include "core/editor/TextEncoding.h"
#include "core/net/ConnectionPool.h"
#include "gui/app/AccountWindows.h"
#include "gui/app/DocumentPage.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/app/OpenFileForm.h"
#include "gui/app/ToolCommands.h"
#include "gui/app/Trace.h"
#include "gui/editor/CodeMemo.h"
#include "gui/platform/QtUiServices.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPageSetupDialog>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace morvane::app {

namespace {
// A status panel that answers a click.
class ClickablePanel : public QLabel {
public:
    ClickablePanel(QWidget* parent, std::function<void()> onClick)
        : QLabel(parent), onClick_(std::move(onClick)) {
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && onClick_) onClick_();
        QLabel::mousePressEvent(event);
    }

private:
    std::function<void()> onClick_;
};
} // namespace

using platform::Hive;
using platform::RegKey;

namespace {

// The program's icon drawn in code (a page with lines and a download arrow), so it needs no image
// plugin; desktops use the SVG file installed with the program.
QIcon appIcon() {
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor("#34495e"), 3));
    p.setBrush(QColor("#f4f4f0"));
    p.drawRoundedRect(QRectF(6, 4, 44, 56), 4, 4);
    for (auto [y, w] : {std::pair{18, 26}, {28, 20}, {38, 24}})
        p.drawLine(14, y, 14 + w, y);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#2e86c1"));
    p.drawEllipse(QPointF(48, 46), 12, 12);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(48, 38, 48, 50);
    p.drawPolyline(QPolygonF({QPointF(43, 45), QPointF(48, 50), QPointF(53, 45)}));
    return QIcon(pm);
}

} // namespace

TMainForm::TMainForm(AppContext context, QWidget* parent)
    : QMainWindow(parent), context_(std::move(context)),
      settings_(RegKey(*context_.registry, Hive::CurrentUser, kSettingsKey)) {
    setObjectName("MainForm");
    setWindowTitle("Morvane");
    setWindowIcon(QIcon::fromTheme("morvane", appIcon()));
    resize(619, 497);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(619 / 2, 497 / 2));
    }
    createActions();
    createMenus();
    createToolbars();
    createCentralArea();
    createStatusBar();
    formCreate();
    if (context_.clipboard)
        context_.clipboard->setChangedHandler([this] { refreshClipboardState(); });
    installBrowserWindows(*this);
    installRemoteDocuments(*this);
    installAccountWindows(*this);
    installHtmlCommands(*this);
    installWeblinks(*this);
    installRExec(*this);
    installUpdateCheck(*this);
    installEventFilter(this);
    if (traceEnabled())
        for (QMenu* m : findChildren<QMenu*>())
            m->installEventFilter(this);
    setAcceptDrops(true);
}

TMainForm::~TMainForm() {
    editor::TCodeMemo::OnFindChoicesChanged() = nullptr; // it writes this window's settings
    // Documents still here when the window goes (a closed one whose deletion was still queued
    // when the loop ended, as the last one at exit may be) go first, while the services their
    // destructors call exist, so they still enter the recent-files list.
    std::vector<QPointer<DocumentPage>> documents;
    for (DocumentPage* page : findChildren<DocumentPage*>())
        documents.emplace_back(page);
    for (auto& page : documents)
        delete page.data();
    if (context_.clipboard) context_.clipboard->setChangedHandler({});
}

QAction* TMainForm::action(std::string_view name) const {
    auto it = actions_.find(name);
    return it == actions_.end() ? nullptr : it->second;
}

QMenu* TMainForm::menu(std::string_view title) const {
    auto it = menus_.find(title);
    return it == menus_.end() ? nullptr : it->second;
}

QToolBar* TMainForm::toolbar(std::string_view name) const {
    auto it = toolbars_.find(name);
    return it == toolbars_.end() ? nullptr : it->second;
}

void TMainForm::createActions() {
    for (const CommandInfo& c : mainCommands()) {
        auto* a =
            new QAction(QString::fromUtf8(c.caption.data(), qsizetype(c.caption.size())), this);
        a->setObjectName(QString::fromUtf8(c.name.data(), qsizetype(c.name.size())));
        if (!c.key.empty())
            a->setShortcut(QKeySequence(QString::fromUtf8(c.key.data(), qsizetype(c.key.size()))));
        if (!c.hint.empty()) {
            QString hint = QString::fromUtf8(c.hint.data(), qsizetype(c.hint.size()));
            a->setStatusTip(hint);
            a->setToolTip(hint);
        }
        a->setEnabled(false);
        actions_.emplace(std::string(c.name), a);
        addAction(a); // keys work while no menu is open
    }
    struct Icon {
        const char* command;
        const char* theme;
        QStyle::StandardPixmap fallback;
    };
    static const Icon icons[] = {
        {"FileNew", "document-new", QStyle::SP_FileIcon},
        {"FileOpen", "folder-remote", QStyle::SP_DirOpenIcon},
        {"FileOpenLocalFile", "document-open", QStyle::SP_DialogOpenButton},
        {"FileSave", "document-save", QStyle::SP_DialogSaveButton},
        {"FileClose", "document-close", QStyle::SP_DialogCloseButton},
        {"FileExit", "application-exit", QStyle::SP_TitleBarCloseButton},
        {"EditUndo", "edit-undo", QStyle::SP_ArrowBack},
        {"EditRedo", "edit-redo", QStyle::SP_ArrowForward},
        {"EditCut", "edit-cut", QStyle::SP_CustomBase},
        {"EditCopy", "edit-copy", QStyle::SP_CustomBase},
        {"EditPaste", "edit-paste", QStyle::SP_CustomBase},
        {"EditEditorProperties", "preferences-system", QStyle::SP_FileDialogDetailedView},
        {"HTMLBold", "format-text-bold", QStyle::SP_CustomBase},
        {"HTMLItalic", "format-text-italic", QStyle::SP_CustomBase},
        {"HTMLUnderline", "format-text-underline", QStyle::SP_CustomBase},
        {"HTMLComment", "insert-text", QStyle::SP_CustomBase},
        {"HTMLLink", "insert-link", QStyle::SP_CustomBase},
        {"HelpAbout", "help-about", QStyle::SP_MessageBoxInformation},
    };
    for (const Icon& i : icons) {
        QIcon fallback =
            i.fallback == QStyle::SP_CustomBase ? QIcon() : style()->standardIcon(i.fallback);
        action(i.command)->setIcon(QIcon::fromTheme(i.theme, fallback));
    }
    action("HelpAbout")->setIcon(windowIcon());

    // Commands with behaviour in this build.
    for (const char* name : {"FileExit",       "SettingsShowOutput",
                             "HelpAbout",      "FileOpenLocalFile",
                             "FileSave",       "FileSaveAs",
                             "FileClose",      "EditUndo",
                             "EditRedo",       "EditCut",
                             "EditCopy",       "EditPaste",
                             "EditSelectAll",  "EditIndent",
                             "EditUnindent",   "SearchUseRegularExpressions",
                             "FilePrintSetup", "FilePrint",
                             "FileOpen",       "SettingsAccounts",
                             "SearchFind",     "SearchFindNext",
                             "SearchReplace",  "SearchGotoLine",
                             "EditWordWrap",   "EditEditorProperties",
                             "FileExportHtml", "FileExportRtf",
                             "FileNew",        "SettingsOptions"})
        setCommandAvailable(name, true);
    // The editing commands run the editor control's own commands on the active document.
    struct EditCommand {
        const char* action;
        int command;
    };
    static const EditCommand editCommands[] = {{"EditUndo", editor::ecUndo},
                                               {"EditRedo", editor::ecRedo},
                                               {"EditCut", editor::ecCut},
                                               {"EditCopy", editor::ecCopy},
                                               {"EditPaste", editor::ecPaste},
                                               {"EditIndent", editor::ecBlockIndent},
                                               {"EditUnindent", editor::ecBlockUnindent}};
    for (const EditCommand& c : editCommands)
        connect(action(c.action), &QAction::triggered, this, [this, command = c.command] {
            if (auto* doc = requireDocument()) doc->Editor().ExecuteCommand(command, 0, false);
        });
    connect(action("EditSelectAll"), &QAction::triggered, this, [this] {
        if (auto* doc = requireDocument()) doc->Editor().SelectAll();
    });
    connect(action("EditWordWrap"), &QAction::triggered, this, [this] {
        if (auto* doc = requireDocument()) doc->ToggleWordWrap();
    });
    connect(action("EditEditorProperties"), &QAction::triggered, this,
            &TMainForm::editorPropertiesCommand);
    connect(action("SearchUseRegularExpressions"), &QAction::triggered, this, [this] {
        if (auto* doc = requireDocument()) doc->ToggleRegularExpressions();
    });
    // The Search commands ask the editor control, in the document's regular-expression mode.
    auto searchFlags = [](TMorvaneEditor& doc) {
        return doc.UseRegularExpressions() ? unsigned(highlight::sfRegExpr) : 0u;
    };
    connect(action("SearchFind"), &QAction::triggered, this, [this, searchFlags] {
        if (auto* doc = requireDocument())
            doc->Editor().Perform(editor::SM_FIND, searchFlags(*doc), 0);
    });
    connect(action("SearchReplace"), &QAction::triggered, this, [this, searchFlags] {
        if (auto* doc = requireDocument())
            doc->Editor().Perform(editor::SM_REPLACEDIALOG, searchFlags(*doc), 0);
    });
    connect(action("SearchFindNext"), &QAction::triggered, this, [this, searchFlags] {
        if (auto* doc = requireDocument()) doc->Editor().FindNextCommand(searchFlags(*doc));
    });
    connect(action("SearchGotoLine"), &QAction::triggered, this, &TMainForm::gotoLineCommand);
    action("SettingsShowOutput")->setCheckable(true);
    action("EditWordWrap")->setCheckable(true);
    action("SearchUseRegularExpressions")->setCheckable(true);
    connect(action("FileExit"), &QAction::triggered, this, &QWidget::close);
    connect(action("SettingsShowOutput"), &QAction::triggered, this,
            [this] { setOutputVisible(!outputVisible_); });
    connect(action("HelpAbout"), &QAction::triggered, this, &TMainForm::showAbout);
    setCommandAvailable("HelpHelpTopics", true);
    connect(action("HelpHelpTopics"), &QAction::triggered, this, &TMainForm::showHelpTopics);
    connect(action("FileOpenLocalFile"), &QAction::triggered, this,
            &TMainForm::openLocalFileCommand);
    connect(action("FileOpen"), &QAction::triggered, this, &TMainForm::openRemoteCommand);
    connect(action("FileNew"), &QAction::triggered, this, &TMainForm::newCommand);
    connect(action("SettingsOptions"), &QAction::triggered, this, [this] { optionsCommand(0); });
    connect(action("SettingsAccounts"), &QAction::triggered, this, [this] {
        if (remote_.showAccounts) remote_.showAccounts();
    });
    connect(action("FileSave"), &QAction::triggered, this, [this] {
        if (auto* doc = requireDocument()) doc->Save();
    });
    connect(action("FileSaveAs"), &QAction::triggered, this, [this] {
        if (auto* doc = requireDocument()) doc->SaveAs();
    });
    connect(action("FileClose"), &QAction::triggered, this, [this] {
        if (auto* doc = requireDocument()) doc->closeRequest(false);
    });
    connect(action("FileExportHtml"), &QAction::triggered, this, [this] {
        if (auto* doc = requireDocument()) doc->Export(false);
    });
    connect(action("FileExportRtf"), &QAction::triggered, this, [this] {
        if (auto* doc = requireDocument()) doc->Export(true);
    });
    connect(action("FilePrintSetup"), &QAction::triggered, this, [this] {
        QPageSetupDialog dialog(&editor::SharedPrinter(), this);
        dialog.exec();
    });
    connect(action("FilePrint"), &QAction::triggered, this, [this] {
        auto* doc = requireDocument();
        if (!doc) return;
        doc->Editor().SetPrintTitle(doc->FileName());
        try {
            doc->Editor().PrintWithDialog(false);
        } catch (const std::exception& e) {
            context_.dialogs->message(platform::MsgKind::Error, e.what());
        }
    });
}

void TMainForm::createMenus() {
    auto add = [this](QMenu* m, std::initializer_list<const char*> items) {
        for (const char* item : items) {
            if (std::string_view(item) == "|")
                m->addSeparator();
            else
                m->addAction(action(item));
        }
    };
    auto makeMenu = [this](const char* title) {
        QMenu* m = menuBar()->addMenu(title);
        QString plain = QString(title).remove('&');
        m->setObjectName(plain + "Menu");
        menus_.emplace(plain.toStdString(), m);
        return m;
    };

    QMenu* file = makeMenu("&File");
    add(file, {"FileNew", "FileOpen", "FileOpenLocalFile"});
    recentMenu_ = file->addMenu(action("FileReopen")->text());
    recentMenu_->setObjectName("ReopenMenu");
    recentMenu_->menuAction()->setEnabled(false);
    connect(recentMenu_, &QMenu::triggered, this, [this](QAction* item) {
        if (item->data().isValid()) reopenRecent(item->data().toInt());
    });
    add(file,
        {"|", "FileSave", "FileSaveAs", "FileSaveAsLocalFile", "|", "FileRevert", "FileExportHtml",
         "FileExportRtf", "|", "FilePrintSetup", "FilePrint", "FileClose", "|", "FileExit"});

    QMenu* edit = makeMenu("&Edit");
    // Opening the menu refreshes the clipboard commands and the word wrap mark.
    connect(edit, &QMenu::aboutToShow, this, [this] {
        refreshClipboardState();
        if (auto* doc = qobject_cast<TMorvaneEditor*>(activeDocument()))
            action("EditWordWrap")->setChecked(doc->Editor().Options() & editor::smoWordWrap);
    });
    add(edit, {"EditUndo", "EditRedo", "|", "EditCut", "EditCopy", "EditPaste", "|",
               "EditSelectAll", "EditIndent", "EditUnindent", "EditWordWrap"});
    encodingMenu_ = edit->addMenu("Enc&oding");
    encodingMenu_->setObjectName("EncodingMenu");
    {
        auto* group = new QActionGroup(encodingMenu_);
        for (int i = 0; i < editor::kEncodingCount; ++i) {
            const char* name = editor::EncodingName(static_cast<editor::TTextEncoding>(i));
            QAction* item = encodingMenu_->addAction(name);
            item->setObjectName(QString("EditEncoding") + name);
            item->setCheckable(true);
            item->setData(i);
            group->addAction(item);
        }
        connect(encodingMenu_, &QMenu::triggered, this, [this](QAction* item) {
            if (auto* doc = requireDocument())
                doc->SetEncoding(static_cast<editor::TTextEncoding>(item->data().toInt()));
        });
    }
    highlighterMenu_ = edit->addMenu(action("EditSyntaxHighlighting")->text());
    highlighterMenu_->setObjectName("SyntaxHighlightingMenu");
    highlighterMenu_->menuAction()->setEnabled(false);
    add(edit, {"EditEditorProperties"});

    QMenu* search = makeMenu("&Search");
    add(search, {"SearchFind", "SearchFindNext", "SearchReplace", "SearchUseRegularExpressions",
                 "SearchGotoLine"});

    QMenu* html = makeMenu("HT&ML"); // Alt+H is Help
    add(html, {"HTMLBold", "HTMLItalic", "HTMLUnderline", "HTMLComment", "HTMLLink", "|",
               "HTMLStripTags"});

    QMenu* tools = makeMenu("&Tools");
    QMenu* rexec = tools->addMenu("&RExec");
    rexec->setObjectName("RExecMenu");
    menus_.emplace("RExec", rexec);
    rexec->addAction(action("RExecSettings"));
    QMenu* weblink = tools->addMenu("&Weblink");
    weblink->setObjectName("WeblinkMenu");
    menus_.emplace("Weblink", weblink);
    weblink->addAction(action("WeblinkSettings"));

    QMenu* settings = makeMenu("Sett&ings");
    add(settings, {"SettingsOptions", "SettingsAccounts"});
    QMenu* show = settings->addMenu("Show &Toolbars");
    show->setObjectName("ShowToolbarsMenu");
    menus_.emplace("Show Toolbars", show);
    add(settings, {"SettingsShowOutput"});
    for (const char* caption : {"&Main", "&Edit", "&HTML"}) {
        QAction* a = show->addAction(caption);
        a->setCheckable(true);
        a->setObjectName(QString("ShowToolbar") + QString(caption).remove('&'));
    }
    connect(show, &QMenu::aboutToShow, this, [this, show] {
        auto acts = show->actions();
        for (int i = 0; i < 3; ++i)
            acts[i]->setChecked(toolbar(kToolbarNames[i])->isVisible());
    });
    connect(show, &QMenu::triggered, this, [this, show](QAction* a) {
        int i = int(show->actions().indexOf(a));
        if (i >= 0 && i < 3) toolbar(kToolbarNames[i])->setVisible(a->isChecked());
    });
    connect(settings, &QMenu::aboutToShow, this,
            [this] { action("SettingsShowOutput")->setChecked(outputVisible_); });

    QMenu* help = makeMenu("&Help");
    add(help, {"HelpHelpTopics", "|", "HelpAbout"});
}

void TMainForm::createToolbars() {
    struct Bar {
        const char* name;
        const char* object;
        std::initializer_list<const char*> items;
    };
    const Bar bars[] = {
        {"Main",
         "MainToolbar",
         {"FileNew", "FileOpen", "FileOpenLocalFile", "|", "FileSave", "FileClose", "|",
          "FileExit"}},
        {"Edit",
         "EditToolbar",
         {"EditCut", "EditCopy", "EditPaste", "|", "EditUndo", "EditRedo", "|",
          "EditEditorProperties"}},
        {"HTML",
         "HTMLToolbar",
         {"HTMLBold", "HTMLItalic", "HTMLUnderline", "HTMLComment", "HTMLLink"}},
    };
    for (const Bar& b : bars) {
        auto* bar = new QToolBar(floatingCaption(b.name), this);
        bar->setObjectName(b.object);
        bar->setFloatable(true);
        bar->setMovable(true);
        bar->setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
        for (const char* item : b.items) {
            if (std::string_view(item) == "|")
                bar->addSeparator();
            else
                bar->addAction(action(item));
        }
        addToolBar(Qt::TopToolBarArea, bar);
        bar->hide(); // shown by the settings when the window first shows
        toolbars_.emplace(b.name, bar);
    }
    // Drop-down arrows: the recent files beside Open, the highlighters beside Editor properties.
    if (auto* open =
            qobject_cast<QToolButton*>(toolbar("Main")->widgetForAction(action("FileOpen")))) {
        open->setMenu(recentMenu_);
        open->setPopupMode(QToolButton::MenuButtonPopup);
    }
    if (auto* props = qobject_cast<QToolButton*>(
            toolbar("Edit")->widgetForAction(action("EditEditorProperties")))) {
        props->setMenu(highlighterMenu_);
        props->setPopupMode(QToolButton::MenuButtonPopup);
    }
}

void TMainForm::createCentralArea() {
    // The column holds the key map question above the documents when a first start asks it.
    auto* central = new QWidget(this);
    central->setObjectName("CentralArea");
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    splitter_ = new QSplitter(Qt::Vertical, central);
    splitter_->setObjectName("BottomSplitter");
    splitter_->setChildrenCollapsible(false);
    pages_ = new QTabWidget(splitter_);
    pages_->setObjectName("MainPageControl");
    pages_->setMovable(true); // dragging a tab onto another moves it there
    pages_->setDocumentMode(true);
    // A tab closes by its button or a middle click, asking first like File > Close.
    pages_->setTabsClosable(true);
    connect(pages_, &QTabWidget::tabCloseRequested, this, [this](int index) {
        if (auto* doc = qobject_cast<DocumentPage*>(pages_->widget(index)))
            doc->closeRequest(false);
    });
    pages_->tabBar()->installEventFilter(this);
    output_ = new QListWidget(splitter_);
    output_->setObjectName("OutputList");
    output_->setUniformItemSizes(true);
    splitter_->addWidget(pages_);
    splitter_->addWidget(output_);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 0);
    column->addWidget(splitter_);
    setCentralWidget(central);
    connect(splitter_, &QSplitter::splitterMoved, this, [this] {
        saveOutputHeight();
        setOutputVisible(outputVisible_);
    });

    output_->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* outputMenu = new QMenu(output_);
    outputMenu->setObjectName("OutputMenu");
    outputMenu->addAction("&Clear output", output_, &QListWidget::clear)
        ->setObjectName("ClearOutput");
    outputMenu->addAction("&Hide output", this, [this] { setOutputVisible(false); })
        ->setObjectName("HideOutput");
    connect(output_, &QWidget::customContextMenuRequested, this,
            [this, outputMenu](const QPoint& p) { outputMenu->popup(output_->mapToGlobal(p)); });

    tabMenu_ = new QMenu(this);
    tabMenu_->setObjectName("TabMenu");
    for (const char* item : {"EditCut", "EditCopy", "EditPaste", "|", "FileClose"}) {
        if (std::string_view(item) == "|")
            tabMenu_->addSeparator();
        else
            tabMenu_->addAction(action(item));
    }
    pages_->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pages_->tabBar(), &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        int index = pages_->tabBar()->tabAt(p);
        if (index < 0) return;
        pages_->setCurrentIndex(index);
        refreshClipboardState();
        tabMenu_->popup(pages_->tabBar()->mapToGlobal(p));
    });
    connect(pages_, &QTabWidget::currentChanged, this, [this](int) {
        if (DocumentPage* doc = activeDocument()) doc->activate();
    });
    auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    connect(next, &QShortcut::activated, this, [this] {
        if (pages_->count() > 1)
            pages_->setCurrentIndex((pages_->currentIndex() + 1) % pages_->count());
    });
    auto* previous = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this);
    connect(previous, &QShortcut::activated, this, [this] {
        int n = pages_->count();
        if (n > 1) pages_->setCurrentIndex((pages_->currentIndex() + n - 1) % n);
    });
}

void TMainForm::createStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar1");
    for (int width : {50, 50, 50, 100, 50, 80}) {
        // The last panel shows the encoding; a click on it opens the encoding menu.
        auto* panel = panels_.size() == 5
                          ? new ClickablePanel(bar,
                                               [this] {
                                                   if (activeDocument())
                                                       encodingMenu_->popup(QCursor::pos());
                                               })
                          : new QLabel(bar);
        panel->setMinimumWidth(width);
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setObjectName(QString("StatusPanel%1").arg(panels_.size()));
        if (panels_.size() == 5) {
            panel->setObjectName("EncodingPanel");
            panel->setToolTip("Encoding of the document: click to change");
            bar->addPermanentWidget(panel);
        } else {
            bar->addWidget(panel);
        }
        panels_.push_back(panel);
    }
    cancelButton_ = new QPushButton("&Cancel", bar);
    cancelButton_->setObjectName("CancelTransferButton");
    cancelButton_->hide();
    progress_ = new QProgressBar(bar);
    progress_->setObjectName("TransferProgressBar");
    progress_->setRange(0, 100);
    progress_->setMaximumWidth(160);
    progress_->hide();
    bar->addPermanentWidget(cancelButton_);
    bar->addPermanentWidget(progress_);
}

void TMainForm::formCreate() {
    closing_ = false;
    loadFindChoices();
    reloadDefaultAccount();
    rebuildRecentMenus();
    extensionTable_.load(context_.programFolder / "filetypes.txt");
    setOutputVisible(settings_.showOutputAtStart());
    auto height = parseInteger(readSetting("Output height"));
    int output = height && *height > 0 ? *height : 100;
    splitter_->setSizes({std::max(1, this->height() - output), output});
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(platform::toBytes(url.toLocalFile()));
    if (paths.empty()) return;
    event->acceptProposedAction();
    openLocalFiles(paths);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // What is open as the user asks to close is the session to come back to.
    if (!closing_) recordSession(*this);
    if (pages_->count() > 0) {
        // Ask every document, last tab first, also after one was cancelled; the window closes
        // when the last document has gone.
        closing_ = true;
        std::vector<QPointer<DocumentPage>> documents;
        for (int i = pages_->count() - 1; i >= 0; --i)
            documents.emplace_back(qobject_cast<DocumentPage*>(pages_->widget(i)));
        askedToClose_ = documents;
        for (auto& doc : documents)
            if (doc) doc->closeRequest(false);
        event->ignore();
        return;
    }
    formClose();
    event->accept();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (pages_ && watched == pages_->tabBar() && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        int index = mouse->button() == Qt::MiddleButton
                        ? pages_->tabBar()->tabAt(mouse->position().toPoint())
                        : -1;
        if (auto* doc = qobject_cast<DocumentPage*>(pages_->widget(index))) {
            doc->closeRequest(false);
            return true;
        }
    }
    // Shown after its aboutToShow handlers have refreshed it.
    if (event->type() == QEvent::Show)
        if (auto* m = qobject_cast<QMenu*>(watched)) traceMenu(m);
    if (watched == this && event->type() == QEvent::Paint && !firstPaintSeen_) {
        firstPaintSeen_ = true;
        trace("first-paint");
        if (qEnvironmentVariableIntValue("MORVANE_QUIT_ON_FIRST_PAINT"))
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::traceMenu(QMenu* menu) const {
    std::string line = "menu " + menu->objectName().toStdString() + ":";
    for (QAction* a : menu->actions()) {
        if (a->isSeparator()) continue;
        QString name = a->menu() ? a->menu()->objectName() : a->objectName();
        if (name.isEmpty()) name = a->text().remove('&').replace(' ', '_');
        line += " " + name.toStdString() + "=" + (a->isEnabled() ? "1" : "0");
        if (a->isCheckable() && a->isChecked()) line += "*";
    }
    trace(line);
}

} // namespace morvane::app
