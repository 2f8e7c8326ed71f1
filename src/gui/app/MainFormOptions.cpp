// TMainForm: Settings > Options.

#include "gui/app/MainForm.h"

#include "gui/app/OptionsForm.h"

#include <QAction>
#include <QPushButton>

namespace morvane::app {

void TMainForm::optionsCommand(int page, QWidget* parent) {
    TOptionsForm form(*context_.registry, *context_.dialogs,
                      page == 1 ? TOptionsForm::pageFirewall : TOptionsForm::pageGeneral,
                      parent ? parent : this);
    QAction* help = action("HelpHelpTopics");
    form.helpButton()->setEnabled(help->isEnabled());
    connect(form.helpButton(), &QPushButton::clicked, help, &QAction::trigger);
    if (form.exec() != QDialog::Accepted) return;
    reloadDefaultAccount();
    rebuildRecentMenus();
}

} // namespace morvane::app
