#pragma once
// Qt implementations of the desktop services the core asks for.

#include "core/platform/UiServices.h"

#include <QPointer>
#include <QWidget>

namespace morvane::platform {

class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    MsgResult showMessage(MsgKind kind, const std::string& text, unsigned buttons,
                          const std::string& caption) override;
    void beep() override;
    std::vector<std::string> openFiles(const FileDialogOptions& options) override;
    std::optional<std::string> saveFile(const FileDialogOptions& options) override;
    std::optional<std::string> chooseDirectory(const std::string& title,
                                               const std::string& start) override;

private:
    QPointer<QWidget> parent_;
};

class QtClipboard final : public Clipboard {
public:
    QtClipboard() = default;
    QtClipboard(const QtClipboard&) = delete;
    QtClipboard& operator=(const QtClipboard&) = delete;
    ~QtClipboard() override;
    bool hasText() const override;
    std::string text() const override;
    std::optional<std::string> data(const std::string& mimeType) const override;
    bool hasFormat(const std::string& mimeType) const override;
    void setData(const MimeData& formats) override;
    void setChangedHandler(std::function<void()> handler) override;

private:
    QMetaObject::Connection changed_;
};

class QtShell final : public Shell {
public:
    bool openUrl(const std::string& address) override;
};

// "Any file (*.*)|*.*|Text (*.txt)|*.txt" to Qt's ";;"-separated filter list.
QString toQtFilter(const std::string& filter);
QString fromBytes(const std::string& s); // program text (UTF-8) to QString
std::string toBytes(const QString& s);

} // namespace morvane::platform
