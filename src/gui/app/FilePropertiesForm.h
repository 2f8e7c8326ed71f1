#pragma once
// The properties of entries selected in the remote browser, and their Unix permission bits,
// changed with SITE CHMOD over the browser's client one file after the other.

#include "core/net/ChmodRunner.h"
#include "core/net/ListingParser.h"
#include "core/net/RemoteBrowser.h"
#include "core/platform/UiServices.h"

#include <QDialog>

#include <array>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QStatusBar;

namespace morvane::app {

class TFilePropertiesForm : public QDialog {
    Q_OBJECT
public:
    TFilePropertiesForm(net::TRemoteFileSystem& fs, std::string directory,
                        std::vector<net::TDirectoryEntry> entries, platform::Dialogs& dialogs,
                        const std::vector<net::TFileType>& fileTypes, QWidget* parent = nullptr);
    ~TFilePropertiesForm() override;

    // The nine boxes: user, group, others times read, write, execute.
    QCheckBox* box(int who, int what) const { return boxes_[std::size_t(who * 3 + what)]; }
    QCheckBox* allBox(int what) const { return all_[std::size_t(what)]; }
    QPushButton* okButton() const { return ok_; }
    QString status() const;
    // The items OK sends: entries whose permissions could not be read are left out unless the
    // user changed a box.
    std::vector<net::TChmodRunner::Item> items() const;

    void accept() override;
    void reject() override;

private:
    unsigned checkedBits() const;

    net::TRemoteFileSystem& fs_;
    std::string directory_;
    std::vector<net::TDirectoryEntry> entries_;
    platform::Dialogs& dialogs_;
    std::array<QCheckBox*, 9> boxes_{};
    std::array<QCheckBox*, 3> all_{};
    QPushButton* ok_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    bool changed_ = false;
    bool settingUp_ = true;
    std::unique_ptr<net::TChmodRunner> runner_;
};

} // namespace morvane::app
