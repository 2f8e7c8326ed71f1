#include "gui/app/DocumentRecovery.h"

#include "core/platform/UiServices.h"
#include "gui/app/MainForm.h"
#include "gui/app/MorvaneEditor.h"
#include "gui/app/Trace.h"
#include "gui/editor/CodeMemo.h"

#include <QCoreApplication>

#include <chrono>

namespace morvane::app {

TRecoveryService::TRecoveryService(std::filesystem::path dir) : folder_(std::move(dir)) {
    if (!folder_.open()) {
        pending_ = folder_.error() + "\n\nUnsaved changes will not be kept for recovery after a "
                                     "crash. Editing goes on as usual.";
        return;
    }
    folder_.tidy();
    writer_ = std::make_unique<RecoveryWriter>([this](const std::string& error) {
        // From the writer thread: the message is shown on the window's thread.
        QMetaObject::invokeMethod(
            this, [this, error] { problem(error); }, Qt::QueuedConnection);
    });
}

TRecoveryService::~TRecoveryService() {
    writer_.reset(); // finishes what is queued while the folder's lock is still held
}

void TRecoveryService::setDialogs(platform::Dialogs* dialogs) {
    dialogs_ = dialogs;
    if (!pending_.empty()) problem(std::exchange(pending_, {}));
}

void TRecoveryService::problem(const std::string& message) {
    trace("recovery-problem");
    if (!dialogs_) {
        if (pending_.empty()) pending_ = message;
        return;
    }
    if (std::exchange(warned_, true)) return;
    dialogs_->message(platform::MsgKind::Warning,
                      message.find("Editing goes on") != std::string::npos
                          ? message
                          : "A recovery file cannot be written: " + message +
                                "\n\nUnsaved changes may not be recoverable after a crash. "
                                "Editing goes on as usual.",
                      platform::mbOK);
}

TDocumentRecovery::TDocumentRecovery(TMorvaneEditor& doc, TRecoveryService& service)
    : QObject(&doc), doc_(doc), service_(service) {
    quiet_.setSingleShot(true);
    ceiling_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, [this] { startCopy(); });
    connect(&ceiling_, &QTimer::timeout, this, [this] { startCopy(); });
    step_.setSingleShot(true);
    connect(&step_, &QTimer::timeout, this, [this] { copyStep(); });
}

TDocumentRecovery::~TDocumentRecovery() = default;

void TDocumentRecovery::changed() {
    if (!service_.active()) return;
    editor::TCodeMemo& memo = doc_.Editor();
    if (!memo.Modified()) {
        quiet_.stop();
        ceiling_.stop();
        step_.stop();
        if (written_) remove();
        return;
    }
    if (written_ && memo.TextState() == writtenState_) return;
    quiet_.start(service_.quietMs);
    if (!ceiling_.isActive()) ceiling_.start(service_.ceilingMs);
}

bool TDocumentRecovery::due() const {
    const editor::TCodeMemo& memo = doc_.Editor();
    return service_.active() && memo.Modified() && !(written_ && memo.TextState() == writtenState_);
}

void TDocumentRecovery::startCopy() {
    quiet_.stop();
    ceiling_.stop();
    if (!due()) return;
    copied_ = 0;
    generation_ = doc_.Editor().Store().Generation();
    // The writer may still hold the last copy: then it gets a new one.
    if (!buffer_ || buffer_.use_count() > 1) buffer_ = std::make_shared<std::string>();
    buffer_->clear();
    buffer_->reserve(std::size_t(doc_.Editor().Store().Length()));
    step_.start(0);
}

// A few megabytes per turn of the event loop, so a keystroke never waits for more than one
// piece; an edit in between starts the copy again.
void TDocumentRecovery::copyStep() {
    if (!due()) return;
    const editor::TTextStore& store = doc_.Editor().Store();
    if (store.Generation() != generation_) {
        startCopy();
        return;
    }
    constexpr std::size_t kPiece = 2 * 1024 * 1024;
    std::size_t done = 0;
    editor::TTextStore::Span s = store.SpanAt(editor::TextOffset(copied_));
    while (!s.text.empty() && done < kPiece) {
        std::string_view part = s.text.substr(std::size_t(editor::TextOffset(copied_) - s.start));
        buffer_->append(part);
        copied_ += part.size();
        done += part.size();
        if (!store.NextSpan(s)) break;
    }
    if (editor::TextOffset(copied_) < store.Length()) {
        step_.start(0);
        return;
    }
    finish();
}

void TDocumentRecovery::writeNow() {
    quiet_.stop();
    ceiling_.stop();
    step_.stop();
    if (!due()) return;
    if (!buffer_ || buffer_.use_count() > 1) buffer_ = std::make_shared<std::string>();
    const editor::TTextStore& store = doc_.Editor().Store();
    buffer_->clear();
    buffer_->reserve(std::size_t(store.Length()));
    for (editor::TTextStore::Span s = store.SpanAt(0); !s.text.empty();) {
        buffer_->append(s.text);
        if (!store.NextSpan(s)) break;
    }
    finish();
}

void TDocumentRecovery::finish() {
    editor::TCodeMemo& memo = doc_.Editor();

    RecoveryHeader h;
    if (doc_.IsNew()) {
        h.kind = RecoveryHeader::Untitled;
        h.fileName = doc_.FileName();
    } else if (doc_.DocumentKind() == TMorvaneEditor::kRemote) {
        h.kind = RecoveryHeader::Remote;
        h.account = doc_.AccountName();
        h.directory = doc_.Directory();
        h.fileName = doc_.FileName();
        if (const TRemoteSession* session = doc_.Session();
            session && session->ServerStamp().known) {
            const TRemoteSession::Stamp& stamp = session->ServerStamp();
            h.serverSize = stamp.size;
            h.serverTime = stamp.time;
            h.serverPrecision = int(stamp.precision);
        }
    } else {
        h.kind = RecoveryHeader::Local;
        h.localPath = doc_.Directory() + doc_.FileName();
    }
    h.encoding = editor::EncodingName(memo.Encoding());
    switch (memo.LineEnd()) {
    case editor::TLineEnd::leCRLF:
        h.lineEnd = "CRLF";
        break;
    case editor::TLineEnd::leCR:
        h.lineEnd = "CR";
        break;
    case editor::TLineEnd::leLF:
        h.lineEnd = "LF";
        break;
    }
    auto pos = memo.CaretPosition();
    h.caretLine = pos.line > 0 ? pos.line - 1 : 0;
    h.caretColumn = pos.column > 0 ? pos.column - 1 : 0;
    h.time = std::chrono::duration_cast<std::chrono::seconds>(
                 std::chrono::system_clock::now().time_since_epoch())
                 .count();
    h.instance = service_.folder().instance();
    h.highlighter = doc_.HighlighterName();
    if (!file_) file_ = service_.folder().newFile();
    service_.writer().write(*file_, std::move(h), buffer_);
    written_ = true;
    writtenState_ = memo.TextState();
    ++snapshots_;
    trace("recovery-written " + doc_.FileName());
}

void TDocumentRecovery::remove() {
    if (file_) service_.writer().remove(*file_);
    written_ = false;
    trace("recovery-removed " + doc_.FileName());
}

void TDocumentRecovery::closed() {
    quiet_.stop();
    ceiling_.stop();
    step_.stop();
    if (written_ || file_) remove();
    file_.reset();
}

void TDocumentRecovery::adopt(const std::filesystem::path& file) {
    file_ = file;
    written_ = true;
    writtenState_ = doc_.Editor().TextState();
}

} // namespace morvane::app
