#include "gui/app/NewTemplateForm.h"

#include "core/app/TemplateFolder.h"
#include "core/platform/UiServices.h"
#include "gui/platform/QtUiServices.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

namespace morvane::app {

using platform::fromBytes;

namespace {
constexpr int kPathRole = Qt::UserRole;
}

TNewTemplateForm::TNewTemplateForm(const std::filesystem::path& programFolder,
                                   platform::Dialogs& dialogs, bool localByDefault, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs) {
    setObjectName("NewTemplateForm");
    setWindowTitle("New items");
    auto* layout = new QVBoxLayout(this);
    groups_ = new QTabWidget(this);
    groups_->setObjectName("TemplateGroups");
    layout->addWidget(groups_);

    const TTemplateListing listing = listTemplates(programFolder);
    // Each template shows the desktop's icon for its kind of file (by name: the dialog reads no
    // file), else the program's own.
    const QIcon fallback = parent && !parent->windowIcon().isNull()
                               ? parent->windowIcon()
                               : style()->standardIcon(QStyle::SP_FileIcon);
    QMimeDatabase types;
    for (const TTemplateGroup& g : listing.groups) {
        auto* list = new QListWidget;
        list->setObjectName("TemplateList");
        list->setViewMode(QListView::IconMode);
        list->setIconSize(QSize(32, 32));
        list->setGridSize(QSize(120, 80));
        list->setTextElideMode(Qt::ElideNone);
        list->setResizeMode(QListView::Adjust);
        list->setMovement(QListView::Static);
        list->setWordWrap(true);
        for (const TTemplateItem& t : g.items) {
            const QMimeType type = types.mimeTypeForFile(fromBytes(t.path.filename().string()),
                                                         QMimeDatabase::MatchExtension);
            auto* item = new QListWidgetItem(QIcon::fromTheme(type.iconName(), fallback),
                                             fromBytes(t.caption), list);
            // By index: a file name need not be valid UTF-8 and must come back byte for byte.
            item->setData(kPathRole, qulonglong(paths_.size()));
            paths_.push_back(t.path);
            item->setToolTip(fromBytes(t.path.filename().string()));
        }
        connect(list, &QListWidget::itemActivated, this, [this] { accept(); });
        // A tab caption would take "&" as its shortcut letter.
        groups_->addTab(list, fromBytes(g.name).replace('&', QLatin1String("&&")));
    }
    if (listing.groups.empty()) {
        setWindowTitle("No templates found.");
        groups_->hide();
        auto* none = new QLabel("Templates are the files in the subfolders of\n" +
                                    fromBytes((programFolder / "Templates").string()) + ".",
                                this);
        none->setObjectName("NoTemplatesLabel");
        layout->insertWidget(0, none);
    }
    if (listing.cutShort) {
        auto* more = new QLabel(
            QString("Only the first %1 templates are shown.").arg(qulonglong(kMaxTemplates)), this);
        more->setObjectName("TemplatesCutShortLabel");
        layout->addWidget(more);
    }

    local_ =
        new QCheckBox("New &local file (the first Save asks for a file on this computer)", this);
    local_->setObjectName("NewLocalFileCheck");
    local_->setChecked(localByDefault);
    layout->addWidget(local_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    blank_ = buttons->addButton("&Blank", QDialogButtonBox::ActionRole);
    blank_->setObjectName("BlankButton");
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!listing.groups.empty());
    connect(buttons, &QDialogButtonBox::accepted, this, &TNewTemplateForm::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(blank_, &QPushButton::clicked, this, &TNewTemplateForm::blank);
    layout->addWidget(buttons);
    resize(460, 340);
    // Each tab starts with its first template chosen, so Enter takes it from the keyboard.
    for (int i = 0; i < groups_->count(); ++i)
        if (group(i)->count() > 0) group(i)->setCurrentRow(0);
    connect(groups_, &QTabWidget::currentChanged, this, [this](int index) {
        if (QListWidget* list = group(index)) list->setFocus();
    });
    if (QListWidget* first = group(0)) first->setFocus();
}

QListWidget* TNewTemplateForm::group(int index) const {
    return qobject_cast<QListWidget*>(groups_->widget(index));
}

bool TNewTemplateForm::localFile() const {
    return local_->isChecked();
}

void TNewTemplateForm::accept() {
    QListWidget* list = group(groups_->currentIndex());
    QListWidgetItem* item = list ? list->currentItem() : nullptr;
    if (!item || !item->isSelected()) {
        dialogs_.message(platform::MsgKind::Error, "You must select a file to use as a template.");
        return;
    }
    choice_ = Choice::Template;
    path_ = paths_.at(std::size_t(item->data(kPathRole).toULongLong()));
    QDialog::accept();
}

void TNewTemplateForm::blank() {
    choice_ = Choice::Blank;
    QDialog::done(QDialog::Accepted);
}

} // namespace morvane::app
