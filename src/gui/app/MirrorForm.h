#pragma once
// TMirrorForm ("Mirroring account"): copies an account's remote folder tree into its mirror
// folder. It runs the walk on a shared connection of the account, shows what it does and the
// bytes received, asks whether to go on when a step fails, and ends the walk on Cancel or
// Escape.

#include "core/net/Account.h"
#include "core/net/MirrorWalk.h"
#include "core/platform/EventLoop.h"

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;

namespace morvane::app {

class TMainForm;

class TMirrorForm : public QDialog {
    Q_OBJECT
public:
    TMirrorForm(TMainForm& main, const net::TAccount& account, QWidget* parent = nullptr);
    ~TMirrorForm() override;

    QString statusText() const;
    QString bytesText() const;
    const net::TMirrorSummary& summary() const { return summary_; }
    bool running() const { return walk_ && walk_->Running(); }

    void reject() override; // Cancel and Escape end the walk

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override; // minimising minimises the main window too

private:
    void begin();
    void finished(const net::TMirrorSummary& summary, const std::string& message);

    TMainForm& main_;
    net::TAccount account_;
    bool started_ = false;
    std::unique_ptr<platform::EventLoop> ownLoop_;
    std::unique_ptr<net::TRemoteFileSystem> fs_;
    std::unique_ptr<net::TMirrorWalk> walk_; // after fs_: ends before it
    net::TMirrorSummary summary_;
    QLabel* status_ = nullptr;
    QLabel* bytes_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace morvane::app
