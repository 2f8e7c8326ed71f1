#pragma once
// What the main window needs of a document tab: the ordinary close request. A document that has
// closed tells the main window through TMainForm::postDocumentClosed, never synchronously, so the
// window can destroy it once its own call stack has unwound.

#include <QWidget>

namespace morvane::app {

class DocumentPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    // Asks about unsaved changes and may start a save first; force skips the questions.
    virtual void closeRequest(bool force) = 0;
    // The tab became the active one.
    virtual void activate() {}
};

} // namespace morvane::app
