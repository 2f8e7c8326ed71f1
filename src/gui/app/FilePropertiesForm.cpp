#include "gui/app/FilePropertiesForm.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace morvane::app {

namespace {

QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

} // namespace

TFilePropertiesForm::TFilePropertiesForm(net::TRemoteFileSystem& fs, std::string directory,
                                         std::vector<net::TDirectoryEntry> entries,
                                         platform::Dialogs& dialogs,
                                         const std::vector<net::TFileType>& fileTypes,
                                         QWidget* parent)
    : QDialog(parent), fs_(fs), directory_(std::move(directory)), entries_(std::move(entries)),
      dialogs_(dialogs) {
    setObjectName("FilePropertiesForm");
    setWindowTitle("Properties");
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    auto* page = new QWidget(tabs);
    tabs->addTab(page, "General");
    layout->addWidget(tabs);

    auto* form = new QFormLayout(page);
    auto label = [&](const char* caption, const char* name) {
        auto* l = new QLabel(page);
        l->setObjectName(name);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(caption, l);
        return l;
    };
    QLabel* fileName = label("Filename", "FileNameLabel");
    QLabel* type = label("Type:", "TypeLabel");
    QLabel* location = label("Location:", "LocationLabel");
    QLabel* size = label("Size:", "SizeLabel");
    QLabel* modified = label("Last modified:", "ModifiedLabel");

    auto* grid = new QGridLayout;
    static const char* const kWho[] = {"User", "Group", "Others"};
    static const char* const kWhat[] = {"Read", "Write", "Execute"};
    for (int what = 0; what < 3; ++what)
        grid->addWidget(new QLabel(kWhat[what], page), 0, what + 1);
    for (int who = 0; who < 3; ++who) {
        grid->addWidget(new QLabel(QString(kWho[who]) + ":", page), who + 1, 0);
        for (int what = 0; what < 3; ++what) {
            auto* b = new QCheckBox(page);
            b->setObjectName(QString(kWho[who]) + kWhat[what]);
            boxes_[std::size_t(who * 3 + what)] = b;
            grid->addWidget(b, who + 1, what + 1);
            connect(b, &QCheckBox::toggled, this, [this] {
                if (!settingUp_) changed_ = true;
            });
        }
    }
    grid->addWidget(new QLabel("All users:", page), 4, 0);
    for (int what = 0; what < 3; ++what) {
        auto* b = new QCheckBox(page);
        b->setObjectName(QString("All") + kWhat[what]);
        all_[std::size_t(what)] = b;
        grid->addWidget(b, 4, what + 1);
        connect(b, &QCheckBox::clicked, this, [this, what](bool on) {
            for (int who = 0; who < 3; ++who)
                box(who, what)->setChecked(on);
        });
    }
    form->addRow(grid);

    auto* row = new QHBoxLayout;
    row->addStretch();
    ok_ = new QPushButton("OK", this);
    ok_->setObjectName("OkButton");
    ok_->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("CancelButton");
    row->addWidget(ok_);
    row->addWidget(cancel);
    layout->addLayout(row);
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName("StatusBar");
    statusBar_->setSizeGripEnabled(false);
    statusBar_->hide();
    layout->addWidget(statusBar_);
    connect(ok_, &QPushButton::clicked, this, &TFilePropertiesForm::accept);
    connect(cancel, &QPushButton::clicked, this, &TFilePropertiesForm::reject);

    if (entries_.empty()) {
        settingUp_ = false;
        dialogs_.message(platform::MsgKind::Information, "Eek. No files selected");
        ok_->setEnabled(false);
        return;
    }
    location->setText(qs(fs_.CurrentDirectory()));
    if (auto m = net::ParseAttributes(entries_.front().Attributes))
        for (int i = 0; i < 9; ++i)
            boxes_[std::size_t(i)]->setChecked((m->bits >> (8 - i)) & 1u);
    settingUp_ = false;
    if (entries_.size() == 1) {
        const auto& e = entries_.front();
        fileName->setText(qs(e.Name));
        size->setText(qs(std::to_string(e.Size) + " bytes"));
        modified->setText(qs(e.Date));
        type->setText(qs(net::EntryType(e, fileTypes).text));
    } else {
        std::string names;
        std::int64_t sum = 0;
        for (const auto& e : entries_) {
            names += (names.empty() ? "" : ", ") + e.Name;
            sum += e.Size;
        }
        fileName->setText(qs(names));
        type->setText("Multiple files");
        size->setText(qs(std::to_string(sum) + " bytes"));
        form->setRowVisible(modified, false);
    }
}

TFilePropertiesForm::~TFilePropertiesForm() = default;

QString TFilePropertiesForm::status() const {
    return statusBar_->currentMessage();
}

unsigned TFilePropertiesForm::checkedBits() const {
    unsigned bits = 0;
    for (int i = 0; i < 9; ++i)
        if (boxes_[std::size_t(i)]->isChecked()) bits |= 1u << (8 - i);
    return bits;
}

std::vector<net::TChmodRunner::Item> TFilePropertiesForm::items() const {
    std::vector<net::TChmodRunner::Item> out;
    for (const auto& e : entries_) {
        auto parsed = net::ParseAttributes(e.Attributes);
        // Bits we could not read are never guessed: such a file keeps its mode unless the user
        // set the boxes. Each file keeps its own set-id and sticky bits.
        if (!parsed && !changed_) continue;
        net::TFileMode m{checkedBits(), parsed ? parsed->special : 0u};
        out.push_back({e.Name, int(m.bits | m.special)});
    }
    return out;
}

void TFilePropertiesForm::accept() {
    if (runner_ || entries_.empty()) return;
    auto list = items();
    if (list.empty()) return QDialog::accept();
    ok_->setEnabled(false);
    statusBar_->show();
    resize(width(), height() + statusBar_->sizeHint().height());
    runner_ = std::make_unique<net::TChmodRunner>(fs_, directory_, std::move(list));
    runner_->onStatus = [this](const std::string& s) { statusBar_->showMessage(qs(s)); };
    runner_->onFailure = [this](const std::string& name, const std::string& reply) {
        dialogs_.beep();
        auto r = dialogs_.message(platform::MsgKind::Warning,
                                  "Could not set attributes for " + name + "\r\n" + reply +
                                      "\r\nContinue setting attributes?",
                                  platform::mbYesNo);
        return r == platform::MsgResult::Yes ? net::TChmodRunner::Answer::Continue
                                             : net::TChmodRunner::Answer::Stop;
    };
    runner_->onDone = [this] { QDialog::accept(); };
    runner_->onStopped = [this](const std::string& why) { statusBar_->showMessage(qs(why)); };
    runner_->start();
}

void TFilePropertiesForm::reject() {
    if (runner_) runner_->cancel();
    QDialog::reject();
}

} // namespace morvane::app
