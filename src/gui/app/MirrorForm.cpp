#include "gui/app/MirrorForm.h"

#include "gui/app/MainForm.h"
#include "gui/platform/QtEventLoop.h"
#include "gui/platform/QtUiServices.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <filesystem>

namespace morvane::app {

using platform::fromBytes;

TMirrorForm::TMirrorForm(TMainForm& main, const net::TAccount& account, QWidget* parent)
    : QDialog(parent), main_(main), account_(account) {
    setObjectName("MirrorForm");
    setWindowTitle("Mirroring account");
    status_ = new QLabel(this);
    status_->setObjectName("StatusLabel");
    status_->setMinimumWidth(320);
    auto* bytesCaption = new QLabel("Bytes received:", this);
    bytes_ = new QLabel("0", this);
    bytes_->setObjectName("BytesLabel");
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("CancelButton");
    connect(cancel_, &QPushButton::clicked, this, &TMirrorForm::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(status_, 0, 0, 1, 2);
    grid->addWidget(bytesCaption, 1, 0);
    grid->addWidget(bytes_, 1, 1);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
}

TMirrorForm::~TMirrorForm() {
    walk_.reset();
    if (fs_) fs_->Disconnect();
}

QString TMirrorForm::statusText() const {
    return status_->text();
}

QString TMirrorForm::bytesText() const {
    return bytes_->text();
}

void TMirrorForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    // Once the window is on screen: its questions stand in front of it.
    QTimer::singleShot(0, this, &TMirrorForm::begin);
}

void TMirrorForm::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // A long run put out of sight takes the program with it, not just this window.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !main_.isMinimized())
        main_.showMinimized();
}

void TMirrorForm::begin() {
    platform::Dialogs& dialogs = *main_.context().dialogs;
    const std::string& root = account_.MirrorDirectory;
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) {
        std::vector<char> text(root.size() + 64);
        std::snprintf(text.data(), text.size(),
                      "Directory %s does not exist, create it and continue?", root.c_str());
        dialogs.beep();
        if (dialogs.message(platform::MsgKind::Confirmation, text.data(), platform::mbYesNo) !=
            platform::MsgResult::Yes)
            return QDialog::reject();
        std::string problem = net::CreateLocalFolders(root);
        if (!problem.empty()) {
            dialogs.error(problem);
            return QDialog::reject();
        }
    }

    platform::EventLoop* loop = main_.context().loop;
    if (!loop) {
        ownLoop_ = platform::makeQtEventLoop();
        loop = ownLoop_.get();
    }
    fs_ = main_.sharedFileSystem(*loop);
    if (!fs_) fs_ = net::MakeFileSystem(*loop, account_);
    if (!net::ApplyAccount(account_, *fs_, main_.firewallSettings(), main_.remote().prompts))
        return QDialog::reject();

    walk_ = std::make_unique<net::TMirrorWalk>(*loop, *fs_);
    auto& e = walk_->events;
    e.status = [this](const std::string& text) { status_->setText(fromBytes(text)); };
    e.progress = [this](std::int64_t bytes) { bytes_->setText(QString::number(bytes)); };
    e.note = [this](const std::string& line) {
        if (!main_.outputVisible()) main_.setOutputVisible(true);
        main_.appendOutput("Mirroring: " + line);
    };
    e.askContinue = [this, &dialogs](const std::string& message) {
        dialogs.beep();
        return dialogs.message(platform::MsgKind::Confirmation,
                               message + "\nContinue with mirroring?",
                               platform::mbYesNo) == platform::MsgResult::Yes;
    };
    e.finished = [this](const net::TMirrorSummary& s, const std::string& message) {
        finished(s, message);
    };
    walk_->Start(account_.Directory, root);
}

void TMirrorForm::finished(const net::TMirrorSummary& summary, const std::string& message) {
    summary_ = summary;
    platform::Dialogs& dialogs = *main_.context().dialogs;
    if (summary.completed) {
        dialogs.beep();
        dialogs.message(platform::MsgKind::Information, message);
        return accept();
    }
    if (!summary.cancelled && message != "Mirroring stopped") dialogs.error(message);
    QDialog::reject();
}

void TMirrorForm::reject() {
    // The running transfer ends and its partial file goes; the local copy stays as it was.
    if (walk_ && walk_->Running()) walk_->Cancel();
    summary_.cancelled = true;
    QDialog::reject();
}

} // namespace morvane::app
