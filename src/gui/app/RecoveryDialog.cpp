#include "gui/app/RecoveryDialog.h"

#include "core/app/Recovery.h"
#include "core/app/TextDiff.h"
#include "core/net/Account.h"
#include "core/platform/UiServices.h"
#include "gui/app/DocumentRecovery.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/app/ServerCopy.h"
#include "gui/app/Trace.h"
#include "gui/platform/QtUiServices.h"

#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace morvane::app {

namespace {

struct Found {
    fs::path file;
    RecoveryRead read;
};

std::string readWhole(const fs::path& p, bool& ok) {
    std::ifstream in(p, std::ios::binary);
    ok = bool(in);
    return ok ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())
              : std::string();
}

QString documentName(const RecoveryHeader& h) {
    std::string name =
        h.kind == RecoveryHeader::Local ? fs::path(h.localPath).filename().string() : h.fileName;
    return platform::fromBytes(name.empty() ? std::string("untitled") : name);
}

// Whether the file the text belongs to changed after the text was last written.
QString originalState(const RecoveryRead& r) {
    if (r.status != RecoveryRead::Ok)
        return platform::fromBytes("Cannot be recovered: " + r.problem);
    const RecoveryHeader& h = r.header;
    if (h.kind == RecoveryHeader::Untitled) return "Never saved";
    if (h.kind == RecoveryHeader::Remote) return "On the server";
    struct stat st {};
    if (::stat(h.localPath.c_str(), &st) != 0) return "The file no longer exists";
    return st.st_mtime > h.time ? "Changed on disk since" : "Unchanged since";
}

// Whether the server's file changed since the text was based on it, from its entry now.
QString serverState(const RecoveryHeader& h, const net::TRemoteResult& r,
                    const net::TRemoteStat& st) {
    if (!r.ok())
        return r.error == net::TRemoteError::NotFound
                   ? QString("The file no longer exists on the server")
                   : platform::fromBytes("Not checked: " + r.message);
    if (h.serverSize < 0) return "On the server (nothing to compare with)";
    bool changed = st.size >= 0 && st.size != h.serverSize;
    if (h.serverPrecision != 0 && int(st.precision) == h.serverPrecision && st.time != h.serverTime)
        changed = true;
    return changed ? "Changed on the server since" : "Unchanged on the server since";
}

// Looks at each remote document's file on its server in the background: the list shows at once,
// and a server out of reach costs only the column's text. Nothing is asked: an account that
// needs a password typed is left unchecked.
class ServerChecks {
public:
    ServerChecks(TMainForm& form, QTreeWidget* list) : form_(form), list_(list) {}
    ~ServerChecks() { *alive_ = false; }
    ServerChecks(const ServerChecks&) = delete;
    ServerChecks& operator=(const ServerChecks&) = delete;

    void start(int index, const RecoveryHeader& h) {
        net::TAccount account;
        std::string error;
        if (!net::LoadAccount(*form_.context().registry, h.account, account, &error))
            return show(index, "The account no longer exists");
        std::unique_ptr<net::TRemoteFileSystem> fs = form_.sharedFileSystem(*form_.context().loop);
        net::TAccountPrompts quiet;
        quiet.keptPassword = form_.remote().prompts.keptPassword;
        if (!fs || !net::ApplyAccount(account, *fs, form_.firewallSettings(), quiet))
            return show(index, "On the server (not checked: the account asks for a password)");
        fs->SetReplyTimeout(std::chrono::seconds(15));
        show(index, "On the server (checking...)");
        net::TRemoteFileSystem& remote = *fs;
        fileSystems_[index] = std::move(fs);
        auto alive = alive_;
        auto stat = [this, alive, &remote, index, h] {
            remote.Stat(
                h.fileName, {},
                [this, alive, index, h](const net::TRemoteResult& r, const net::TRemoteStat& st) {
                    if (!*alive) return;
                    show(index, serverState(h, r, st));
                    release(index);
                });
        };
        remote.Connect([this, alive, &remote, index, h, stat](const net::TRemoteResult& r) {
            if (!*alive) return;
            if (!r.ok()) return show(index, platform::fromBytes("Not checked: " + r.message));
            if (h.directory.empty()) return stat();
            remote.ChangeDirectory(
                h.directory, [this, alive, index, stat](const net::TRemoteResult& rc) {
                    if (!*alive) return;
                    if (!rc.ok())
                        return show(index, platform::fromBytes("Not checked: " + rc.message));
                    stat();
                });
        });
    }

private:
    // The connection goes back to the pool once its answer is in (not from inside its own
    // callback), so that recovered documents of the same account find it free.
    void release(int index) {
        auto alive = alive_;
        QTimer::singleShot(0, list_, [this, alive, index] {
            if (*alive) fileSystems_.erase(index);
        });
    }
    void show(int index, const QString& text) {
        for (int row = 0; row < list_->topLevelItemCount(); ++row) {
            QTreeWidgetItem* item = list_->topLevelItem(row);
            if (item->data(0, Qt::UserRole).toInt() != index) continue;
            item->setText(3, text);
            trace("recovery-original " + platform::toBytes(text));
        }
    }

    TMainForm& form_;
    QTreeWidget* list_;
    std::map<int, std::unique_ptr<net::TRemoteFileSystem>> fileSystems_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace

void showDifferences(QWidget* parent, const QString& title, const std::string& before,
                     const std::string& after, const std::string& beforeName,
                     const std::string& afterName) {
    QDialog dlg(parent);
    dlg.setObjectName("DifferencesDialog");
    dlg.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dlg);
    auto* view = new QPlainTextEdit(&dlg);
    view->setObjectName("Differences");
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    std::string listing = unifiedDiff(before, after, beforeName, afterName);
    if (listing.empty()) listing = "The two texts hold the same lines.\n";
    view->setPlainText(platform::fromBytes(listing));
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dlg);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    layout->addWidget(buttons);
    dlg.resize(760, 480);
    std::string line = listing.substr(0, 2000);
    std::replace(line.begin(), line.end(), '\n', '|'); // one trace line
    trace("differences " + line);
    dlg.exec();
}

void offerRecovery(TMainForm& form, TRecoveryService& service) {
    if (!service.active()) return;
    std::vector<Found> found;
    for (const fs::path& file : service.folder().leftBehind())
        found.push_back({file, readRecoveryFile(file)});
    if (found.empty()) return;
    trace("recovery-offered " + std::to_string(found.size()));

    QDialog dlg(&form);
    dlg.setObjectName("RecoveryDialog");
    dlg.setWindowTitle("Recover Unsaved Changes");
    auto* layout = new QVBoxLayout(&dlg);
    layout->addWidget(new QLabel("Morvane was not closed properly. These documents had changes "
                                 "that were not saved:",
                                 &dlg));
    auto* list = new QTreeWidget(&dlg);
    list->setObjectName("RecoveryList");
    list->setRootIsDecorated(false);
    list->setHeaderLabels({"Document", "Belongs to", "Last changed", "Original"});
    for (std::size_t i = 0; i < found.size(); ++i) {
        const RecoveryRead& r = found[i].read;
        auto* item = new QTreeWidgetItem(list);
        bool ok = r.status == RecoveryRead::Ok;
        item->setText(0, ok ? documentName(r.header)
                            : platform::fromBytes(found[i].file.filename().string()));
        item->setText(1, ok ? platform::fromBytes(recoveryPlace(r.header)) : QString());
        item->setText(
            2, ok ? QDateTime::fromSecsSinceEpoch(r.header.time).toString("yyyy-MM-dd hh:mm:ss")
                  : QString());
        item->setText(3, originalState(r));
        item->setData(0, Qt::UserRole, int(i));
    }
    ServerChecks checks(form, list);
    for (std::size_t i = 0; i < found.size(); ++i)
        if (found[i].read.status == RecoveryRead::Ok &&
            found[i].read.header.kind == RecoveryHeader::Remote)
            checks.start(int(i), found[i].read.header);
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list->setCurrentItem(list->topLevelItem(0));
    layout->addWidget(list);

    auto* buttons = new QDialogButtonBox(&dlg);
    auto* recover = buttons->addButton("&Recover", QDialogButtonBox::ActionRole);
    recover->setObjectName("RecoverButton");
    auto* compare = buttons->addButton("Show Di&fferences", QDialogButtonBox::ActionRole);
    compare->setObjectName("DifferencesButton");
    auto* discard = buttons->addButton("&Discard", QDialogButtonBox::ActionRole);
    discard->setObjectName("DiscardButton");
    auto* later = buttons->addButton("Decide &Later", QDialogButtonBox::RejectRole);
    later->setObjectName("LaterButton");
    layout->addWidget(buttons);
    QObject::connect(later, &QPushButton::clicked, &dlg, &QDialog::reject);

    auto current = [list, &found]() -> Found* {
        QTreeWidgetItem* item = list->currentItem();
        return item ? &found[std::size_t(item->data(0, Qt::UserRole).toInt())] : nullptr;
    };
    auto refresh = [=] {
        Found* f = current();
        bool ok = f && f->read.status == RecoveryRead::Ok;
        recover->setEnabled(ok);
        compare->setEnabled(ok && f->read.header.kind != RecoveryHeader::Untitled);
        discard->setEnabled(f != nullptr);
    };
    auto done = [list, &dlg] {
        delete list->currentItem();
        if (list->topLevelItemCount() == 0) dlg.accept();
    };
    QObject::connect(list, &QTreeWidget::currentItemChanged, &dlg, refresh);
    refresh();

    QObject::connect(recover, &QPushButton::clicked, &dlg, [&, current, done] {
        Found* f = current();
        if (!f) return;
        auto mine = service.folder().claim(f->file);
        if (!mine) {
            form.context().dialogs->message(platform::MsgKind::Error,
                                            "The recovery file " + f->file.string() +
                                                " was taken by another Morvane window.");
            done();
            return;
        }
        // Read again: it is the file now claimed that the document goes on with.
        RecoveryRead r = readRecoveryFile(*mine);
        if (r.status != RecoveryRead::Ok) {
            form.context().dialogs->message(platform::MsgKind::Error,
                                            "The recovery file cannot be used: " + r.problem);
            return;
        }
        auto* doc = new TMorvaneEditor(form);
        if (doc->OpenRecovered(r.header, r.text, mine->string()))
            trace("recovered " + doc->FileName());
        done();
    });
    QObject::connect(compare, &QPushButton::clicked, &dlg, [&, current] {
        Found* f = current();
        if (!f) return;
        const RecoveryHeader& h = f->read.header;
        if (h.kind == RecoveryHeader::Remote) {
            // The server's copy is fetched for the view only; nothing is written anywhere.
            net::TAccount account;
            std::string error;
            std::optional<std::string> copy;
            if (net::LoadAccount(*form.context().registry, h.account, account, &error))
                copy = fetchServerCopy(form, account, h.directory, h.fileName, error);
            if (!copy) {
                form.context().dialogs->message(platform::MsgKind::Error,
                                                "The server's copy of " + h.fileName +
                                                    " cannot be fetched: " + error);
                return;
            }
            showDifferences(&dlg, "Differences: " + documentName(h), *copy, f->read.text,
                            "on the server " + recoveryPlace(h), "recovered text");
            return;
        }
        bool ok = false;
        std::string original = readWhole(h.localPath, ok);
        if (!ok) {
            form.context().dialogs->message(platform::MsgKind::Information,
                                            "The original file cannot be read: everything in the "
                                            "recovered text is new.");
        }
        showDifferences(&dlg, "Differences: " + documentName(h), original, f->read.text,
                        "original " + h.localPath, "recovered text");
    });
    QObject::connect(discard, &QPushButton::clicked, &dlg, [&, current, done] {
        Found* f = current();
        if (!f) return;
        if (form.context().dialogs->message(platform::MsgKind::Confirmation,
                                            "Discard the unsaved changes kept in " +
                                                f->file.filename().string() +
                                                "? They cannot be brought back.",
                                            platform::mbYesNo) != platform::MsgResult::Yes)
            return;
        std::error_code ec;
        fs::remove(f->file, ec);
        if (ec)
            form.context().dialogs->message(platform::MsgKind::Error, "Cannot remove " +
                                                                          f->file.string() + ": " +
                                                                          ec.message());
        else
            done();
    });
    dlg.resize(720, 300);
    dlg.exec();
    service.folder().tidy();
}

} // namespace morvane::app
