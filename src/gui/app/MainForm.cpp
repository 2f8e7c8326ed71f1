#include "gui/app/MainForm.h"

#include "core/app/EditorAidFiles.h"
#include "gui/app/OpenFileForm.h"
#include "core/highlight/CompiledBuiltins.h"

#include "core/app/AppRegistry.h"
#include "core/app/Commands.h"
#include "core/app/RecentFiles.h"
#include "core/app/RemoteReference.h"
#include "gui/app/AccountWindows.h"
#include "gui/app/ChangeDirectoryForm.h"
#include "gui/app/DocumentPage.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/app/OptionsDialog.h"
#include "gui/app/Trace.h"
#include "core/editor/CodeMemoMessages.h"
#include "core/editor/TextEncoding.h"
#include "gui/editor/CodeMemo.h"
#include "core/platform/Paths.h"
#include "gui/platform/QtUiServices.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
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

#include <fstream>
#include <iterator>

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

using platform::fromBytes;
using platform::Hive;
using platform::RegKey;

namespace {

const char* const kToolbarNames[] = {"Main", "Edit", "HTML"};

// The floating window of a toolbar carries this caption.
QString floatingCaption(const std::string& name) {
    return QString::fromStdString(
        name == "HTML" ? "HTML toolbar" : (name == "Main" ? "Main toolbar" : "Edit toolbar"));
}

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
    installEventFilter(this);
    setAcceptDrops(true);
}

TMainForm::~TMainForm() {
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

void TMainForm::refreshClipboardState() {
    const platform::Clipboard* c = context_.clipboard;
    clipboardHasText_ = c && (c->hasText() || c->hasFormat("text/html"));
    if (DocumentPage* doc = activeDocument()) doc->activate();
}

void TMainForm::setDocumentCaption(DocumentPage* page, const std::string& fileName) {
    int index = pages_->indexOf(page);
    if (index < 0) return;
    // A tab caption marks its shortcut letter with "&".
    pages_->setTabText(index, fromBytes(fileName).replace('&', QLatin1String("&&")));
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
                             "FileExportHtml", "FileExportRtf"})
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
    connect(action("FileOpenLocalFile"), &QAction::triggered, this,
            &TMainForm::openLocalFileCommand);
    connect(action("FileOpen"), &QAction::triggered, this, &TMainForm::openRemoteCommand);
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

void TMainForm::gotoLineCommand() {
    auto* doc = requireDocument();
    if (!doc) return;
    TChangeDirectoryForm form("Goto line number", "Line number:", QString(), this);
    form.setObjectName("GotoLineForm");
    if (form.exec() != QDialog::Accepted) return;
    auto line = parseInteger(platform::toBytes(form.text().trimmed()));
    if (!line) {
        context_.dialogs->message(platform::MsgKind::Error, "Please enter an integer value.");
        return;
    }
    auto& editor = doc->Editor();
    editor.GoToPosition(1, static_cast<editor::RecIndex>(*line));
    editor.ScrollToCaret();
    editor.setFocus();
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

    QMenu* html = makeMenu("&HTML");
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
    splitter_ = new QSplitter(Qt::Vertical, this);
    splitter_->setObjectName("BottomSplitter");
    splitter_->setChildrenCollapsible(false);
    pages_ = new QTabWidget(splitter_);
    pages_->setObjectName("MainPageControl");
    pages_->setMovable(true); // dragging a tab onto another moves it there
    pages_->setDocumentMode(true);
    output_ = new QListWidget(splitter_);
    output_->setObjectName("OutputList");
    output_->setUniformItemSizes(true);
    splitter_->addWidget(pages_);
    splitter_->addWidget(output_);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 0);
    setCentralWidget(splitter_);
    connect(splitter_, &QSplitter::splitterMoved, this, [this] {
        saveOutputHeight();
        setOutputVisible(outputVisible_);
    });

    output_->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* outputMenu = new QMenu(output_);
    outputMenu->addAction("&Clear output", output_, &QListWidget::clear);
    outputMenu->addAction("&Hide output", this, [this] { setOutputVisible(false); });
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

void TMainForm::showEncoding(int encoding, bool bom) {
    const auto e = static_cast<editor::TTextEncoding>(encoding);
    panels_[5]->setText(QString(editor::EncodingName(e)) + (bom ? " BOM" : ""));
    for (QAction* item : encodingMenu_->actions())
        item->setChecked(item->data().toInt() == encoding);
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
    reloadDefaultAccount();
    rebuildRecentMenus();
    extensionTable_.load(context_.programFolder / "filetypes.txt");
    setOutputVisible(settings_.showOutputAtStart());
    auto height = parseInteger(readSetting("Output height"));
    int output = height && *height > 0 ? *height : 100;
    splitter_->setSizes({std::max(1, this->height() - output), output});
}

void TMainForm::reloadDefaultAccount() {
    lastAccount_ = net::TAccount();
    lastAccount_.Name.clear();
    if (settings_.noDefaultAccount()) return;
    auto accounts = net::AccountNames(*context_.registry);
    if (!accounts.empty()) net::LoadAccount(*context_.registry, accounts.front(), lastAccount_);
}

net::TFirewallSettings TMainForm::firewallSettings() const {
    return {readSetting("Firewall address"), readSetting("Firewall port")};
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    formShow();
    // Geometry is applied before the window reaches the screen, so it does not jump.
    if (settings_.restoreWindowSettings()) {
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
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

void TMainForm::applyEditorAids(highlight::TSM_Settings& settings) {
    EditorAidBuffers aids{autoReplaceBuffer_, templatesBuffer_};
    for (const std::string& problem :
         app::applyEditorAids(aids, settings.autoReplace, settings.templates))
        appendOutput(problem);
}

void TMainForm::buildHighlighterList() {
    try {
        highlighters_ =
            highlight::loadStoredBuiltins(highlight::compiledBuiltinForms(), kPerUserRoot);
    } catch (const std::exception& e) {
        context_.dialogs->message(platform::MsgKind::Error,
                                  std::string("The built-in highlighters cannot be loaded: ") +
                                      e.what());
    }
    if (context_.registry->keyExists(Hive::CurrentUser,
                                     std::string(kPerUserRoot) + "\\Syntaxhighlight"))
        for (const std::string& problem :
             highlight::loadHighlighterSettings(highlighters_, *context_.registry))
            appendOutput(problem);
    // A script that fails is left out; its author sees why in the output pane.
    auto user = highlight::compileUserScripts(
        context_.programFolder,
        [this](const std::filesystem::path& file, const std::string& message) {
            appendOutput(file.filename().string() + ": " + message);
        });
    for (auto& h : user)
        highlighters_.push_back(std::move(h));

    auto* group = new QActionGroup(highlighterMenu_);
    for (std::size_t i = 0; i < highlighters_.size(); ++i) {
        QAction* item = highlighterMenu_->addAction(fromBytes(highlighters_[i]->languageName()));
        item->setCheckable(true);
        item->setData(int(i));
        group->addAction(item);
    }
    connect(highlighterMenu_, &QMenu::aboutToShow, this, [this] {
        auto* doc = qobject_cast<TMorvaneEditor*>(activeDocument());
        if (!doc) return;
        for (QAction* item : highlighterMenu_->actions())
            item->setChecked(item->data().toInt() == doc->Highlighter());
    });
    connect(highlighterMenu_, &QMenu::triggered, this, [this](QAction* item) {
        if (auto* doc = requireDocument()) doc->ManualAssociation(item->data().toInt());
    });
    setCommandAvailable("EditSyntaxHighlighting", !highlighters_.empty());
    enableDocumentCommands(documentCommandsOn_);
}

int TMainForm::highlighterIndexFor(const std::string& fileName) const {
    auto lower = [](std::string s) {
        for (auto& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    int plain = -1;
    for (std::size_t i = 0; i < highlighters_.size(); ++i)
        if (highlighters_[i]->languageName() == "Plain text") plain = int(i);
    auto language = extensionTable_.languageOf(fileExtension(fileName));
    if (!language) return plain;
    std::string wanted = lower(*language);
    for (std::size_t i = 0; i < highlighters_.size(); ++i)
        if (lower(highlighters_[i]->languageName()) == wanted) return int(i);
    return plain;
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

void TMainForm::openRemoteCommand() {
    if (!remote_.browse) return;
    auto result = remote_.browse(TBrowserMode::Open, lastAccount_, "");
    if (!result) return;
    lastAccount_ = result->account;
    if (!remote_.openRemoteDocument) return;
    for (const std::string& name : result->fileNames)
        remote_.openRemoteDocument(result->account, result->account.Directory, name);
}

void TMainForm::addRecentFile(const std::string& account, const std::string& directory,
                              const std::string& fileName) {
    std::string error;
    if (!TRecentFiles(*context_.registry).Add(account, directory, fileName, &error))
        context_.dialogs->message(platform::MsgKind::Error, error);
    rebuildRecentMenus();
}

void TMainForm::rebuildRecentMenus() {
    recentMenu_->clear();
    for (const TRecentEntry& e : TRecentFiles(*context_.registry).MenuEntries()) {
        QAction* item = recentMenu_->addAction(fromBytes(TRecentFiles::Caption(e)));
        item->setData(e.number);
    }
    recentMenu_->menuAction()->setEnabled(!recentMenu_->isEmpty());
}

void TMainForm::reopenRecent(int n) {
    platform::Registry& registry = *context_.registry;
    if (!registry.keyExists(Hive::CurrentUser, kRecentKey)) return;
    TRecentEntry e = TRecentFiles(registry).Entry(n);
    if (e.fileName.empty()) return;
    if (e.account.empty()) {
        openLocalFiles({e.directory + e.fileName});
        return;
    }
    net::TAccount account;
    std::string error;
    if (!net::LoadAccount(registry, e.account, account, &error)) {
        context_.dialogs->message(platform::MsgKind::Error, error);
        return;
    }
    if (remote_.openRemoteDocument) remote_.openRemoteDocument(account, e.directory, e.fileName);
}

void TMainForm::openLocalFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        auto* doc = new TMorvaneEditor(*this);
        doc->OpenLocal(platform::absolutePath(path), false);
    }
}

void TMainForm::openLocalFileCommand() {
    platform::FileDialogOptions o;
    o.title = "Open local file";
    o.filter = "Any file (*.*)|*.*";
    o.multiple = true;
    o.mustExist = true;
    if (auto* doc = qobject_cast<TMorvaneEditor*>(activeDocument());
        doc && doc->DocumentKind() == TMorvaneEditor::kLocal)
        o.directory = doc->Directory();
    openLocalFiles(context_.dialogs->openFiles(o));
}

void TMainForm::editorPropertiesCommand() {
    auto* doc = requireDocument();
    if (!doc) return;
    const int index = doc->Highlighter();
    if (index < 0 || std::size_t(index) >= highlighters_.size()) {
        context_.dialogs->message(platform::MsgKind::Error,
                                  "The document has no syntax highlighter to change.");
        return;
    }
    // The highlighter outlives the dialog; the document may not (it can close meanwhile).
    highlight::TCodeMemoParser& parser = *highlighters_[std::size_t(index)];
    try {
        if (!ModifyProperties(parser, context_.registry, *context_.dialogs, this)) return;
    } catch (const std::exception& e) {
        context_.dialogs->message(platform::MsgKind::Error, e.what());
        return;
    }
    propagateExtras(parser);
}

void TMainForm::propagateExtras(highlight::TCodeMemoParser& source) {
    // Both files are written (a failure is named in the output pane), then the other
    // documents' highlighters load the new buffers.
    EditorAidBuffers aids;
    for (const std::string& problem :
         app::saveEditorAids(context_.programFolder, source.settings().autoReplace,
                             source.settings().templates, aids))
        appendOutput(problem);
    autoReplaceBuffer_ = std::move(aids.autoReplace);
    templatesBuffer_ = std::move(aids.templates);
    std::set<highlight::TCodeMemoParser*> others;
    for (int i = 0; i < pages_->count(); ++i)
        if (auto* doc = qobject_cast<TMorvaneEditor*>(pages_->widget(i))) {
            int h = doc->Highlighter();
            if (h >= 0 && std::size_t(h) < highlighters_.size() &&
                highlighters_[std::size_t(h)].get() != &source)
                others.insert(highlighters_[std::size_t(h)].get());
        }
    for (highlight::TCodeMemoParser* parser : others)
        applyEditorAids(parser->settings());
}

TMorvaneEditor* TMainForm::requireDocument() const {
    auto* doc = qobject_cast<TMorvaneEditor*>(activeDocument());
    if (!doc) context_.dialogs->message(platform::MsgKind::Error, "No active window");
    return doc;
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

void TMainForm::handOverReceived(const std::vector<std::string>& arguments) {
    trace("hand-over " + std::to_string(arguments.size()));
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
    for (const std::string& argument : arguments)
        openArgument(argument);
}

void TMainForm::appendOutput(std::string_view text) {
    std::string clean;
    clean.reserve(text.size());
    for (char c : text)
        if (c != '\r') clean.push_back(c);
    std::size_t start = 0;
    for (;;) {
        std::size_t lf = clean.find('\n', start);
        if (lf == std::string::npos) break;
        output_->addItem(fromBytes(clean.substr(start, lf - start)));
        start = lf + 1;
    }
    if (start < clean.size()) output_->addItem(fromBytes(clean.substr(start)));
    output_->scrollToBottom();
}

void TMainForm::setOutputVisible(bool visible) {
    outputVisible_ = visible;
    output_->setVisible(visible);
    action("SettingsShowOutput")->setChecked(visible);
}

void TMainForm::saveOutputHeight() {
    if (outputVisible_) writeSetting("Output height", std::to_string(output_->height()));
}

void TMainForm::addDocument(DocumentPage* page, const QString& caption) {
    bool first = pages_->count() == 0;
    pages_->setCurrentIndex(pages_->addTab(page, QString(caption).replace('&', "&&")));
    if (first) enableDocumentCommands(true);
}

DocumentPage* TMainForm::activeDocument() const {
    return qobject_cast<DocumentPage*>(pages_->currentWidget());
}

int TMainForm::documentCount() const {
    return pages_->count();
}

void TMainForm::postDocumentClosed(DocumentPage* page) {
    QPointer<DocumentPage> guarded(page);
    QTimer::singleShot(0, this, [this, guarded] {
        if (guarded) documentClosed(guarded);
    });
}

void TMainForm::documentClosed(DocumentPage* page) {
    int index = pages_->indexOf(page);
    if (index >= 0) pages_->removeTab(index);
    page->deleteLater();
    if (pages_->count() > 0) {
        // A document that closing the window did not ask about (one handed over meanwhile)
        // keeps the window: closing it later must not end the program.
        for (int i = 0; i < pages_->count() && closing_; ++i) {
            auto* remaining = qobject_cast<DocumentPage*>(pages_->widget(i));
            if (std::find(askedToClose_.begin(), askedToClose_.end(), remaining) ==
                askedToClose_.end())
                clearClosingFlag();
        }
        if (DocumentPage* doc = activeDocument()) doc->activate();
        return;
    }
    askedToClose_.clear();
    enableDocumentCommands(false);
    progress_->hide();
    for (int i = 0; i < 4; ++i)
        panels_[std::size_t(i)]->clear();
    panels_[5]->clear();
    if (closing_) close();
}

void TMainForm::setCommandAvailable(std::string_view name, bool available) {
    if (available)
        available_.emplace(name);
    else
        available_.erase(std::string(name));
    QAction* a = action(name);
    if (!a) return;
    bool isDocumentCommand = false;
    for (auto d : documentCommands())
        isDocumentCommand |= d == name;
    for (auto d : documentEditCommands())
        isDocumentCommand |= d == name;
    a->setEnabled(available && (!isDocumentCommand || documentCommandsOn_));
}

void TMainForm::enableCommand(std::string_view name, bool enable) {
    if (QAction* a = action(name)) a->setEnabled(enable && available_.count(name));
}

void TMainForm::enableDocumentCommands(bool enable) {
    documentCommandsOn_ = enable;
    for (auto name : documentCommands())
        action(name)->setEnabled(enable && available_.count(name));
    highlighterMenu_->menuAction()->setEnabled(enable &&
                                               available_.count("EditSyntaxHighlighting"));
    if (!enable)
        for (auto name : documentEditCommands())
            action(name)->setEnabled(false);
}

void TMainForm::closeEvent(QCloseEvent* event) {
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

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == this && event->type() == QEvent::Paint && !firstPaintSeen_) {
        firstPaintSeen_ = true;
        trace("first-paint");
        if (qEnvironmentVariableIntValue("MORVANE_QUIT_ON_FIRST_PAINT"))
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::showAbout() {
    QString version = QStringLiteral(MORVANE_FILE_VERSION);
    QMessageBox box(QMessageBox::NoIcon, "About Morvane",
                    "<b>Morvane</b><br>" + fromBytes(aboutVersionLabel(version.toStdString())) +
                        "<br><br>An editor for files on FTP servers and local disks.",
                    QMessageBox::Ok, this);
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.exec();
}

} // namespace morvane::app
