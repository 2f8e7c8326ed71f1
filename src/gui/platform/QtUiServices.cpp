#include "gui/platform/QtUiServices.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <utility>
#include <vector>

namespace morvane::platform {

QString fromBytes(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string toBytes(const QString& s) {
    QByteArray b = s.toUtf8();
    return std::string(b.constData(), std::size_t(b.size()));
}

QString toQtFilter(const std::string& filter) {
    QStringList parts = fromBytes(filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        if (patterns == "*.*") patterns = "*";
        QString description = parts[i];
        // The description usually repeats the patterns in brackets already.
        if (description.contains('('))
            description = description.left(description.indexOf('(')).trimmed();
        out << description + " (" + patterns + ")";
    }
    return out.join(";;");
}

MsgResult QtDialogs::showMessage(MsgKind kind, const std::string& text, unsigned buttons,
                                 const std::string& caption) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (kind) {
    case MsgKind::Error:
        icon = QMessageBox::Critical;
        break;
    case MsgKind::Warning:
        icon = QMessageBox::Warning;
        break;
    case MsgKind::Information:
        icon = QMessageBox::Information;
        break;
    case MsgKind::Confirmation:
        icon = QMessageBox::Question;
        break;
    case MsgKind::Plain:
        break;
    }
    if (kind == MsgKind::Error) beep();
    QMessageBox box(icon, caption.empty() ? QStringLiteral("Morvane") : fromBytes(caption),
                    fromBytes(text), QMessageBox::NoButton, parent_);
    // Texts carry names and replies from servers: markup in them is shown, never obeyed.
    box.setTextFormat(Qt::PlainText);
    struct Map {
        unsigned bit;
        QMessageBox::StandardButton button;
        MsgResult result;
    };
    static const Map map[] = {{mbOK, QMessageBox::Ok, MsgResult::OK},
                              {mbYes, QMessageBox::Yes, MsgResult::Yes},
                              {mbNo, QMessageBox::No, MsgResult::No},
                              {mbYesToAll, QMessageBox::YesToAll, MsgResult::YesToAll},
                              {mbRetry, QMessageBox::Retry, MsgResult::Retry},
                              {mbCancel, QMessageBox::Cancel, MsgResult::Cancel}};
    // Buttons without a standard counterpart come first, as they are the question's answers.
    QPushButton* overwrite = nullptr;
    QPushButton* reload = nullptr;
    if (buttons & mbOverwrite) {
        overwrite = box.addButton(QStringLiteral("&Overwrite"), QMessageBox::AcceptRole);
        overwrite->setObjectName("OverwriteButton");
    }
    if (buttons & mbReload) {
        reload = box.addButton(QStringLiteral("&Reload"), QMessageBox::ResetRole);
        reload->setObjectName("ReloadButton");
    }
    // The answers to an insecure connection's questions.
    struct Custom {
        unsigned bit;
        const char* text;
        const char* name;
        MsgResult result;
    };
    static const Custom customs[] = {
        {mbContinue, "C&ontinue", "ContinueButton", MsgResult::Continue},
        {mbConnectAnyway, "Connect &anyway", "ConnectAnywayButton", MsgResult::ConnectAnyway},
        {mbAlwaysTrust, "Always &trust this certificate for this account", "AlwaysTrustButton",
         MsgResult::AlwaysTrust},
        {mbConnectOnce, "Connect &once", "ConnectOnceButton", MsgResult::ConnectOnce},
        {mbAlwaysConnect, "&Always (add to known_hosts)", "AlwaysConnectButton",
         MsgResult::AlwaysConnect},
        {mbCompare, "Com&pare", "CompareButton", MsgResult::Compare}};
    std::vector<std::pair<QPushButton*, MsgResult>> answers;
    for (auto& c : customs) {
        if (!(buttons & c.bit)) continue;
        QPushButton* b = box.addButton(QString::fromUtf8(c.text), QMessageBox::AcceptRole);
        b->setObjectName(QString::fromUtf8(c.name));
        answers.emplace_back(b, c.result);
    }
    for (auto& m : map)
        if (buttons & m.bit) box.addButton(m.button);
    QPushButton* all = nullptr;
    if (buttons & mbAll) {
        all = box.addButton(QStringLiteral("&All"), QMessageBox::YesRole);
        all->setObjectName("AllButton");
    }
    if (!buttons) box.addButton(QMessageBox::Ok);
    // Where the other answers overwrite a file or throw text away, Enter and Escape keep both.
    if ((buttons & mbCancel) && (buttons & (mbOverwrite | mbReload | mbContinue | mbConnectAnyway |
                                            mbAlwaysTrust | mbConnectOnce | mbAlwaysConnect))) {
        box.setDefaultButton(QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
    }
    int chosen = box.exec();
    if (overwrite && box.clickedButton() == overwrite) return MsgResult::Overwrite;
    if (reload && box.clickedButton() == reload) return MsgResult::Reload;
    if (all && box.clickedButton() == all) return MsgResult::All;
    for (auto& [button, result] : answers)
        if (box.clickedButton() == button) return result;
    for (auto& m : map)
        if (chosen == m.button) return m.result;
    return (buttons & mbCancel) ? MsgResult::Cancel
           : (buttons & mbNo)   ? MsgResult::No
                                : MsgResult::OK;
}

void QtDialogs::beep() {
    QApplication::beep();
}

std::vector<std::string> QtDialogs::openFiles(const FileDialogOptions& o) {
    QFileDialog dlg(parent_, fromBytes(o.title), fromBytes(o.directory), toQtFilter(o.filter));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(o.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (!o.fileName.empty()) dlg.selectFile(fromBytes(o.fileName));
    std::vector<std::string> out;
    if (dlg.exec() == QDialog::Accepted)
        for (auto& f : dlg.selectedFiles())
            out.push_back(toBytes(f));
    return out;
}

std::optional<std::string> QtDialogs::saveFile(const FileDialogOptions& o) {
    QFileDialog dlg(parent_, fromBytes(o.title), fromBytes(o.directory), toQtFilter(o.filter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, !o.confirmOverwrite);
    if (!o.fileName.empty()) dlg.selectFile(fromBytes(o.fileName));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    return toBytes(dlg.selectedFiles().first());
}

std::optional<std::string> QtDialogs::chooseDirectory(const std::string& title,
                                                      const std::string& start) {
    QString d = QFileDialog::getExistingDirectory(parent_, fromBytes(title), fromBytes(start));
    if (d.isEmpty()) return std::nullopt;
    return toBytes(d);
}

bool QtClipboard::hasText() const {
    const QMimeData* m = QGuiApplication::clipboard()->mimeData();
    return m && m->hasText();
}

std::string QtClipboard::text() const {
    return toBytes(QGuiApplication::clipboard()->text());
}

bool QtClipboard::hasFormat(const std::string& mimeType) const {
    const QMimeData* m = QGuiApplication::clipboard()->mimeData();
    return m && m->hasFormat(QString::fromStdString(mimeType));
}

std::optional<std::string> QtClipboard::data(const std::string& mimeType) const {
    const QMimeData* m = QGuiApplication::clipboard()->mimeData();
    QString type = QString::fromStdString(mimeType);
    if (!m || !m->hasFormat(type)) return std::nullopt;
    // Some programs offer HTML in UTF-16; Qt knows how to read it.
    if (type == QLatin1String("text/html")) return toBytes(m->html());
    if (type == QLatin1String("text/plain")) return toBytes(m->text());
    QByteArray b = m->data(type);
    return std::string(b.constData(), std::size_t(b.size()));
}

QtClipboard::~QtClipboard() {
    QObject::disconnect(changed_);
}

void QtClipboard::setChangedHandler(std::function<void()> handler) {
    QObject::disconnect(changed_);
    changed_ = {};
    if (!handler || !QGuiApplication::instance()) return;
    // Only the clipboard proper: the selection changes with every mouse selection anywhere.
    changed_ = QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged,
                                [handler = std::move(handler)] { handler(); });
}

void QtClipboard::setData(const MimeData& formats) {
    auto* m = new QMimeData;
    for (auto& [type, bytes] : formats) {
        if (type == "text/plain")
            m->setText(fromBytes(bytes));
        else if (type == "text/html")
            m->setHtml(fromBytes(bytes));
        else
            m->setData(QString::fromStdString(type),
                       QByteArray(bytes.data(), qsizetype(bytes.size())));
    }
    QGuiApplication::clipboard()->setMimeData(m);
}

bool QtShell::openUrl(const std::string& address) {
    QUrl url = QUrl::fromUserInput(fromBytes(address));
    return url.isValid() && QDesktopServices::openUrl(url);
}

} // namespace morvane::platform
